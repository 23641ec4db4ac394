"""Qubit-wise commuting groups of Pauli terms."""

from __future__ import annotations

from .records import MeasurementGroup


def group_qubitwise_commuting(pauli_terms) -> list[MeasurementGroup]:
    """Split the non-identity terms into groups that one basis per qubit measures.

    Greedy, heaviest first: terms are taken by decreasing ``|coefficient|``
    (ties keep their input order) and each joins the first group it commutes
    with qubit-wise, or opens a new one. Identity terms join no group; their
    contribution is known exactly. Every other term lands in exactly one group.
    """
    candidates = [term for term in pauli_terms if not term.is_identity]
    candidates.sort(key=lambda term: -abs(term.coefficient))
    members: list[list] = []
    masks: list[list[int]] = []  # per group: [x_mask, z_mask] of the bases fixed so far
    for term in candidates:
        for group_terms, group_masks in zip(members, masks):
            gx, gz = group_masks
            shared = (term.x_mask | term.z_mask) & (gx | gz)
            if ((term.x_mask ^ gx) | (term.z_mask ^ gz)) & shared == 0:
                group_terms.append(term)
                group_masks[0] |= term.x_mask
                group_masks[1] |= term.z_mask
                break
        else:
            members.append([term])
            masks.append([term.x_mask, term.z_mask])
    groups = []
    for group_terms in members:
        bases = {q: letter for term in group_terms for q, letter in term.paulis}
        groups.append(MeasurementGroup(terms=tuple(group_terms), bases=tuple(sorted(bases.items()))))
    return groups
