"""cvd_dmrg: validation, console output, the brick pattern and seeded restarts,
and the record it returns."""

import dataclasses
import math
import warnings

import numpy as np
import pytest
from corvinth_reference import low_entanglement_state, random_state
from scipy.optimize import OptimizeResult

import brimvale
from brimvale_chemistry import corvinth
from brimvale_chemistry.dmrg import DmrgResult
from brimvale_chemistry.utils import PauliTerm, hamiltonian_expectation

WARNING = (
    "pauli_terms not provided \u2014 circuit energy will not be computed. "
    "Pass pauli_terms=ElectronicStructureResult.pauli_terms to compute <H>."
)
HEADER = "[3/4] Classical variational disentanglement"
FAST = {"maxiter": 15, "restarts": 1}


def layer_line(layer, overlap, energy=None):
    tail = "N/A" if energy is None else f"{energy:.12f} Hartree"
    return f"  Layer {layer:<2}              : |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|={overlap:.12f}, energy={tail}"


def same_result(a, b):
    """Equal fields, and circuits with the same gates in the same order."""
    return dataclasses.replace(a, circuit=None) == dataclasses.replace(b, circuit=None) and list(a.circuit) == list(
        b.circuit
    )


def quiet_run(source, **options):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        return corvinth.cvd_dmrg(source, **options)


@pytest.fixture
def rng():
    return np.random.default_rng(4242)


@pytest.fixture
def hamiltonian():
    return [
        PauliTerm.from_string(-0.5, ""),
        PauliTerm.from_string(0.3, "Z0 Z1"),
        PauliTerm.from_string(0.2, "X1"),
        PauliTerm.from_string(-0.1, "Y0 Y1"),
    ]


class TestValidation:
    @pytest.mark.parametrize(
        "source, options, message",
        [
            (DmrgResult(psi0=None, energy=0.0), {}, "DmrgResult does not contain psi0"),
            (np.ones(3), {}, "psi0 length must be an exact positive power of two"),
            (np.ones(1), {}, "psi0 length must be an exact positive power of two"),
            (np.ones(4), {"n_qubits": 3}, "psi0 length must be an exact positive power of two"),
            (np.ones(4), {"n_qubits": 0}, "psi0 length must be an exact positive power of two"),
            (np.ones((2, 2)), {}, "psi0 length must be an exact positive power of two"),
            (np.zeros(4), {}, "psi0 must have nonzero norm"),
            (np.array([1.0, np.nan, 0.0, 0.0]), {}, "psi0 amplitudes must be finite"),
            (np.ones(4), {"layers": 0}, "layers must be a positive integer"),
            (np.ones(4), {"layers": 2.7}, "layers must be a positive integer"),
            (np.ones(4), {"layers": "2"}, "layers must be a positive integer"),
            (np.ones(4), {"layers": 2, "renyi_indices": [1.0]}, "renyi_indices must have exactly one value per layer"),
            (np.ones(4), {"layers": 1, "renyi_indices": [0.0]}, "Renyi indices must be positive"),
            (np.ones(4), {"layers": 1, "renyi_indices": [-1]}, "Renyi indices must be positive"),
            (np.ones(4), {"layers": 1, "renyi_indices": [math.nan]}, "Renyi indices must be positive"),
            (np.ones(4), {"layers": 1, "maxiter": 0}, "maxiter must be a positive integer"),
            (np.ones(4), {"layers": 1, "maxiter": 5.0}, "maxiter must be a positive integer"),
            (np.ones(4), {"layers": 1, "restarts": 0}, "restarts must be a positive integer"),
            (np.ones(4), {"layers": 1, "init_scale": -0.1}, "init_scale must be nonnegative"),
            (np.ones(4), {"layers": 1, "init_scale": math.nan}, "init_scale must be nonnegative"),
        ],
    )
    def test_messages_before_any_output(self, capsys, source, options, message):
        with pytest.raises(ValueError) as failure:
            quiet_run(source, **options)
        assert str(failure.value) == message
        assert capsys.readouterr().out == ""

    @pytest.mark.parametrize(
        "options, message",
        [
            # Each pair of faults reports the earlier check.
            ({"n_qubits": 3, "layers": 0}, "psi0 length must be an exact positive power of two"),
            ({"layers": 0, "renyi_indices": [0.0]}, "layers must be a positive integer"),
            (
                {"layers": 1, "renyi_indices": [1.0, 1.0], "maxiter": 0},
                "renyi_indices must have exactly one value per layer",
            ),
            ({"layers": 1, "maxiter": 0, "restarts": 0}, "maxiter must be a positive integer"),
            ({"layers": 1, "restarts": 0, "init_scale": -1.0}, "restarts must be a positive integer"),
        ],
    )
    def test_order_of_checks(self, options, message):
        with pytest.raises(ValueError, match=f"^{message}$"):
            quiet_run(np.ones(4), **options)

    def test_missing_psi0_is_reported_before_other_faults(self):
        with pytest.raises(ValueError, match="^DmrgResult does not contain psi0$"):
            quiet_run(DmrgResult(psi0=None, energy=0.0), n_qubits=5, layers=0)

    def test_warning_comes_first(self):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            with pytest.raises(ValueError, match="psi0 must have nonzero norm"):
                corvinth.cvd_dmrg(np.zeros(4))
        assert [str(w.message) for w in caught] == [WARNING]
        assert caught[0].category is UserWarning

    def test_warning_as_error_stops_the_run(self, capsys):
        with warnings.catch_warnings():
            warnings.simplefilter("error", UserWarning)
            with pytest.raises(UserWarning, match="pauli_terms not provided"):
                corvinth.cvd_dmrg(np.ones(2))
        assert capsys.readouterr().out == ""

    def test_tuple_of_terms_is_rejected_before_any_work(self, capsys, hamiltonian):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            with pytest.raises(TypeError) as failure:
                corvinth.cvd_dmrg(np.zeros(3), pauli_terms=tuple(hamiltonian))
        assert str(failure.value) == "Argument 'pauli_terms' has incorrect type (expected list, got tuple)"
        assert caught == [] and capsys.readouterr().out == ""

    @pytest.mark.parametrize(
        "options, name",
        [({"n_qubits": "2"}, "n_qubits"), ({"seed": "1"}, "seed"), ({"init_scale": "0.5"}, "init_scale")],
    )
    def test_typed_arguments_name_themselves(self, options, name):
        with pytest.raises(TypeError, match=f"^Argument '{name}' has incorrect type"):
            quiet_run(np.ones(4), **options)

    def test_signature(self):
        with pytest.raises(TypeError, match=r"takes 1 positional argument but 2 were given"):
            corvinth.cvd_dmrg(np.ones(4), 2)
        with pytest.raises(TypeError, match=r"missing 1 required positional argument: 'source'"):
            corvinth.cvd_dmrg()
        with pytest.raises(TypeError, match=r"unexpected keyword argument 'layer'"):
            corvinth.cvd_dmrg(np.ones(4), layer=1)

    def test_empty_state_without_qubit_count(self):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            with pytest.raises(OverflowError):
                corvinth.cvd_dmrg(np.zeros(0))

    def test_accepted_edge_values(self, capsys):
        result = quiet_run(
            np.ones(4),
            layers=np.int64(1),
            renyi_indices=[math.inf],
            maxiter=np.int32(3),
            restarts=True,
            init_scale=0,
            n_qubits=2.9,
            seed=np.int64(5),
        )
        assert result.circuit_layers == 1 and result.renyi_indices == [math.inf]
        # layers is converted to int; maxiter and restarts are shown as given
        assert capsys.readouterr().out.splitlines()[1] == (
            "  Parameters            : layers=1, Renyi indices=[inf], maxiter=3, restarts=True"
        )


class TestConsoleOutput:
    def test_metrics_lines(self, capsys):
        corvinth._print_layer_metrics(0, 1, None)
        corvinth._print_layer_metrics(7, 0.25, -1.13728383449)
        corvinth._print_layer_metrics(np.int64(12), np.float64(0.5), 2)
        assert capsys.readouterr().out.splitlines() == [
            "  Layer 0               : |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|=1.000000000000, energy=N/A",
            "  Layer 7               : |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|=0.250000000000, "
            "energy=-1.137283834490 Hartree",
            "  Layer 12              : |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|=0.500000000000, "
            "energy=2.000000000000 Hartree",
        ]

    def test_metrics_argument_checks(self):
        with pytest.raises(TypeError, match="^Argument 'layer' has incorrect type"):
            corvinth._print_layer_metrics("1", 1.0, None)
        with pytest.raises(TypeError):
            corvinth._print_layer_metrics(1, "high", None)
        with pytest.raises(TypeError):
            corvinth._print_layer_metrics(1, 1.0, "low")

    def test_run_output_without_hamiltonian(self, capsys, rng):
        psi = low_entanglement_state(rng, 3)
        result = quiet_run(psi, layers=2, renyi_indices=[1, 2.5], **FAST)
        _, layer0, _ = corvinth._reverse_preparation_snapshot(psi, psi, 3, [], None)
        lines = capsys.readouterr().out.splitlines()
        assert lines[:2] == [
            HEADER,
            "  Parameters            : layers=2, Renyi indices=[1.0, 2.5], maxiter=15, restarts=1",
        ]
        assert lines[2] == layer_line(0, layer0)
        assert lines[4] == layer_line(2, result.overlap_mod)
        assert len(lines) == 5 and lines[3].startswith("  Layer 1               : ")
        assert all(line.index(":") == 24 for line in lines[1:])

    def test_run_output_with_hamiltonian(self, capsys, rng, hamiltonian):
        psi = low_entanglement_state(rng, 2)
        result = corvinth.cvd_dmrg(psi, pauli_terms=hamiltonian, layers=1, **FAST)
        lines = capsys.readouterr().out.splitlines()
        assert lines[-1] == layer_line(1, result.overlap_mod, result.energy)
        assert lines[-2].endswith(" Hartree")

    def test_history_is_what_the_lines_show_and_the_circuits_hold(self, capsys, rng, hamiltonian):
        psi = low_entanglement_state(rng, 3)
        result = corvinth.cvd_dmrg(psi, pauli_terms=hamiltonian, layers=2, **FAST)
        lines = capsys.readouterr().out.splitlines()[2:]
        assert lines == [
            layer_line(k, o, e) for k, (o, e) in enumerate(zip(result.layer_overlaps, result.layer_energies))
        ]
        assert result.layer_overlaps[-1] == result.overlap_mod and result.layer_energies[-1] == result.energy
        # Six CNOTs per disentangler in the default emission; two per layer on three qubits.
        assert result.layer_cnot_counts == [0, 12, 24] and result.cnot_count == result.circuit.count_ops()["cx"]
        assert result.two_qubit_depth == result.circuit.depth(two_qubit_only=True) > 0


class TestRuns:
    def test_single_qubit(self, capsys):
        result = quiet_run(np.array([0.6, 0.8j]), layers=3)
        lines = capsys.readouterr().out.splitlines()
        assert result.circuit_params == 3 and result.circuit_layers == 3
        overlaps = {line.split("=")[1] for line in lines[2:]}
        assert len(lines) == 6 and len(overlaps) == 1
        assert result.overlap_mod == pytest.approx(1.0, abs=1e-12)

    def test_two_qubits_bell_state(self):
        bell = np.array([1.0, 0.0, 0.0, 1.0]) / math.sqrt(2)
        result = quiet_run(bell, layers=2, **FAST)
        assert result.circuit_params == 3 * 2 + 9 * 2
        # One disentangler suffices to reach a product state.
        assert result.overlap_mod == pytest.approx(1.0, abs=1e-6)

    def test_product_state_overlap_is_one_from_layer_zero(self, capsys, rng):
        state = np.ones(1, dtype=complex)
        for _ in range(4):
            factor = rng.normal(size=2) + 1j * rng.normal(size=2)
            state = np.kron(factor, state)
        result = quiet_run(state, layers=1, **FAST)
        lines = capsys.readouterr().out.splitlines()
        assert "|=1.000000000000, energy=N/A" in lines[2]
        assert result.overlap_mod == pytest.approx(1.0, abs=1e-10)

    def test_parameter_count_and_rows(self, rng):
        result = quiet_run(low_entanglement_state(rng, 5), layers=2, **FAST)
        assert result.circuit_params == 3 * 5 + 9 * 2 * 4
        assert isinstance(result.circuit, brimvale.Circuit) and result.circuit.n_qubits == 5

    def test_same_seed_same_everything(self, capsys, rng, hamiltonian):
        psi = low_entanglement_state(rng, 4)
        first = corvinth.cvd_dmrg(psi, pauli_terms=hamiltonian, layers=2, **FAST)
        out_first = capsys.readouterr().out
        second = corvinth.cvd_dmrg(psi, pauli_terms=hamiltonian, layers=2, **FAST)
        out_second = capsys.readouterr().out
        assert out_first == out_second
        assert same_result(first, second)

    def test_dmrg_result_and_plain_array_agree(self, rng):
        psi = low_entanglement_state(rng, 3)
        from_record = quiet_run(DmrgResult(psi0=psi, energy=-1.0), layers=1, **FAST)
        from_list = quiet_run(list(psi), layers=1, **FAST)
        assert same_result(from_record, from_list)

    def test_unnormalised_state_matches_normalised(self, rng):
        psi = low_entanglement_state(rng, 3)
        a = quiet_run(psi, layers=1, **FAST)
        b = quiet_run(4.0 * psi, layers=1, **FAST)
        assert a.overlap_mod == pytest.approx(b.overlap_mod, abs=1e-9)

    def test_disentangling_improves_the_overlap(self, capsys, rng):
        psi = low_entanglement_state(rng, 6)
        result = quiet_run(psi, layers=2, maxiter=40, restarts=1)
        lines = capsys.readouterr().out.splitlines()
        layer0 = float(lines[2].split("=")[1].split(",")[0])
        assert result.overlap_mod > layer0 + 1e-3

    def test_result_reports_what_the_circuit_prepares(self, rng, hamiltonian):
        psi = low_entanglement_state(rng, 3)
        result = corvinth.cvd_dmrg(psi, pauli_terms=hamiltonian, layers=1, **FAST)
        state = np.asarray(result.circuit.execute().state)
        assert result.overlap_mod == pytest.approx(abs(np.vdot(psi, state)), abs=1e-12)
        assert result.energy == pytest.approx(hamiltonian_expectation(state, hamiltonian, 3).real, abs=1e-12)


class RecordingOptimiser:
    """Stands in for the optimiser: records each call and answers with fixed
    parameters and a value that always counts as an improvement."""

    def __init__(self, rng):
        self.calls = []
        self.rng = rng

    def __call__(self, objective, initial, **options):
        x = self.rng.normal(0.0, 0.3, 9)
        self.calls.append({"objective": objective, "initial": initial.copy(), "options": options, "x": x})
        return OptimizeResult(fun=-1.0 - len(self.calls), x=x)


# How each path calls the optimiser: the reference run hands it the plain
# objective; cvd_dmrg hands it the value with SciPy's own forward-difference
# gradient (jac=True), whose evaluation budget is a tenth of the default
# maxfun because each call is ten evaluations.
PATHS = {
    "reference": (
        corvinth._cvd_dmrg_reference,
        {"method": "L-BFGS-B", "options": {"maxiter": 7, "ftol": 1e-12}},
        lambda objective, x: objective(x),
    ),
    "single call": (
        lambda psi, **options: corvinth.cvd_dmrg(psi, threads=1, **options),
        {"method": "L-BFGS-B", "jac": True, "options": {"maxiter": 7, "ftol": 1e-12, "maxfun": 1500}},
        lambda objective, x: objective(x)[0],
    ),
}


class TestBrickPattern:
    @pytest.mark.parametrize("path", sorted(PATHS))
    def test_restarts_groups_and_objectives(self, monkeypatch, rng, path):
        run, expected_options, value_of = PATHS[path]
        n, layers, restarts, seed, scale = 5, 2, 2, 11, 0.7
        psi = random_state(rng, n)
        optimiser = RecordingOptimiser(np.random.default_rng(0))
        monkeypatch.setattr(corvinth, "minimize", optimiser)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)
            run(psi, layers=layers, restarts=restarts, seed=seed, init_scale=scale, maxiter=7, renyi_indices=[1, 2])

        calls = iter(optimiser.calls)
        state = psi
        for layer in range(layers):
            for start in (0, 1):
                group_input, applied = state.copy(), []
                for q0 in range(start, n - 1, 2):
                    for restart in range(restarts):
                        call = next(calls)
                        expected = np.random.default_rng(seed + 1009 * layer + 37 * q0 + restart).normal(0.0, scale, 9)
                        np.testing.assert_array_equal(call["initial"], expected)
                        assert call["options"] == expected_options
                        probe = np.linspace(-0.4, 0.4, 9)
                        alpha = [1.0, 2.0][layer]
                        after = corvinth._apply_two_qubit_unitary(
                            group_input, corvinth._entangler_matrix(probe), q0, q0 + 1, n
                        )
                        reference = corvinth._renyi_entropy(corvinth._schmidt_probabilities(after, n, q0), alpha)
                        assert value_of(call["objective"], probe) == pytest.approx(reference, abs=1e-11)
                    # Later restarts win with the recorded strictly falling values.
                    applied.append((q0, call["x"]))
                for q0, x in applied:
                    state = corvinth._apply_two_qubit_unitary(state, corvinth._entangler_matrix(x), q0, q0 + 1, n)
        assert next(calls, None) is None

    @pytest.mark.parametrize("path", sorted(PATHS))
    def test_worse_candidates_keep_the_identity(self, monkeypatch, rng, path):
        run, _, value_of = PATHS[path]
        psi = random_state(rng, 4)
        monkeypatch.setattr(
            corvinth, "minimize", lambda f, x0, **_: OptimizeResult(fun=float(value_of(f, x0)) + math.inf, x=x0 + 1.0)
        )
        rows = []
        original = corvinth._reverse_preparation_snapshot

        def recording_snapshot(psi0, disentangled, n, gate_rows, terms):
            rows.append(list(gate_rows))
            np.testing.assert_allclose(disentangled, psi0, atol=1e-14)
            return original(psi0, disentangled, n, gate_rows, terms)

        monkeypatch.setattr(corvinth, "_reverse_preparation_snapshot", recording_snapshot)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)
            result = run(psi, layers=2)
        assert [len(r) for r in rows] == [0, 3, 6]
        assert [row[:2] for row in rows[-1]] == [(0, 1), (2, 3), (1, 2)] * 2
        assert all(row[2:] == (0.0,) * 9 for row in rows[-1])
        assert result.circuit_params == 3 * 4 + 9 * 6

    def test_nan_candidates_are_ignored(self, monkeypatch, rng):
        psi = random_state(rng, 2)
        monkeypatch.setattr(corvinth, "minimize", lambda f, x0, **_: OptimizeResult(fun=math.nan, x=x0))
        rows = []
        original = corvinth._reverse_preparation_snapshot
        monkeypatch.setattr(
            corvinth,
            "_reverse_preparation_snapshot",
            lambda *a: rows.append(list(a[3])) or original(*a),
        )
        quiet_run(psi, layers=1)
        assert rows[-1] == [(0, 1) + (0.0,) * 9]


class TestResultRecord:
    def test_fields_and_defaults(self):
        fields = dataclasses.fields(corvinth.CvdResult)
        assert [f.name for f in fields] == [
            "overlap_mod",
            "energy",
            "circuit_layers",
            "renyi_indices",
            "circuit_params",
            "circuit",
            # The run's history, appended.
            "layer_overlaps",
            "layer_energies",
            "cnot_count",
            "two_qubit_depth",
            "layer_cnot_counts",
            "discarded_weight",
            "overlap_is_estimate",
            "stop_reason",
        ]
        empty = corvinth.CvdResult()
        assert (empty.overlap_mod, empty.energy, empty.circuit_layers, empty.renyi_indices) == (0.0, 0.0, 0, [])
        assert empty.circuit_params == 0 and empty.circuit is None
        assert empty.renyi_indices is not corvinth.CvdResult().renyi_indices

    def test_record_behaviour(self):
        record = corvinth.CvdResult(0.5, -1.0, 2, [1.0, 1.0], 24)
        assert repr(record) == (
            "CvdResult(overlap_mod=0.5, energy=-1.0, circuit_layers=2, renyi_indices=[1.0, 1.0], "
            "circuit_params=24, circuit=None, layer_overlaps=[], layer_energies=[], cnot_count=0, "
            "two_qubit_depth=0, layer_cnot_counts=[], discarded_weight=0.0, overlap_is_estimate=False, "
            "stop_reason=None)"
        )
        assert record == corvinth.CvdResult(0.5, -1.0, 2, [1.0, 1.0], 24)
        record.energy = -2.0
        assert record.energy == -2.0
        with pytest.raises(TypeError):
            hash(record)
        assert corvinth.CvdResult.__module__ == "brimvale_chemistry.corvinth"

    def test_run_returns_its_own_index_list(self):
        indices = [1.0]
        result = quiet_run(np.ones(2), layers=1, renyi_indices=indices)
        assert result.renyi_indices == indices and result.renyi_indices is not indices
        assert result.energy == 0.0
