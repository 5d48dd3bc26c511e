"""Calendar arithmetic against outside oracles: dateutil's relativedelta,
the standard library's ISO calendar and exact integer rounding with
decimal's modes, over merandol's whole range where the oracle is exact;
the columns against the scalar functions, pandas and polars."""

import calendar
import datetime as dt
import decimal

import pytest
from catalogue import MAX_DAY, MAX_NANOS, MIN_DAY, MIN_NANOS
from hypothesis import assume, given
from hypothesis import strategies as st
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset
from merandol_interop import (
    Zone,
    add_calendar,
    days_in_month,
    from_iso_week,
    is_leap_year,
    iso_week,
    round_to,
    start_of,
    to_stdlib,
)

relativedelta = pytest.importorskip("dateutil.relativedelta").relativedelta

DAY = 86400 * 10**9
UNITS = {"day": DAY, "hour": 3600 * 10**9, "minute": 60 * 10**9, "second": 10**9}
UNITS |= {"millisecond": 10**6, "microsecond": 1000, "nanosecond": 1}
# Each unit's increments: the divisors of the next larger unit below it.
PER_ENCLOSING = {"day": 2, "hour": 24, "minute": 60, "second": 60, "millisecond": 1000}
PER_ENCLOSING |= {"microsecond": 1000, "nanosecond": 1000}
steps = st.sampled_from(
    [(u, i) for u, n in PER_ENCLOSING.items() for i in range(1, n) if n % i == 0 and (u != "day" or i == 1)]
)
# decimal's modes of the nine, for a value whose sign is `negative`.
MODES = {
    "floor": lambda negative: decimal.ROUND_FLOOR,
    "ceil": lambda negative: decimal.ROUND_CEILING,
    "trunc": lambda negative: decimal.ROUND_DOWN,
    "expand": lambda negative: decimal.ROUND_UP,
    "half_floor": lambda negative: decimal.ROUND_HALF_UP if negative else decimal.ROUND_HALF_DOWN,
    "half_ceil": lambda negative: decimal.ROUND_HALF_DOWN if negative else decimal.ROUND_HALF_UP,
    "half_trunc": lambda negative: decimal.ROUND_HALF_DOWN,
    "half_expand": lambda negative: decimal.ROUND_HALF_UP,
    "half_even": lambda negative: decimal.ROUND_HALF_EVEN,
}
modes = st.sampled_from(list(MODES))
EXACT = decimal.Context(prec=60)


def rounded(count, step, mode):
    """count rounded to a multiple of step, exactly."""
    quotient = EXACT.divide(decimal.Decimal(count), step)
    return int(quotient.quantize(1, rounding=MODES[mode](count < 0), context=EXACT)) * step


def nanos_of(value):
    return value.unix_timestamp_nanos() if isinstance(value, DateTime) else value.total_nanos()


def from_nanos(nanos):
    return DateTime.from_unix_timestamp(*divmod(nanos, 10**9))


def days_from_civil(y, m, d):
    """Day number of a date of any year (Hinnant's days_from_civil)."""
    y -= m <= 2
    era, yoe = divmod(y, 400)
    doy = (153 * (m + (-3 if m > 2 else 9)) + 2) // 5 + d - 1
    return era * 146097 + yoe * 365 + yoe // 4 - yoe // 100 + doy - 719468


def month_length(y, m):
    return calendar.mdays[m] + (m == 2 and calendar.isleap(y))


amounts = st.integers(-(2**63), 2**63 - 1) | st.integers(-5000, 5000)
std_datetimes = st.datetimes(min_value=dt.datetime(1, 1, 1), max_value=dt.datetime(9999, 12, 31))


@given(
    std_datetimes, st.integers(-100, 100), st.integers(-1300, 1300), st.integers(-600, 600), st.integers(-5000, 5000)
)
def test_add_calendar_is_relativedelta(moment, years, months, weeks, days):
    delta = relativedelta(years=years, months=months, weeks=weeks, days=days)
    try:
        # relativedelta moves years and months first, so a result in range
        # passed through a month in range.
        expected = moment + delta
    except (OverflowError, ValueError):
        assume(False)
    reading = DateTime(Date(moment.year, moment.month, moment.day), Time(moment.hour, moment.minute, 0))
    got = add_calendar(reading, years=years, months=months, weeks=weeks, days=days)
    assert to_stdlib(got).replace(tzinfo=None) == expected.replace(second=0, microsecond=0)
    assert to_stdlib(add_calendar(reading.date, years=years, months=months, weeks=weeks, days=days)) == expected.date()


@given(st.integers(-(2**31), 2**31 - 1), st.integers(1, 12), st.integers(1, 31), amounts, amounts, amounts, amounts)
def test_add_calendar_over_the_whole_range(y, m, d, years, months, weeks, days):
    d = min(d, month_length(y, m))
    year, month = divmod(y * 12 + m - 1 + years * 12 + months, 12)
    day = days_from_civil(year, month + 1, min(d, month_length(year, month + 1))) + 7 * weeks + days
    if not -(2**31) <= year < 2**31 or not MIN_DAY <= day <= MAX_DAY:
        with pytest.raises(ValueError, match="Date out of range"):
            add_calendar(Date(y, m, d), years=years, months=months, weeks=weeks, days=days)
    else:
        got = add_calendar(Date(y, m, d), years=years, months=months, weeks=weeks, days=days)
        assert got.days_since_unix_epoch() == day


@given(st.dates())
def test_iso_week_is_isocalendar(day):
    year, week, weekday = iso_week(Date(day.year, day.month, day.day))
    assert (year, week, weekday.number_from_monday()) == tuple(day.isocalendar())
    assert to_stdlib(from_iso_week(year, week, weekday)) == dt.date.fromisocalendar(
        year, week, weekday.number_from_monday()
    )


@given(st.integers(-(2**31), 2**31 - 1), st.integers(1, 12), st.integers(1, 31))
def test_calendar_facts_and_starts_over_the_whole_range(y, m, d):
    d = min(d, month_length(y, m))
    assert (days_in_month(y, m), is_leap_year(y)) == (month_length(y, m), calendar.isleap(y))
    date = Date(y, m, d)
    n = date.days_since_unix_epoch()
    # 1970-01-01 was a Thursday; a week starts on Monday.
    week = n - (n + 3) % 7
    starts = {"year": days_from_civil(y, 1, 1), "month": days_from_civil(y, m, 1), "week": week, "day": n}
    for unit, start in starts.items():
        if start < MIN_DAY:
            continue
        assert start_of(date, unit).days_since_unix_epoch() == start
    # The ISO week's Thursday lies in its ISO year, whose week 1 holds 4 January.
    year, week_number, weekday = iso_week(date)
    january_4 = days_from_civil(year, 1, 4)
    assert days_from_civil(year, 1, 1) <= week + 3 < days_from_civil(year + 1, 1, 1)
    assert (week - (january_4 - (january_4 + 3) % 7)) // 7 + 1 == week_number
    assert from_iso_week(year, week_number, weekday) == date


@given(st.integers(MIN_NANOS, MAX_NANOS), steps, modes)
def test_round_to_is_exact_rounding_within_the_next_unit(nanos, step, mode):
    unit, increment = step
    enclosing = UNITS[unit] * PER_ENCLOSING[unit] if unit != "day" else DAY
    start, within = divmod(nanos, enclosing)
    expected = start * enclosing + rounded(within, increment * UNITS[unit], mode)
    if expected > MAX_NANOS:
        with pytest.raises(ValueError, match="DateTime out of range"):
            round_to(from_nanos(nanos), unit, increment=increment, mode=mode)
        return
    assert nanos_of(round_to(from_nanos(nanos), unit, increment=increment, mode=mode)) == expected
    if unit != "day":
        time = from_nanos(nanos % DAY).time
        expected_time = from_nanos(expected % DAY).time
        assert round_to(time, unit, increment=increment, mode=mode) == expected_time
    offset = UtcOffset.from_seconds(-3600)
    if max(nanos, expected) + 3600 * 10**9 <= MAX_NANOS:
        local = OffsetDateTime.from_local(from_nanos(nanos).date, from_nanos(nanos).time, offset)
        got = round_to(local, unit, increment=increment, mode=mode)
        assert (got.offset, nanos_of(got.to_local())) == (offset, expected)


@given(st.integers(-(2**127), 2**127 - 1), steps.filter(lambda s: s[0] != "day"), modes)
def test_round_to_rounds_a_duration_on_its_whole_count(nanos, step, mode):
    unit, increment = step
    expected = rounded(nanos, increment * UNITS[unit], mode)
    if not -(2**127) <= expected < 2**127:
        with pytest.raises(OverflowError, match="Duration overflow"):
            round_to(Duration.nanoseconds(nanos), unit, increment=increment, mode=mode)
    else:
        assert round_to(Duration.nanoseconds(nanos), unit, increment=increment, mode=mode).total_nanos() == expected


# --- Columns ---------------------------------------------------------------------

np = pytest.importorskip("numpy", reason="the column functions read and make numpy arrays", exc_type=ImportError)
from merandol_interop import add_calendar_numpy, round_numpy  # noqa: E402

PER_SECOND = {"s": 1, "ms": 1000, "us": 10**6, "ns": 10**9}
PARIS = Zone("Europe/Paris")
zones = st.sampled_from([None, UtcOffset.from_seconds(19800), PARIS, Zone("America/New_York")])


def counts(lo, hi):
    """Counts in [lo, hi], and among them multiples of 15 * 10^e, the ties
    of rounding to so many units."""
    multiples = st.builds(lambda k, e: k * 15 * 10**e, st.integers(-(2**16), 2**16), st.integers(0, 13))
    return st.integers(lo, hi) | multiples.filter(lambda v: lo <= v <= hi)


# Every count of a unit, and NaT.
column_values = st.lists(counts(-(2**63) + 1, 2**63 - 1) | st.just(-(2**63)), max_size=8)


def element(v, unit):
    return from_nanos(v * 10**9 // PER_SECOND[unit])


def local_of(instant, zone):
    if zone is None:
        return instant, None
    offset = zone if isinstance(zone, UtcOffset) else zone.offset_at(instant)
    return OffsetDateTime.from_utc(instant, offset).to_local(), offset


def placed(reading, zone, offset, how):
    """The instant of a local reading: at `offset` where the zone has it
    there, otherwise as `how` settles it."""
    if zone is None:
        return reading
    if isinstance(zone, UtcOffset):
        return OffsetDateTime.from_local(reading.date, reading.time, zone).utc
    if offset is not None:
        kept = OffsetDateTime.from_local(reading.date, reading.time, offset)
        if zone.offset_at(kept) == offset:
            return kept.utc
    return zone.from_local(reading.date, reading.time, how).utc


def scalar_column(values, unit, moved):
    """moved(instant) for each element in `unit`, NaT kept; None where the
    scalar refuses or the unit cannot hold the result."""
    out = []
    for v in values:
        try:
            result = v if v == -(2**63) else moved(element(v, unit)).unix_timestamp_nanos() * PER_SECOND[unit] // 10**9
        except ValueError:
            return None
        if not -(2**63) <= result < 2**63 or (result == -(2**63) != v):
            return None
        out.append(result)
    return out


def column_or_none(call):
    try:
        return call().view("int64").tolist()
    except ValueError:
        return None


# Elements enough for three threads of 2^15 each at least, so that a machine
# of two cores or more maps the column on several.
LONG_COLUMN = 3 * 2**15 + 7
LONG_CALLS = [
    lambda a: add_calendar_numpy(a, months=1),
    lambda a: add_calendar_numpy(a, months=-13, days=3, zone=PARIS),
    lambda a: round_numpy(a, "minute", increment=15),
    lambda a: round_numpy(a, "hour", mode="ceil", zone=PARIS),
]


@pytest.mark.parametrize("call", LONG_CALLS, ids=["add", "add in a zone", "round", "round in a zone"])
@pytest.mark.parametrize("refused", [(), (LONG_COLUMN - 1,), (70_000, 5)], ids=["none", "last", "two"])
def test_a_long_column_is_mapped_as_its_short_pieces_are(call, refused):
    """A column long enough to be mapped on several threads, each with its
    own calendar step, gives what its pieces give one by one (short enough
    for one thread), NaT kept; the first element refused is the one
    named."""
    seconds = np.random.default_rng(7).integers(-(10**10), 10**11, LONG_COLUMN)
    seconds[3::9_001] = -(2**63)
    seconds[list(refused)] = 2**62
    array = seconds.view("datetime64[s]")
    if refused:
        with pytest.raises(ValueError, match=rf"array\[{min(refused)}\] = {2**62} "):
            call(array)
        return
    pieces = np.concatenate([call(piece) for piece in np.array_split(array, 16)])
    assert call(array).view("int64").tolist() == pieces.view("int64").tolist()


@given(column_values, st.sampled_from(list(PER_SECOND)), st.integers(-30, 30), st.integers(-40, 40), zones)
def test_add_calendar_numpy_is_add_calendar(values, unit, months, days, zone):
    array = np.array(values, dtype="int64").view(f"datetime64[{unit}]")

    def moved(instant):
        # With no calendar unit the instant is kept, even in a fold.
        reading, _ = local_of(instant, zone)
        if months == days == 0:
            return instant
        return placed(add_calendar(reading, months=months, days=days), zone, None, "compatible")

    expected = scalar_column(values, unit, moved)
    assert column_or_none(lambda: add_calendar_numpy(array, months=months, days=days, zone=zone)) == expected


@given(column_values, st.sampled_from(list(PER_SECOND)), steps, modes, zones)
def test_round_numpy_is_round_to(values, unit, step, mode, zone):
    unit_name, increment = step
    # A zone's day is rounded on its real length, which the catalogue shows.
    assume(zone is None or isinstance(zone, UtcOffset) or unit_name != "day")
    array = np.array(values, dtype="int64").view(f"datetime64[{unit}]")

    def moved(instant):
        reading, offset = local_of(instant, zone)
        return placed(round_to(reading, unit_name, increment=increment, mode=mode), zone, offset, "compatible")

    expected = scalar_column(values, unit, moved)
    got = column_or_none(lambda: round_numpy(array, unit_name, increment=increment, mode=mode, zone=zone))
    assert got == expected


# pandas and polars where they answer: instants of 1678 to 2261 in ns,
# rounded to steps that fit their enclosing unit an even number of times, so
# that ties to even on their count since 1970 are ties to even on the count
# within the unit.
ns_values = st.lists(counts(-(2**63) + 10**18, 2**63 - 10**18), min_size=1, max_size=8)
FREQUENCIES = {"h": ("hour", 1), "15min": ("minute", 15), "30s": ("second", 30), "ms": ("millisecond", 1)}


# 1916 to 2033, two years in: Paris's offsets since 1912 are whole minutes, which pandas
# keeps, and its rules past 2037 are not pandas's.
@given(
    st.lists(counts(-17 * 10**17, 2 * 10**18), min_size=1, max_size=8),
    st.integers(-24, 24),
    st.integers(-40, 40),
    st.sampled_from(list(FREQUENCIES)),
    st.booleans(),
)
def test_columns_agree_with_pandas(values, months, days, frequency, zoned):
    pd = pytest.importorskip("pandas")
    array = np.array(values, dtype="datetime64[ns]")
    series = pd.Series(array).dt.tz_localize("UTC").dt.tz_convert("Europe/Paris") if zoned else pd.Series(array)
    try:
        # pandas works on the wall clock and refuses a reading in a gap or a fold.
        shifted = series + pd.DateOffset(months=months, days=days)
        rounded = {mode: getattr(series.dt, name)(frequency) for name, mode in PANDAS_MODES.items()}
    except Exception:  # pytz's errors of a gap and a fold
        assume(False)

    def ints(result):
        return (result.dt.tz_convert("UTC").dt.tz_localize(None) if zoned else result).astype("int64").tolist()

    zone = PARIS if zoned else None
    assert add_calendar_numpy(array, months=months, days=days, zone=zone).view("int64").tolist() == ints(shifted)
    unit, increment = FREQUENCIES[frequency]
    for mode, result in rounded.items():
        got = round_numpy(array, unit, increment=increment, mode=mode, zone=zone)
        assert got.view("int64").tolist() == ints(result)


PANDAS_MODES = {"round": "half_even", "floor": "floor", "ceil": "ceil"}
POLARS_EVERY = {"h": "1h", "15min": "15m", "30s": "30s", "ms": "1ms"}


@given(ns_values, st.integers(-24, 24), st.integers(-40, 40), st.sampled_from(list(FREQUENCIES)))
def test_columns_agree_with_polars(values, months, days, frequency):
    pl = pytest.importorskip("polars")
    array = np.array(values, dtype="datetime64[ns]")
    series = pl.Series(array)
    shifted = series.dt.offset_by(f"{months}mo").dt.offset_by(f"{days}d")
    assert add_calendar_numpy(array, months=months, days=days).tolist() == shifted.to_numpy().tolist()
    unit, increment = FREQUENCIES[frequency]
    every = POLARS_EVERY[frequency]
    for mode, result in (("floor", series.dt.truncate(every)), ("half_ceil", series.dt.round(every))):
        assert round_numpy(array, unit, increment=increment, mode=mode).tolist() == result.to_numpy().tolist()
