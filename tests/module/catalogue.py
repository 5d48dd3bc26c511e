"""Every public member of the module, described once for the tests that
sweep them all: the bad-input properties (test_bad_input.py), the thread
stress test (test_threads.py) and the reference-count and allocation checks
under the debug interpreter (tests/refleak).

A member lists its parameters with their conversion targets, arguments that
succeed, arguments that fail in the core with their message, and an oracle
that predicts the outcome for any converted arguments.  A new class joins
by adding its samples to SAMPLES, its members to MEMBERS and its slots to
SLOTS; the sweeping tests need no change.
"""

import operator
import re
from dataclasses import dataclass, field
from typing import Any, Callable

from merandol import Date, Duration, Time, Weekday

I32 = (-(2**31), 2**31 - 1)
I64 = (-(2**63), 2**63 - 1)
I128 = (-(2**127), 2**127 - 1)
MIN_DAY, MAX_DAY = -784353015833, 784351576776

# --- Conversion targets ---------------------------------------------------


@dataclass(frozen=True)
class Int:
    """Signed 64-bit (the interpreter's C long), then a range check."""

    lo: int
    hi: int


@dataclass(frozen=True)
class Int128:
    pass


@dataclass(frozen=True)
class Bool:
    pass


@dataclass(frozen=True)
class Text:
    pass


@dataclass(frozen=True)
class Instance:
    cls: type


U8, U32 = Int(0, 255), Int(0, 2**32 - 1)
S32, S64 = Int(*I32), Int(*I64)


class Refused(Exception):
    """The conversion the module must make of an argument fails."""

    def __init__(self, exc_type, message=None):
        super().__init__(exc_type, message)
        self.exc_type, self.message = exc_type, message


def qualname(o):
    return type(o).__qualname__


def convert(target, o):
    """The value the module must see for `o`, or Refused with the exception
    it must raise (message None: the interpreter's own wording)."""
    if isinstance(target, (Int, Int128)):
        try:
            v = o if isinstance(o, int) else operator.index(o)
        except Exception as e:  # noqa: BLE001 - whatever __index__ raised
            raise Refused(type(e)) from None
        if isinstance(target, Int128):
            if not I128[0] <= v <= I128[1]:
                raise Refused(OverflowError, "Python int larger than 128 bits")
            return v
        if not I64[0] <= v <= I64[1]:
            raise Refused(OverflowError)
        if v < target.lo:
            raise Refused(OverflowError, "number too small to fit in target type")
        if v > target.hi:
            raise Refused(OverflowError, "number too large to fit in target type")
        return v
    if isinstance(target, Bool):
        if o is True or o is False:
            return o
        raise Refused(TypeError, f"'{qualname(o)}' object is not an instance of 'bool'")
    if isinstance(target, Text):
        if not isinstance(o, str):
            raise Refused(TypeError, f"'{qualname(o)}' object is not an instance of 'str'")
        try:
            o.encode()
        except UnicodeEncodeError:
            raise Refused(UnicodeEncodeError) from None
        return o
    if isinstance(o, target.cls):
        return o
    if o is None:
        raise Refused(TypeError, f"'None' is not an instance of '{target.cls.__qualname__}'")
    raise Refused(TypeError, f"'{qualname(o)}' object is not an instance of '{target.cls.__qualname__}'")


# --- Reference calendar ----------------------------------------------------


def is_leap(y):
    return y % 4 == 0 and (y % 100 != 0 or y % 400 == 0)


def days_in_month(y, m):
    return 29 if m == 2 and is_leap(y) else [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31][m - 1]


def valid_date(y, m, d):
    return 1 <= m <= 12 and 1 <= d <= days_in_month(y, m)


def date_text(d):
    year = f"{d.year:04d}" if d.year >= 0 else f"-{-d.year:03d}"
    return f"{year}-{d.month:02d}-{d.day:02d}"


def time_text(t):
    fraction = "." + f"{t.nanosecond:09d}".rstrip("0") if t.nanosecond else ""
    return f"{t.hour:02d}:{t.minute:02d}:{t.second:02d}{fraction}"


def fits_days(n):
    return MIN_DAY <= n <= MAX_DAY


# --- Reference readers -----------------------------------------------------

DATE_TEXT = re.compile(r"([+-]?)([0-9]+)-([0-9]+)-([0-9]+)")
TIME_TEXT = re.compile(r"([0-9]+):([0-9]+):([0-9]+)(?:\.([0-9]{1,9}))?")


def read_date(s):
    """(year, month, day) for text the date reader must accept, else None."""
    m = DATE_TEXT.fullmatch(s)
    if m is None:
        return None
    y = int(m[2]) * (-1 if m[1] == "-" else 1)
    mo, d = int(m[3]), int(m[4])
    if I32[0] <= y <= I32[1] and valid_date(y, mo, d):
        return (y, mo, d)
    return None


def read_time(s):
    """(hour, minute, second, nanosecond) for accepted text, else None."""
    m = TIME_TEXT.fullmatch(s)
    if m is None:
        return None
    h, mi, sec = int(m[1]), int(m[2]), int(m[3])
    ns = int(m[4].ljust(9, "0")) if m[4] else 0
    if h > 23 or mi > 59 or sec > 59:
        return None
    return (h, mi, sec, ns)


def date_fields(d):
    return (d.year, d.month, d.day)


def time_fields(t):
    return (t.hour, t.minute, t.second, t.nanosecond)


# --- Samples ----------------------------------------------------------------

SAMPLES = {
    Date: [Date(2024, 1, 5), Date(-1, 12, 31), Date(*[I32[0], 1, 1]), Date(I32[1], 12, 31), Date(1970, 1, 1)],
    Time: [Time(0, 0, 0), Time(12, 34, 56, 789), Time(23, 59, 59, 999999999), Time(9, 5, 0, 500000000)],
    Duration: [Duration.seconds(1), Duration.nanoseconds(0), Duration.nanoseconds(I128[0]),
               Duration.nanoseconds(I128[1]), Duration.milliseconds(-1500)],
    Weekday: [Weekday.MONDAY, Weekday.SUNDAY, Date(2024, 1, 3).weekday()],
}

# --- Members ----------------------------------------------------------------

# What a member call must do with converted arguments: None for success
# (optionally a check of the result), or the ValueError message.
Outcome = Any


@dataclass
class Member:
    owner: type
    name: str
    kind: str  # "new", "class", "method" (with parameters), "noargs", "property"
    params: tuple = ()  # ((name, target), ...)
    required: int | None = None
    ok: list = field(default_factory=list)  # argument tuples (self first for instance members)
    failing: list = field(default_factory=list)  # (argument tuple, ValueError message)
    # oracle(self_or_None, *converted) -> (message or None, check of the result or None)
    oracle: Callable | None = None

    @property
    def label(self):
        return f"{self.owner.__name__}.{self.name}"

    @property
    def instance(self):
        return self.kind in ("method", "noargs", "property")

    @property
    def needed(self):
        return len(self.params) if self.required is None else self.required

    def call(self, receiver, *args, **kwargs):
        if self.kind == "new":
            return self.owner(*args, **kwargs)
        if self.kind == "property":
            return getattr(receiver, self.name)
        target = receiver if self.instance else self.owner
        return getattr(target, self.name)(*args, **kwargs)


def ok(check=None):
    return (None, check)


def error(message):
    return (message, None)


def date_new(_, y, m, d):
    return ok(lambda r: date_fields(r) == (y, m, d)) if valid_date(y, m, d) else error("Invalid date: InvalidDate")


def date_from_days(_, n):
    if not fits_days(n):
        return error("Invalid date: OutOfRange")
    return ok(lambda r: r.days_since_unix_epoch() == n)


def date_add_days(d, n):
    target = d.days_since_unix_epoch() + n
    if not I64[0] <= target <= I64[1] or not fits_days(target):
        return error("Date out of range: OutOfRange")
    return ok(lambda r: r.days_since_unix_epoch() == target)


def date_parse(_, s):
    expected = read_date(s)
    if expected is None:
        return error("Invalid date string: InvalidDate")
    return ok(lambda r: date_fields(r) == expected)


def time_new(_, h, m, s, ns=0):
    if h > 23 or m > 59 or s > 59 or ns > 999999999:
        return error("Invalid time: InvalidTime")
    return ok(lambda r: time_fields(r) == (h, m, s, ns))


def time_parse(_, s):
    expected = read_time(s)
    if expected is None:
        return error("Invalid time string: InvalidTime")
    return ok(lambda r: time_fields(r) == expected)


def duration_factory(scale):
    return lambda _, n: ok(lambda r: r.total_nanos() == n * scale)


MEMBERS = [
    # Weekday
    Member(Weekday, "number_from_monday", "noargs", ok=[(w,) for w in SAMPLES[Weekday]]),
    # Date
    Member(Date, "__new__", "new", (("year", S32), ("month", U8), ("day", U8)),
           ok=[(None, 2024, 2, 29), (None, I32[0], 1, 1)], failing=[((None, 2023, 2, 29), "Invalid date: InvalidDate")],
           oracle=date_new),
    Member(Date, "year", "property", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "month", "property", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "day", "property", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "from_days_since_unix_epoch", "class", (("days", S64),), ok=[(None, 0), (None, MIN_DAY)],
           failing=[((None, MAX_DAY + 1), "Invalid date: OutOfRange")], oracle=date_from_days),
    Member(Date, "days_since_unix_epoch", "noargs", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "weekday", "noargs", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "ordinal", "noargs", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "add_days", "method", (("days", S64),), ok=[(Date(2024, 1, 1), 366), (Date(2024, 1, 1), -1)],
           failing=[((Date(I32[1], 12, 31), 1), "Date out of range: OutOfRange"),
                    ((Date(1970, 1, 2), I64[1]), "Date out of range: OutOfRange")],
           oracle=date_add_days),
    Member(Date, "parse", "class", (("s", Text()),), ok=[(None, "2024-01-05"), (None, "-1-1-1")],
           failing=[((None, " 2024-01-05"), "Invalid date string: InvalidDate")], oracle=date_parse),
    # Time
    Member(Time, "__new__", "new", (("hour", U8), ("minute", U8), ("second", U8), ("nanosecond", U32)), required=3,
           ok=[(None, 12, 34, 56), (None, 23, 59, 59, 999999999)],
           failing=[((None, 24, 0, 0), "Invalid time: InvalidTime"), ((None, 0, 0, 0, 10**9), "Invalid time: InvalidTime")],
           oracle=time_new),
    *[Member(Time, name, "property", ok=[(t,) for t in SAMPLES[Time]]) for name in ("hour", "minute", "second", "nanosecond")],
    Member(Time, "seconds_since_midnight", "noargs", ok=[(t,) for t in SAMPLES[Time]]),
    Member(Time, "nanos_since_midnight", "noargs", ok=[(t,) for t in SAMPLES[Time]]),
    Member(Time, "parse", "class", (("s", Text()),), ok=[(None, "12:34:56.5"), (None, "0:0:0")],
           failing=[((None, "24:00:00"), "Invalid time string: InvalidTime")], oracle=time_parse),
    # Duration
    Member(Duration, "seconds", "class", (("secs", S64),), ok=[(None, 1), (None, I64[0])], oracle=duration_factory(10**9)),
    Member(Duration, "milliseconds", "class", (("ms", S64),), ok=[(None, -1)], oracle=duration_factory(10**6)),
    Member(Duration, "microseconds", "class", (("us", S64),), ok=[(None, I64[1])], oracle=duration_factory(10**3)),
    Member(Duration, "nanoseconds", "class", (("ns", Int128()),), ok=[(None, I128[0]), (None, I128[1])],
           oracle=duration_factory(1)),
    Member(Duration, "total_seconds", "noargs", ok=[(d,) for d in SAMPLES[Duration]]),
    Member(Duration, "total_nanos", "noargs", ok=[(d,) for d in SAMPLES[Duration]]),
]

# --- Slots ------------------------------------------------------------------

# Classes with value comparison and hashing; Weekday keeps identity.
COMPARABLE = [Date, Time, Duration]


def duration_result(exact):
    if I128[0] <= exact <= I128[1]:
        return ok(lambda r: r.total_nanos() == exact)
    return ("Duration overflow", None)


# Unary and binary operators: (label, function, operand classes, oracle on the
# operands, operands that overflow).  A foreign operand gives NotImplemented,
# so TypeError.
_LEAST, _GREATEST = Duration.nanoseconds(I128[0]), Duration.nanoseconds(I128[1])
OPERATORS = [
    ("Duration.__neg__", operator.neg, (Duration,), lambda a: duration_result(-a.total_nanos()), (_LEAST,)),
    ("Duration.__add__", operator.add, (Duration, Duration),
     lambda a, b: duration_result(a.total_nanos() + b.total_nanos()), (_GREATEST, _GREATEST)),
    ("Duration.__sub__", operator.sub, (Duration, Duration),
     lambda a, b: duration_result(a.total_nanos() - b.total_nanos()), (_LEAST, _GREATEST)),
]
# The exception an operator's overflow raises (the others never fail).
OPERATOR_ERRORS = {"Duration overflow": OverflowError}

WEEKDAY_NAMES = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]


def weekday_name(w):
    return WEEKDAY_NAMES[w.number_from_monday() - 1]


# str and repr of each class, written independently of the module.
TEXT_SLOTS = {
    Date: (date_text, lambda d: f"Date(year={d.year}, month={d.month}, day={d.day})"),
    Time: (time_text, lambda t: f"Time(hour={t.hour}, minute={t.minute}, second={t.second}, nanosecond={t.nanosecond})"),
    Duration: (lambda d: f"Duration({d.total_nanos()} ns)", lambda d: f"Duration.nanoseconds({d.total_nanos()})"),
    Weekday: (weekday_name, weekday_name),
}

# Readers of text, with their reference and how to read a value's fields.
READERS = [
    (Date.parse, read_date, date_fields, "Invalid date string: InvalidDate"),
    (Time.parse, read_time, time_fields, "Invalid time string: InvalidTime"),
]

# Statements that stop with PanicException (source text, run after
# `from merandol import *` in a fresh process), for the race on the first
# creation of that class.
PANICS = []

# --- Every call, on success and on every error path ----------------------


class BadIndex:
    def __index__(self):
        raise LookupError("no index here")


def refused_arguments(target):
    """One object for each way the target refuses an argument."""
    if isinstance(target, Int):
        return [1.5, "1", None, BadIndex(), target.lo - 1, target.hi + 1, 2**70]
    if isinstance(target, Int128):
        return [1.5, None, BadIndex(), 2**127, -(2**127) - 1]
    if isinstance(target, Bool):
        return [1, None]
    if isinstance(target, Text):
        return [b"2024-01-01", None, "\udc80"]
    other = next(cls for cls in SAMPLES if cls is not target.cls)
    return [None, 1, SAMPLES[other][0]]


def expected_exception(target, o):
    try:
        convert(target, o)
    except Refused as refused:
        return refused.exc_type
    raise AssertionError(f"{o!r} is accepted")


def calls():
    """(label, thunk, exception the thunk raises or None) for every member on
    success and on every error path, every comparison (foreign operands
    included), hash, str, repr and operator."""
    for m in MEMBERS:
        def bound(args, kwargs=None, m=m):
            return lambda: m.call(args[0], *args[1:], **(kwargs or {}))

        for args in m.ok:
            yield f"{m.label}{args[1:]}", bound(args), None
        for args, _ in m.failing:
            yield f"{m.label}{args[1:]}", bound(args), ValueError
        if m.kind == "property":
            continue
        base = m.ok[0]
        if not m.params:
            yield f"{m.label}(extra)", bound(base + (1,)), TypeError
            continue
        yield f"{m.label}()", bound(base[:1]), TypeError
        yield f"{m.label}(too many)", bound(base + (0,) * (len(m.params) + 1 - len(base[1:]))), TypeError
        yield f"{m.label}(unknown keyword)", bound(base, {"bogus": 1}), TypeError
        yield f"{m.label}(repeated keyword)", bound(base, {m.params[0][0]: base[1]}), TypeError
        for i, (name, target) in enumerate(m.params[: len(base) - 1]):
            for bad in refused_arguments(target):
                args = base[: i + 1] + (bad,) + base[i + 2:]
                yield f"{m.label}({name}={bad!r})", bound(args), expected_exception(target, bad)

    for cls in COMPARABLE:
        a, b = SAMPLES[cls][:2]
        for op in ("eq", "ne", "lt", "le", "gt", "ge"):
            function = getattr(operator, op)
            yield f"{cls.__name__} {op}", (lambda f=function, a=a, b=b: f(a, b)), None
            yield f"{cls.__name__}.__{op}__(int)", (lambda op=op, a=a: getattr(a, f"__{op}__")(1)), None
            yield f"{cls.__name__} {op} int", (lambda f=function, a=a: f(a, 1)), (
                None if op in ("eq", "ne") else TypeError)
    for cls in SAMPLES:
        for slot in (hash, str, repr):
            yield f"{slot.__name__}({cls.__name__})", (lambda s=slot, v=SAMPLES[cls][1]: s(v)), None
    for label, function, classes, _, overflowing in OPERATORS:
        operands = [SAMPLES[c][0] for c in classes]
        yield label, (lambda f=function, o=operands: f(*o)), None
        yield f"{label}(overflow)", (lambda f=function, o=overflowing: f(*o)), OverflowError
        if len(classes) == 2:
            yield f"{label}(int)", (lambda f=function, o=operands: f(o[0], 1)), TypeError
            yield f"{label}(reflected int)", (lambda f=function, o=operands: f(1, o[0])), TypeError
            dunder = f"__{function.__name__.strip('_')}__"
            yield f"{label} NotImplemented", (lambda d=dunder, o=operands: getattr(o[0], d)(1)), None
