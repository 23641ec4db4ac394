"""OpenQASM 2.0 text of one measurement group: state preparation, basis change, measurement."""

from __future__ import annotations

from .records import MeasurementGroup

# The circuit library's gates and their qelib1.inc names. swap is spelled out
# as three CNOTs: not every qelib1.inc in circulation defines it.
_QELIB1 = {"rx": "rx", "ry": "ry", "rz": "rz", "h": "h", "x": "x", "y": "y", "z": "z",
           "s": "s", "sdg": "sdg", "cx": "cx", "cz": "cz"}


def real_literal(value: float) -> str:
    """A float as an OpenQASM 2.0 real: always with a decimal point (``1e-05`` → ``1.0e-05``)."""
    text = repr(float(value))
    mantissa, marker, exponent = text.partition("e")
    if "." not in mantissa:
        mantissa += ".0"
    return mantissa + marker + exponent


def preparation_lines(circuit) -> list[str]:
    """The circuit's gates as OpenQASM statements on register ``q``.

    Raises ValueError for a gate without an OpenQASM 2.0 form.
    """
    lines = []
    for operation in circuit:
        qubits = [f"q[{q}]" for q in operation.qubits]
        if operation.name == "swap":
            a, b = qubits
            lines += [f"cx {a},{b};", f"cx {b},{a};", f"cx {a},{b};"]
            continue
        name = _QELIB1.get(operation.name)
        if name is None:
            raise ValueError(f"gate {operation.name!r} of the circuit has no OpenQASM 2.0 form")
        if operation.params:
            name += "(" + ",".join(real_literal(p) for p in operation.params) + ")"
        lines.append(f"{name} {','.join(qubits)};")
    return lines


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
        f"// c[k] holds qubit k; a term's value is (-1)^(parity of its qubits' bits).",
        f"qreg q[{n_qubits}];",
        f"creg c[{n_qubits}];",
        "// state preparation",
        *preparation,
        "// basis change: H for X, sdg then H for Y",
        *basis_change_lines(group),
        "measure q -> c;",
    ]
    return "\n".join(lines) + "\n"
