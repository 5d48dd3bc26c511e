"""ZonedDateTime against whenever's, wherever both answer (years 1 to 9999)
and whenever follows Temporal, over every zone that zoneinfo lists, half
the readings within two hours of a change of offset; and against zoneinfo's
datetime with fold.  Where whenever departs from Temporal (rounding across
a change of offset, half_even ties, a calendar add that lands in a fold,
offsets to the second), the case is left to the catalogue's rows."""

import datetime as dt
import pickle
import zoneinfo

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st
from merandol import DateTime, Duration, OffsetDateTime, Time
from merandol_interop import Zone, ZonedDateTime, available_zones, round_to, to_numpy, to_stdlib

whenever = pytest.importorskip("whenever", reason="whenever is in the benchmark's interpreter only")

KEYS = sorted(available_zones())
FIRST, LAST = DateTime.parse("0002-01-01T00:00:00Z"), DateTime.parse("9998-12-31T00:00:00Z")
DISAMBIGUATE = st.sampled_from(["compatible", "earlier", "later"])
MODES = ["floor", "ceil", "trunc", "expand", "half_floor", "half_ceil", "half_trunc", "half_expand", "half_even"]
INCREMENTS = {"hour": 24, "minute": 60, "second": 60, "millisecond": 1000, "microsecond": 1000, "nanosecond": 1000}
DAY = 86400
SPANS = {"years": 30, "months": 400, "weeks": 60, "days": 400, "hours": 10**5, "minutes": 10**6}
SPANS |= {"seconds": 10**7, "nanoseconds": 10**12}


def divisors(unit):
    """The increments Temporal allows: divisors of the next unit below it; 1 for a day."""
    most = INCREMENTS.get(unit, 2)
    return [i for i in range(1, most) if most % i == 0]


@st.composite
def readings(draw):
    """A zone and a local reading, near one of its changes half the time."""
    zone = Zone(draw(st.sampled_from(KEYS)))
    # Every year, and as often the years of local mean time and the first rules.
    seconds = st.integers(FIRST.unix_timestamp(), LAST.unix_timestamp()) | st.integers(-6 * 10**9, 0)
    instant = DateTime.from_unix_timestamp(draw(seconds))
    local = zone.to_local(instant).to_local()
    change = zone.next_transition(instant)
    if draw(st.booleans()) and change is not None and change.utc < LAST:
        # The hour before the change's new reading is skipped or repeated.
        near = st.integers(-7200, 7200) | st.integers(-3600, 3599)
        local = change.to_local().add_duration(Duration.seconds(draw(near)))
    nanos = draw(st.sampled_from([0, 500_000_000]) | st.integers(0, 10**9 - 1))
    t = local.time
    return zone, DateTime(local.date, Time(t.hour, t.minute, t.second, nanos))


def theirs(zone, local, disambiguate="compatible"):
    d, t = local.date, local.time
    return whenever.ZonedDateTime(
        d.year, d.month, d.day, t.hour, t.minute, t.second, nanosecond=t.nanosecond, tz=zone.key,
        disambiguation=disambiguate,
    )  # fmt: skip


def same(ours, other):
    """The same instant at the same offset."""
    assert (ours.instant.unix_timestamp_nanos(), ours.offset.as_seconds()) == (
        other.timestamp(unit="nanosecond"),
        int(other.offset.total("seconds")),
    )


@given(readings(), DISAMBIGUATE)
def test_construction_and_text_agree(reading, disambiguate):
    zone, local = reading
    ours = ZonedDateTime(local.date, local.time, zone, disambiguate=disambiguate)
    other = theirs(zone, local, disambiguate)
    same(ours, other)
    assert ZonedDateTime.parse(other.format_iso()) == ours  # an offset to the second matches it exactly
    assert ZonedDateTime.parse(str(ours)) == ours  # an offset to the minute matches one it rounds
    if ours.offset.as_seconds() % 60 == 0:  # whenever writes the seconds of local mean time
        assert str(ours) == other.format_iso()
    assert pickle.loads(pickle.dumps(ours)) == ours and hash(pickle.loads(pickle.dumps(ours))) == hash(ours)


@given(
    readings(),
    st.fixed_dictionaries({}, optional={unit: st.integers(-span, span) for unit, span in SPANS.items()}),
    DISAMBIGUATE,
    st.booleans(),
    st.integers(-400, 400),
)
def test_add_and_subtract_agree(reading, amounts, disambiguate, subtract, back):
    """From `back` days away, days alone land on the reading near a change."""
    zone, local = reading
    amounts["days"] = amounts.get("days", 0) + back * (-1 if subtract else 1)
    local = DateTime(local.date.add_days(-back), local.time)
    start = ZonedDateTime(local.date, local.time, zone)
    calendar = {k: v for k, v in amounts.items() if k in ("years", "months", "weeks", "days")}
    sign = -1 if subtract else 1
    try:
        other = getattr(theirs(zone, local), "subtract" if subtract else "add")(**amounts, disambiguation=disambiguate)
    except (ValueError, OverflowError):
        return
    if calendar:  # whenever settles a landing in a fold otherwise
        try:
            start.add(**{k: sign * v for k, v in calendar.items()}, disambiguate="raise")
        except ValueError as e:
            assume("repeated" not in str(e))
    method = start.subtract if subtract else start.add
    same(method(**amounts, disambiguate=disambiguate), other)


@given(
    readings(),
    st.sampled_from(["day", *INCREMENTS]).flatmap(lambda u: st.tuples(st.just(u), st.sampled_from(divisors(u)))),
    st.sampled_from(MODES),
)
def test_round_and_start_of_day_agree(reading, unit_increment, mode):
    zone, local = reading
    ours, other = ZonedDateTime(local.date, local.time, zone), theirs(zone, local)
    same(ours.start_of("day"), other.start_of("day"))
    unit, increment = unit_increment
    # Across a change of offset whenever rounds to its own boundaries.
    change = zone.next_transition(ours.instant.add_duration(Duration.seconds(-2 * DAY)))
    assume(change is None or change.utc > ours.instant.add_duration(Duration.seconds(2 * DAY)))
    rounded = ours.round(unit, increment=increment, mode=mode)
    # A tie that half_even settles: whenever's count is not Temporal's.
    tie = ours.round(unit, increment=increment, mode="half_floor") != ours.round(
        unit, increment=increment, mode="half_ceil"
    )
    assume(mode != "half_even" or not tie)
    same(rounded, other.round(unit, increment=increment, mode=mode))


@given(readings(), st.sampled_from(["earlier", "later"]), st.sampled_from([("hour", 1), ("minute", 15)]))
def test_round_keeps_the_offset_where_the_zone_has_it(reading, disambiguate, unit_increment):
    """Temporal's rule near a change of offset, where whenever rounds its own
    way: the rounded reading keeps the offset when the zone has it at that
    reading (one of a repeated reading's two), else is placed as
    'compatible'."""
    zone, local = reading
    ours = ZonedDateTime(local.date, local.time, zone, disambiguate=disambiguate)
    unit, increment = unit_increment
    r = round_to(ours.local, unit, increment=increment)
    try:
        offsets = {zone.from_local(r.date, r.time, "raise").offset}
    except ValueError as e:
        repeated = "repeated" in str(e)
        offsets = {zone.from_local(r.date, r.time, d).offset for d in ("earlier", "later")} if repeated else set()
    kept = ours.offset in offsets
    expected = OffsetDateTime.from_local(r.date, r.time, ours.offset) if kept else zone.from_local(r.date, r.time)
    rounded = ours.round(unit, increment=increment)
    assert (rounded.instant, rounded.offset) == (expected.utc, expected.offset)


@given(readings())
def test_to_stdlib_is_zoneinfo_with_its_fold(reading):
    zone, local = reading
    t = local.time
    micros = Time(t.hour, t.minute, t.second, t.nanosecond // 1000 * 1000)
    for disambiguate in ("earlier", "later"):
        ours = ZonedDateTime(local.date, micros, zone, disambiguate=disambiguate)
        since = dt.timedelta(microseconds=ours.instant.unix_timestamp_nanos() // 1000)
        expected = (dt.datetime(1970, 1, 1, tzinfo=dt.UTC) + since).astimezone(zoneinfo.ZoneInfo(zone.key))
        got = to_stdlib(ours)
        assert (got, got.fold, got.utcoffset(), got.tzinfo) == (
            expected,
            expected.fold,
            expected.utcoffset(),
            expected.tzinfo,
        )
        assert ZonedDateTime.from_stdlib(got) == ours


def test_to_numpy_takes_the_instants():
    np = pytest.importorskip("numpy", reason="to_numpy makes a numpy array", exc_type=ImportError)
    values = [ZonedDateTime.parse("2026-11-01T01:30:00-05:00[America/New_York]"), ZonedDateTime.now(Zone("UTC"))]
    assert to_numpy(values, "ns").tolist() == to_numpy([v.instant for v in values], "ns").tolist()
    assert to_numpy(values).dtype == np.dtype("datetime64[ns]")
