"""merandol_interop's conversions to and from the standard datetime types:
round trips over the whole standard range in both directions, each checked
against the standard library's own arithmetic, and every refusal once."""

import datetime as dt
import zoneinfo

import pytest
from catalogue import INTEROP_CALLS
from hypothesis import example, given
from hypothesis import strategies as st
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset
from merandol_interop import from_stdlib, to_stdlib

EPOCH = dt.datetime(1970, 1, 1, tzinfo=dt.UTC)
MICROSECOND = dt.timedelta(microseconds=1)
DAY = 86400

# Fixed offsets with seconds, strictly within a day either way.
fixed_zones = st.integers(-DAY + 1, DAY - 1).map(lambda s: dt.timezone(dt.timedelta(seconds=s)))
# Zones with daylight-saving changes, and the extreme years 1 and 9999.
zones = st.sampled_from(["Europe/Paris", "America/New_York", "Australia/Lord_Howe", "Asia/Kathmandu"]).map(
    zoneinfo.ZoneInfo
)
std_aware = st.datetimes(timezones=st.one_of(st.just(dt.UTC), fixed_zones, zones))
std_values = st.one_of(
    std_aware,
    st.dates(),
    st.times(),
    fixed_zones,
    st.timedeltas(),
)


def reading(x):
    """What a standard value says, beyond ==: the local reading and offset of
    a datetime (== between zones treats repeated local times specially)."""
    if isinstance(x, dt.datetime):
        return (x.replace(tzinfo=None), x.utcoffset())
    return (type(x), x)


@given(std_values)
@example(dt.datetime(1, 1, 1, tzinfo=dt.timezone(dt.timedelta(hours=23, minutes=59, seconds=59))))
@example(dt.datetime.max.replace(tzinfo=dt.timezone(-dt.timedelta(hours=23, minutes=59, seconds=59))))
@example(dt.datetime(2024, 3, 31, 2, 30, tzinfo=zoneinfo.ZoneInfo("Europe/Paris")))  # in the spring gap
@example(dt.datetime(2024, 10, 27, 2, 30, fold=1, tzinfo=zoneinfo.ZoneInfo("Europe/Paris")))  # the hour repeated
@example(dt.timedelta.min)
@example(dt.timedelta.max)
def test_standard_values_round_trip_exactly(x):
    v = from_stdlib(x)
    assert reading(to_stdlib(v)) == reading(x)
    # Checked against the standard library's own arithmetic, not only the way back.
    if isinstance(x, dt.datetime):
        assert type(v) is OffsetDateTime
        assert v.unix_timestamp_nanos() == (x - EPOCH) // MICROSECOND * 1000
        assert v.offset.as_seconds() == x.utcoffset() // dt.timedelta(seconds=1)
    elif isinstance(x, dt.date):
        assert type(v) is Date and v.days_since_unix_epoch() == (x - dt.date(1970, 1, 1)).days
    elif isinstance(x, dt.time):
        assert type(v) is Time and (v.hour, v.minute, v.second, v.nanosecond) == (
            x.hour,
            x.minute,
            x.second,
            x.microsecond * 1000,
        )
    elif isinstance(x, dt.timedelta):
        assert type(v) is Duration and v.total_nanos() == x // MICROSECOND * 1000
    else:
        assert type(v) is UtcOffset and v.as_seconds() == x.utcoffset(None) // dt.timedelta(seconds=1)


# Readings in years 1 to 9999, in whole microseconds.
std_readings = st.datetimes().map(
    lambda x: (Date(x.year, x.month, x.day), Time(x.hour, x.minute, x.second, x.microsecond * 1000))
)
offsets = st.integers(-DAY + 1, DAY - 1).map(UtcOffset.from_seconds)

merandol_values = st.one_of(
    std_readings.map(lambda r: r[0]),
    std_readings.map(lambda r: r[1]),
    std_readings.map(lambda r: DateTime(*r)),
    st.builds(lambda r, o: OffsetDateTime.from_local(*r, o), std_readings, offsets),
    offsets,
    st.timedeltas().map(lambda d: Duration.nanoseconds(d // MICROSECOND * 1000)),
)


@given(merandol_values)
def test_merandol_values_round_trip_exactly(v):
    x = to_stdlib(v)
    back = from_stdlib(x)
    if type(v) is DateTime:
        assert x.tzinfo is dt.UTC and type(back) is OffsetDateTime and back.offset.is_utc()
        assert back.utc == v
    else:
        assert back == v and type(back) is type(v)


@given(
    # Instants a day inside years 1 to 9999, so that every offset keeps them there.
    st.integers(
        ((EPOCH.replace(year=1) - EPOCH) // MICROSECOND + DAY * 10**6) * 1000,
        (dt.datetime.max.replace(tzinfo=dt.UTC) - EPOCH) // MICROSECOND * 1000 - DAY * 10**9,
    ),
    st.integers(-DAY + 1, DAY - 1),
)
def test_truncate_floors_to_microseconds_and_loses_nothing_else(nanos, offset):
    values = [
        Duration.nanoseconds(nanos),
        DateTime.from_unix_timestamp(nanos // 10**9, nanos % 10**9),
        OffsetDateTime.from_utc(
            DateTime.from_unix_timestamp(nanos // 10**9, nanos % 10**9), UtcOffset.from_seconds(offset)
        ),
        Time(1, 2, 3, nanos % 10**9),
    ]
    floor = nanos // 1000 * 1000
    for v in values:
        x = to_stdlib(v, truncate=True)
        back = from_stdlib(x)
        if type(v) is Duration:
            assert back.total_nanos() == floor
        elif type(v) is Time:
            assert back.nanosecond == nanos % 10**9 // 1000 * 1000
        else:
            assert back.unix_timestamp_nanos() == floor


def test_offsets_and_zero_offsets_map_to_the_standard_singletons():
    assert to_stdlib(UtcOffset.from_seconds(0)) is dt.UTC
    assert to_stdlib(OffsetDateTime.parse("2024-01-05T12:00:00+00:00")).tzinfo is dt.UTC
    assert to_stdlib(DateTime.parse("2024-01-05T12:00:00Z")).tzinfo is dt.UTC
    a, b = (to_stdlib(OffsetDateTime.parse("2024-01-05T12:00:00+05:30")) for _ in range(2))
    assert a.tzinfo is b.tzinfo  # whole-minute offsets are kept, not remade


class MyDate(dt.date):
    pass


class NanoDateTime(dt.datetime):
    nanosecond = 789


def test_subclasses_count_as_their_base_and_keep_nanoseconds():
    assert from_stdlib(MyDate(2024, 1, 5)) == Date(2024, 1, 5)
    assert from_stdlib(NanoDateTime(2024, 1, 5, 0, 0, 0, 123456, tzinfo=dt.UTC)).utc.time.nanosecond == 123456789
    pd = pytest.importorskip("pandas", reason="pandas (Timestamp, Timedelta) does not load here", exc_type=ImportError)
    stamp = pd.Timestamp("2024-01-05T12:34:56.123456789+05:30")
    assert str(from_stdlib(stamp)) == "2024-01-05T12:34:56.123456789+05:30"
    assert from_stdlib(pd.Timedelta(days=-3, nanoseconds=-7)).total_nanos() == -3 * DAY * 10**9 - 7


SUCCESSES = [c for c in INTEROP_CALLS if c[2] is None]
REFUSALS = [c for c in INTEROP_CALLS if c[2] is not None]


@pytest.mark.parametrize("label, call, _, expected", SUCCESSES, ids=[c[0] for c in SUCCESSES])
def test_conversions(label, call, _, expected):
    # repr, beyond ==: the offset of a datetime and the class of each value,
    # merandol's own for every from_stdlib.
    got = call()
    assert (type(got), repr(got)) == (type(expected), repr(expected))


@pytest.mark.parametrize("label, call, exc_type, message", REFUSALS, ids=[c[0] for c in REFUSALS])
def test_refusals(label, call, exc_type, message):
    with pytest.raises(exc_type) as info:
        call()
    assert str(info.value) == message
    # Only an argument's conversion notes which argument it was.
    noted = {
        "to_stdlib(truncate=1)": "truncate",
        "Zone.offset_at(Date)": "instant",
        "ZonedDateTime(str zone)": "zone",
        "ZonedDateTime.difference(OffsetDateTime)": "other",
        "add_calendar(Python int too large to convert to C long)": "years",
    }.get(label)
    assert getattr(info.value, "__notes__", []) == ([f"while processing '{noted}'"] if noted else [])
