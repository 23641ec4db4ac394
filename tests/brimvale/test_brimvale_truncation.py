"""One truncation value, checked where it is made."""

import dataclasses

import numpy as np
import pytest

from brimvale.mps import DEFAULT_CUTOFF, Truncation, truncation_for


def test_truncation_is_checked_converted_and_frozen():
    bounds = Truncation(np.int64(8), 0)
    assert (bounds.max_bond, bounds.cutoff) == (8, 0.0)
    assert type(bounds.max_bond) is int and type(bounds.cutoff) is float
    with pytest.raises(dataclasses.FrozenInstanceError):
        bounds.max_bond = 2
    assert Truncation().capped(16) == Truncation(16, DEFAULT_CUTOFF) and bounds.capped(16) is bounds
    assert truncation_for(None, "state", "mps", "dense") == Truncation()
    assert truncation_for(4, "state", "mps", "mps", 1e-14) == Truncation(4, 1e-14)
    refused = [
        ((0, 0.0), ValueError, "max_bond must be at least 1 or None, got 0"),
        ((True, 0.0), TypeError, "max_bond must be an integer, got bool"),
        ((None, "0"), TypeError, "cutoff must be a real number, got str"),
        ((None, 1.0), ValueError, "cutoff must be at least 0 and below 1, got 1.0"),
    ]
    for arguments, error, message in refused:
        with pytest.raises(error) as caught:
            Truncation(*arguments)
        assert str(caught.value) == message
    with pytest.raises(ValueError, match=r"^max_bond applies to state='mps' only$"):
        truncation_for(4, "state", "mps", "dense")
