"""The shared argument conventions of the native modules, seen through a native function."""

import inspect
from fractions import Fraction

import numpy as np
import pytest

from brimvale_chemistry import _kernels
from brimvale_chemistry.utils import PauliTerm

STATE = np.array([0.6, 0.0, 0.0, 0.8])
TERMS = [PauliTerm(1.0, ((1, "Z"),))]
expectation = _kernels.hamiltonian_expectation


class TestIntegerConversion:
    @pytest.mark.parametrize("n", [2, 2.7, np.int64(2), np.int8(2), np.float64(2.9), Fraction(5, 2)])
    def test_numbers_are_truncated_to_int(self, n):
        assert expectation(STATE, TERMS, n) == pytest.approx(-0.28)

    @pytest.mark.parametrize("value, type_name", [("2", "str"), (None, "NoneType"), ([2], "list"), (2 + 0j, "complex")])
    def test_non_numbers_raise_type_error_naming_the_argument(self, value, type_name):
        with pytest.raises(TypeError) as info:
            expectation(STATE, TERMS, value)
        assert str(info.value) == f"Argument 'n_qubits' has incorrect type (expected int, got {type_name})"

    def test_nan_is_the_interpreters_own_error(self):
        with pytest.raises(ValueError, match="NaN"):
            expectation(STATE, TERMS, float("nan"))


class TestBinding:
    def test_keywords_and_signature(self):
        assert expectation(state=STATE, pauli_terms=TERMS, n_qubits=2) == pytest.approx(-0.28)
        assert str(inspect.signature(expectation)) == "(state, pauli_terms, n_qubits)"
        assert expectation.__doc__ == "<state|H|state> for H = sum of the Pauli terms, as a complex number."

    @pytest.mark.parametrize(
        "args, kwargs, message",
        [
            ((STATE, TERMS), {}, "hamiltonian_expectation() missing 1 required positional argument: 'n_qubits'"),
            (
                (STATE,),
                {},
                "hamiltonian_expectation() missing 2 required positional arguments: 'pauli_terms' and 'n_qubits'",
            ),
            (
                (),
                {},
                "hamiltonian_expectation() missing 3 required positional arguments: 'state', 'pauli_terms', "
                "and 'n_qubits'",
            ),
            ((STATE, TERMS, 2, 3), {}, "hamiltonian_expectation() takes 3 positional arguments but 4 were given"),
            ((STATE, TERMS, 2), {"bond": 1}, "hamiltonian_expectation() got an unexpected keyword argument 'bond'"),
            ((STATE, TERMS, 2), {"state": STATE}, "hamiltonian_expectation() got multiple values for argument 'state'"),
        ],
    )
    def test_host_wording_for_arity_errors(self, args, kwargs, message):
        with pytest.raises(TypeError) as info:
            expectation(*args, **kwargs)
        assert str(info.value) == message


class TestExactStr:
    def test_only_exact_str_passes(self):
        assert _kernels.require_str("numpy", "backend") == "numpy"

    @pytest.mark.parametrize("value, type_name", [(None, "NoneType"), (b"numpy", "bytes"), (1, "int")])
    def test_other_types_get_the_incorrect_type_message(self, value, type_name):
        with pytest.raises(TypeError) as info:
            _kernels.require_str(value, "backend")
        assert str(info.value) == f"Argument 'backend' has incorrect type (expected str, got {type_name})"

    def test_str_subclass_is_rejected(self):
        class Name(str):
            pass

        with pytest.raises(TypeError, match="expected str, got Name"):
            _kernels.require_str(Name("cpu"), "device")


class TestSignatureText:
    def test_non_literal_default_keeps_the_signature_readable(self):
        from brimvale_chemistry.workflow import MolecularDMRGWorkflow

        parameters = inspect.signature(MolecularDMRGWorkflow.__init__).parameters
        assert list(parameters)[:3] == ["self", "molecule", "shots"]
        assert parameters["shots"].kind is inspect.Parameter.KEYWORD_ONLY
        assert parameters["shots"].default == 10000 and parameters["backend"].default == "numpy"
        assert parameters["dtype"].default is Ellipsis
