"""Under the debug interpreter: every call of catalogue.calls(), on success
and on every error path, repeated thousands of times, leaves the total
reference count and the number of allocated blocks where they were (for the
calls through numpy the blocks alone: numpy's own counts drift there)."""

import gc
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).parents[1] / "module"))

from catalogue import NUMPY_LABELS, calls

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")

CALLS = list(calls())
REPEATS = 2000
# A leak shows as at least one reference or block per call, so thousands per
# round; what remains below this is the interpreter's own noise.
NOISE = 10
# A leak is in every round, so one round within the noise clears a call.
# Caches that the first calls fill (the ctypes producers' among them) can
# take a few rounds to settle: up to this many are run.
ROUNDS = 5


def run(thunk, n):
    for _ in range(n):
        try:
            thunk()
        except BaseException:
            pass


def drift(thunk):
    run(thunk, REPEATS // 10)  # caches, free lists and interned names settle
    gc.collect()
    refs, blocks = sys.gettotalrefcount(), sys.getallocatedblocks()
    run(thunk, REPEATS)
    gc.collect()
    return sys.gettotalrefcount() - refs, sys.getallocatedblocks() - blocks


@pytest.mark.parametrize("label, thunk, raises", CALLS, ids=[f"{i}:{c[0]}" for i, c in enumerate(CALLS)])
def test_calls_return_to_the_baseline(label, thunk, raises):
    if raises is None:
        thunk()
    else:
        with pytest.raises(raises):
            thunk()
    rounds = []
    for _ in range(ROUNDS):
        refs, blocks = drift(thunk)
        if label in NUMPY_LABELS:
            refs = 0
        rounds.append((refs, blocks))
        if abs(refs) <= NOISE and abs(blocks) <= NOISE:
            return
    pytest.fail(f"{label}: drift per {REPEATS} calls in every round {rounds}")
