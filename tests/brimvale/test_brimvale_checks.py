"""The argument rules the circuit library and the chemistry stages share."""

import reprlib

import numpy as np
import pytest

from brimvale._checks import at_least, choice, is_integer, strict_integer


def test_shared_rules_keep_each_callers_words():
    assert [is_integer(v) for v in (3, np.int8(3), True, 3.0, "3")] == [True, True, False, False, False]
    assert strict_integer(np.int16(5), "n") == 5
    with pytest.raises(TypeError, match=r"^n must be an integer, got float$"):
        strict_integer(1.0, "n")
    with pytest.raises(ValueError, match=r"^qubit index must be an integer, got 'a'$"):
        strict_integer("a", "qubit index", error=ValueError, shown=reprlib.repr)
    assert at_least(0, 0, "seed must be non-negative") == 0
    with pytest.raises(ValueError, match=r"^shots must be at least 1, got 0$"):
        at_least(0, 1, "shots must be at least 1")
    names = ("numpy", "mps")
    assert choice("statevector", "backend", names, accepted=names + ("statevector",)) == "statevector"
    with pytest.raises(ValueError, match=r"^backend must be one of: 'numpy', 'mps'; got 'cuda'$"):
        choice("cuda", "backend", names, accepted=names + ("statevector",))
