"""Format's patterns against the standard library in the C locale:
strftime writes what Format writes and strptime reads what Format reads,
for every directive both have, on years 1 to 9999; date.isocalendar for
the ISO week date; round trips over merandol's whole range where a pattern
keeps every field; the deliberate differences in one table."""

import datetime as dt
import sys

import merandol as m
import pytest
from hypothesis import assume, given
from hypothesis import strategies as st
from merandol_interop import Format

# Patterns of a whole date and time, and the fields they give; any other
# directive may join them (a field named twice must agree).
BASES = [
    "%Y-%m-%d %H:%M:%S",
    "%F %T",
    "%c",
    "%x %X",
    "%D %R",
    "%G-W%V-%u %H:%M",
    "%Y %j %I:%M:%S %p",
    "%Y %U %a %T",
    "%Y %W %w %T",
    "%d/%b/%Y:%H:%M:%S",
    "%-m/%_d/%Y %0H%M",
    "%e %B %Y %-I %p",
]
COMPOSITES = {"F": "Ymd", "T": "HMS", "X": "HMS", "D": "mdy", "x": "mdy", "R": "HM", "c": "abeHMSY"}
EXTRAS = [*(f"%{c}" for c in "aAbBdejmyYGVuUWwHIpMSfzZ"), "%:z", "%h", "%-j", "%_U", "%0e", "%%", "%n", "%t"]
# What strptime reads: no flags, %e, %h, %n, %t, %F, %D or %:z.
STRPTIME = set("aAbBcdfGHIjmMpSTRuUVwWxXyYzZ%")


def letters(pattern):
    """The directives' letters of a pattern, composites spelled out."""
    parts = pattern.split("%")[1:]
    keys = [p.lstrip("-_0:")[:1] for p in parts]
    return "".join(COMPOSITES.get(k, "b" if k == "h" else k) for k in keys)


@st.composite
def patterns(draw):
    base = draw(st.sampled_from(BASES))
    chosen = [e for e in draw(st.lists(st.sampled_from(EXTRAS), max_size=4, unique=True))]
    pattern, used = base, letters(base)
    for extra in chosen:
        key = letters(extra)
        if key and key in used:
            continue
        pattern += draw(st.sampled_from([" ", "|", "T"])) + extra
        used += key
    return pattern


datetimes = st.builds(
    lambda d, seconds, tz: d.replace(tzinfo=dt.timezone(dt.timedelta(seconds=seconds)) if tz else None),
    st.datetimes(),
    st.integers(-86399, 86399),
    st.booleans(),
)


def ours(value):
    """merandol's value of a stdlib date, time or datetime."""
    if isinstance(value, dt.datetime):
        local = m.DateTime(ours(value.date()), ours(value.time()))
        if value.tzinfo is None:
            return local
        offset = m.UtcOffset.from_seconds(int(value.utcoffset().total_seconds()))
        return m.OffsetDateTime.from_local(local.date, local.time, offset)
    if isinstance(value, dt.date):
        return m.Date(value.year, value.month, value.day)
    return m.Time(value.hour, value.minute, value.second, value.microsecond * 1000)


def as_result(value, result):
    """A stdlib datetime as the class a pattern gives."""
    value = ours(value)
    if result is m.Date:
        return value.date
    if result is m.Time:
        return value.time
    return value if result is not m.DateTime or isinstance(value, m.DateTime) else value.to_local()


@given(patterns(), datetimes)
def test_agrees_with_strftime_and_strptime(pattern, value):
    # Below 1000, C's %c, and %Y before CPython 3.14, write 999 where %Y
    # writes 0999 (and merandol's texts do); the round trips cover them.
    assume(value.year >= 1000)
    named_offset = any(k in letters(pattern) for k in "zZ")
    if named_offset and value.tzinfo is None:
        value = value.replace(tzinfo=dt.UTC)
    f = Format(pattern)
    text = f.format(ours(value))
    assert text == value.strftime(pattern)
    keys = letters(pattern)
    whole_year = "Y" in keys or ({"G", "V"} <= set(keys) and set("aAuw") & set(keys))
    if not whole_year and not 1969 <= value.year <= 2068:
        return  # %y keeps these years only
    # Read back, a value keeps the fields the pattern names.
    read = f.parse(text)
    assert type(read) is f.result and f.format(read) == text
    flagged = any(part[:1] in ("-", "_", "0") for part in pattern.split("%")[1:] if part)
    morning = "I" in keys and "p" not in keys  # strptime's %I without %p, in place of %H
    by_week = {"U", "W"} & set(keys) and "Y" not in keys  # strptime's %U and %W in 1900
    pivoted = "y" in keys and not 1969 <= value.year <= 2068  # strptime's %y in place of %Y
    if set(keys) <= STRPTIME and not (flagged or morning or by_week or pivoted):
        try:
            oracle = dt.datetime.strptime(text, pattern)
        except Exception:  # a pattern strptime cannot read (a field it names twice)
            return
        if "Z" in letters(pattern) and "z" not in letters(pattern):
            oracle = oracle.replace(tzinfo=value.tzinfo)  # strptime's %Z names no offset
        assert read == as_result(oracle, f.result)


@given(st.dates())
def test_iso_week_dates_are_isocalendars(date):
    year, week, weekday = date.isocalendar()
    text = f"{year:04d}-W{week:02d}-{weekday}"
    assert Format("%G-W%V-%u").format(ours(date)) == text
    assert Format("%G-W%V-%u").parse(text) == ours(date)


ROUND_TRIPS = [
    "%Y-%m-%dT%H:%M:%S%.f%:z",
    "%G-W%V-%u %T.%9f %Z",
    "%Y %j %I:%M:%S%.f %p %z",
    "%a %d %B %Y %T%.f %z",
    "%s.%9f %z",
]


@pytest.mark.parametrize("pattern", ROUND_TRIPS)
@given(
    secs=st.integers(-67768100567971200 + 86400, 67767976233532799 - 86400),
    nanos=st.integers(0, 999_999_999),
    offset=st.integers(-86400, 86400),
)
def test_round_trips_over_the_whole_range(pattern, secs, nanos, offset):
    value = m.OffsetDateTime.from_utc(m.DateTime.from_unix_timestamp(secs, nanos), m.UtcOffset.from_seconds(offset))
    f = Format(pattern)
    assert f.parse(f.format(value)) == value


# Where Format differs from strptime on purpose: what each gives.
DIFFERENCES = [
    ("%Y-%m-%d %a", "2026-12-08 Mon", ValueError, dt.datetime(2026, 12, 8)),  # weekday not the date's
    ("%Y-%m-%d %j", "2026-12-08 001", ValueError, dt.datetime(2026, 1, 1)),  # day of year not the date's
    ("%y %Y-%m-%d", "27 2026-12-08", ValueError, dt.datetime(2026, 12, 8)),  # two years
    # No year: no 1900 (3.15's strptime refuses it too).
    (
        "%b %d %H:%M",
        "Dec 08 14:36",
        ValueError,
        ValueError if sys.version_info >= (3, 15) else dt.datetime(1900, 12, 8, 14, 36),
    ),
    ("%I:%M", "02:30", ValueError, dt.datetime(1900, 1, 1, 2, 30)),  # 12-hour clock without AM/PM
    ("%Y-%m-%d", "12026-01-01", m.Date(12026, 1, 1), ValueError),  # years beyond 9999
    ("%Y-%m-%d", "-001-01-01", m.Date(-1, 1, 1), ValueError),  # and before 1
]


@pytest.mark.filterwarnings("ignore:Parsing dates involving a day of month without a year:DeprecationWarning")
@pytest.mark.parametrize(("pattern", "text", "expected", "stdlib"), DIFFERENCES)
def test_differences_from_strptime(pattern, text, expected, stdlib):
    def outcome(read):
        try:
            return read()
        except ValueError:
            return ValueError

    assert outcome(lambda: Format(pattern).parse(text)) == expected
    assert outcome(lambda: dt.datetime.strptime(text, pattern)) == stdlib
