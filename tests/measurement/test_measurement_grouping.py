"""Qubit-wise commuting grouping of Pauli terms."""

import itertools

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from measurement_support import random_hamiltonian

from brimvale_chemistry.measurement import group_qubitwise_commuting
from brimvale_chemistry.utils import PauliTerm


def qubitwise_commute(a: PauliTerm, b: PauliTerm) -> bool:
    letters = dict(a.paulis)
    return all(letters.get(q, p) == p for q, p in b.paulis)


def check_partition(terms, groups):
    expected = sorted(id(t) for t in terms if not t.is_identity)
    placed = sorted(id(t) for g in groups for t in g.terms)
    assert placed == expected, "every non-identity term must be in exactly one group"
    for group in groups:
        assert group.terms, "no empty groups"
        for a, b in itertools.combinations(group.terms, 2):
            assert qubitwise_commute(a, b)
        bases = dict(group.bases)
        assert list(bases) == sorted(bases)
        assert bases == {q: p for t in group.terms for q, p in t.paulis}


pauli_strings = st.lists(
    st.tuples(
        st.floats(-2, 2, allow_nan=False), st.dictionaries(st.integers(0, 5), st.sampled_from("XYZ"), max_size=4)
    ),
    max_size=30,
)


class TestPartition:
    @given(pauli_strings)
    @settings(max_examples=150, deadline=None)
    def test_any_hamiltonian_is_partitioned_into_commuting_groups(self, raw):
        terms = [PauliTerm(c, tuple(paulis.items())) for c, paulis in raw]
        check_partition(terms, group_qubitwise_commuting(terms))

    def test_molecule_sized_hamiltonian(self):
        terms = random_hamiltonian(12, 400, seed=3)
        groups = group_qubitwise_commuting(terms)
        check_partition(terms, groups)
        assert len(groups) < len(terms) - 1  # grouping actually merges terms

    def test_identity_terms_join_no_group(self):
        assert group_qubitwise_commuting([PauliTerm(0.5), PauliTerm(-1.0, ())]) == []

    def test_duplicate_strings_share_a_group(self):
        terms = [PauliTerm.from_string(0.1, "X0 Y1"), PauliTerm.from_string(0.2, "X0 Y1")]
        assert len(group_qubitwise_commuting(terms)) == 1


class TestGreedyOrder:
    def test_heaviest_term_opens_the_first_group(self):
        terms = [
            PauliTerm.from_string(0.1, "X0"),
            PauliTerm.from_string(-3.0, "Z0 Z1"),
            PauliTerm.from_string(0.5, "Z1"),
        ]
        groups = group_qubitwise_commuting(terms)
        assert [[str(t) for t in g.terms] for g in groups] == [[str(terms[1]), str(terms[2])], [str(terms[0])]]

    @pytest.mark.parametrize("text, x_mask, y_mask", [("X0 Y2 Z3", 0b0001, 0b0100), ("Z1", 0, 0), ("Y0 Y1", 0, 0b11)])
    def test_group_masks_follow_bases(self, text, x_mask, y_mask):
        (group,) = group_qubitwise_commuting([PauliTerm.from_string(1.0, text)])
        assert (group.x_mask, group.y_mask, group.label) == (x_mask, y_mask, text)
