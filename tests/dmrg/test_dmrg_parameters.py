"""DMRG settings validation and the fermionic terms as TeNPy local terms."""

import numpy as np
import pytest

from brimvale_chemistry.dmrg import mallorek as mk

CHI0 = "chi0 must be a positive integer"
MAXDIM = "maxdim must be a positive integer"
ORDER = "maxdim must be greater than or equal to chi0"
SWEEPS = "max_sweeps must be a positive integer"


class TestValidateDmrgParameters:
    @pytest.mark.parametrize(
        "args", [(1, 1, 1), (20, 100, 100), (True, 1, 1), (np.int64(4), np.int32(8), np.uint8(2)), (5, 5, 1)]
    )
    def test_accepts_positive_integers(self, args):
        assert mk._validate_dmrg_parameters(*args) is None

    @pytest.mark.parametrize(
        "args, message",
        [
            ((0, 0, 0), CHI0),  # chi0 is reported first
            ((2.7, 8, 5), CHI0),
            (("4", 8, 5), CHI0),
            ((None, 8, 5), CHI0),
            ((np.float64(4), 8, 5), CHI0),
            ((-3, 8, 5), CHI0),
            ((4, 0, 0), MAXDIM),
            ((4, 8.0, 5), MAXDIM),
            ((4, 3, 10), ORDER),
            ((4, 3, 0), ORDER),  # the relation is checked before max_sweeps
            ((False, 1, 1), CHI0),
            ((1, 1, 0), SWEEPS),
            ((1, 1, 1.5), SWEEPS),
            ((1, 1, np.int64(-1)), SWEEPS),
        ],
    )
    def test_reports_first_bad_setting(self, args, message):
        with pytest.raises(ValueError) as info:
            mk._validate_dmrg_parameters(*args)
        assert str(info.value) == message

    def test_keywords_and_arity_follow_python_rules(self):
        assert mk._validate_dmrg_parameters(max_sweeps=3, maxdim=4, chi0=2) is None
        with pytest.raises(TypeError, match=r"missing 1 required positional argument: 'max_sweeps'"):
            mk._validate_dmrg_parameters(1, 2)
        with pytest.raises(TypeError, match="unexpected keyword argument 'cutoff'"):
            mk._validate_dmrg_parameters(1, 2, 3, cutoff=1e-8)


class TestFermionToLocalTerms:
    def test_documented_example(self):
        terms = [(0.5, ((0, 1), (3, 0))), (-1.2, ())]
        assert list(mk._fermion_to_local_terms(terms, 4)) == [
            (0.5, [("Cdu", [0, 0]), ("Cd", [1, 0])]),
            (-1.2, [("Id", [0, 0])]),
        ]

    @pytest.mark.parametrize("orbital", [0, 1, 2])
    def test_both_spins_of_an_orbital_share_a_lattice_index(self, orbital):
        ops = ((2 * orbital, 1), (2 * orbital, 0), (2 * orbital + 1, 1), (2 * orbital + 1, 0))
        [(coeff, term)] = mk._fermion_to_local_terms([(1j, ops)], 6)
        assert coeff == 1j
        assert term == [("Cdu", [orbital, 0]), ("Cu", [orbital, 0]), ("Cdd", [orbital, 0]), ("Cd", [orbital, 0])]

    def test_values_pass_through_and_numpy_integers_and_float_actions_are_read(self):
        coeff = np.complex128(0.25 - 1j)
        [(out, term)] = mk._fermion_to_local_terms([(coeff, [(np.int64(3), 1.0), (np.uint8(2), np.int32(0))])], 4)
        assert out is coeff
        assert term == [("Cdd", [1, 0]), ("Cu", [1, 0])]
        assert all(type(index[0]) is int for _, index in term)

    @pytest.mark.parametrize("n_qubits", [2, 8, np.int64(6)])
    def test_constant_term_on_the_first_site(self, n_qubits):
        assert list(mk._fermion_to_local_terms([(3.0, [])], n_qubits)) == [(3.0, [("Id", [0, 0])])]

    def test_inputs_are_not_modified(self):
        ops = [(0, 1), (1, 0)]
        terms = [(1.0, ops)]
        list(mk._fermion_to_local_terms(terms, 4))
        assert terms == [(1.0, [(0, 1), (1, 0)])] and terms[0][1] is ops

    @pytest.mark.parametrize(
        "ops, exc, message",
        [
            (((True, 1),), TypeError, "fermion mode must be an integer, got True"),
            (((2.0, 1),), TypeError, "fermion mode must be an integer, got 2.0"),
            (((np.float32(1), 1),), TypeError, "fermion mode must be an integer, got np.float32(1.0)"),
            ((("1", 1),), TypeError, "fermion mode must be an integer, got '1'"),
            (((-1, 1),), ValueError, "fermion mode -1 is outside 0:3"),
            (((4, 1),), ValueError, "fermion mode 4 is outside 0:3"),
            (((7, 5),), ValueError, "fermion mode 7 is outside 0:3"),  # mode before action
            (((1, 2),), ValueError, "fermion action must be 0 or 1, got 2"),
            (((1, "1"),), ValueError, "fermion action must be 0 or 1, got '1'"),
            (
                ((1, 1 + 0j),),
                TypeError,
                "int() argument must be a string, a bytes-like object or a real number, not 'complex'",
            ),
            (((1, 1, 0),), ValueError, "too many values to unpack (expected 2)"),
            (((1,),), ValueError, "not enough values to unpack (expected 2, got 1)"),
            ((5,), TypeError, "cannot unpack non-iterable int object"),
        ],
    )
    def test_bad_operator_messages(self, ops, exc, message):
        with pytest.raises(exc) as info:
            list(mk._fermion_to_local_terms([(1.0, ops)], 4))
        assert str(info.value) == message

    def test_modes_beyond_a_machine_word_keep_their_orbital(self):
        mode = 2**65 + 3
        [(_, term)] = mk._fermion_to_local_terms([(1.0, ((mode, 0),))], 2**70)
        assert term == [("Cd", [2**64 + 1, 0])]

    @pytest.mark.parametrize(
        "element, message",
        [
            ((1.0,), "not enough values to unpack (expected 2, got 1)"),
            ((1.0, (), 3), "too many values to unpack (expected 2)"),
        ],
    )
    def test_terms_must_be_pairs(self, element, message):
        with pytest.raises(ValueError) as info:
            list(mk._fermion_to_local_terms([element], 4))
        assert str(info.value) == message


class TestLaziness:
    def test_nothing_is_read_or_checked_before_the_first_request(self):
        read = []

        def source():
            read.append("started")
            yield (1.0, ((9, 1),))

        gen = mk._fermion_to_local_terms(source(), 3)  # odd count and a bad mode
        assert read == []
        with pytest.raises(ValueError, match="^fermionic DMRG requires an even qubit count$"):
            next(gen)
        assert read == []  # the parity check comes before the first element
        assert next(gen, "exhausted") == "exhausted"

    def test_odd_count_with_no_terms_still_fails_on_request(self):
        assert list(mk._fermion_to_local_terms([], 4)) == []
        with pytest.raises(ValueError, match="even qubit count"):
            list(mk._fermion_to_local_terms([], 5))

    def test_earlier_terms_are_delivered_before_a_later_failure_ends_the_iteration(self):
        gen = mk._fermion_to_local_terms([(1.0, ((0, 1),)), (2.0, ((8, 0),)), (3.0, ((1, 1),))], 4)
        assert next(gen) == (1.0, [("Cdu", [0, 0])])
        with pytest.raises(ValueError, match="fermion mode 8 is outside 0:3"):
            next(gen)
        assert list(gen) == []

    def test_elements_are_read_one_request_at_a_time(self):
        seen = []

        def source():
            for k in range(3):
                seen.append(k)
                yield (float(k), ((k, 1),))

        gen = mk._fermion_to_local_terms(source(), 6)
        next(gen)
        assert seen == [0]
        assert next(gen) == (1.0, [("Cdd", [0, 0])])
        assert seen == [0, 1]
        gen.close()  # stopping early leaves the rest unread
        assert seen == [0, 1]
