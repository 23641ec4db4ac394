"""OpenQASM 2.0 text of a basis-rotation group: state preparation, orbital rotation, Z measurement."""

from __future__ import annotations

from brimvale.circuit import qasm_real

from .givens import givens_gates
from .rotation_groups import RotationGroup


def rotation_lines(group: RotationGroup) -> list[str]:
    """The group's Givens network on both spin blocks."""
    n_orbitals = group.n_qubits // 2
    lines = []
    for name, qubits, angle in givens_gates(list(group.network), n_orbitals):
        if name == "cx":
            lines.append(f"cx q[{qubits[0]}],q[{qubits[1]}];")
        else:
            lines.append(f"ry({qasm_real(angle)}) q[{qubits[0]}];")
    return lines


def rotation_program(preparation: list[str], n_qubits: int, group: RotationGroup, index: int, n_groups: int) -> str:
    """The complete program measuring ``group``; ``preparation`` from :func:`qasm.preparation_lines`."""
    lines = [
        "OPENQASM 2.0;",
        'include "qelib1.inc";',
        f"// Measurement group {index} of {n_groups}: {group.label}, after an orbital rotation",
        "// Its number operators n_q = (1 - Z_q)/2 and their coefficients are in measurement_summary.json.",
        "// c[k] holds qubit k: 1 if the rotated spin orbital k is occupied.",
        f"qreg q[{n_qubits}];",
        f"creg c[{n_qubits}];",
        "// state preparation",
        *preparation,
        f"// orbital rotation: {len(group.network)} Givens rotations on each spin block",
        *rotation_lines(group),
        "measure q -> c;",
    ]
    return "\n".join(lines) + "\n"
