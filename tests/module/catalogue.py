"""Every public member of the module, described once for the tests that
sweep them all: the bad-input properties (test_bad_input.py), the thread
stress test (test_threads.py) and the reference-count and allocation checks
under the debug interpreter (tests/refleak).

A member lists its parameters with their conversion targets, arguments that
succeed, arguments that fail in the core with their message, and an oracle
that predicts the outcome for any converted arguments.  A new class joins
by adding its samples to SAMPLES, its members to MEMBERS and its slots to
SLOTS; the sweeping tests need no change.  merandol_interop's conversions
join through INTEROP_CALLS, its column functions through COLUMN_CALLS (those
that need numpy only where it can be imported).  test_catalogue.py fails for
a public member that calls() does not reach.
"""

import datetime as dt
import operator
import pathlib
import re
import zoneinfo
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Any

from arrow_ctypes import ArrayProducer, Producer, read_column, read_stream
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset, Weekday
from merandol_interop import (
    HTTP_DATE,
    ISO8601,
    RFC2822,
    Format,
    Zone,
    ZoneNotFoundError,
    available_zones,
    format_arrow,
    format_numpy,
    from_local_numpy,
    from_numpy,
    from_stdlib,
    parse_many,
    parse_to_arrow,
    parse_to_numpy,
    to_local_numpy,
    to_numpy,
    to_stdlib,
)

try:
    import numpy as np
except ImportError:  # the debug and free-threaded interpreters have no numpy
    np = None

I32 = (-(2**31), 2**31 - 1)
I64 = (-(2**63), 2**63 - 1)
I128 = (-(2**127), 2**127 - 1)
MIN_DAY, MAX_DAY = -784353015833, 784351576776
MIN_SECS, MAX_SECS = MIN_DAY * 86400, MAX_DAY * 86400 + 86399
MIN_NANOS, MAX_NANOS = MIN_SECS * 10**9, MAX_SECS * 10**9 + 999999999

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
        except Exception as e:
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


def read_datetime(s):
    """Fields of the UTC text the reader must accept, else None."""
    if not s or s[-1] not in "Zz":
        return None
    rest = s[:-1]
    at = rest.find("T")
    if at < 0:
        at = rest.find(" ")
    if at < 0:
        return None
    date, time = read_date(rest[:at]), read_time(rest[at + 1 :])
    return date + time if date and time else None


# Every character with the White_Space property.
WHITE_SPACE = "".join(
    chr(c)
    for c in [
        *range(0x09, 0x0E),
        0x20,
        0x85,
        0xA0,
        0x1680,
        *range(0x2000, 0x200B),
        0x2028,
        0x2029,
        0x202F,
        0x205F,
        0x3000,
    ]
)


def read_offset(text):
    """Seconds of an offset part ("+05:30", "-0800", "+5:"), else None."""
    if len(text) < 3 or text[0] not in "+-":
        return None
    digits = text[1:]
    if ":" in digits:
        hours, minutes = digits.split(":", 1)
        if not 1 <= len(hours) <= 2 or len(minutes) > 2:
            return None
    elif len(digits) in (2, 4):
        hours, minutes = digits[:2], digits[2:]
    else:
        return None
    if any(c not in "0123456789" for c in hours + minutes):
        return None
    h, m = int(hours), int(minutes or "0")
    if h > 23 or m > 59:
        return None
    return (h * 3600 + m * 60) * (1 if text[0] == "+" else -1)


def read_rfc3339(s):
    """(instant in ns, offset seconds) of text the reader must accept."""
    text = s.strip(WHITE_SPACE)
    at = text.find("T")
    if at < 0:
        at = text.find(" ")
    if at < 0:
        return None
    date, rest = read_date(text[:at]), text[at + 1 :]
    if date is None:
        return None
    if rest and rest[-1] in "Zz":
        time, offset = read_time(rest[:-1]), 0
    else:
        sign = max(rest.rfind("+"), rest.rfind("-"))
        if sign < 0:
            return None
        time, offset = read_time(rest[:sign]), read_offset(rest[sign:])
    if time is None or offset is None:
        return None
    h, mi, sec, ns = time
    local = Date(*date).days_since_unix_epoch() * 86400 + h * 3600 + mi * 60 + sec
    instant = (local - offset) * 10**9 + ns
    return (instant, offset) if MIN_NANOS <= instant <= MAX_NANOS else None


def date_fields(d):
    return (d.year, d.month, d.day)


def time_fields(t):
    return (t.hour, t.minute, t.second, t.nanosecond)


def datetime_fields(dt):
    return date_fields(dt.date) + time_fields(dt.time)


def offset_datetime_fields(o):
    return (o.unix_timestamp_nanos(), o.offset.as_seconds())


# --- Samples ----------------------------------------------------------------

SAMPLES = {
    Date: [Date(2024, 1, 5), Date(-1, 12, 31), Date(*[I32[0], 1, 1]), Date(I32[1], 12, 31), Date(1970, 1, 1)],
    Time: [Time(0, 0, 0), Time(12, 34, 56, 789), Time(23, 59, 59, 999999999), Time(9, 5, 0, 500000000)],
    Duration: [
        Duration.seconds(1),
        Duration.nanoseconds(0),
        Duration.nanoseconds(I128[0]),
        Duration.nanoseconds(I128[1]),
        Duration.milliseconds(-1500),
    ],
    Weekday: [Weekday.MONDAY, Weekday.SUNDAY, Date(2024, 1, 3).weekday()],
    DateTime: [
        DateTime.parse("2024-01-01T12:00:00Z"),
        DateTime.parse("1969-12-31T23:59:59.999999999Z"),
        DateTime.parse("-2147483648-01-01T00:00:00Z"),
        DateTime.parse("2147483647-12-31T23:59:59.999999999Z"),
    ],
    UtcOffset: [
        UtcOffset.from_seconds(0),
        UtcOffset.from_seconds(19800),
        UtcOffset.from_seconds(-28800),
        UtcOffset.from_seconds(86400),
        UtcOffset.from_seconds(-86400),
    ],
    OffsetDateTime: [
        OffsetDateTime.parse("2024-03-10T12:00:00+05:30"),
        OffsetDateTime.parse("2024-03-10T06:30:00Z"),
        OffsetDateTime.parse("1969-12-31T23:59:59.5-08:00"),
    ],
}
# An offset date-time whose local reading is past the top of the range.
BEYOND = OffsetDateTime.from_utc(DateTime.parse("2147483647-12-31T23:00:00Z"), UtcOffset.from_seconds(3600))

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
    def stable(self):
        """Whether every call gives the same outcome (the clock does not)."""
        return self.kind != "classnoargs"

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


def from_unix_timestamp(_, secs, nanos=0):
    carry, nanos = divmod(nanos, 10**9)
    secs += carry
    if not I64[0] <= secs <= I64[1] or not MIN_SECS <= secs <= MAX_SECS:
        return error("Invalid timestamp: OutOfRange")
    return ok(lambda r: r.unix_timestamp_nanos() == secs * 10**9 + nanos)


def shifted(message):
    def oracle(value, dur):
        instant = value.unix_timestamp_nanos() + dur.total_nanos()
        if not MIN_NANOS <= instant <= MAX_NANOS:
            return error(message)
        return ok(
            lambda r: (
                r.unix_timestamp_nanos() == instant and getattr(r, "offset", None) == getattr(value, "offset", None)
            )
        )

    return oracle


def difference(a, b):
    return ok(lambda r: r.total_nanos() == a.unix_timestamp_nanos() - b.unix_timestamp_nanos())


def datetime_parse(_, s):
    expected = read_datetime(s)
    if expected is None:
        return error(f"Invalid datetime string '{s}'. Expected format: YYYY-MM-DDTHH:MM:SS[.fffffffff]Z")
    return ok(lambda r: datetime_fields(r) == expected)


def offset_from_seconds(_, seconds):
    if not -86400 <= seconds <= 86400:
        return error("Invalid offset: OutOfRange")
    return ok(lambda r: r.as_seconds() == seconds)


def offset_from_hours_minutes(_, positive, hours, minutes):
    if hours > 23 or minutes > 59:
        return error("Invalid offset: OutOfRange")
    return ok(lambda r: r.as_seconds() == (hours * 3600 + minutes * 60) * (1 if positive else -1))


def from_local(_, date, time, offset):
    local = date.days_since_unix_epoch() * 86400 + time.seconds_since_midnight()
    instant = (local - offset.as_seconds()) * 10**9 + time.nanosecond
    if not MIN_NANOS <= instant <= MAX_NANOS:
        return error("Invalid local datetime: OutOfRange")
    return ok(lambda r: offset_datetime_fields(r) == (instant, offset.as_seconds()))


def rfc3339_message(s):
    return (
        f"Invalid offset datetime string '{s}'. "
        "Expected RFC 3339 format: YYYY-MM-DDTHH:MM:SS[.fffffffff][Z|\u00b1HH:MM]"
    )


def offset_datetime_parse(_, s):
    expected = read_rfc3339(s)
    if expected is None:
        return error(rfc3339_message(s))
    return ok(lambda r: offset_datetime_fields(r) == expected)


MEMBERS = [
    # Weekday
    Member(Weekday, "number_from_monday", "noargs", ok=[(w,) for w in SAMPLES[Weekday]]),
    # Date
    Member(
        Date,
        "__new__",
        "new",
        (("year", S32), ("month", U8), ("day", U8)),
        ok=[(None, 2024, 2, 29), (None, I32[0], 1, 1)],
        failing=[((None, 2023, 2, 29), "Invalid date: InvalidDate")],
        oracle=date_new,
    ),
    Member(Date, "year", "property", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "month", "property", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "day", "property", ok=[(d,) for d in SAMPLES[Date]]),
    Member(
        Date,
        "from_days_since_unix_epoch",
        "class",
        (("days", S64),),
        ok=[(None, 0), (None, MIN_DAY)],
        failing=[((None, MAX_DAY + 1), "Invalid date: OutOfRange")],
        oracle=date_from_days,
    ),
    Member(Date, "days_since_unix_epoch", "noargs", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "weekday", "noargs", ok=[(d,) for d in SAMPLES[Date]]),
    Member(Date, "ordinal", "noargs", ok=[(d,) for d in SAMPLES[Date]]),
    Member(
        Date,
        "add_days",
        "method",
        (("days", S64),),
        ok=[(Date(2024, 1, 1), 366), (Date(2024, 1, 1), -1)],
        failing=[
            ((Date(I32[1], 12, 31), 1), "Date out of range: OutOfRange"),
            ((Date(1970, 1, 2), I64[1]), "Date out of range: OutOfRange"),
        ],
        oracle=date_add_days,
    ),
    Member(
        Date,
        "parse",
        "class",
        (("s", Text()),),
        ok=[(None, "2024-01-05"), (None, "-1-1-1")],
        failing=[((None, " 2024-01-05"), "Invalid date string: InvalidDate")],
        oracle=date_parse,
    ),
    # Time
    Member(
        Time,
        "__new__",
        "new",
        (("hour", U8), ("minute", U8), ("second", U8), ("nanosecond", U32)),
        required=3,
        ok=[(None, 12, 34, 56), (None, 23, 59, 59, 999999999)],
        failing=[
            ((None, 24, 0, 0), "Invalid time: InvalidTime"),
            ((None, 0, 0, 0, 10**9), "Invalid time: InvalidTime"),
        ],
        oracle=time_new,
    ),
    *[
        Member(Time, name, "property", ok=[(t,) for t in SAMPLES[Time]])
        for name in ("hour", "minute", "second", "nanosecond")
    ],
    Member(Time, "seconds_since_midnight", "noargs", ok=[(t,) for t in SAMPLES[Time]]),
    Member(Time, "nanos_since_midnight", "noargs", ok=[(t,) for t in SAMPLES[Time]]),
    Member(
        Time,
        "parse",
        "class",
        (("s", Text()),),
        ok=[(None, "12:34:56.5"), (None, "0:0:0")],
        failing=[((None, "24:00:00"), "Invalid time string: InvalidTime")],
        oracle=time_parse,
    ),
    # Duration
    Member(
        Duration, "seconds", "class", (("secs", S64),), ok=[(None, 1), (None, I64[0])], oracle=duration_factory(10**9)
    ),
    Member(Duration, "milliseconds", "class", (("ms", S64),), ok=[(None, -1)], oracle=duration_factory(10**6)),
    Member(Duration, "microseconds", "class", (("us", S64),), ok=[(None, I64[1])], oracle=duration_factory(10**3)),
    Member(
        Duration,
        "nanoseconds",
        "class",
        (("ns", Int128()),),
        ok=[(None, I128[0]), (None, I128[1])],
        oracle=duration_factory(1),
    ),
    Member(Duration, "total_seconds", "noargs", ok=[(d,) for d in SAMPLES[Duration]]),
    Member(Duration, "total_nanos", "noargs", ok=[(d,) for d in SAMPLES[Duration]]),
    # DateTime
    Member(
        DateTime,
        "__new__",
        "new",
        (("date", Instance(Date)), ("time", Instance(Time))),
        ok=[(None, Date(2024, 1, 1), Time(12, 0, 0))],
        oracle=lambda _, d, t: ok(lambda r: r.date == d and r.time == t),
    ),
    *[Member(DateTime, name, "property", ok=[(v,) for v in SAMPLES[DateTime]]) for name in ("date", "time")],
    Member(
        DateTime,
        "from_unix_timestamp",
        "class",
        (("secs", S64), ("nanos", S32)),
        required=1,
        ok=[(None, 0), (None, 0, -1), (None, MAX_SECS, 999999999)],
        failing=[
            ((None, MAX_SECS + 1), "Invalid timestamp: OutOfRange"),
            ((None, I64[1], 10**9), "Invalid timestamp: OutOfRange"),
        ],
        oracle=from_unix_timestamp,
    ),
    Member(DateTime, "unix_timestamp", "noargs", ok=[(v,) for v in SAMPLES[DateTime]]),
    Member(DateTime, "unix_timestamp_nanos", "noargs", ok=[(v,) for v in SAMPLES[DateTime]]),
    Member(
        DateTime,
        "add_duration",
        "method",
        (("dur", Instance(Duration)),),
        ok=[(SAMPLES[DateTime][0], Duration.seconds(86400))],
        failing=[
            ((SAMPLES[DateTime][3], Duration.nanoseconds(1)), "DateTime out of range: OutOfRange"),
            ((SAMPLES[DateTime][0], Duration.nanoseconds(I128[1])), "DateTime out of range: OutOfRange"),
        ],
        oracle=shifted("DateTime out of range: OutOfRange"),
    ),
    Member(
        DateTime,
        "difference",
        "method",
        (("other", Instance(DateTime)),),
        ok=[(SAMPLES[DateTime][2], SAMPLES[DateTime][3])],
        oracle=difference,
    ),
    Member(DateTime, "now_utc", "classnoargs", ok=[(None,)]),
    Member(
        DateTime,
        "parse",
        "class",
        (("s", Text()),),
        ok=[(None, "2024-01-01 12:00:00.5z")],
        failing=[((None, "2024-01-01T12:00:00"), datetime_parse(None, "2024-01-01T12:00:00")[0])],
        oracle=datetime_parse,
    ),
    # UtcOffset
    Member(
        UtcOffset,
        "from_seconds",
        "class",
        (("seconds", S32),),
        ok=[(None, -86400), (None, 3661)],
        failing=[((None, 86401), "Invalid offset: OutOfRange")],
        oracle=offset_from_seconds,
    ),
    Member(
        UtcOffset,
        "from_hours_minutes",
        "class",
        (("sign_positive", Bool()), ("hours", U8), ("minutes", U8)),
        ok=[(None, False, 5, 30)],
        failing=[((None, True, 24, 0), "Invalid offset: OutOfRange")],
        oracle=offset_from_hours_minutes,
    ),
    Member(UtcOffset, "as_seconds", "noargs", ok=[(v,) for v in SAMPLES[UtcOffset]]),
    Member(UtcOffset, "is_utc", "noargs", ok=[(v,) for v in SAMPLES[UtcOffset]]),
    # OffsetDateTime
    Member(
        OffsetDateTime,
        "from_utc",
        "class",
        (("utc", Instance(DateTime)), ("offset", Instance(UtcOffset))),
        ok=[(None, SAMPLES[DateTime][3], SAMPLES[UtcOffset][3])],
        oracle=lambda _, u, o: ok(lambda r: r.utc == u and r.offset == o),
    ),
    Member(
        OffsetDateTime,
        "from_local",
        "class",
        (("date", Instance(Date)), ("time", Instance(Time)), ("offset", Instance(UtcOffset))),
        ok=[(None, Date(2024, 1, 1), Time(0, 30, 0, 500000000), UtcOffset.from_seconds(3600))],
        failing=[
            (
                (None, Date(I32[0], 1, 1), Time(0, 30, 0), UtcOffset.from_seconds(3600)),
                "Invalid local datetime: OutOfRange",
            )
        ],
        oracle=from_local,
    ),
    *[
        Member(OffsetDateTime, name, "property", ok=[(v,) for v in SAMPLES[OffsetDateTime]])
        for name in ("utc", "offset")
    ],
    Member(
        OffsetDateTime,
        "to_local",
        "noargs",
        ok=[(v,) for v in SAMPLES[OffsetDateTime]],
        failing=[((BEYOND,), "Local datetime out of range: OutOfRange")],
    ),
    Member(OffsetDateTime, "unix_timestamp", "noargs", ok=[(v,) for v in SAMPLES[OffsetDateTime]]),
    Member(OffsetDateTime, "unix_timestamp_nanos", "noargs", ok=[(v,) for v in SAMPLES[OffsetDateTime]]),
    Member(
        OffsetDateTime,
        "add_duration",
        "method",
        (("dur", Instance(Duration)),),
        ok=[(BEYOND, Duration.nanoseconds(-1))],
        failing=[((BEYOND, Duration.seconds(3600)), "DateTime out of range: OutOfRange")],
        oracle=shifted("DateTime out of range: OutOfRange"),
    ),
    Member(
        OffsetDateTime,
        "difference",
        "method",
        (("other", Instance(OffsetDateTime)),),
        ok=[(SAMPLES[OffsetDateTime][0], SAMPLES[OffsetDateTime][1])],
        oracle=difference,
    ),
    Member(
        OffsetDateTime,
        "parse",
        "class",
        (("s", Text()),),
        ok=[(None, "\u3000 2024-03-10 12:00:00+0530\n")],
        failing=[((None, "2024-03-10T12:00:00"), rfc3339_message("2024-03-10T12:00:00"))],
        oracle=offset_datetime_parse,
    ),
]

# --- Slots ------------------------------------------------------------------

# Classes with value comparison and hashing; Weekday keeps identity.
COMPARABLE = [Date, Time, Duration, DateTime, UtcOffset, OffsetDateTime]


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
    (
        "Duration.__add__",
        operator.add,
        (Duration, Duration),
        lambda a, b: duration_result(a.total_nanos() + b.total_nanos()),
        (_GREATEST, _GREATEST),
    ),
    (
        "Duration.__sub__",
        operator.sub,
        (Duration, Duration),
        lambda a, b: duration_result(a.total_nanos() - b.total_nanos()),
        (_LEAST, _GREATEST),
    ),
]
# The exception an operator's overflow raises (the others never fail).
OPERATOR_ERRORS = {"Duration overflow": OverflowError}

WEEKDAY_NAMES = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]


def weekday_name(w):
    return WEEKDAY_NAMES[w.number_from_monday() - 1]


def datetime_text(dt):
    return f"{date_text(dt.date)}T{time_text(dt.time)}Z"


def offset_text(seconds):
    magnitude = abs(seconds)
    return f"{'-' if seconds < 0 else '+'}{magnitude // 3600:02d}:{magnitude % 3600 // 60:02d}"


def offset_datetime_text(o):
    seconds = o.offset.as_seconds()
    return datetime_text(o.to_local())[:-1] + ("Z" if seconds == 0 else offset_text(seconds))


# str and repr of each class, written independently of the module.
TEXT_SLOTS = {
    Date: (date_text, lambda d: f"Date(year={d.year}, month={d.month}, day={d.day})"),
    Time: (
        time_text,
        lambda t: f"Time(hour={t.hour}, minute={t.minute}, second={t.second}, nanosecond={t.nanosecond})",
    ),
    Duration: (lambda d: f"Duration({d.total_nanos()} ns)", lambda d: f"Duration.nanoseconds({d.total_nanos()})"),
    Weekday: (weekday_name, weekday_name),
    DateTime: (datetime_text, lambda dt: f"DateTime.parse('{datetime_text(dt)}')"),
    UtcOffset: (lambda o: offset_text(o.as_seconds()), lambda o: f"UtcOffset.from_seconds({o.as_seconds()})"),
    OffsetDateTime: (offset_datetime_text, lambda o: f"OffsetDateTime.parse('{offset_datetime_text(o)}')"),
}

# Readers of text, with their reference and how to read a value's fields.
READERS = [
    (Date.parse, read_date, date_fields, lambda s: "Invalid date string: InvalidDate"),
    (Time.parse, read_time, time_fields, lambda s: "Invalid time string: InvalidTime"),
    (DateTime.parse, read_datetime, datetime_fields, lambda s: datetime_parse(None, s)[0]),
    (OffsetDateTime.parse, read_rfc3339, offset_datetime_fields, rfc3339_message),
]

# Statements that stop with PanicException, and its message, in a fresh
# process whose real-time clock cannot be read (the failing_clock fixture);
# the source text runs after `from merandol import *`.
PANICS = [("DateTime.now_utc()", "Failed to get current time: the real-time clock could not be read")]

# --- merandol_interop ----------------------------------------------------------

# (label, call, exception or None, message or, on success, the result) for
# each conversion, on success and on every way it refuses.  The results are
# written with the other library's own constructors.
STD_ZONE = dt.timezone(dt.timedelta(hours=5, minutes=30))


class StdTzinfo(dt.tzinfo):
    """A tzinfo that is neither a timezone nor a ZoneInfo."""

    def __repr__(self):
        return "<StdTzinfo>"


STD_TZINFO = StdTzinfo()
INTEROP_CALLS = [
    *[
        (f"to_stdlib({v!r})", (lambda v=v: to_stdlib(v)), None, x)
        for v, x in (
            (Date(2024, 1, 5), dt.date(2024, 1, 5)),
            (Time(1, 2, 3, 4000), dt.time(1, 2, 3, 4)),
            (DateTime.parse("2024-01-05T12:00:00Z"), dt.datetime(2024, 1, 5, 12, tzinfo=dt.UTC)),
            (
                OffsetDateTime.parse("2024-01-05T12:00:00.123456+05:30"),
                dt.datetime(2024, 1, 5, 12, 0, 0, 123456, tzinfo=STD_ZONE),
            ),
            (
                OffsetDateTime.from_utc(DateTime.parse("2024-01-05T12:00:00Z"), UtcOffset.from_seconds(-19815)),
                dt.datetime(2024, 1, 5, 6, 29, 45, tzinfo=dt.timezone(dt.timedelta(seconds=-19815))),
            ),
            (UtcOffset.from_seconds(-3600), dt.timezone(dt.timedelta(hours=-1))),
            (Duration.nanoseconds(-(2**70) // 1000 * 1000), dt.timedelta(microseconds=-(2**70) // 1000)),
        )
    ],
    ("to_stdlib(truncate=True)", lambda: to_stdlib(Time(1, 2, 3, 4), truncate=True), None, dt.time(1, 2, 3)),
    *[
        (f"from_stdlib({x!r})", (lambda x=x: from_stdlib(x)), None, v)
        for x, v in (
            (dt.date(2024, 1, 5), Date(2024, 1, 5)),
            (dt.time(1, 2, 3, 4), Time(1, 2, 3, 4000)),
            (
                dt.datetime(2024, 1, 5, tzinfo=dt.UTC),
                OffsetDateTime.from_local(Date(2024, 1, 5), Time(0, 0, 0), UtcOffset.from_seconds(0)),
            ),
            (
                dt.datetime(2024, 1, 5, tzinfo=STD_ZONE),
                OffsetDateTime.from_local(Date(2024, 1, 5), Time(0, 0, 0), UtcOffset.from_seconds(19800)),
            ),
            (
                dt.datetime(2024, 1, 5, tzinfo=zoneinfo.ZoneInfo("Europe/Paris")),  # winter time, +01:00
                OffsetDateTime.from_local(Date(2024, 1, 5), Time(0, 0, 0), UtcOffset.from_seconds(3600)),
            ),
            (STD_ZONE, UtcOffset.from_seconds(19800)),
            (dt.timedelta(days=-5, microseconds=1), Duration.nanoseconds((-5 * 86400 * 10**6 + 1) * 1000)),
        )
    ],
    # Years the standard library cannot hold
    (
        "to_stdlib(year 10000)",
        lambda: to_stdlib(Date(10000, 1, 1)),
        ValueError,
        "Date(year=10000, month=1, day=1) cannot be converted to datetime.date: year 10000 is outside the standard "
        "library's years 1 to 9999",
    ),
    (
        "to_stdlib(local year 10000)",
        lambda: to_stdlib(
            OffsetDateTime.from_utc(DateTime.parse("9999-12-31T23:00:00Z"), UtcOffset.from_seconds(3600))
        ),
        ValueError,
        "OffsetDateTime.parse('10000-01-01T00:00:00+01:00') cannot be converted to datetime.datetime: year 10000 is "
        "outside the standard library's years 1 to 9999",
    ),
    (
        "to_stdlib(local reading beyond the range)",
        lambda: to_stdlib(BEYOND),
        ValueError,
        "OffsetDateTime.from_utc(DateTime.parse('2147483647-12-31T23:00:00Z'), UtcOffset.from_seconds(3600)) cannot "
        "be converted to datetime.datetime: year 2147483648 is outside the standard library's years 1 to 9999",
    ),
    (
        "to_stdlib(year 0)",
        lambda: to_stdlib(DateTime.parse("0000-12-31T23:59:59Z")),
        ValueError,
        "DateTime.parse('0000-12-31T23:59:59Z') cannot be converted to datetime.datetime: year 0 is outside the "
        "standard library's years 1 to 9999",
    ),
    # Nanoseconds below the microsecond, without truncate
    (
        "to_stdlib(Time with nanoseconds)",
        lambda: to_stdlib(Time(1, 2, 3, 1500)),
        ValueError,
        "Time(hour=1, minute=2, second=3, nanosecond=1500) cannot be converted to datetime.time: its nanosecond 1500 "
        "is not a whole number of microseconds (truncate=True floors it)",
    ),
    (
        "to_stdlib(Duration with nanoseconds)",
        lambda: to_stdlib(Duration.nanoseconds(-(2**70) - 1), truncate=False),
        ValueError,
        "Duration.nanoseconds(-1180591620717411303425) cannot be converted to datetime.timedelta: it is not a whole "
        "number of microseconds (truncate=True floors it)",
    ),
    # A full day of offset
    (
        "to_stdlib(UtcOffset of a day)",
        lambda: to_stdlib(UtcOffset.from_seconds(-86400)),
        ValueError,
        "UtcOffset.from_seconds(-86400) cannot be converted to datetime.timezone: an offset of a full 24 hours is "
        "outside datetime.timezone's range",
    ),
    # Beyond timedelta's range
    (
        "to_stdlib(Duration beyond timedelta)",
        lambda: to_stdlib(Duration.nanoseconds(2**100)),
        ValueError,
        "Duration.nanoseconds(1267650600228229401496703205376) cannot be converted to datetime.timedelta: it is "
        "outside timedelta's range of -999999999 to 999999999 days",
    ),
    # What names no merandol value
    (
        "from_stdlib(naive datetime)",
        lambda: from_stdlib(dt.datetime(2024, 1, 5)),
        ValueError,
        "datetime.datetime(2024, 1, 5, 0, 0) cannot be converted to merandol.OffsetDateTime: a naive datetime names "
        "no instant; attach a tzinfo (for example datetime.UTC)",
    ),
    (
        "from_stdlib(aware time)",
        lambda: from_stdlib(dt.time(1, tzinfo=dt.UTC)),
        ValueError,
        "datetime.time(1, 0, tzinfo=datetime.timezone.utc) cannot be converted to merandol.Time: an aware time has "
        "an offset that Time cannot hold; pass a naive time",
    ),
    (
        "from_stdlib(offset with microseconds)",
        lambda: from_stdlib(dt.datetime(2024, 1, 5, tzinfo=dt.timezone(dt.timedelta(microseconds=-1)))),
        ValueError,
        "datetime.datetime(2024, 1, 5, 0, 0, tzinfo=datetime.timezone(datetime.timedelta(days=-1, seconds=86399, "
        "microseconds=999999))) cannot be converted to merandol.OffsetDateTime: its UTC offset "
        "datetime.timedelta(days=-1, seconds=86399, microseconds=999999) is not a whole number of seconds",
    ),
    (
        "from_stdlib(tzinfo of another kind)",
        lambda: from_stdlib(STD_TZINFO),
        ValueError,
        "<StdTzinfo> cannot be converted to merandol.UtcOffset: only a datetime.timezone "
        "is a fixed offset; convert an aware datetime instead, whose offset is the one its tzinfo gives for its "
        "instant",
    ),
    # Other types and arguments
    (
        "from_stdlib(str)",
        lambda: from_stdlib("2024-01-05"),
        TypeError,
        "from_stdlib() argument must be a datetime.date, datetime.datetime, datetime.time, datetime.timezone or "
        "datetime.timedelta, not 'str'",
    ),
    (
        "to_stdlib(Weekday)",
        lambda: to_stdlib(Weekday.MONDAY),
        TypeError,
        "to_stdlib() argument must be a merandol Date, Time, DateTime, OffsetDateTime, UtcOffset or Duration, or a "
        "Zone, not 'merandol.Weekday'",
    ),
    (
        "to_stdlib(positional truncate)",
        lambda: to_stdlib(Date(2024, 1, 5), True),
        TypeError,
        "to_stdlib() takes 1 positional argument but 2 were given",
    ),
    (
        "to_stdlib(truncate=1)",
        lambda: to_stdlib(Date(2024, 1, 5), truncate=1),
        TypeError,
        "'int' object is not an instance of 'bool'",
    ),
    ("from_stdlib()", lambda: from_stdlib(), TypeError, "from_stdlib() missing 1 required positional argument: 'obj'"),
    (
        "to_stdlib(unknown keyword)",
        lambda: to_stdlib(Date(2024, 1, 5), trunc=True),
        TypeError,
        "to_stdlib() got an unexpected keyword argument 'trunc'",
    ),
]

# --- merandol_interop's zones ------------------------------------------------

PARIS = Zone("Europe/Paris")
SUMMER = DateTime.parse("2024-07-01T12:00:00Z")
UTC_TZIF = (
    pathlib.Path("/usr/share/zoneinfo/UTC").read_bytes() if pathlib.Path("/usr/share/zoneinfo/UTC").exists() else None
)
ZONE_CALLS = [
    ("Zone(key)", lambda: Zone("Europe/Paris"), None, PARIS),
    ("Zone.from_tzif", lambda: Zone.from_tzif(UTC_TZIF, key="UTC").key, None, "UTC"),
    ("Zone.clear_cache", lambda: Zone.clear_cache(), None, None),
    ("Zone.key", lambda: PARIS.key, None, "Europe/Paris"),
    ("Zone.offset_at", lambda: PARIS.offset_at(SUMMER), None, UtcOffset.from_seconds(7200)),
    ("Zone.to_local", lambda: PARIS.to_local(SUMMER), None, OffsetDateTime.parse("2024-07-01T14:00:00+02:00")),
    (
        "Zone.from_local(gap)",
        lambda: PARIS.from_local(Date(2024, 3, 31), Time(2, 30, 0)),
        None,
        OffsetDateTime.parse("2024-03-31T03:30:00+02:00"),
    ),
    (
        "Zone.from_local(fold, later)",
        lambda: PARIS.from_local(Date(2024, 10, 27), Time(2, 30, 0), "later"),
        None,
        OffsetDateTime.parse("2024-10-27T02:30:00+01:00"),
    ),
    (
        "Zone.next_transition",
        lambda: PARIS.next_transition(SUMMER),
        None,
        OffsetDateTime.parse("2024-10-27T02:00:00+01:00"),
    ),
    (
        "Zone.previous_transition",
        lambda: PARIS.previous_transition(SUMMER),
        None,
        OffsetDateTime.parse("2024-03-31T03:00:00+02:00"),
    ),
    ("Zone.__sizeof__", lambda: PARIS.__sizeof__() > 1000, None, True),
    ("Zone.__copy__", lambda: PARIS.__copy__(), None, PARIS),
    ("Zone.__deepcopy__", lambda: PARIS.__deepcopy__({}), None, PARIS),
    ("reduce(Zone)", lambda: PARIS.__reduce__()[1], None, ("Europe/Paris",)),
    ("hash(Zone)", lambda: hash(PARIS) == hash("Europe/Paris"), None, True),
    ("str(Zone)", lambda: str(PARIS), None, "Europe/Paris"),
    ("repr(Zone)", lambda: repr(PARIS), None, "Zone('Europe/Paris')"),
    ("Zone eq", lambda: PARIS == Zone.from_tzif(UTC_TZIF, key="Europe/Paris"), None, False),
    ("to_stdlib(Zone)", lambda: to_stdlib(PARIS), None, zoneinfo.ZoneInfo("Europe/Paris")),
    ("from_stdlib(ZoneInfo)", lambda: from_stdlib(zoneinfo.ZoneInfo("Europe/Paris")), None, PARIS),
    ("available_zones", lambda: "Europe/Paris" in available_zones(), None, True),
    # Refusals
    ("Zone(int)", lambda: Zone(5), TypeError, "a zone key must be a str, not 'int'"),
    (
        "Zone(absolute)",
        lambda: Zone("/etc/passwd"),
        ValueError,
        "'/etc/passwd' is not a valid zone key: it is an absolute path",
    ),
    (
        "Zone.from_tzif(key int)",
        lambda: Zone.from_tzif(UTC_TZIF, key=5),
        TypeError,
        "a zone key must be a str or None, not 'int'",
    ),
    ("Zone(empty)", lambda: Zone(""), ValueError, "'' is not a valid zone key: it is empty"),
    (
        "Zone(NUL)",
        lambda: Zone("Europe/Paris\x00"),
        ValueError,
        "'Europe/Paris\\x00' is not a valid zone key: it holds a NUL character",
    ),
    (
        "Zone(..)",
        lambda: Zone("../zoneinfo/UTC"),
        ValueError,
        "'../zoneinfo/UTC' is not a valid zone key: it is not a normalised path below the zone folders",
    ),
    (
        "Zone(folder)",
        lambda: Zone("Europe"),
        ValueError,
        "'Europe' is not a valid zone key: it names a folder of zones",
    ),
    (
        "ZoneNotFoundError",
        lambda: Zone("Nowhere/Atlantis"),
        ZoneNotFoundError,
        "\"no time zone found for key 'Nowhere/Atlantis'\"",
    ),
    (
        "Zone.from_tzif(damaged)",
        lambda: Zone.from_tzif(b"TZif2" + bytes(40)),
        ValueError,
        "bytes: truncated: the data ends before its counts say",
    ),
    (
        "Zone.from_local(raise)",
        lambda: PARIS.from_local(Date(2024, 3, 31), Time(2, 30, 0), "raise"),
        ValueError,
        "2024-03-31T02:30:00 is skipped in Europe/Paris: a change of offset skips it (disambiguate='raise')",
    ),
    (
        "Zone.from_local(bad word)",
        lambda: PARIS.from_local(Date(2024, 3, 31), Time(2, 30, 0), "first"),
        ValueError,
        "disambiguate must be 'compatible', 'earlier', 'later' or 'raise', not 'first'",
    ),
    (
        "Zone.offset_at(Date)",
        lambda: PARIS.offset_at(Date(2024, 1, 1)),
        TypeError,
        "'merandol.Date' object is not a merandol DateTime or OffsetDateTime",
    ),
    (
        "reduce(Zone from bytes)",
        lambda: Zone.from_tzif(UTC_TZIF).__reduce__(),
        TypeError,
        "a Zone read from bytes cannot be pickled: unpickling finds a zone by its key, whose file may hold other rules",
    ),
]
INTEROP_CALLS += ZONE_CALLS

# --- Text in other forms -------------------------------------------------------

YMD, DB, LOG = Format("%Y-%m-%d"), Format("%Y-%m-%d %H:%M:%S"), Format("%d/%b/%Y:%H:%M:%S %z")
LOGGED = OffsetDateTime.parse("2026-12-08T14:36:25+01:00")
LONG_TEXT = "x" * 70
FORMAT_CALLS = [
    ("Format(pattern)", lambda: Format("%Y-%m-%d").pattern, None, "%Y-%m-%d"),
    (
        "Format.result",
        lambda: (YMD.result, DB.result, LOG.result, ISO8601.result),
        None,
        (Date, DateTime, OffsetDateTime, None),
    ),
    ("Format.parse", lambda: LOG.parse("08/Dec/2026:14:36:25 +0100"), None, LOGGED),
    ("Format.format", lambda: LOG.format(LOGGED), None, "08/Dec/2026:14:36:25 +0100"),
    ("repr(Format)", lambda: (repr(YMD), repr(RFC2822)), None, ("Format('%Y-%m-%d')", "merandol_interop.RFC2822")),
    ("str(Format)", lambda: str(YMD), None, "%Y-%m-%d"),
    ("hash(Format)", lambda: hash(YMD) == hash("%Y-%m-%d"), None, True),
    ("Format eq", lambda: (YMD == Format("%Y-%m-%d"), YMD != DB, ISO8601 == RFC2822), None, (True, True, False)),
    ("reduce(Format)", lambda: (YMD.__reduce__()[1], HTTP_DATE.__reduce__()), None, (("%Y-%m-%d",), "HTTP_DATE")),
    ("Format.__copy__", lambda: YMD.__copy__() is YMD, None, True),
    ("Format.__deepcopy__", lambda: ISO8601.__deepcopy__({}) is ISO8601, None, True),
    ("ISO8601 parse", lambda: ISO8601.parse("2026-W50-2"), None, Date(2026, 12, 8)),
    ("ISO8601 format", lambda: ISO8601.format(DateTime.parse("2026-12-08T14:36:25Z")), None, "2026-12-08T14:36:25"),
    ("RFC2822 parse", lambda: RFC2822.parse("Tue, 08 Dec 2026 14:36:25 +0100"), None, LOGGED),
    ("RFC2822 format", lambda: RFC2822.format(LOGGED), None, "Tue, 08 Dec 2026 14:36:25 +0100"),
    ("HTTP_DATE parse", lambda: HTTP_DATE.parse("Tuesday, 08-Dec-26 13:36:25 GMT"), None, LOGGED.utc),
    ("HTTP_DATE format", lambda: HTTP_DATE.format(LOGGED), None, "Tue, 08 Dec 2026 13:36:25 GMT"),
    # Bad input: each way a pattern, a text or a value is refused, once.
    ("Format(int)", lambda: Format(5), TypeError, "a pattern must be a str, not 'int'"),
    (
        "Format(unknown)",
        lambda: Format("é%Q"),
        ValueError,
        "'é%Q' is not a pattern: unknown directive at position 1 (%Q)",
    ),
    (
        "Format(lone %)",
        lambda: Format("%F%"),
        ValueError,
        "'%F%' is not a pattern: lone % at the end at position 2 (%)",
    ),
    (
        "Format(twice)",
        lambda: Format("%F %d"),
        ValueError,
        "'%F %d' is not a pattern: field given twice at position 3 (%d)",
    ),
    (
        "Format(partial)",
        lambda: Format("%b %d %H"),
        ValueError,
        "'%b %d %H' is not a pattern: partial date at position 0",
    ),
    (
        "Format.parse(month 13)",
        lambda: Format("é %Y-%m-%d").parse("é 2026-13-08"),
        ValueError,
        "'é 2026-13-08' does not match 'é %Y-%m-%d': month 13 at position 7 (%m)",
    ),
    (
        "Format.parse(long)",
        lambda: YMD.parse(LONG_TEXT),
        ValueError,
        f"'{LONG_TEXT[:64]}'... does not match '%Y-%m-%d': expected a digit at position 0 (%Y)",
    ),
    (
        "Format.parse(NUL)",
        lambda: YMD.parse("2026-12-08\x00"),
        ValueError,
        "'2026-12-08\\x00' does not match '%Y-%m-%d': text left over at position 10",
    ),
    (
        "Format.parse(beyond)",
        lambda: Format("%Y-%m-%d %H:%M%z").parse("2147483647-12-31 23:59-0100"),
        ValueError,
        "'2147483647-12-31 23:59-0100' does not match '%Y-%m-%d %H:%M%z': its instant is outside the range of DateTime",
    ),
    (
        "Format.format(%H of a Date)",
        lambda: DB.format(Date(2026, 12, 8)),
        TypeError,
        "'%Y-%m-%d %H:%M:%S' writes %H, a field that Date does not have",
    ),
    (
        "Format.format(%z of a DateTime)",
        lambda: LOG.format(LOGGED.utc),
        TypeError,
        "'%d/%b/%Y:%H:%M:%S %z' writes %z, a field that DateTime does not have",
    ),
    (
        "ISO8601 parse(bad)",
        lambda: ISO8601.parse("2026-13-08"),
        ValueError,
        "'2026-13-08' is not an ISO 8601 text: month 13 at position 5",
    ),
    (
        "RFC2822 parse(weekday)",
        lambda: RFC2822.parse("Mon, 08 Dec 2026 14:36:25 GMT"),
        ValueError,
        "'Mon, 08 Dec 2026 14:36:25 GMT' is not an RFC 2822 date: "
        "weekday Monday is not the date's (Tuesday) at position 0",
    ),
    (
        "RFC2822 format(DateTime)",
        lambda: RFC2822.format(LOGGED.utc),
        TypeError,
        "merandol_interop.RFC2822 writes an OffsetDateTime, not DateTime",
    ),
    (
        "HTTP_DATE parse(bad)",
        lambda: HTTP_DATE.parse("Tue, 08 Dec 2026"),
        ValueError,
        "'Tue, 08 Dec 2026' is not an HTTP date: text ended at position 16",
    ),
]
INTEROP_CALLS += FORMAT_CALLS

# --- merandol_interop's columns ----------------------------------------------

# (label, call, exception or None, message or, on success, the result, notes)
# for each column function on success and on every way it refuses.  A numpy
# result is written as (dtype, its int64 values).
RFC_ERROR = (
    "Invalid offset datetime string '2024-01-05 12:00'. Expected RFC 3339 format: "
    "YYYY-MM-DDTHH:MM:SS[.fffffffff][Z|\u00b1HH:MM]"
)
COLUMN_TEXTS = ["2024-01-05T12:00:00.5+05:30", "1969-12-31T23:59:59.999999999Z", "\u00a02024-01-05 12:00:00Z"]
# The same instants from their fields: (date, time, offset in seconds).
COLUMN_READINGS = [
    (dt.date(2024, 1, 5), Time(12, 0, 0, 500000000), 19800),
    (dt.date(1969, 12, 31), Time(23, 59, 59, 999999999), 0),
    (dt.date(2024, 1, 5), Time(12, 0, 0), 0),
]
COLUMN_NANOS = [
    ((d - dt.date(1970, 1, 1)).days * 86400 + t.hour * 3600 + t.minute * 60 + t.second - offset) * 10**9 + t.nanosecond
    for d, t, offset in COLUMN_READINGS
]
# More texts of the writers' shape than a batch of the column readers holds.
WRITER_TEXTS = [f"2024-01-{day:02d}T12:00:00.5+05:30" for day in range(1, 10)]
COLUMN_CALLS = [
    (
        "parse_many(Date)",
        lambda: parse_many(Date, ("2024-01-05", "-0001-12-31")),
        None,
        [Date(2024, 1, 5), Date(-1, 12, 31)],
        [],
    ),
    (
        "parse_many(OffsetDateTime, nine of the writers' shape)",
        lambda: parse_many(OffsetDateTime, WRITER_TEXTS),
        None,
        [
            OffsetDateTime.from_local(Date(2024, 1, day), Time(12, 0, 0, 500000000), UtcOffset.from_seconds(19800))
            for day in range(1, 10)
        ],
        [],
    ),
    (
        "parse_many(OffsetDateTime)",
        lambda: parse_many(OffsetDateTime, iter(COLUMN_TEXTS)),
        None,
        [
            OffsetDateTime.from_local(Date(d.year, d.month, d.day), t, UtcOffset.from_seconds(offset))
            for d, t, offset in COLUMN_READINGS
        ],
        [],
    ),
    (
        "parse_many(Time, bad text)",
        lambda: parse_many(Time, ["12:00:00", "12:00:60"]),
        ValueError,
        "Invalid time string: InvalidTime",
        ["at index 1"],
    ),
    (
        "parse_many(DateTime, bad text)",
        lambda: parse_many(DateTime, ["2024-01-05T12:00:00+00:00"]),
        ValueError,
        "Invalid datetime string '2024-01-05T12:00:00+00:00'. Expected format: YYYY-MM-DDTHH:MM:SS[.fffffffff]Z",
        ["at index 0"],
    ),
    (
        "parse_many(Date, surrogate)",
        lambda: parse_many(Date, ["2024-01-05", "\ud800"]),
        UnicodeEncodeError,
        "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed",
        ["at index 1"],
    ),
    (
        "parse_many(Date, int)",
        lambda: parse_many(Date, ["2024-01-05", 5]),
        TypeError,
        "texts[1] is 'int', not str or a missing value",
        [],
    ),
    (
        "parse_many(Date, one str)",
        lambda: parse_many(Date, "2024-01-05"),
        TypeError,
        "texts must be an iterable of str, not a single 'str'",
        [],
    ),
    ("parse_many(Date, 5)", lambda: parse_many(Date, 5), TypeError, "texts must be an iterable of str", []),
    (
        "parse_many(Duration)",
        lambda: parse_many(Duration, []),
        TypeError,
        "parse_many() cls must be merandol's Date, Time, DateTime or OffsetDateTime, not <class 'merandol.Duration'>",
        [],
    ),
    (
        "parse_many()",
        lambda: parse_many(Date),
        TypeError,
        "parse_many() missing 1 required positional argument: 'texts'",
        [],
    ),
]
ARROW_TEXTS = [COLUMN_TEXTS[0], None, *COLUMN_TEXTS[1:]]
ARROW_NANOS = [COLUMN_NANOS[0], None, *COLUMN_NANOS[1:]]
COLUMN_CALLS += [
    (
        "parse_to_arrow(utf8 chunks)",
        lambda: parse_to_arrow(Producer([ARROW_TEXTS[:2], ARROW_TEXTS[2:]], offset=2)),
        None,
        ("tsn:UTC", ARROW_NANOS),
        [],
    ),
    (
        "parse_to_arrow(string_view table)",
        lambda: parse_to_arrow(Producer([ARROW_TEXTS], "string_view", table=True)),
        None,
        ("tsn:UTC", ARROW_NANOS),
        [],
    ),
    (
        "parse_to_arrow(large_utf8 array)",
        lambda: parse_to_arrow(ArrayProducer([["2024-01-05T12:00:01Z", None]], "large_utf8"), "s"),
        None,
        ("tss:UTC", [1704456001, None]),
        [],
    ),
    (
        "parse_to_arrow(bad text)",
        lambda: parse_to_arrow(Producer([ARROW_TEXTS, [None, "2024-01-05 12:00"]])),
        ValueError,
        RFC_ERROR,
        ["at row 5"],
    ),
    (
        "parse_to_arrow(fraction below the unit)",
        lambda: parse_to_arrow(Producer([ARROW_TEXTS]), "us"),
        ValueError,
        "row 2 = '1969-12-31T23:59:59.999999999Z' has a fraction of a second that timestamp[us, tz=UTC] cannot hold",
        [],
    ),
    (
        "parse_to_arrow(integers)",
        lambda: parse_to_arrow(Producer([["1"]], "l")),
        TypeError,
        "parse_to_arrow() texts must be an Arrow column of strings ('u', 'U' or 'vu'), not of format 'l'",
        [],
    ),
    (
        "parse_to_arrow(negative length)",
        lambda: parse_to_arrow(Producer([ARROW_TEXTS], lie="negative length")),
        ValueError,
        "parse_to_arrow(): the Arrow array's producer declares a negative length",
        [],
    ),
    (
        "parse_to_arrow(failing stream)",
        lambda: parse_to_arrow(Producer([ARROW_TEXTS, ARROW_TEXTS], lie="get_next")),
        ValueError,
        "parse_to_arrow(): the Arrow stream failed: the producer broke down",
        [],
    ),
    (
        "parse_to_arrow(unit='D')",
        lambda: parse_to_arrow(COLUMN_TEXTS, "D"),
        ValueError,
        "unit must be 's', 'ms', 'us' or 'ns', not 'D'",
        [],
    ),
    (
        "parse_to_arrow(int)",
        lambda: parse_to_arrow(5),
        TypeError,
        "texts must be an iterable of str",
        [],
    ),
    (
        "ArrowColumn (array export)",
        lambda: read_column(parse_to_arrow(Producer([ARROW_TEXTS]))),
        None,
        ("tsn:UTC", ARROW_NANOS),
        [],
    ),
    (
        "ArrowColumn (stream export)",
        lambda: read_stream(parse_to_arrow(COLUMN_TEXTS, "ns")),
        None,
        ("tsn:UTC", [COLUMN_NANOS]),
        [],
    ),
    (
        "parse_to_arrow(list, fraction below the unit)",
        lambda: parse_to_arrow(COLUMN_TEXTS, "ms"),
        ValueError,
        "texts[1] = '1969-12-31T23:59:59.999999999Z' has a fraction of a second that timestamp[ms, tz=UTC] cannot hold",
        [],
    ),
    (
        "ArrowColumn (repr and length)",
        lambda: [repr(c := parse_to_arrow(COLUMN_TEXTS[:1], "ms")), len(c), c.__arrow_c_schema__().__class__.__name__],
        None,
        ["ArrowColumn(timestamp[ms, tz=UTC], length=1)", 1, "PyCapsule"],
        [],
    ),
]
# Columns in a format: each kind of column, and each way one is refused.
COLUMN_CALLS += [
    (
        "parse_many(format=)",
        lambda: parse_many(OffsetDateTime, ["08/Dec/2026:14:36:25 +0100", None], format=LOG),
        None,
        [LOGGED, None],
        [],
    ),
    (
        "parse_many(format=, other class)",
        lambda: parse_many(Date, ["2026-12-08T14:36:25"], format=ISO8601),
        TypeError,
        "the text reads as DateTime, not Date",
        ["at index 0"],
    ),
    (
        "parse_many(format=int)",
        lambda: parse_many(Date, [], format=5),
        TypeError,
        "format must be a merandol_interop.Format, a named form or a str, not 'int'",
        ["while processing 'format'"],
    ),
    (
        "parse_to_arrow(format=, Date)",
        lambda: read_column(parse_to_arrow(["2026-12-08", None], format=ISO8601)),
        None,
        ("tdD", [20795, None]),
        [],
    ),
    (
        "parse_to_arrow(format=, Time)",
        lambda: read_column(parse_to_arrow(["14:36"], "ms", format="%H:%M")),
        None,
        ("ttm", [52560000]),
        [],
    ),
    (
        "parse_to_arrow(format=, zone=)",
        lambda: read_column(parse_to_arrow(["2026-12-08 14:36:25"], "s", format=DB, zone=PARIS)),
        None,
        ("tss:Europe/Paris", [1796736985]),
        [],
    ),
    (
        "parse_to_arrow(format=, Arrow rows)",
        lambda: parse_to_arrow(Producer([["2026-12-08", "2026-12-0x"]]), format=ISO8601),
        ValueError,
        "'2026-12-0x' is not an ISO 8601 text: expected a digit at position 9",
        ["at row 1"],
    ),
    (
        "parse_to_arrow(format=, ISO 8601 of two classes)",
        lambda: parse_to_arrow(["2026-12-08T14:36:25", "2026-12-08"], format=ISO8601),
        TypeError,
        "the text reads as Date, but those before it read as DateTime",
        ["at index 1"],
    ),
    (
        "parse_to_arrow(format=, skipped)",
        lambda: parse_to_arrow(["2026-03-29 02:30:00"], format=DB, zone=PARIS, disambiguate="raise"),
        ValueError,
        "2026-03-29T02:30:00 is skipped in Europe/Paris: a change of offset skips it (disambiguate='raise')",
        ["at index 0"],
    ),
    (
        "parse_to_arrow(zone= alone)",
        lambda: parse_to_arrow([], zone=PARIS),
        ValueError,
        "parse_to_arrow(): zone= places the readings of a format, and no format= was given",
        [],
    ),
]

# Labels of the calls that go through numpy, whose own reference counts
# drift under the debug interpreter (numpy.empty(3) alone gains one a call,
# with no block allocated): for these only the allocated blocks are judged.
NUMPY_LABELS = set()
if np is not None:
    D8 = np.array([0, 1, -(2**63)], dtype="datetime64[D]")
    _before = len(COLUMN_CALLS)
    COLUMN_CALLS += [
        (
            "parse_to_numpy(list)",
            lambda: parse_to_numpy(COLUMN_TEXTS, unit="ns"),
            None,
            ("datetime64[ns]", COLUMN_NANOS),
            [],
        ),
        (
            "parse_to_numpy(array)",
            lambda: parse_to_numpy(np.array(COLUMN_TEXTS * 3), "ns"),
            None,
            ("datetime64[ns]", COLUMN_NANOS * 3),
            [],
        ),
        (
            "parse_to_numpy(Arrow chunks)",
            lambda: parse_to_numpy(Producer([ARROW_TEXTS[:1], ARROW_TEXTS[1:]], "string_view")),
            None,
            ("datetime64[ns]", [COLUMN_NANOS[0], -(2**63), *COLUMN_NANOS[1:]]),
            [],
        ),
        (
            "parse_to_numpy(Arrow bad text)",
            lambda: parse_to_numpy(Producer([ARROW_TEXTS, ["x"]], table=True)),
            ValueError,
            RFC_ERROR.replace("'2024-01-05 12:00'", "'x'"),
            ["at row 4"],
        ),
        (
            "parse_to_numpy(bad text)",
            lambda: parse_to_numpy(np.array(["2024-01-05T12:00:00Z", "2024-01-05 12:00"])),
            ValueError,
            RFC_ERROR,
            ["at index 1"],
        ),
        (
            "parse_to_numpy(year 3000 in ns)",
            lambda: parse_to_numpy(["2024-01-05T12:00:00Z", "3000-01-01T00:00:00Z"]),
            ValueError,
            "texts[1] = '3000-01-01T00:00:00Z' is outside the range of datetime64[ns]",
            [],
        ),
        (
            "parse_to_numpy(NaT's instant)",
            lambda: parse_to_numpy(["1677-09-21T00:12:43.145224192Z"]),
            ValueError,
            "texts[0] = '1677-09-21T00:12:43.145224192Z' is outside the range of datetime64[ns]",
            [],
        ),
        (
            "parse_to_numpy(fraction below the unit)",
            lambda: parse_to_numpy(np.array(["2024-01-05T12:00:00.0001Z"]), "ms"),
            ValueError,
            "texts[0] = '2024-01-05T12:00:00.0001Z' has a fraction of a second that datetime64[ms] cannot hold",
            [],
        ),
        (
            "parse_to_numpy(2-D)",
            lambda: parse_to_numpy(np.array([COLUMN_TEXTS])),
            ValueError,
            "texts must be one-dimensional, not an array of 2 dimensions",
            [],
        ),
        (
            "parse_to_numpy(unit='D')",
            lambda: parse_to_numpy(COLUMN_TEXTS, "D"),
            ValueError,
            "unit must be 's', 'ms', 'us' or 'ns', not 'D'",
            [],
        ),
        (
            "to_numpy(DateTime)",
            lambda: to_numpy([DateTime.parse("2024-01-01T00:00:00Z")], "M"),
            None,
            ("datetime64[M]", [(2024 - 1970) * 12]),
            [],
        ),
        (
            "to_numpy(Duration)",
            lambda: to_numpy((Duration.seconds(-5),), unit="as"),
            None,
            ("timedelta64[as]", [-5 * 10**18]),
            [],
        ),
        (
            "to_local_numpy",
            lambda: to_local_numpy(np.array([1719835200, -(2**63)], dtype="datetime64[s]"), PARIS),
            None,
            # 2024-07-01T12:00:00Z is 14:00 in Paris; NaT stays NaT.
            ("datetime64[s]", [1719835200 + 7200, -(2**63)]),
            [],
        ),
        (
            "from_local_numpy",
            lambda: from_local_numpy(np.array([1711852200], dtype="datetime64[s]"), PARIS, "earlier"),
            None,
            # 2024-03-31T02:30 is skipped; the earlier candidate is 00:30Z.
            ("datetime64[s]", [1711852200 - 7200]),
            [],
        ),
        (
            "from_local_numpy(raise)",
            lambda: from_local_numpy(np.array([1711852200], dtype="datetime64[s]"), PARIS, "raise"),
            ValueError,
            "array[0] = 2024-03-31T02:30:00 is skipped in Europe/Paris: a change of offset skips it "
            "(disambiguate='raise')",
            [],
        ),
        (
            "format_numpy(Zone)",
            lambda: format_numpy(np.array([1719835200], dtype="datetime64[s]"), PARIS),
            None,
            ["2024-07-01T14:00:00+02:00"],
            [],
        ),
        (
            "to_numpy(Date)",
            lambda: to_numpy([Date(2024, 1, 5)]),
            None,
            ("datetime64[D]", [(dt.date(2024, 1, 5) - dt.date(1970, 1, 1)).days]),
            [],
        ),
        (
            "to_numpy(mixed)",
            lambda: to_numpy([DateTime.parse("2024-01-05T00:00:00Z"), BEYOND]),
            TypeError,
            "values[1] is 'merandol.OffsetDateTime', but values[0] is 'merandol.DateTime'",
            [],
        ),
        (
            "to_numpy(int)",
            lambda: to_numpy([5]),
            TypeError,
            "values[0] is 'int', not a merandol Date, DateTime, OffsetDateTime or Duration",
            [],
        ),
        (
            "to_numpy(year 3000 in ns)",
            lambda: to_numpy([DateTime.parse("3000-01-01T00:00:00Z")]),
            ValueError,
            "values[0] = DateTime.parse('3000-01-01T00:00:00Z') is outside the range of datetime64[ns]",
            [],
        ),
        (
            "to_numpy(local reading beyond the range)",
            lambda: to_numpy([BEYOND], "D"),
            ValueError,
            "values[0] = OffsetDateTime.from_utc(DateTime.parse('2147483647-12-31T23:00:00Z'), "
            "UtcOffset.from_seconds(3600)) is not a whole number of units of datetime64[D]",
            [],
        ),
        (
            "to_numpy(not a month start)",
            lambda: to_numpy([DateTime.parse("2024-01-05T00:00:00Z")], "M"),
            ValueError,
            "values[0] = DateTime.parse('2024-01-05T00:00:00Z') is not a whole number of units of datetime64[M]",
            [],
        ),
        (
            "to_numpy(Duration in ms)",
            lambda: to_numpy([Duration.nanoseconds(1)], "ms"),
            ValueError,
            "values[0] = Duration.nanoseconds(1) is not a whole number of units of timedelta64[ms]",
            [],
        ),
        (
            "to_numpy(Duration in Y)",
            lambda: to_numpy([Duration.nanoseconds(1)], "Y"),
            ValueError,
            "to_numpy(): a Duration has no length in 'Y' units",
            [],
        ),
        (
            "to_numpy(Date in s)",
            lambda: to_numpy([Date(2024, 1, 5)], "s"),
            ValueError,
            "to_numpy(): dates are datetime64[D], not datetime64[s]",
            [],
        ),
        (
            "to_numpy(unit='days')",
            lambda: to_numpy([], "days"),
            ValueError,
            "to_numpy(): 'days' is not a unit of numpy's datetime64",
            [],
        ),
        ("from_numpy(D)", lambda: from_numpy(D8[:2]), None, [Date(1970, 1, 1), Date(1970, 1, 2)], []),
        (
            "from_numpy(Y)",
            lambda: from_numpy(np.array([-5, 50], dtype=">M8[Y]")),
            None,
            [DateTime(Date(1965, 1, 1), Time(0, 0, 0)), DateTime(Date(2020, 1, 1), Time(0, 0, 0))],
            [],
        ),
        (
            "from_numpy(timedelta)",
            lambda: from_numpy(np.array([1, -3], dtype="m8[ps]")[::-1] * 1000),
            None,
            [Duration.nanoseconds(-3), Duration.nanoseconds(1)],
            [],
        ),
        ("from_numpy(NaT)", lambda: from_numpy(D8), ValueError, "array[2] is NaT, which is no instant", []),
        (
            "from_numpy(beyond DateTime)",
            lambda: from_numpy(np.array([2**62], dtype="M8[M]")),
            ValueError,
            "array[0] = 4611686018427387904 of datetime64[M] is outside the range of DateTime",
            [],
        ),
        (
            "from_numpy(fraction of a nanosecond)",
            lambda: from_numpy(np.array([1000, 1001], dtype="m8[ps]")),
            ValueError,
            "array[1] = 1001 of timedelta64[ps] is not a whole number of nanoseconds",
            [],
        ),
        (
            "from_numpy(timedelta64[M])",
            lambda: from_numpy(np.array([1], dtype="m8[M]")),
            ValueError,
            "from_numpy(): timedelta64[M] has no fixed length in nanoseconds",
            [],
        ),
        (
            "from_numpy(generic)",
            lambda: from_numpy(np.zeros(1, dtype="M8")),
            ValueError,
            "from_numpy(): an array of datetime64 without a unit of time holds no values",
            [],
        ),
        (
            "from_numpy(int64)",
            lambda: from_numpy(np.array([1])),
            TypeError,
            "from_numpy() argument must be a numpy datetime64 or timedelta64 array, not an array of dtype int64",
            [],
        ),
        (
            "from_numpy(list)",
            lambda: from_numpy([1]),
            TypeError,
            "from_numpy() argument must be a numpy datetime64 or timedelta64 array, not 'list'",
            [],
        ),
        (
            "from_numpy(2-D)",
            lambda: from_numpy(D8[:2].reshape(1, 2)),
            ValueError,
            "from_numpy(): the array must be one-dimensional, not of 2 dimensions",
            [],
        ),
        ("format_numpy(D)", lambda: format_numpy(D8[:2]), None, ["1970-01-01", "1970-01-02"], []),
        (
            "format_numpy(offset)",
            lambda: format_numpy(np.array([0, 1], dtype="M8[10ms]"), UtcOffset.from_seconds(-3600)),
            None,
            ["1969-12-31T23:00:00-01:00", "1969-12-31T23:00:00.01-01:00"],
            [],
        ),
        (
            "format_numpy(D with offset)",
            lambda: format_numpy(D8[:2], UtcOffset.from_seconds(0)),
            ValueError,
            "format_numpy(): the values of datetime64[D] are dates, to which an offset does not apply",
            [],
        ),
        (
            "format_numpy(local reading beyond the range)",
            lambda: format_numpy(
                np.array([2147483647 - 1970], dtype="M8[Y]") + np.timedelta64(364, "D") + np.timedelta64(23, "h"),
                UtcOffset.from_seconds(3600),
            ),
            ValueError,
            "array[0] = 18824437842647 of datetime64[h] has a local reading at offset "
            "UtcOffset.from_seconds(3600) outside the range of DateTime",
            [],
        ),
        (
            "format_numpy(timedelta)",
            lambda: format_numpy(np.array([1], dtype="m8[s]")),
            TypeError,
            "format_numpy() argument must be a numpy datetime64 array, not an array of dtype timedelta64[s]",
            [],
        ),
        (
            "format_numpy(offset=0)",
            lambda: format_numpy(D8[:2], 0),
            TypeError,
            "'int' object is not an instance of 'UtcOffset'",
            ["while processing 'offset'"],
        ),
    ]
    NS3 = np.array([0, -(2**63), -1], dtype="datetime64[ns]")
    COLUMN_CALLS += [
        (
            "format_arrow(datetime64[ns], zone)",
            lambda: format_arrow(NS3, Zone("Europe/Paris")),
            None,
            ("u", ["1970-01-01T01:00:00+01:00", None, "1970-01-01T00:59:59.999999999+01:00"]),
            [],
        ),
        (
            "format_arrow(datetime64[D], offset)",
            lambda: format_arrow(D8[:2], UtcOffset.from_seconds(3600)),
            ValueError,
            "format_arrow(): the values of 'datetime64[D]' are dates, to which an offset does not apply",
            [],
        ),
        (
            "format_arrow(datetime64[s] beyond DateTime)",
            lambda: format_arrow(np.array([0, 2**62], dtype="datetime64[s]"), UtcOffset.from_seconds(-60)),
            ValueError,
            f"row 1 = {2**62} of 'datetime64[s]' is outside the range of DateTime",
            [],
        ),
        (
            "format_arrow(int64 array)",
            lambda: format_arrow(np.array([1])),
            TypeError,
            "format_arrow() instants must be a numpy datetime64 array, not an array of dtype int64",
            [],
        ),
        (
            "format_arrow(Arrow strings)",
            lambda: format_arrow(Producer([["x"]])),
            TypeError,
            "format_arrow() instants must be an Arrow timestamp or date32 column, not of format 'u'",
            [],
        ),
        (
            "format_arrow(list)",
            lambda: format_arrow([1]),
            TypeError,
            "format_arrow() instants must be an Arrow timestamp or date32 column or a numpy datetime64 array, "
            "not 'list'",
            [],
        ),
        # A flag may be numpy's bool, as a column's element is.
        (
            "to_stdlib(truncate=numpy.bool_)",
            lambda: [to_stdlib(Time(1, 2, 3, 4), truncate=np.bool_(True))],
            None,
            [dt.time(1, 2, 3)],
            [],
        ),
    ]
    S1 = np.array([1796740585], dtype="datetime64[s]")
    COLUMN_CALLS += [
        (
            "parse_to_numpy(format=)",
            lambda: parse_to_numpy(["2026-12-08 14:36:25"], "s", format=DB),
            None,
            ("datetime64[s]", [1796740585]),
            [],
        ),
        (
            "parse_to_numpy(format=, Time)",
            lambda: parse_to_numpy(["14:36"], "s", format=Format("%H:%M")),
            None,
            ("timedelta64[s]", [52560]),
            [],
        ),
        (
            "parse_to_numpy(format=, finer than the unit)",
            lambda: parse_to_numpy(["2026-12-08T14:36:25.5Z"], "s", format=ISO8601),
            ValueError,
            "texts[0] = '2026-12-08T14:36:25.5Z' has a fraction of a second that datetime64[s] cannot hold",
            [],
        ),
        (
            "format_numpy(format=)",
            lambda: format_numpy(S1, PARIS, format=RFC2822),
            None,
            ["Tue, 08 Dec 2026 15:36:25 +0100"],
            [],
        ),
        (
            "format_numpy(format=, %z of readings)",
            lambda: format_numpy(S1, format=RFC2822),
            TypeError,
            "merandol_interop.RFC2822 writes an OffsetDateTime, not DateTime",
            [],
        ),
        (
            "format_arrow(format=)",
            lambda: read_column(format_arrow(D8[:2], format=Format("%d/%m/%Y"))),
            None,
            ("u", ["01/01/1970", "02/01/1970"]),
            [],
        ),
        (
            "format_arrow(format=, %H of dates)",
            lambda: format_arrow(D8[:2], format=DB),
            TypeError,
            "'%Y-%m-%d %H:%M:%S' writes %H, a field that Date does not have",
            [],
        ),
    ]
    NUMPY_LABELS = {c[0] for c in COLUMN_CALLS[_before:]}

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


def reduce(value):
    """pickle's hook, the one slot that is called by name."""
    return value.__reduce__()


def calls(stable_only=False):
    """(label, thunk, exception the thunk raises or None) for every member on
    success and on every error path, every comparison (foreign operands
    included), hash, str, repr and operator.  `stable_only` leaves out the
    calls whose outcome changes from one call to the next."""
    for m in MEMBERS:

        def bound(args, kwargs=None, m=m):
            return lambda: m.call(args[0], *args[1:], **(kwargs or {}))

        for args in m.ok if m.stable or not stable_only else []:
            yield f"{m.label}{args[1:]}", bound(args), None
        for args, _ in m.failing:
            yield f"{m.label}{args[1:]}", bound(args), ValueError
        if m.kind == "property":
            continue
        base = m.ok[0]
        if not m.params:
            yield f"{m.label}(extra)", bound((*base, 1)), TypeError
            continue
        yield f"{m.label}()", bound(base[:1]), TypeError
        yield f"{m.label}(too many)", bound(base + (0,) * (len(m.params) + 1 - len(base[1:]))), TypeError
        yield f"{m.label}(unknown keyword)", bound(base, {"bogus": 1}), TypeError
        yield f"{m.label}(repeated keyword)", bound(base, {m.params[0][0]: base[1]}), TypeError
        for i, (name, target) in enumerate(m.params[: len(base) - 1]):
            for bad in refused_arguments(target):
                args = (*base[: i + 1], bad, *base[i + 2 :])
                yield f"{m.label}({name}={bad!r})", bound(args), expected_exception(target, bad)

    for cls in COMPARABLE:
        a, b = SAMPLES[cls][:2]
        for op in ("eq", "ne", "lt", "le", "gt", "ge"):
            function = getattr(operator, op)
            yield f"{cls.__name__} {op}", (lambda f=function, a=a, b=b: f(a, b)), None
            yield f"{cls.__name__}.__{op}__(int)", (lambda op=op, a=a: getattr(a, f"__{op}__")(1)), None
            yield (
                f"{cls.__name__} {op} int",
                (lambda f=function, a=a: f(a, 1)),
                (None if op in ("eq", "ne") else TypeError),
            )
    for cls in SAMPLES:
        for slot in (hash, str, repr, reduce):
            yield f"{slot.__name__}({cls.__name__})", (lambda s=slot, v=SAMPLES[cls][1]: s(v)), None
    for label, thunk, exc_type, _ in INTEROP_CALLS:
        yield label, thunk, exc_type
    for label, thunk, exc_type, *_ in COLUMN_CALLS:
        yield label, thunk, exc_type
    for label, function, classes, _, overflowing in OPERATORS:
        operands = [SAMPLES[c][0] for c in classes]
        yield label, (lambda f=function, o=operands: f(*o)), None
        yield f"{label}(overflow)", (lambda f=function, o=overflowing: f(*o)), OverflowError
        if len(classes) == 2:
            yield f"{label}(int)", (lambda f=function, o=operands: f(o[0], 1)), TypeError
            yield f"{label}(reflected int)", (lambda f=function, o=operands: f(1, o[0])), TypeError
            dunder = f"__{function.__name__.strip('_')}__"
            yield f"{label} NotImplemented", (lambda d=dunder, o=operands: getattr(o[0], d)(1)), None
