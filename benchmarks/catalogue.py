"""What the benchmarks time: the implementations, the values each prepares
from the same inputs, and the operations with one statement per
implementation.

An implementation that cannot be imported is absent; an operation whose
statement needs a value or class the implementation lacks is unavailable
for it, with the reason.  Both are reported, never skipped silently.  An
operation with no statement for an implementation has no equivalent there
("n/a")."""

import importlib
import importlib.metadata
import random
import sys
from dataclasses import dataclass, field

# Every implementation reads these same inputs.
INPUTS = {
    "date_text": "2024-01-05",
    "time_text": "12:34:56.123456",
    "utc_text": "2024-01-05T12:34:56.123456Z",
    "naive_text": "2024-01-05T12:34:56.123456",
    "offset_text": "2024-01-05T12:34:56+05:30",
    "days": 19727,  # 2024-01-05
    "unix_secs": 1704458096,  # 2024-01-05T12:34:56Z
    "unix_nanos": 123456000,
    "unix_float": 1704458096.123456,
    "unix_ns": 1704458096123456000,
    "f": 1.5,
    "pattern_text": "2024-01-05 12:34:56+0530",
    "email_text": "Fri, 05 Jan 2024 12:34:56 +0530",
    "http_text": "Fri, 05 Jan 2024 07:04:56 GMT",
    "zoned_text": "2024-01-05T12:34:56+01:00[Europe/Paris]",
    "pattern": "%Y-%m-%d %H:%M:%S%z",
}

# The floor: one slot call and one allocation, in the same kind of loop.
FLOOR_STATEMENT = "-f"

BULK_SIZE = 100_000


def sample_instants(size, seed=20240105):
    """Unix (seconds, nanoseconds) pairs from 1970 to 2100 in random order.

    The nanoseconds are whole microseconds so that every implementation,
    including those that stop at microseconds, holds the same instants."""
    rng = random.Random(seed)
    return [(rng.randrange(4_102_444_800), rng.randrange(1_000_000) * 1000) for _ in range(size)]


# Standard datetime objects, made beside an implementation's own values for
# the conversions from the standard types.
STDLIB_VALUES = {
    "py_d": "std.date(2024, 1, 5)",
    "py_t": "std.time(12, 34, 56, 123456)",
    "py_dt": "std.datetime(2024, 1, 5, 12, 34, 56, 123456, tzinfo=std.UTC)",
    "py_odt": "std.datetime(2024, 1, 5, 12, 34, 56, 123456, tzinfo=std.timezone(std.timedelta(seconds=19800)))",
    "py_td": "std.timedelta(seconds=3600)",
    "py_tz": "std.timezone(std.timedelta(seconds=19800))",
}


@dataclass(frozen=True)
class Implementation:
    name: str
    module: str  # imported to tell whether the implementation is there
    distribution: str | None  # its version comes from this distribution's metadata
    prelude: str  # imports, run once into the namespace
    values: dict[str, str] = field(default_factory=dict)  # name: expression, evaluated in order


IMPLEMENTATIONS = [
    Implementation(
        "merandol",
        "merandol",
        None,
        "from merandol import *; import datetime as std\n"
        "from merandol_interop import (HTTP_DATE, ISO8601, RFC2822, Format, Zone, ZonedDateTime, add_calendar,"
        " add_calendar_numpy, format_arrow, format_numpy, from_local_numpy, from_stdlib, parse_to_arrow,"
        " parse_to_numpy, round_numpy, round_to, to_local_numpy, to_numpy, to_stdlib)",
        {
            "d": "Date(2024, 1, 5)",
            "t": "Time(12, 34, 56, 123456000)",
            "hour": "Duration.seconds(3600)",
            "minute": "Duration.seconds(60)",
            "dt": "DateTime.parse(utc_text)",
            "dt_same": "DateTime.parse(utc_text)",
            "dt_later": "dt.add_duration(hour)",
            "odt": "OffsetDateTime.parse(offset_text)",
            "offset": "UtcOffset.from_seconds(19800)",
            "many": "[DateTime.from_unix_timestamp(s, n) for s, n in sample]",
            "paris": "Zone('Europe/Paris')",
            "log_format": "Format(pattern)",
            "zdt": "ZonedDateTime(d, t, paris)",
            "many_texts": "[str(v) for v in many]",
            "many_pattern_texts": "[log_format.format(OffsetDateTime.from_utc(v, offset)) for v in many]",
            "many_ns": "to_numpy(many)",
            **STDLIB_VALUES,
        },
    ),
    Implementation(
        "datetime",
        "_datetime",  # the C implementation; the pure-Python fallback does not count
        None,
        "from datetime import UTC, date, datetime, time, timedelta, timezone; from zoneinfo import ZoneInfo\n"
        "from email.utils import parsedate_to_datetime; from http.cookiejar import http2time\n"
        "from dateutil.relativedelta import relativedelta",
        {
            "d": "date(2024, 1, 5)",
            "t": "time(12, 34, 56, 123456)",
            "epoch_ordinal": "date(1970, 1, 1).toordinal()",
            "one_day": "timedelta(days=1)",
            "hour": "timedelta(hours=1)",
            "minute": "timedelta(minutes=1)",
            "dt": "datetime.fromisoformat(utc_text)",
            "dt_same": "datetime.fromisoformat(utc_text)",
            "dt_later": "dt + hour",
            "odt": "datetime.fromisoformat(offset_text)",
            "ist_delta": "timedelta(seconds=19800)",
            "ist": "timezone(ist_delta)",
            "many": "[datetime.fromtimestamp(s, UTC).replace(microsecond=n // 1000) for s, n in sample]",
            "paris": "ZoneInfo('Europe/Paris')",
            "zdt": "datetime(2024, 1, 5, 12, 34, 56, 123456, tzinfo=paris)",
        },
    ),
    Implementation(
        "pendulum",
        "pendulum",
        "pendulum",
        "import pendulum; from pendulum import UTC, Date, DateTime, Time; import datetime as std",
        {
            "d": "Date(2024, 1, 5)",
            "t": "Time(12, 34, 56, 123456)",
            "epoch_ordinal": "Date(1970, 1, 1).toordinal()",
            "hour": "pendulum.duration(hours=1)",
            "minute": "pendulum.duration(minutes=1)",
            "dt": "pendulum.parse(utc_text)",
            "dt_same": "pendulum.parse(utc_text)",
            "dt_later": "dt + hour",
            "odt": "pendulum.parse(offset_text)",
            "many": "[pendulum.from_timestamp(s).replace(microsecond=n // 1000) for s, n in sample]",
            "paris": "pendulum.timezone('Europe/Paris')",
            "zdt": "pendulum.datetime(2024, 1, 5, 12, 34, 56, 123456, tz=paris)",
            "odt_pendulum": "pendulum.parse(offset_text)",
            **STDLIB_VALUES,
        },
    ),
    Implementation(
        "arrow",
        "arrow",
        "arrow",
        "import arrow; from arrow import Arrow; from datetime import UTC, timedelta",
        {
            "hour": "timedelta(hours=1)",
            "dt": "arrow.get(utc_text)",
            "dt_same": "arrow.get(utc_text)",
            "dt_later": "dt + hour",
            "odt": "arrow.get(offset_text)",
            "many": "[Arrow.fromtimestamp(s, UTC).replace(microsecond=n // 1000) for s, n in sample]",
        },
    ),
    Implementation(
        "ciso8601",
        "ciso8601",
        "ciso8601",
        "from ciso8601 import parse_datetime, parse_rfc3339",
    ),
    Implementation(
        "numpy",
        "numpy",
        "numpy",
        "import numpy as np; from numpy import datetime64, timedelta64",
        {
            "d": "datetime64(date_text)",
            "one_day": "timedelta64(1, 'D')",
            "time_of_day": "timedelta64(45_296_123_456_000, 'ns')",
            "hour": "timedelta64(3_600_000_000_000, 'ns')",
            "minute": "timedelta64(60_000_000_000, 'ns')",
            "dt": "datetime64(unix_ns, 'ns')",
            "dt_same": "datetime64(unix_ns, 'ns')",
            "dt_later": "dt + hour",
            # Scalars in a list, as for every other implementation: the same
            # inputs through the same sorted() and set().
            "many": "[datetime64(s * 1_000_000_000 + n, 'ns') for s, n in sample]",
        },
    ),
    Implementation(
        "whenever",
        "whenever",
        "whenever",
        "from whenever import Date, Instant, OffsetDateTime, Time, TimeDelta, ZonedDateTime; import datetime as std",
        {
            "d": "Date(2024, 1, 5)",
            "t": "Time(12, 34, 56, nanosecond=123456000)",
            "epoch": "Date(1970, 1, 1)",
            "hour": "TimeDelta(hours=1)",
            "minute": "TimeDelta(minutes=1)",
            "dt": "Instant.parse_iso(utc_text)",
            "dt_same": "Instant.parse_iso(utc_text)",
            "dt_later": "dt + hour",
            "odt": "OffsetDateTime.parse_iso(offset_text)",
            "many": "[Instant.from_timestamp(s * 1_000_000_000 + n, unit='nanosecond') for s, n in sample]",
            "zdt": "ZonedDateTime(2024, 1, 5, 12, 34, 56, nanosecond=123456000, tz='Europe/Paris')",
            **STDLIB_VALUES,
        },
    ),
]

PEERS = [impl.name for impl in IMPLEMENTATIONS if impl.name != "merandol"]


@dataclass(frozen=True)
class Operation:
    name: str
    cases: dict[str, str]  # implementation name: statement
    # Whether the operation is of the kind that costs little more than the
    # floor (reported as a multiple of it).
    near_floor: bool = False
    # Held to this multiple of the standard datetime's time instead of to the
    # fastest peer: where the peers return a hash kept in the object, which
    # merandol's objects have no room for.
    stdlib_bound: float | None = None
    # Operations per run of the statement: the bulk operations run over
    # every element of "many".
    per: int = 1
    # A conversion to or from the standard types: its "datetime" statement
    # is the standard constructor of the same value, the yardstick for the
    # conversion's cost, and is no peer to be beaten.
    conversion: bool = False


# The nearest equivalent in each implementation.  The standard datetime's
# date-time is an aware UTC datetime, as merandol's DateTime is UTC.
OPERATIONS = [
    Operation(
        "Date(y, m, d)",
        {
            "merandol": "Date(2024, 1, 5)",
            "datetime": "date(2024, 1, 5)",
            "pendulum": "Date(2024, 1, 5)",
            "whenever": "Date(2024, 1, 5)",
        },
        near_floor=True,
    ),
    Operation(
        "Time(h, m, s, ns)",
        {
            "merandol": "Time(12, 34, 56, 123456000)",
            "datetime": "time(12, 34, 56, 123456)",
            "pendulum": "Time(12, 34, 56, 123456)",
            "whenever": "Time(12, 34, 56, nanosecond=123456000)",
        },
        near_floor=True,
    ),
    Operation(
        "DateTime(date, time)",
        {
            "merandol": "DateTime(d, t)",
            "datetime": "datetime.combine(d, t, UTC)",
            "pendulum": "DateTime.combine(d, t, UTC)",
            "arrow": "Arrow(2024, 1, 5, 12, 34, 56, 123456)",
            "numpy": "d + time_of_day",
            "whenever": "d.at(t)",
        },
        near_floor=True,
    ),
    Operation(
        "Date.year",
        {"merandol": "d.year", "datetime": "d.year", "pendulum": "d.year", "whenever": "d.year"},
        near_floor=True,
    ),
    Operation(
        "DateTime.date",
        {
            "merandol": "dt.date",
            "datetime": "dt.date()",
            "pendulum": "dt.date()",
            "arrow": "dt.date()",
            "numpy": "dt.astype('datetime64[D]')",
        },
        near_floor=True,
    ),
    Operation(
        "Date.parse",
        {
            "merandol": "Date.parse(date_text)",
            "datetime": "date.fromisoformat(date_text)",
            "pendulum": "pendulum.parse(date_text, exact=True)",
            "ciso8601": "parse_datetime(date_text)",
            "numpy": "datetime64(date_text)",
            "whenever": "Date.parse_iso(date_text)",
        },
    ),
    Operation(
        "Time.parse",
        {
            "merandol": "Time.parse(time_text)",
            "datetime": "time.fromisoformat(time_text)",
            "pendulum": "pendulum.parse(time_text, exact=True)",
            "whenever": "Time.parse_iso(time_text)",
        },
    ),
    Operation(
        "DateTime.parse",
        {
            "merandol": "DateTime.parse(utc_text)",
            "datetime": "datetime.fromisoformat(utc_text)",
            "pendulum": "pendulum.parse(utc_text)",
            "arrow": "arrow.get(utc_text)",
            "ciso8601": "parse_rfc3339(utc_text)",
            # numpy's reader takes no zone designator.
            "numpy": "datetime64(naive_text)",
            "whenever": "Instant.parse_iso(utc_text)",
        },
    ),
    Operation(
        "OffsetDateTime.parse",
        {
            "merandol": "OffsetDateTime.parse(offset_text)",
            "datetime": "datetime.fromisoformat(offset_text)",
            "pendulum": "pendulum.parse(offset_text)",
            "arrow": "arrow.get(offset_text)",
            "ciso8601": "parse_rfc3339(offset_text)",
            "whenever": "OffsetDateTime.parse_iso(offset_text)",
        },
    ),
    # isoformat() is the standard text form of the datetime family; their
    # str() either calls it or writes another form.
    Operation(
        "str(Date)",
        {
            "merandol": "str(d)",
            "datetime": "d.isoformat()",
            "pendulum": "d.isoformat()",
            "numpy": "str(d)",
            "whenever": "str(d)",
        },
    ),
    Operation(
        "str(Time)",
        {"merandol": "str(t)", "datetime": "t.isoformat()", "pendulum": "t.isoformat()", "whenever": "str(t)"},
    ),
    Operation(
        "str(DateTime)",
        {
            "merandol": "str(dt)",
            "datetime": "dt.isoformat()",
            "pendulum": "dt.isoformat()",
            "arrow": "dt.isoformat()",
            "numpy": "str(dt)",
            "whenever": "str(dt)",
        },
    ),
    Operation(
        "str(OffsetDateTime)",
        {
            "merandol": "str(odt)",
            "datetime": "odt.isoformat()",
            "pendulum": "odt.isoformat()",
            "arrow": "odt.isoformat()",
            "whenever": "str(odt)",
        },
    ),
    Operation(
        "from_days_since_unix_epoch",
        {
            "merandol": "Date.from_days_since_unix_epoch(days)",
            "datetime": "date.fromordinal(days + epoch_ordinal)",
            "pendulum": "Date.fromordinal(days + epoch_ordinal)",
            "numpy": "datetime64(days, 'D')",
            "whenever": "epoch.add(days=days)",
        },
    ),
    Operation(
        "days_since_unix_epoch",
        {
            "merandol": "d.days_since_unix_epoch()",
            "datetime": "d.toordinal() - epoch_ordinal",
            "pendulum": "d.toordinal() - epoch_ordinal",
            "numpy": "d.astype(np.int64)",
            "whenever": "d.since(epoch, total='days')",
        },
        near_floor=True,
    ),
    Operation(
        "weekday",
        {
            "merandol": "d.weekday()",
            "datetime": "d.isoweekday()",
            "pendulum": "d.day_of_week",
            "whenever": "d.day_of_week()",
        },
        near_floor=True,
    ),
    Operation(
        "add_days",
        {
            "merandol": "d.add_days(1)",
            "datetime": "d + one_day",
            "pendulum": "d.add(days=1)",
            "numpy": "d + one_day",
            "whenever": "d.add(days=1)",
        },
    ),
    Operation(
        "from_unix_timestamp",
        {
            "merandol": "DateTime.from_unix_timestamp(unix_secs, unix_nanos)",
            "datetime": "datetime.fromtimestamp(unix_float, UTC)",
            "pendulum": "pendulum.from_timestamp(unix_float)",
            "arrow": "Arrow.fromtimestamp(unix_float, UTC)",
            "numpy": "datetime64(unix_ns, 'ns')",
            "whenever": "Instant.from_timestamp(unix_ns, unit='nanosecond')",
        },
    ),
    Operation(
        "unix_timestamp",
        {
            "merandol": "dt.unix_timestamp()",
            "datetime": "dt.timestamp()",
            "pendulum": "dt.int_timestamp",
            "arrow": "dt.int_timestamp",
            "numpy": "int(dt) // 1_000_000_000",
            "whenever": "dt.timestamp()",
        },
    ),
    Operation(
        "unix_timestamp_nanos",
        {
            "merandol": "dt.unix_timestamp_nanos()",
            "numpy": "int(dt)",
            "whenever": "dt.timestamp(unit='nanosecond')",
        },
    ),
    Operation(
        "add_duration",
        {
            "merandol": "dt.add_duration(hour)",
            "datetime": "dt + hour",
            "pendulum": "dt + hour",
            "arrow": "dt + hour",
            "numpy": "dt + hour",
            "whenever": "dt + hour",
        },
    ),
    Operation(
        "difference",
        {
            "merandol": "dt_later.difference(dt)",
            "datetime": "dt_later - dt",
            "pendulum": "dt_later - dt",
            "arrow": "dt_later - dt",
            "numpy": "dt_later - dt",
            "whenever": "dt_later - dt",
        },
    ),
    Operation(
        "hash(DateTime)",
        {name: "hash(dt)" for name in ("merandol", "datetime", "pendulum", "arrow", "numpy", "whenever")},
        near_floor=True,
        stdlib_bound=1.2,
    ),
    Operation(
        "DateTime == DateTime",
        {name: "dt == dt_same" for name in ("merandol", "datetime", "pendulum", "arrow", "numpy", "whenever")},
        near_floor=True,
    ),
    Operation(
        "DateTime < DateTime",
        {name: "dt < dt_later" for name in ("merandol", "datetime", "pendulum", "arrow", "numpy", "whenever")},
        near_floor=True,
    ),
    Operation(
        "now_utc",
        {
            "merandol": "DateTime.now_utc()",
            "datetime": "datetime.now(UTC)",
            "pendulum": "pendulum.now(UTC)",
            "arrow": "arrow.utcnow()",
            "numpy": "datetime64('now', 'ns')",
            "whenever": "Instant.now()",
        },
    ),
    Operation(
        "Duration + Duration",
        {name: "hour + minute" for name in ("merandol", "datetime", "pendulum", "numpy", "whenever")},
    ),
    Operation(
        f"sort {BULK_SIZE:,} DateTime, per element",
        {name: "sorted(many)" for name in ("merandol", "datetime", "pendulum", "arrow", "numpy", "whenever")},
        per=BULK_SIZE,
    ),
    # The Arrow columns, which no peer of this table makes: counted for the
    # regression guard; their peers are timed in the columns section.
    Operation(
        f"parse_to_arrow of {BULK_SIZE:,} texts, per element", {"merandol": "parse_to_arrow(many_texts)"}, per=BULK_SIZE
    ),
    Operation(
        f"format_arrow of {BULK_SIZE:,} datetime64[ns], per element",
        {"merandol": "format_arrow(many_ns)"},
        per=BULK_SIZE,
    ),
    Operation(
        f"set of {BULK_SIZE:,} DateTime, per element",
        {name: "set(many)" for name in ("merandol", "datetime", "pendulum", "arrow", "numpy", "whenever")},
        per=BULK_SIZE,
        # No call around each hash here to hide it: SipHash's five dependent
        # rounds (about 80 instructions, some 20 ns) come on top of the
        # 50 ns per element that datetime's set takes with its kept hash.
        stdlib_bound=1.5,
    ),
]


def _conversion(name, merandol, constructor, **peers):
    return Operation(name, {"merandol": merandol, "datetime": constructor, **peers}, conversion=True)


# Conversions to and from the standard types, each beside the standard
# constructor of the same value and the peers' own conversions.
OPERATIONS += [
    _conversion("to_stdlib(Date)", "to_stdlib(d)", "date(2024, 1, 5)", whenever="d.to_stdlib()"),
    _conversion("to_stdlib(Time)", "to_stdlib(t)", "time(12, 34, 56, 123456)", whenever="t.to_stdlib()"),
    _conversion(
        "to_stdlib(DateTime)",
        "to_stdlib(dt)",
        "datetime(2024, 1, 5, 12, 34, 56, 123456, tzinfo=UTC)",
        whenever="dt.to_stdlib()",
    ),
    _conversion(
        "to_stdlib(OffsetDateTime)",
        "to_stdlib(odt)",
        "datetime(2024, 1, 5, 12, 34, 56, tzinfo=ist)",
        whenever="odt.to_stdlib()",
    ),
    _conversion("to_stdlib(UtcOffset)", "to_stdlib(offset)", "timezone(ist_delta)"),
    _conversion("to_stdlib(Duration)", "to_stdlib(hour)", "timedelta(seconds=3600)", whenever="hour.to_stdlib()"),
    _conversion(
        "from_stdlib(date)",
        "from_stdlib(py_d)",
        "date(2024, 1, 5)",
        pendulum="pendulum.instance(py_d)",
        whenever="Date(py_d)",
    ),
    _conversion(
        "from_stdlib(time)",
        "from_stdlib(py_t)",
        "time(12, 34, 56, 123456)",
        pendulum="pendulum.instance(py_t)",
        whenever="Time(py_t)",
    ),
    _conversion(
        "from_stdlib(datetime at UTC)",
        "from_stdlib(py_dt)",
        "datetime(2024, 1, 5, 12, 34, 56, 123456, tzinfo=UTC)",
        pendulum="pendulum.instance(py_dt)",
        whenever="OffsetDateTime(py_dt)",
    ),
    _conversion(
        "from_stdlib(datetime at +05:30)",
        "from_stdlib(py_odt)",
        "datetime(2024, 1, 5, 12, 34, 56, 123456, tzinfo=ist)",
        pendulum="pendulum.instance(py_odt)",
        whenever="OffsetDateTime(py_odt)",
    ),
    _conversion("from_stdlib(timezone)", "from_stdlib(py_tz)", "timezone(ist_delta)"),
    _conversion("from_stdlib(timedelta)", "from_stdlib(py_td)", "timedelta(seconds=3600)", whenever="TimeDelta(py_td)"),
]


# Time zones: one zone of the database, looked up again (cached) and asked
# for the offset, the local reading and the instant of a local reading; the
# standard library's zone is a zoneinfo.ZoneInfo.
OPERATIONS += [
    Operation(
        "Zone(key), cached",
        {
            "merandol": "Zone('Europe/Paris')",
            "datetime": "ZoneInfo('Europe/Paris')",
            "pendulum": "pendulum.timezone('Europe/Paris')",
        },
    ),
    Operation(
        "offset_at",
        {
            "merandol": "paris.offset_at(dt)",
            "datetime": "dt.astimezone(paris).utcoffset()",
            "whenever": "dt.to_tz('Europe/Paris').offset",
            "pendulum": "dt.in_timezone(paris).utcoffset()",
        },
    ),
    Operation(
        "to_local",
        {
            "merandol": "paris.to_local(dt)",
            "datetime": "dt.astimezone(paris)",
            "whenever": "dt.to_tz('Europe/Paris')",
            "pendulum": "dt.in_timezone(paris)",
        },
    ),
    Operation(
        "from_local",
        {
            "merandol": "paris.from_local(d, t)",
            "datetime": "datetime(2024, 1, 5, 12, 34, 56, 123456, tzinfo=paris).utcoffset()",
            "whenever": "ZonedDateTime(2024, 1, 5, 12, 34, 56, nanosecond=123456000, tz='Europe/Paris')",
            "pendulum": "pendulum.datetime(2024, 1, 5, 12, 34, 56, 123456, tz=paris)",
        },
    ),
    # The zone's column functions, counted for the regression guard; their
    # peers are timed in the columns section.  The instants, read as local
    # readings, serve as the readings.
    Operation(
        f"to_local_numpy of {BULK_SIZE:,} datetime64[ns], per element",
        {"merandol": "to_local_numpy(many_ns, paris)"},
        per=BULK_SIZE,
    ),
    Operation(
        f"from_local_numpy of {BULK_SIZE:,} datetime64[ns], per element",
        {"merandol": "from_local_numpy(many_ns, paris)"},
        per=BULK_SIZE,
    ),
    Operation(
        f"format_numpy at a zone of {BULK_SIZE:,} datetime64[ns], per element",
        {"merandol": "format_numpy(many_ns, paris)"},
        per=BULK_SIZE,
    ),
]


# Text in other forms: a pattern, ISO 8601, email and HTTP dates.  Each
# peer's nearest reader or writer of the same text; pendulum, arrow and
# whenever take patterns of their own tokens.
TEXT_OPERATIONS = [
    Operation(
        "Format.parse",
        {
            "merandol": "log_format.parse(pattern_text)",
            "datetime": "datetime.strptime(pattern_text, pattern)",
            "pendulum": "pendulum.from_format(pattern_text, 'YYYY-MM-DD HH:mm:ssZZ')",
            "arrow": "arrow.get(pattern_text, 'YYYY-MM-DD HH:mm:ssZ')",
            "whenever": "OffsetDateTime.parse(pattern_text, pattern='YYYY-MM-DD HH:mm:ssxx')",
        },
    ),
    Operation(
        "Format.format",
        {
            "merandol": "log_format.format(odt)",
            "datetime": "odt.strftime(pattern)",
            "pendulum": "odt.format('YYYY-MM-DD HH:mm:ssZZ')",
            "arrow": "odt.format('YYYY-MM-DD HH:mm:ssZ')",
            "whenever": "odt.format('YYYY-MM-DD HH:mm:ssxx')",
        },
    ),
    Operation(
        "ISO8601.parse",
        {
            "merandol": "ISO8601.parse(offset_text)",
            "datetime": "datetime.fromisoformat(offset_text)",
            "pendulum": "pendulum.parse(offset_text)",
            "ciso8601": "parse_datetime(offset_text)",
            "whenever": "OffsetDateTime.parse_iso(offset_text)",
        },
    ),
    Operation(
        "RFC2822.parse",
        {
            "merandol": "RFC2822.parse(email_text)",
            "datetime": "parsedate_to_datetime(email_text)",
            "whenever": "OffsetDateTime.parse_rfc2822(email_text)",
        },
    ),
    Operation(
        "HTTP_DATE.parse",
        {"merandol": "HTTP_DATE.parse(http_text)", "datetime": "http2time(http_text)"},
    ),
    Operation(
        f"parse_to_numpy with a pattern of {BULK_SIZE:,} texts, per element",
        {"merandol": "parse_to_numpy(many_pattern_texts, format=log_format)"},
        per=BULK_SIZE,
    ),
]

# Calendar arithmetic and zoned date-times.  The standard library's zoned
# value is an aware datetime at a ZoneInfo: exact units are added in UTC and
# converted back, calendar units on the wall clock.
CALENDAR_OPERATIONS = [
    Operation(
        "add_calendar(Date, months=1)",
        {
            "merandol": "add_calendar(d, months=1)",
            "datetime": "d + relativedelta(months=1)",
            "pendulum": "d.add(months=1)",
            "whenever": "d.add(months=1)",
        },
    ),
    Operation(
        "add_calendar(Date, days=1)",
        {
            "merandol": "add_calendar(d, days=1)",
            "datetime": "d + one_day",
            "pendulum": "d.add(days=1)",
            "whenever": "d.add(days=1)",
        },
    ),
    Operation(
        "round_to(DateTime, minute, 15)",
        {"merandol": "round_to(dt, 'minute', increment=15)", "whenever": "dt.round('minute', increment=15)"},
    ),
    Operation(
        "ZonedDateTime(date, time, zone)",
        {
            "merandol": "ZonedDateTime(d, t, paris)",
            "datetime": "datetime.combine(d, t, paris)",
            "pendulum": "pendulum.datetime(2024, 1, 5, 12, 34, 56, 123456, tz=paris)",
            "whenever": "ZonedDateTime(2024, 1, 5, 12, 34, 56, nanosecond=123456000, tz='Europe/Paris')",
        },
    ),
    Operation(
        "ZonedDateTime.from_instant",
        {
            "merandol": "ZonedDateTime.from_instant(dt, paris)",
            "datetime": "dt.astimezone(paris)",
            "pendulum": "dt.in_timezone(paris)",
            "whenever": "dt.to_tz('Europe/Paris')",
        },
    ),
    Operation(
        "ZonedDateTime.add(days=1)",
        {
            "merandol": "zdt.add(days=1)",
            "datetime": "(zdt + one_day).astimezone(paris)",
            "pendulum": "zdt.add(days=1)",
            "whenever": "zdt.add(days=1)",
        },
    ),
    Operation(
        "ZonedDateTime.add(hours=1)",
        {
            "merandol": "zdt.add(hours=1)",
            "datetime": "(zdt.astimezone(UTC) + hour).astimezone(paris)",
            "pendulum": "zdt.add(hours=1)",
            "whenever": "zdt.add(hours=1)",
        },
    ),
    Operation(
        "ZonedDateTime.round",
        {"merandol": "zdt.round('minute', increment=15)", "whenever": "zdt.round('minute', increment=15)"},
    ),
    Operation(
        "str(ZonedDateTime)",
        {
            "merandol": "str(zdt)",
            "datetime": "zdt.isoformat()",
            "pendulum": "zdt.isoformat()",
            "whenever": "zdt.format_iso()",
        },
    ),
    Operation(
        "ZonedDateTime.parse",
        {"merandol": "ZonedDateTime.parse(zoned_text)", "whenever": "ZonedDateTime.parse_iso(zoned_text)"},
    ),
    _conversion(
        "to_stdlib(ZonedDateTime)",
        "to_stdlib(zdt)",
        "datetime(2024, 1, 5, 12, 34, 56, 123456, tzinfo=paris)",
        whenever="zdt.to_stdlib()",
    ),
    Operation(
        f"add_calendar_numpy(months=1) of {BULK_SIZE:,} datetime64[ns], per element",
        {"merandol": "add_calendar_numpy(many_ns, months=1)"},
        per=BULK_SIZE,
    ),
    Operation(
        f"round_numpy of {BULK_SIZE:,} datetime64[ns] in a zone, per element",
        {"merandol": "round_numpy(many_ns, 'minute', increment=15, zone=paris)"},
        per=BULK_SIZE,
    ),
]
OPERATIONS += TEXT_OPERATIONS + CALENDAR_OPERATIONS


@dataclass
class Prepared:
    """An implementation's namespace, or why it has none."""

    implementation: Implementation
    namespace: dict = field(default_factory=dict)
    version: str | None = None
    absent: str | None = None  # why the implementation cannot be had
    # Values that could not be made, with the reason (a missing class).
    failures: dict[str, str] = field(default_factory=dict)

    def problem(self, statement):
        """Why the statement cannot run here, or None when it runs."""
        if self.absent:
            return f"absent: {self.absent}"
        try:
            exec(statement, dict(self.namespace))
        except NameError as error:
            return self.failures.get(error.name) or f"{self.implementation.name} has no {error.name}"
        except Exception as error:
            return f"{type(error).__name__}: {error}"
        return None


def prepare(implementation, sample):
    """Import the implementation and make its values from the inputs."""
    prepared = Prepared(implementation)
    try:
        module = importlib.import_module(implementation.module)
    except ImportError as error:
        prepared.absent = str(error)
        return prepared
    prepared.version = _version(implementation, module)
    namespace = dict(INPUTS, sample=sample)
    exec(implementation.prelude, namespace)
    for name, expression in implementation.values.items():
        try:
            namespace[name] = eval(expression, namespace)
        except NameError as error:
            prepared.failures[name] = prepared.failures.get(error.name) or f"{implementation.name} has no {error.name}"
    prepared.namespace = namespace
    return prepared


def _version(implementation, module):
    if implementation.name == "datetime":
        return f"{sys.version.split()[0]} (C)"
    if implementation.distribution is None:
        return getattr(module, "__version__", None) or "built from this clone"
    try:
        return importlib.metadata.version(implementation.distribution)
    except importlib.metadata.PackageNotFoundError:
        return "unknown version"
