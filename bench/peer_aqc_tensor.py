"""The peer compiler of the circuit-quality benchmark: a state vector to a brick circuit of a given CNOT count.

Runs in its own environment (see bench/requirements-peer.txt), never beside
the package, and is started by bench_peer_comparison.py:

    peer-python bench/peer_aqc_tensor.py STATE.npy --cnots N --occupied Q,Q,... [--maxiter K]

STATE.npy holds 2**n amplitudes, qubit 0 the least significant bit. The
circuit starts from the reference determinant (an X on every ``--occupied``
qubit) and brick layers of two-qubit blocks of three CNOTs each, N/3 blocks
in all; the blocks start near the identity, as the layers of our synthesis
do (``--init-scale`` sets the size of their random start).
The optimiser is L-BFGS-B on the peer's exact gradients, stopped after
``--maxiter`` iterations or ``--seconds``. One JSON line is printed:
overlap, CNOTs, iterations, seconds (the optimisation alone; building the
target and the ansatz is not counted) and the overlap after each iteration.
"""

from __future__ import annotations

import argparse
import json
import time
from functools import partial

import numpy as np
import quimb.tensor as qtn
from qiskit import QuantumCircuit
from qiskit.circuit.library import UnitaryGate
from qiskit_addon_aqc_tensor.ansatz_generation import generate_ansatz_from_circuit
from qiskit_addon_aqc_tensor.objective import MaximizeStateFidelity
from qiskit_addon_aqc_tensor.simulation.quimb import QuimbSimulator
from scipy.linalg import expm
from scipy.optimize import minimize


def brick_bonds(n_qubits: int, blocks: int) -> list[tuple[int, int]]:
    bonds: list[tuple[int, int]] = []
    layer = 0
    while len(bonds) < blocks:
        start = layer % 2
        bonds += [(q, q + 1) for q in range(start, n_qubits - 1, 2)]
        layer += 1
    return bonds[:blocks]


def initial_circuit(n_qubits: int, occupied: list[int], blocks: int, seed: int, scale: float) -> QuantumCircuit:
    rng = np.random.default_rng(seed)
    circuit = QuantumCircuit(n_qubits)
    for q in occupied:
        circuit.x(q)
    for q0, q1 in brick_bonds(n_qubits, blocks):
        generator = rng.normal(size=(4, 4)) + 1j * rng.normal(size=(4, 4))
        circuit.append(UnitaryGate(expm(1j * scale * (generator + generator.conj().T))), [q0, q1])
    return circuit


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("state")
    parser.add_argument("--cnots", type=int, required=True)
    parser.add_argument("--occupied", required=True)
    parser.add_argument("--maxiter", type=int, default=1000)
    parser.add_argument("--seconds", type=float, default=600.0, help="time budget of the optimisation")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--init-scale", type=float, default=0.02, help="size of the blocks' random start")
    options = parser.parse_args()

    psi = np.load(options.state)
    n = int(round(np.log2(psi.size)))
    # quimb's first site is the first tensor axis; qiskit's qubit k is site k.
    tensor = psi.reshape([2] * n).transpose(list(reversed(range(n))))
    target = qtn.MatrixProductState.from_dense(tensor.reshape(-1), dims=[2] * n)
    target.normalize()

    occupied = [int(q) for q in options.occupied.split(",") if q]
    ansatz, x0 = generate_ansatz_from_circuit(
        initial_circuit(n, occupied, options.cnots // 3, options.seed, options.init_scale), qubits_initially_zero=True
    )
    settings = QuimbSimulator(partial(qtn.CircuitMPS, cutoff=1e-12), autodiff_backend="jax")
    objective = MaximizeStateFidelity(target, ansatz, settings)
    cnots = ansatz.decompose().decompose().count_ops().get("cx", 0)

    start = time.perf_counter()

    trajectory: list[tuple[float, float]] = []  # (seconds, overlap) after each iteration

    def out_of_time(intermediate_result):
        elapsed = time.perf_counter() - start
        trajectory.append((elapsed, float(np.sqrt(max(0.0, 1.0 - intermediate_result.fun)))))
        if elapsed > options.seconds:
            raise StopIteration

    # Tolerances below any gain worth having: the iteration count or the time budget ends the run.
    result = minimize(
        objective.loss_function,
        np.asarray(x0),
        method="L-BFGS-B",
        jac=True,
        callback=out_of_time,
        options={"maxiter": options.maxiter, "ftol": 1e-15, "gtol": 1e-12},
    )
    seconds = time.perf_counter() - start
    # The objective is 1 - |<target|circuit>|^2, the target normalised.
    overlap = float(np.sqrt(max(0.0, 1.0 - objective.loss_function(result.x)[0])))
    record = {"overlap": overlap, "cnots": cnots, "iterations": int(result.nit), "seconds": seconds}
    record["stopped"] = str(result.message)
    print(json.dumps(record | {"trajectory": trajectory}))


if __name__ == "__main__":
    main()
