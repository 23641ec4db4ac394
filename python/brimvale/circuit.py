"""Gate-list circuits on qubits 0 … n−1, simulated by the native state-vector kernels.

Conventions: qubit 0 is the least significant bit of a basis index; a rotation
``rx/ry/rz(angle, q)`` is exp(−i·angle·P/2); ``cx(control, target)``. Gates are
applied in the order they were appended, starting from |0…0⟩.
"""

from __future__ import annotations

import math
import reprlib
from collections import Counter
from collections.abc import Iterator
from dataclasses import dataclass
from typing import NamedTuple

import numpy as np

from . import _native
from ._checks import strict_integer
from .mps import DEFAULT_CUTOFF, MAX_MPS_QUBITS, MPS, Truncation

# Codes shared with the native simulator; the order is fixed there.
_GATE_CODES = {
    name: code for code, name in enumerate(("rx", "ry", "rz", "h", "x", "y", "z", "s", "sdg", "cx", "cz", "swap"))
}
_ROTATIONS = ("rx", "ry", "rz")
_TWO_QUBIT = ("cx", "cz", "swap")

# The widest state vector the native simulator holds (2**n amplitudes).
MAX_QUBITS = _native.MAX_DENSE_QUBITS
# A circuit may be wider than a state vector can hold: the MPS backend runs it.
MAX_CIRCUIT_QUBITS = MAX_MPS_QUBITS

# "numpy" holds the state as a vector of 2**n amplitudes, MPS_BACKEND as a
# matrix product state. "numpy" is the name callers have always passed for
# the native state-vector simulator; STATEVECTOR_BACKEND names it for what it
# is and runs the same simulator. Messages list BACKENDS, the names they have
# always listed; ACCEPTED_BACKENDS is what a caller may pass.
MPS_BACKEND = "mps"
STATEVECTOR_BACKEND = "statevector"
BACKENDS = ("numpy", MPS_BACKEND)
ACCEPTED_BACKENDS = BACKENDS + (STATEVECTOR_BACKEND,)
DEVICES = ("cpu",)
DTYPES = (np.dtype(np.complex128), np.dtype(np.complex64))


class Operation(NamedTuple):
    """One recorded gate: its name, the qubits it acts on and its parameters."""

    name: str
    qubits: tuple[int, ...]
    params: tuple[float, ...]


@dataclass(frozen=True)
class ExecutionResult:
    """The outcome of :meth:`Circuit.execute`: the final state vector, or the final MPS on the mps backend."""

    state: np.ndarray | None
    backend: str
    dtype: np.dtype
    mps: MPS | None = None


def qasm_real(value: float) -> str:
    """A float as an OpenQASM 2.0 real literal: always with a decimal point (``1e-05`` → ``1.0e-05``)."""
    text = repr(float(value))
    mantissa, marker, exponent = text.partition("e")
    if "." not in mantissa:
        mantissa += ".0"
    return mantissa + marker + exponent


def supported_dtype(dtype) -> np.dtype | None:
    """``dtype`` as a NumPy dtype if the simulator computes in it, else None."""
    try:
        resolved = np.dtype(dtype)
    except TypeError:
        return None
    return resolved if resolved in DTYPES else None


def _check_dtype(dtype) -> np.dtype:
    resolved = supported_dtype(dtype)
    if resolved is None:
        raise ValueError(f"unsupported dtype {reprlib.repr(dtype)}: expected numpy.complex128 or numpy.complex64")
    return resolved


def _check_backend(backend, device) -> None:
    if backend not in ACCEPTED_BACKENDS:
        expected = ", ".join(map(repr, BACKENDS))
        raise ValueError(f"unsupported backend {reprlib.repr(backend)}: expected one of {expected}")
    if device not in DEVICES:
        raise ValueError(f"unsupported device {reprlib.repr(device)}: expected one of {', '.join(map(repr, DEVICES))}")


class Circuit:
    """A quantum circuit on ``n_qubits`` qubits, recorded gate by gate."""

    def __init__(self, n_qubits, name: str = "circuit"):
        n_qubits = strict_integer(n_qubits, "n_qubits", error=ValueError)
        if not 1 <= n_qubits <= MAX_CIRCUIT_QUBITS:
            raise ValueError(f"n_qubits must be between 1 and {MAX_CIRCUIT_QUBITS}, got {n_qubits}")
        self._n_qubits = n_qubits
        self.name = str(name)
        self._ops: list[Operation] = []

    @property
    def num_qubits(self) -> int:
        return self._n_qubits

    n_qubits = num_qubits

    # -- recording -----------------------------------------------------------

    def _qubit(self, qubit) -> int:
        q = strict_integer(qubit, "qubit index", error=ValueError, shown=reprlib.repr)
        if not 0 <= q < self._n_qubits:
            raise ValueError(f"qubit {q} out of range for a circuit of {self._n_qubits} qubits")
        return q

    def _angle(self, angle) -> float:
        try:
            value = float(angle)
        except (TypeError, ValueError):
            raise ValueError(f"rotation angle must be a real number, got {reprlib.repr(angle)}") from None
        if not math.isfinite(value):
            raise ValueError(f"rotation angle must be finite, got {value!r}")
        return value

    def _append(self, name: str, qubits: tuple[int, ...], params: tuple[float, ...] = ()) -> Circuit:
        self._ops.append(Operation(name, qubits, params))
        return self

    def _rotation(self, name, angle, qubit) -> Circuit:
        value, q = self._angle(angle), self._qubit(qubit)
        return self._append(name, (q,), (value,))

    def _single(self, name, qubit) -> Circuit:
        return self._append(name, (self._qubit(qubit),))

    def _pair(self, name, a, b) -> Circuit:
        qa, qb = self._qubit(a), self._qubit(b)
        if qa == qb:
            raise ValueError(f"{name} needs two different qubits, got {qa} twice")
        return self._append(name, (qa, qb))

    def rx(self, angle, qubit):
        """Append exp(−i·angle·X/2) on ``qubit``."""
        return self._rotation("rx", angle, qubit)

    def ry(self, angle, qubit):
        """Append exp(−i·angle·Y/2) on ``qubit``."""
        return self._rotation("ry", angle, qubit)

    def rz(self, angle, qubit):
        """Append exp(−i·angle·Z/2) on ``qubit``."""
        return self._rotation("rz", angle, qubit)

    def h(self, qubit):
        return self._single("h", qubit)

    def x(self, qubit):
        return self._single("x", qubit)

    def y(self, qubit):
        return self._single("y", qubit)

    def z(self, qubit):
        return self._single("z", qubit)

    def s(self, qubit):
        return self._single("s", qubit)

    def sdg(self, qubit):
        return self._single("sdg", qubit)

    def cx(self, control, target):
        """Append a CNOT: ``target`` is flipped where ``control`` is 1."""
        return self._pair("cx", control, target)

    def cz(self, a, b):
        return self._pair("cz", a, b)

    def swap(self, a, b):
        return self._pair("swap", a, b)

    # -- inspection ----------------------------------------------------------

    def __len__(self) -> int:
        return len(self._ops)

    def __iter__(self) -> Iterator[Operation]:
        return iter(list(self._ops))

    @property
    def operations(self) -> tuple[Operation, ...]:
        return tuple(self._ops)

    def count_ops(self) -> dict[str, int]:
        """Gate name → how often it occurs, most frequent first."""
        return dict(Counter(op.name for op in self._ops).most_common())

    def depth(self, *, two_qubit_only: bool = False) -> int:
        """The number of layers when every gate starts as early as its qubits allow.

        With ``two_qubit_only`` single-qubit gates take no time: the depth in
        two-qubit gates, the usual cost measure of a circuit on hardware.
        """
        level = [0] * self._n_qubits
        for op in self._ops:
            if two_qubit_only and len(op.qubits) < 2:
                continue
            top = 1 + max(level[q] for q in op.qubits)
            for q in op.qubits:
                level[q] = top
        return max(level, default=0)

    def __repr__(self) -> str:
        return f"Circuit(n_qubits={self._n_qubits}, name={self.name!r}, gates={len(self._ops)})"

    # -- execution and export ------------------------------------------------

    def execute(
        self,
        *,
        backend: str = "numpy",
        device: str = "cpu",
        dtype=np.complex128,
        max_bond=None,
        cutoff=DEFAULT_CUTOFF,
        initial=None,
    ) -> ExecutionResult:
        """Simulate the circuit and return the final state.

        ``backend="numpy"`` (the default) computes the state vector from |0…0⟩,
        for at most 30 qubits; ``backend="statevector"`` is the same
        simulator. ``backend="mps"`` holds the state as a matrix
        product state (complex128): it starts from |0…0⟩ or from the
        :class:`~brimvale.MPS` ``initial``, applies two-qubit gates on
        neighbours by an SVD truncated by ``max_bond`` and ``cutoff`` (see
        :mod:`brimvale.mps`), brings the qubits of a distant gate together by
        swaps, and returns the final MPS as the result's ``mps`` (its
        ``state`` is None). ``max_bond``, ``cutoff`` and ``initial`` apply to
        the mps backend only.
        """
        _check_backend(backend, device)
        resolved = _check_dtype(dtype)
        if backend == MPS_BACKEND:
            return self._execute_mps(resolved, max_bond, cutoff, initial)
        if max_bond is not None or cutoff != DEFAULT_CUTOFF or initial is not None:
            raise ValueError(f"max_bond, cutoff and initial apply to backend={MPS_BACKEND!r} only")
        if self._n_qubits > MAX_QUBITS:
            raise ValueError(
                f"the {backend!r} backend holds 2**n amplitudes and runs at most {MAX_QUBITS} qubits; "
                f"this circuit has {self._n_qubits} (backend={MPS_BACKEND!r} runs it)"
            )
        state = _native.simulate(self._n_qubits, *self._gate_arrays())
        if resolved != state.dtype:
            state = state.astype(resolved)
        return ExecutionResult(state=state, backend=backend, dtype=resolved)

    def _execute_mps(self, dtype: np.dtype, max_bond, cutoff, initial) -> ExecutionResult:
        if dtype != np.complex128:
            raise ValueError(f"backend={MPS_BACKEND!r} computes in complex128, got dtype {dtype.name}")
        bounds = Truncation(max_bond, cutoff)
        if initial is None:
            initial = MPS(self._n_qubits)
        elif not isinstance(initial, MPS):
            raise TypeError(f"initial must be a brimvale MPS or None, got {type(initial).__name__}")
        elif initial.n_qubits != self._n_qubits:
            raise ValueError(f"initial has {initial.n_qubits} qubits but the circuit acts on {self._n_qubits}")
        data = _native.mps_simulate(initial._data, *self._gate_arrays(), bounds.max_bond, bounds.cutoff)
        return ExecutionResult(state=None, backend=MPS_BACKEND, dtype=dtype, mps=MPS._from_data(data))

    def _gate_arrays(self) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
        """The gates as the native simulators read them: codes, qubit pairs (-1 for none), angles."""
        count = len(self._ops)
        codes = np.empty(count, dtype=np.int32)
        qubits = np.full((count, 2), -1, dtype=np.int32)
        angles = np.zeros(count, dtype=np.float64)
        for k, op in enumerate(self._ops):
            codes[k] = _GATE_CODES[op.name]
            qubits[k, : len(op.qubits)] = op.qubits
            if op.params:
                angles[k] = op.params[0]
        return codes, qubits, angles

    def to_qasm(self) -> str:
        """OpenQASM 2.0 text with ``qelib1.inc`` gates; qubit k is ``q[k]``.

        The reader's state equals :meth:`execute`'s up to a global phase.
        ``swap`` is written as three CNOTs, since not every ``qelib1.inc``
        defines it; angles are written with every digit of the double.
        """
        lines = ["OPENQASM 2.0;", 'include "qelib1.inc";', f"qreg q[{self._n_qubits}];"]
        for op in self._ops:
            args = [f"q[{q}]" for q in op.qubits]
            if op.name == "swap":
                a, b = args
                lines += [f"cx {a},{b};", f"cx {b},{a};", f"cx {a},{b};"]
            elif op.params:
                lines.append(f"{op.name}({','.join(qasm_real(p) for p in op.params)}) {','.join(args)};")
            else:
                lines.append(f"{op.name} {','.join(args)};")
        return "\n".join(lines) + "\n"
