"""OpenQASM 2.0 text of one measurement group: state preparation, basis change, measurement."""

from __future__ import annotations

from collections.abc import Iterator, Mapping

from .records import MeasurementGroup
from .rotation_groups import RotationGroup
from .rotation_qasm import rotation_program


def preparation_lines(circuit) -> list[str]:
    """The circuit's gates as OpenQASM statements on register ``q`` (its own export, less the header)."""
    lines = circuit.to_qasm().splitlines()
    return lines[lines.index(f"qreg q[{circuit.num_qubits}];") + 1 :]


def basis_change_lines(group: MeasurementGroup) -> list[str]:
    """Rotations that make a Z measurement measure the group's X and Y factors."""
    lines = []
    for q, letter in group.bases:
        if letter == "X":
            lines.append(f"h q[{q}];")
        elif letter == "Y":
            lines += [f"sdg q[{q}];", f"h q[{q}];"]
    return lines


def group_program(preparation: list[str], n_qubits: int, group: MeasurementGroup, index: int, n_groups: int) -> str:
    """The complete program measuring ``group``; ``preparation`` from :func:`preparation_lines`."""
    terms = ", ".join(" ".join(f"{letter}{q}" for q, letter in term.paulis) for term in group.terms)
    lines = [
        "OPENQASM 2.0;",
        'include "qelib1.inc";',
        f"// Measurement group {index} of {n_groups}: bases {group.label}",
        f"// Pauli terms: {terms}",
        "// c[k] holds qubit k; a term's value is (-1)^(parity of its qubits' bits).",
        f"qreg q[{n_qubits}];",
        f"creg c[{n_qubits}];",
        "// state preparation",
        *preparation,
        "// basis change: H for X, sdg then H for Y",
        *basis_change_lines(group),
        "measure q -> c;",
    ]
    return "\n".join(lines) + "\n"


class GroupPrograms(Mapping[str, str]):
    """The program of every group by file name, each built when it is read.

    Every program repeats the whole circuit: for a wide molecule thousands of
    them would take gigabytes if they were all held at once.
    """

    def __init__(self, names: list[str], preparation: list[str], n_qubits: int, groups: list):
        self._index = {name: k for k, name in enumerate(names)}
        self._preparation, self._n_qubits, self._groups = preparation, n_qubits, groups

    def __getitem__(self, name: str) -> str:
        k = self._index[name]
        group = self._groups[k]
        if isinstance(group, RotationGroup):
            return rotation_program(self._preparation, self._n_qubits, group, k, len(self._groups))
        return group_program(self._preparation, self._n_qubits, group, k, len(self._groups))

    def __iter__(self) -> Iterator[str]:
        return iter(self._index)

    def __len__(self) -> int:
        return len(self._index)
