"""The numeric core's rooms include only rooms below them, so that the
state-vector and MPS kernels never come to depend on the synthesis built
on them."""

import pathlib
import re

CORE = pathlib.Path(__file__).resolve().parents[2] / "native" / "core"

# Each room and the rooms it may include besides itself.
BELOW = {
    "runtime": set(),
    "optimize": set(),
    "statevector": {"runtime"},
    "chemistry": {"runtime"},
    "mps": {"runtime", "statevector"},
    "synthesis": {"runtime", "statevector", "mps", "optimize"},
}


def test_core_rooms_include_only_rooms_below_them():
    rooms = {p.name for p in CORE.iterdir() if p.is_dir()}
    assert rooms == set(BELOW), "a new room needs its place in BELOW"
    assert not list(CORE.glob("*.?pp")), "every core source lives in a room"
    upward = []
    for source in CORE.rglob("*.?pp"):
        room = source.parent.name
        for included in re.findall(r'#include "core/(\w+)/', source.read_text()):
            if included != room and included not in BELOW[room]:
                upward.append(f"{source.relative_to(CORE)} includes core/{included}/")
    assert not upward, upward
