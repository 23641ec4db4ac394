"""backend="statevector" is the default "numpy" simulator under the name that says what it is."""

import json

from measurement_support import random_circuit, random_hamiltonian

from brimvale_chemistry.measurement import measurement_QASM


def test_statevector_measures_exactly_as_numpy(tmp_path, capsys):
    circuit = random_circuit(4, 40, 7)
    terms = random_hamiltonian(4, 20, 7)
    assert (circuit.execute(backend="statevector").state == circuit.execute().state).all()
    runs = {
        backend: measurement_QASM(circuit, terms, 4, shots=500, seed=5, workdir=tmp_path / backend, backend=backend)
        for backend in ("numpy", "statevector")
    }
    numpy_run, named_run = runs["numpy"], runs["statevector"]
    assert (named_run.energy, named_run.exact_energy, named_run.counts) == (
        numpy_run.energy,
        numpy_run.exact_energy,
        numpy_run.counts,
    )
    first, second = (json.loads(r.summary_path.read_text()) for r in (numpy_run, named_run))
    assert second.pop("backend") == "statevector" and first.pop("backend") == "numpy"
    assert first == second
