"""Many threads share values and call every member at once (every call of
catalogue.calls()), handing their results to one another; each outcome must
equal the one of a single-threaded run.  Under a free-threaded interpreter
this runs without the GIL."""

import os
import random
import re
import sys
import threading
import time

import pytest
from catalogue import PANICS, calls

CALLS = list(calls(stable_only=True))
THREADS = 8
# Calls that each of two threads makes of one member while the other makes
# it too (see test_each_member_from_two_threads_at_once); a hundredth of
# them (but one at least) of a member whose call takes over SLOW_CALL
# seconds, as available_zones (a walk of the zone files) and the calls
# through the tests' ctypes Arrow code do: these overlap for long anyway,
# and under ThreadSanitizer 2000 calls of available_zones took 4 minutes.
AT_ONCE = int(os.environ.get("MERANDOL_AT_ONCE", 20))
SLOW_CALL = 0.001
ROUNDS = 3 if os.environ.get("MERANDOL_HYPOTHESIS") == "slow" else int(os.environ.get("MERANDOL_STRESS_ROUNDS", 20))


def text(form, value):
    """repr or str, or the error of a value that has no text."""
    try:
        return form(value)
    except ValueError as e:
        return f"<{e}>"


def outcome(thunk):
    """What a call did, as plain data that compares across threads."""
    try:
        result = thunk()
    except BaseException as e:
        return ("raised", type(e).__name__, str(e), tuple(getattr(e, "__notes__", ())))
    try:
        digest = hash(result)
    except TypeError:
        digest = None
    return ("returned", type(result).__name__, text(repr, result), text(str, result), digest), result


def plain(o):
    return o if o[0] == "raised" else o[0]


@pytest.fixture
def fast_switching():
    """With the GIL: switch threads as often as the interpreter allows."""
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def test_every_member_from_many_threads(fast_switching):
    expected = [plain(outcome(thunk)) for _, thunk, _ in CALLS]
    shared = []  # results made by one thread, read and dropped by others
    lock = threading.Lock()
    start = threading.Barrier(THREADS)
    mismatches = []

    def work(seed):
        order = list(range(len(CALLS)))
        rng = random.Random(seed)
        start.wait()
        for _ in range(ROUNDS):
            rng.shuffle(order)
            for i in order:
                got = outcome(CALLS[i][1])
                if plain(got) != expected[i]:
                    mismatches.append((CALLS[i][0], plain(got), expected[i]))
                if got[0] != "raised":
                    with lock:
                        shared.append((got[1], got[0]))
                        taken = shared.pop(rng.randrange(len(shared))) if len(shared) > 64 else None
                    if taken is not None:
                        value, seen = taken
                        if (text(repr, value), text(str, value)) != seen[2:4]:
                            mismatches.append(("handed over", text(repr, value), seen))

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert mismatches == []
    if os.environ.get("MERANDOL_REQUIRE_NO_GIL"):
        assert not sys._is_gil_enabled()


def member_of(label):
    """The member a call of the catalogue makes: "Date.parse('2024-01-05',)"
    and "Date.parse()" are Date.parse, "Date lt int" is Date lt."""
    return " ".join(re.split(r"[ (]", label)[:2]) if " " in label.split("(")[0] else label.split("(")[0]


def test_each_member_from_two_threads_at_once():
    """Two threads inside one member together, each with its own arguments,
    many calls in a row with no lock between them; the only order between
    the threads is the barrier before each member.  For ThreadSanitizer,
    which reports a race only between accesses that nothing orders: in the
    shuffled test above two threads are seldom inside one member together,
    and its hand-over lock orders their calls.  The calls must overlap for
    long: a one-entry cache of Date.parse filled without a lock went
    unreported with 200 calls a thread and was reported with 2000."""
    members = {}
    for label, thunk, _ in CALLS:
        members.setdefault(member_of(label), []).append((label, thunk))
    start = threading.Barrier(2)
    mismatches = [[], []]

    def work(seed):
        for group in members.values():
            label, thunk = group[seed % len(group)]
            expected = plain(outcome(thunk))
            started = time.perf_counter()  # the second call, past any first-call set-up
            outcome(thunk)
            slow = time.perf_counter() - started > SLOW_CALL
            start.wait()
            for _ in range(max(1, AT_ONCE // 100) if slow else AT_ONCE):
                got = plain(outcome(thunk))
                if got != expected:
                    mismatches[seed].append((label, got, expected))
                    break

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert mismatches == [[], []]


@pytest.mark.parametrize(("source", "message"), PANICS, ids=[source for source, _ in PANICS])
def test_first_panic_from_many_threads(failing_clock, source, message):
    """PanicException is made on first need: threads that panic together in
    a fresh process must all see one and the same class, and the message."""
    program = f"""
import threading
from merandol import *
start = threading.Barrier({THREADS})
seen = []
def work():
    start.wait()
    try:
        {source}
    except BaseException as e:
        seen.append(e)
threads = [threading.Thread(target=work) for _ in range({THREADS})]
for t in threads: t.start()
for t in threads: t.join()
print(len(seen), len({{id(type(e)) for e in seen}}), type(seen[0]).__name__, {{str(e) for e in seen}})
"""
    finished = failing_clock(program)
    assert finished.returncode == 0, finished.stderr
    assert finished.stdout.strip() == f"{THREADS} 1 PanicException {{{message!r}}}"
