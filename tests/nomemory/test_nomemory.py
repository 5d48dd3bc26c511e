"""Under the debug interpreter: every call of catalogue.calls(), on success
and on every error path, run again and again with its Nth allocation
failing (every allocator domain of the interpreter, whoever allocates), for
N = 1, 2, ... until the call completes without reaching N.  Each run must
end in the call's own outcome or a MemoryError, and leave the reference
total and the allocated blocks where they were.  For the calls through
numpy, numpy's own allocations are not failed and only the blocks are
judged (numpy's own reference counts drift under the debug interpreter)."""

import sys

import pytest
from catalogue import NUMPY_LABELS, calls
from conftest import FIGURES

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")

# available_zones() is the standard library's zoneinfo.available_timezones(),
# whose own walk of the zone folders swallows any exception (a MemoryError
# included) and keeps what importlib cached before the failure: its
# failures are the standard library's, not ours.
DELEGATED = {"available_zones"}
# The calls through the tests' Arrow producers and readers, which are
# ctypes code, are left out.  A producer's capsule destructor is Python code
# called through ctypes, and a failure inside the producer unwinds through
# it with the error pending, which the debug interpreter aborts on; a reader
# gets ctypes' ArgumentError for a failure in ctypes.  Both are the test
# scaffolding's (real producers are C libraries).  merandol's side of these
# calls runs in the reference-count, ASan and valgrind sweeps.
THROUGH_CTYPES = {"Producer", "ArrayProducer", "read_column", "read_stream", "struct_of"}
CALLS = [call for call in calls() if call[0] not in DELEGATED and not THROUGH_CTYPES & set(call[1].__code__.co_names)]
# The clock's calls return a new value each time: only their type is judged.
UNSTABLE = {label for label, *_ in CALLS} - {label for label, *_ in calls(stable_only=True)}
# No call of the catalogue makes a thousand allocations; one that seems to
# has a failure that makes it retry.
MAX_ALLOCATIONS = 1000
# Runs of the call measured after each failed allocation: a leak there shows
# in every run.
RUNS = 2
# A failure on the interpreter's side can leave one more object on one of
# its free lists each run until the list is full (80 dicts or lists), or
# make it drop a cached frame or traceback that a later run makes again:
# after FILLING_RUNS any such list is full, and over CHECK_RUNS a leak shows
# CHECK_RUNS times while a cache that comes and goes shows once at most.
FILLING_RUNS = 400
CHECK_RUNS = 8


def text(form, value):
    """repr or str, or the error of a value that has no text."""
    try:
        return form(value)
    except ValueError as e:
        return f"<{e}>"


def outcome(result, raised, label):
    """What a call did, as plain data to compare with its normal outcome."""
    if raised is not None:
        return ("raised", type(raised), str(raised), tuple(getattr(raised, "__notes__", ())))
    if label in UNSTABLE:
        return ("returned", type(result))
    try:
        digest = hash(result)
    except TypeError:
        digest = None
    return ("returned", type(result), text(repr, result), text(str, result), digest)


def stack(allocator):
    return "\n".join(["native stack of the failed allocation:", *allocator.where()])


def judged(got, expected):
    """The kind of ending of one injected run, or None for a wrong one."""
    if got == expected:
        return "results" if got[0] == "returned" else "documented errors"
    if got[0] == "raised" and got[1] is MemoryError:
        return "MemoryErrors"
    # add_note gives up a note it cannot allocate; the error itself stands.
    if got[0] == expected[0] == "raised" and got[1:3] == expected[1:3] and set(got[3]) < set(expected[3]):
        return "documented errors"
    return None


@pytest.mark.parametrize("label, thunk, raises", CALLS, ids=[f"{i}:{c[0]}" for i, c in enumerate(CALLS)])
def test_every_allocation_of_a_call_may_fail(failing_allocator, label, thunk, raises):
    # numpy's own allocations are not failed: its handling of them is its
    # own affair (a failure in its reading of a dtype's text leaks a block
    # and frees the dtype once too often).  merandol's calls into numpy still
    # fail where the interpreter allocates for them.  Telling whose an
    # allocation is takes a walk of the stack, so only these calls pay it.
    failing_allocator.spare("/numpy/" if label in NUMPY_LABELS else None)
    for _ in range(3):  # what the first calls cache is cached
        reached, result, raised = failing_allocator.call(thunk, 0)
    expected = outcome(result, raised, label)
    assert (raised is None) == (raises is None) and (raises is None or isinstance(raised, raises))
    del result, raised

    n = 1
    while True:
        reached, result, raised = failing_allocator.call(thunk, n)
        got = outcome(result, raised, label)
        del result, raised
        if reached < n:
            assert got == expected, f"{label}: without a failure {got} instead of {expected}"
            break
        kind = judged(got, expected)
        assert kind is not None, (
            f"{label}: allocation {n} of {reached} failed, and the call gave {got}\n{stack(failing_allocator)}"
        )
        refs, blocks = failing_allocator.drift(thunk, n, RUNS)
        if (refs, blocks) != (0, 0):
            failing_allocator.drift(thunk, n, FILLING_RUNS)
            refs, blocks = failing_allocator.drift(thunk, n, CHECK_RUNS)
            refs, blocks = (0 if abs(refs) <= 1 else refs), (0 if abs(blocks) <= 1 else blocks)
        if label in NUMPY_LABELS:
            refs = 0  # numpy's own counts drift under the debug interpreter
        assert (refs, blocks) == (0, 0), (
            f"{label}: allocation {n} failed; its runs left {refs} references and {blocks} blocks\n"
            + stack(failing_allocator)
        )
        FIGURES[kind] += 1
        FIGURES["failures injected"] += 1
        n += 1
        assert n <= MAX_ALLOCATIONS, f"{label}: still allocating after {MAX_ALLOCATIONS} allocations"
    FIGURES["calls covered"] += 1
