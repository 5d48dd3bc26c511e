"""merandol_interop's column functions against outside oracles: each
element read alone with cls.parse, numpy's own datetime64 arithmetic and
text, and pandas, polars and pyarrow; and every refusal once."""

import subprocess
import sys
from datetime import UTC, datetime, timedelta, timezone
from fractions import Fraction

import pytest
from arrow_ctypes import Producer, read_column
from catalogue import COLUMN_CALLS, I32, MAX_DAY, MAX_NANOS, MAX_SECS, MIN_DAY, MIN_NANOS, MIN_SECS
from hypothesis import example, given
from hypothesis import strategies as st
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset
from merandol_interop import (
    ArrowColumn,
    Format,
    Zone,
    format_arrow,
    format_numpy,
    from_numpy,
    parse_many,
    parse_to_arrow,
    parse_to_numpy,
    to_numpy,
)
from strategies import rfc3339_texts

np = pytest.importorskip("numpy", reason="the column functions read and make numpy arrays", exc_type=ImportError)

I64 = (-(2**63), 2**63 - 1)
DAY_NS = 86400 * 10**9
# Nanoseconds in one unit; the calendar units Y and M have none.
UNIT_NS = {
    "W": 7 * DAY_NS,
    "D": DAY_NS,
    "h": 3600 * 10**9,
    "m": 60 * 10**9,
    "s": 10**9,
    "ms": 10**6,
    "us": 10**3,
    "ns": 1,
    "ps": Fraction(1, 10**3),
    "fs": Fraction(1, 10**6),
    "as": Fraction(1, 10**9),
}
UNITS = ["Y", "M", *UNIT_NS]
TEXT_UNITS = ["s", "ms", "us", "ns"]


def texts_as(kind, texts):
    """The same texts as a list, a tuple, a generator or numpy arrays."""
    if kind == "list":
        return list(texts)
    if kind == "tuple":
        return tuple(texts)
    if kind == "generator":
        return (t for t in texts)
    array = np.array(list(texts), dtype=str)
    if kind == "array":
        return array
    if kind == "strided":
        return np.repeat(array, 2)[::2]
    return array.astype(">U80")  # big-endian: read through str objects


TEXT_KINDS = ["list", "tuple", "generator", "array", "strided", "big-endian"]

# RFC 3339 texts with 0 to 9 fraction digits and mixed offsets, some padded
# with white space (also beyond ASCII and beyond the short-text fast path),
# and now and then one that the reader refuses.
rfc3339 = rfc3339_texts(
    offsets=["Z", "z", "+00:00", "+05:30", "-08:00", "+23:59", "-23:59", "+0100"],
    paddings=["", " ", "\u00a0", " " * 40],
)
maybe_rfc3339 = st.one_of(rfc3339, rfc3339.map(lambda s: s.replace("T", "X", 1)))


def expected_instants(texts, unit):
    """Per element with OffsetDateTime.parse: the int64 values, or the first
    words of the first refusal and its notes (the reader's own message gets
    a note naming the index; the column's own message names it itself)."""
    scale = 10**9 // {"s": 1, "ms": 10**3, "us": 10**6, "ns": 10**9}[unit]
    out = []
    for i, s in enumerate(texts):
        try:
            nanos = OffsetDateTime.parse(s).unix_timestamp_nanos()
        except ValueError as e:
            return str(e), [f"at index {i}"]
        if nanos % scale:
            return f"texts[{i}] = {s!r} has a fraction of a second", []
        if not I64[0] < nanos // scale <= I64[1]:
            return f"texts[{i}] = {s!r} is outside the range", []
        out.append(nanos // scale)
    return out


@pytest.mark.parametrize("kind", TEXT_KINDS)
@pytest.mark.parametrize("unit", TEXT_UNITS)
@given(texts=st.lists(st.one_of(rfc3339, maybe_rfc3339), max_size=8))
# Local readings in range whose UTC reading is not, at both ends.
@example(texts=["2024-01-05T00:00:00Z", "2147483647-12-31T23:00:00-05:00"])
@example(texts=["-2147483648-01-01T00:00:00+00:01"])
def test_parse_to_numpy_reads_each_text_as_offset_datetime_parse(kind, unit, texts):
    reads_each_alone(texts_as(kind, texts), texts, unit)


def reads_each_alone(texts_object, texts, unit):
    expected = expected_instants(texts, unit)
    if isinstance(expected, tuple):
        message, notes = expected
        with pytest.raises(ValueError) as info:
            parse_to_numpy(texts_object, unit)
        assert str(info.value).startswith(message)
        assert getattr(info.value, "__notes__", []) == notes
    else:
        got = parse_to_numpy(texts_object, unit)
        assert got.dtype == np.dtype(f"datetime64[{unit}]")
        assert got.view("int64").tolist() == expected


# Lists long enough for the reader's batches of eight list items: the
# writers' shape, among which a few texts that a batch leaves to the reader
# of one text (refused, not ASCII, padded, at the ends of timestamp[ns]).
ODD_TEXTS = [
    "2023-02-29T00:00:00Z",
    "2024-02-29T12:00:00.5-23:59",
    "2024-01-05T00:00:00\u00a0Z",
    " 2024-01-05T00:00:00Z",
    "2024-01-05T00:00:00.1234567890Z",
    "1677-09-21T00:12:43.145224192Z",
    "1677-09-21T00:12:43.145224191Z",
    "2262-04-11T23:47:16.854775807Z",
    "2262-04-11T23:47:16.854775808Z",
]


long_lists = st.builds(
    lambda texts, odd: [dict(odd).get(i, t) for i, t in enumerate(texts)],
    st.lists(rfc3339_texts(offsets=["Z", "+05:30", "-23:59"], separators=("T", " ")), min_size=8, max_size=40),
    st.lists(st.tuples(st.integers(0, 39), st.sampled_from(ODD_TEXTS)), max_size=2),
)


@pytest.mark.parametrize("unit", TEXT_UNITS)
@given(texts=long_lists)
def test_parse_to_numpy_reads_long_lists_as_each_text_alone(unit, texts):
    reads_each_alone(texts, texts, unit)


@given(texts=long_lists)
def test_parse_many_reads_long_lists_as_each_text_alone(texts):
    try:
        expected = [OffsetDateTime.parse(s) for s in texts]
    except ValueError as e:
        index = next(i for i, s in enumerate(texts) if outcome(lambda s=s: OffsetDateTime.parse(s))[0] != "ok")
        with pytest.raises(ValueError) as info:
            parse_many(OffsetDateTime, texts)
        assert (str(info.value), info.value.__notes__[-1]) == (str(e), f"at index {index}")
    else:
        got = parse_many(OffsetDateTime, texts)
        assert [(v, v.offset) for v in got] == [(v, v.offset) for v in expected]


def outcome(call):
    try:
        return "ok", call()
    except (ValueError, TypeError) as e:
        return type(e), str(e), getattr(e, "__notes__", [])


@pytest.mark.parametrize("kind", TEXT_KINDS)
@pytest.mark.parametrize("cls", [Date, Time, DateTime, OffsetDateTime])
@given(
    texts=st.lists(
        st.one_of(
            rfc3339,
            rfc3339.map(lambda s: s.strip().split("T")[0]),
            rfc3339.map(lambda s: s.strip().split("T")[1][:-1]),
            st.builds(lambda t: t.strip().replace("+00:00", "Z"), rfc3339),
            st.text(max_size=12).filter(lambda s: not s.endswith("\0")),
        ),
        max_size=6,
    )
)
def test_parse_many_reads_each_text_as_cls_parse(kind, cls, texts):
    try:
        expected = [cls.parse(s) for s in texts]
    except (ValueError, UnicodeEncodeError) as e:
        index = next(i for i, s in enumerate(texts) if outcome(lambda s=s: cls.parse(s))[0] != "ok")
        with pytest.raises(type(e)) as info:
            parse_many(cls, texts_as(kind, texts))
        assert str(info.value) == str(e)
        assert info.value.__notes__[-1] == f"at index {index}"
    else:
        got = parse_many(cls, texts_as(kind, texts))
        assert got == expected and all(type(v) is cls for v in got)


# --- to_numpy and from_numpy ------------------------------------------------


def units_of(nanos, unit):
    """Exact count of `unit` in a span of nanoseconds from the epoch, or None."""
    q = Fraction(nanos) / UNIT_NS[unit]
    return q.numerator if q.denominator == 1 else None


def calendar_count(dt, unit):
    d, t = dt.date, dt.time
    if d.day != 1 or (t.hour, t.minute, t.second, t.nanosecond) != (0, 0, 0, 0) or (unit == "Y" and d.month != 1):
        return None
    return d.year - 1970 if unit == "Y" else (d.year - 1970) * 12 + d.month - 1


instants = st.one_of(
    st.integers(MIN_NANOS + DAY_NS, MAX_NANOS - DAY_NS), st.integers(-(2**63), 2**63).map(lambda n: n - n % 10**6)
)
datetimes = instants.map(lambda n: DateTime.from_unix_timestamp(n // 10**9, n % 10**9))
offset_datetimes = st.builds(
    lambda dt, s: OffsetDateTime.from_utc(dt, UtcOffset.from_seconds(s)), datetimes, st.integers(-86400, 86400)
)


@pytest.mark.parametrize("unit", UNITS)
@given(
    values=st.lists(st.one_of(datetimes, offset_datetimes), min_size=1, max_size=4).map(
        lambda vs: [v for v in vs if type(v) is type(vs[0])]
    )
)
def test_datetimes_to_numpy_and_back(unit, values):
    utc = [v if type(v) is DateTime else v.utc for v in values]
    counts = [calendar_count(dt, unit) if unit in "YM" else units_of(dt.unix_timestamp_nanos(), unit) for dt in utc]
    bad = next((i for i, c in enumerate(counts) if c is None or not I64[0] < c <= I64[1]), None)
    if bad is not None:
        with pytest.raises(ValueError, match=rf"^values\[{bad}\] = "):
            to_numpy(values, unit)
        return
    array = to_numpy(values, unit)
    assert array.dtype == np.dtype(f"datetime64[{unit}]")
    assert array.view("int64").tolist() == counts
    assert from_numpy(array) == ([dt.date for dt in utc] if unit == "D" else utc)
    # numpy's own calendar agrees on the dates, where its text reaches (it
    # has no factor from ps, fs and as to days).
    if unit in ("ps", "fs", "as"):
        return
    days = array.astype("datetime64[D]")
    for dt, day in zip(utc, days.tolist(), strict=True):
        if 1 <= dt.date.year <= 9999:
            assert str(day) == str(dt.date)


@pytest.mark.parametrize("unit", [u for u in UNITS if u not in "YM"])
@given(spans=st.lists(st.integers(-(2**127), 2**127 - 1) | st.integers(-(2**70), 2**70), min_size=1, max_size=4))
def test_durations_to_numpy_and_back(unit, spans):
    counts = [units_of(n, unit) for n in spans]
    bad = next((i for i, c in enumerate(counts) if c is None or not I64[0] < c <= I64[1]), None)
    values = [Duration.nanoseconds(n) for n in spans]
    if bad is not None:
        with pytest.raises(ValueError, match=rf"^values\[{bad}\] = "):
            to_numpy(values, unit)
        return
    array = to_numpy(values, unit)
    assert array.dtype == np.dtype(f"timedelta64[{unit}]") and array.view("int64").tolist() == counts
    assert from_numpy(array) == values
    # numpy's own arithmetic: the same span in nanoseconds where they fit.
    if unit != "ns" and all(I64[0] < n <= I64[1] for n in spans) and UNIT_NS[unit] >= 1:
        assert array.astype("timedelta64[ns]").view("int64").tolist() == spans


@given(days=st.lists(st.integers(-784353015833, 784351576776), min_size=1, max_size=4))
def test_dates_to_numpy_and_back(days):
    dates = [Date.from_days_since_unix_epoch(n) for n in days]
    array = to_numpy(dates)
    assert array.dtype == np.dtype("datetime64[D]") and array.view("int64").tolist() == days
    assert from_numpy(array) == dates
    assert format_numpy(array) == [str(d) for d in dates]


def first_refused(raw, count, unit, offset=0):
    """Index of the first element of datetime64[{count}{unit}] that no value
    of merandol holds: past its range (whole years -2**31 to 2**31 - 1), or
    with a local reading at `offset` seconds past it, or with a fraction of
    a nanosecond; None when there is none."""
    for i, r in enumerate(raw):
        n = r * count
        if unit == "D":
            held = MIN_DAY <= n <= MAX_DAY
        elif unit in ("Y", "M"):
            held = I32[0] <= 1970 + (n if unit == "Y" else n // 12) <= I32[1]
        else:
            nanos = Fraction(n) * UNIT_NS[unit]
            held = nanos.denominator == 1 and all(
                MIN_NANOS <= instant <= MAX_NANOS for instant in (nanos, nanos + offset * 10**9)
            )
        if not held:
            return i
    return None


@pytest.mark.parametrize("unit", UNITS)
@given(raw=st.lists(st.integers(-(2**63) + 1, 2**63 - 1), min_size=1, max_size=4), count=st.sampled_from([1, 7]))
@example(raw=[MIN_DAY, MAX_DAY, MAX_DAY + 1], count=1)  # the ends of the range in D
def test_from_numpy_follows_numpys_arithmetic(unit, raw, count):
    """Any int64 values in any unit (with numpy's multiplier): the result's
    distance from the epoch is numpy's own, or the first element that no
    value holds is refused."""
    array = np.array(raw, dtype="int64").view(f"datetime64[{count}{unit}]")
    bad = first_refused(raw, count, unit)
    if bad is not None:
        with pytest.raises(ValueError, match=rf"^array\[{bad}\] = {raw[bad]} of "):
            from_numpy(array)
        return
    got = from_numpy(array)
    if unit == "D":
        assert [d.days_since_unix_epoch() for d in got] == [r * count for r in raw]
    elif unit in "YM":
        assert [calendar_count(dt, unit) for dt in got] == [r * count for r in raw]
    else:
        assert [dt.unix_timestamp_nanos() for dt in got] == [r * count * UNIT_NS[unit] for r in raw]
    # numpy's own calendar: the whole seconds (days for D) since the epoch,
    # away from the ends of int64, where its own floor division wraps around.
    # It has no factor from as to s.
    if unit == "as" or not all(abs(r * count) < 2**62 for r in raw):
        return
    if unit == "D":
        assert [d.days_since_unix_epoch() for d in got] == array.astype("datetime64[D]").view("int64").tolist()
    else:
        assert [dt.unix_timestamp() for dt in got] == array.astype("datetime64[s]").view("int64").tolist()


# --- format_numpy -----------------------------------------------------------


@pytest.mark.parametrize("unit", [*TEXT_UNITS, "W", "h"])
@given(
    raw=st.lists(st.integers(-(2**63) + 1, 2**63 - 1), max_size=4),
    offset=st.none() | st.integers(-86340, 86340).map(lambda s: UtcOffset.from_seconds(s - s % 60)),
)
# In s, local readings past either end of the range.
@example(raw=[0, MAX_SECS], offset=UtcOffset.from_seconds(3600))
@example(raw=[MIN_SECS], offset=UtcOffset.from_seconds(-3600))
def test_format_numpy_reads_back_to_the_same_instants(unit, raw, offset):
    array = np.array(raw, dtype="int64").view(f"datetime64[{unit}]")
    bad = first_refused(raw, 1, unit, 0 if offset is None else offset.as_seconds())
    if bad is not None:
        with pytest.raises(ValueError, match=rf"^array\[{bad}\] = {raw[bad]} of "):
            format_numpy(array, offset)
        return
    texts = format_numpy(array, offset)
    assert [DateTime.parse(t) if offset is None else OffsetDateTime.parse(t).utc for t in texts] == from_numpy(array)
    if unit in TEXT_UNITS:
        assert (parse_to_numpy(texts, unit) == array).all()
    # numpy's own text of the same values.
    if offset is None and unit in TEXT_UNITS:
        assert [DateTime.parse(t + "Z") for t in np.datetime_as_string(array)] == from_numpy(array)


@given(
    pattern=st.sampled_from(["%Y-%m-%d %H:%M:%S", "%Y%m%d%H%M%S", "%d/%m/%Y %H:%M:%S.%f"]),
    unit=st.sampled_from(TEXT_UNITS),
    raw=st.lists(st.integers(-(2**63) + 1, 2**63 - 1) | st.integers(-(2**45), 2**45), max_size=4),
    at=st.sampled_from([None, Zone("Europe/Paris")]) | st.integers(-86399, 86399).map(UtcOffset.from_seconds),
)
def test_a_column_in_a_format_is_each_value_formatted(pattern, unit, raw, at):
    """format_numpy and format_arrow with a pattern write what strftime
    writes of each element's reading (at the offset or zone), Format.format
    outside the years 1000 to 9999, and refuse a column when an element has
    none."""
    form = Format(pattern)
    array = np.array(raw, dtype="int64").view(f"datetime64[{unit}]")
    try:
        local = [
            v if at is None else at.to_local(v) if isinstance(at, Zone) else OffsetDateTime.from_utc(v, at)
            for v in from_numpy(array)
        ]
    except ValueError:
        for write in (format_numpy, format_arrow):
            with pytest.raises(ValueError, match=r"(\[|row )\d+"):
                write(array, at, format=form)
        return
    expected = []
    for v in local:
        reading = v if isinstance(v, DateTime) else v.to_local()
        d, t = reading.date, reading.time
        # Below 1000, %Y before CPython 3.14 writes 999 where merandol writes 0999.
        if 1000 <= d.year <= 9999:
            stamp = datetime(d.year, d.month, d.day, t.hour, t.minute, t.second, t.nanosecond // 1000)
            expected.append(stamp.strftime(pattern))
        else:
            expected.append(form.format(v))
    assert format_numpy(array, at, format=form) == expected
    assert read_column(format_arrow(array, at, format=form)) == ("u", expected)


# --- Refusals and laziness ---------------------------------------------------


@pytest.mark.parametrize("label, call, exc_type, message, notes", COLUMN_CALLS, ids=[c[0] for c in COLUMN_CALLS])
def test_refusals(label, call, exc_type, message, notes):
    if exc_type is None:
        got = call()
        if isinstance(got, np.ndarray):
            got = (str(got.dtype), got.view("int64").tolist())
        if isinstance(got, ArrowColumn):
            got = read_column(got)
        assert got == message and [type(v) for v in got] == [type(v) for v in message]
        return
    with pytest.raises(exc_type) as info:
        call()
    assert str(info.value) == message
    assert getattr(info.value, "__notes__", []) == notes


class FailingExport:
    """One text, iterable, whose buffer export fails with `error`."""

    def __init__(self, error):
        self.error = error

    def __buffer__(self, flags):
        raise self.error

    def __iter__(self):
        return iter(["2024-01-05T12:00:00Z"])


@pytest.mark.parametrize(
    "read", [lambda texts: parse_many(OffsetDateTime, texts), parse_to_numpy], ids=["parse_many", "parse_to_numpy"]
)
def test_a_refused_buffer_is_iterated_and_a_failed_one_raises(read):
    # A refusal of the kind of buffer asked for (numpy's is a ValueError)
    # leaves the texts to be iterated; running out of memory is no refusal.
    assert len(read(FailingExport(BufferError("no such buffer")))) == 1
    assert len(read(FailingExport(ValueError("cannot include dtype 'M' in a buffer")))) == 1
    with pytest.raises(MemoryError):
        read(FailingExport(MemoryError()))


def test_numpy_is_imported_only_when_needed_and_named_when_missing():
    code = (
        "import sys, merandol, merandol_interop as m\n"
        "assert m.parse_many(merandol.Date, ['2024-01-01']) == [merandol.Date(2024, 1, 1)]\n"
        "assert 'numpy' not in sys.modules\n"
        "sys.modules['numpy'] = None\n"
        "try: m.parse_to_numpy([])\n"
        "except ModuleNotFoundError as e: assert 'parse_to_numpy()' in str(e) and 'merandol[numpy]' in str(e)\n"
        "else: raise AssertionError('parse_to_numpy ran without numpy')\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True)


# --- Columns in a format -------------------------------------------------------

PATTERNS = ["%Y-%m-%d %H:%M:%S", "%d/%b/%Y:%H:%M:%S %z", "%Y-%m-%dT%H:%M:%S.%f%z", "%m/%d/%Y", "%I:%M:%S.%f %p"]
OFFSETS = [UTC, timezone(timedelta(hours=5, minutes=30)), timezone(-timedelta(hours=8))]
# Where pandas' nanoseconds reach.
stamps = st.lists(st.datetimes(datetime(1900, 1, 1), datetime(2200, 1, 1), timezones=st.sampled_from(OFFSETS)))


def nanos_of_day(t):
    return (t.hour * 3600 + t.minute * 60 + t.second) * 10**9 + t.nanosecond


@given(st.sampled_from(PATTERNS), stamps, st.sampled_from(TEXT_UNITS))
def test_columns_in_a_format_hold_what_parse_many_reads(pattern, stamps, unit):
    """parse_to_numpy and parse_to_arrow with a pattern hold the values that
    parse_many reads with it, in every unit (a text finer than the unit is
    refused by both), from a list and from an Arrow column; pandas'
    to_datetime reads the same instants."""
    form = Format(pattern)
    texts = [s.strftime(pattern) for s in stamps]
    values = parse_many(form.result, [*texts, None], format=form)
    assert values[-1] is None
    if form.result is Time:
        nanos = [nanos_of_day(t) for t in values[:-1]]
        fits = all(n % UNIT_NS[unit] == 0 for n in nanos)
        expected = (f"timedelta64[{unit}]", [n // UNIT_NS[unit] for n in nanos]) if fits else None
    else:
        try:
            array = to_numpy(values[:-1], "D" if form.result is Date else unit)
            expected = (str(array.dtype), array.view("int64").tolist())
        except ValueError:
            expected = None
    for source in ([*texts, None], Producer([[*texts, None]])):
        try:
            got = parse_to_numpy(source, unit, format=form)
        except ValueError:
            assert expected is None
            continue
        assert expected is not None
        assert (str(got.dtype), got.view("int64").tolist()) == (expected[0], [*expected[1], I64[0]])
        assert read_column(parse_to_arrow(source, unit, format=form))[1] == [*expected[1], None]
    if form.result is not Time and unit == "ns":
        pd = pytest.importorskip("pandas")
        day = DAY_NS if form.result is Date else 1
        assert [n * day for n in expected[1]] == pd.to_datetime(texts, format=pattern, utc=True).as_unit(
            "ns"
        ).asi8.tolist()


@given(st.sampled_from(PATTERNS[:2]), stamps)
def test_arrow_peers_read_a_format_as_parse_to_arrow_does(pattern, stamps):
    pa = pytest.importorskip("pyarrow", reason="pyarrow comes from the benchmark's environment")
    pl = pytest.importorskip("polars", reason="polars comes from the benchmark's environment")
    texts = [s.strftime(pattern) for s in stamps]
    ours = read_column(parse_to_arrow(texts, "us", format=Format(pattern)))[1]
    theirs = pa.compute.strptime(pa.array(texts, pa.string()), format=pattern, unit="us")
    assert theirs.cast(pa.int64()).to_pylist() == ours
    assert pl.Series(texts, dtype=pl.String).str.to_datetime(pattern, time_unit="us").cast(pl.Int64).to_list() == ours
