"""parse_to_arrow and ArrowColumn: against parse_to_numpy over every layout,
chunking, offset and null of a ctypes producer; against producers that lie;
the lifetimes of exported buffers; and, where they are installed, against
pyarrow's cast, polars and DuckDB."""

import ctypes
import datetime as dt
import gc
import itertools
import random
import re
import threading

import merandol_interop as interop
import pytest
from arrow_ctypes import ArrayProducer, ArrowArray, Producer, read_column, struct_of
from hypothesis import example, given
from hypothesis import strategies as st
from merandol import OffsetDateTime, UtcOffset
from merandol_interop import ArrowColumn, Zone, format_arrow, format_numpy, parse_to_arrow, parse_to_numpy
from strategies import rfc3339_texts

try:
    import numpy as np
except ImportError:  # the debug interpreter has no numpy
    np = None

UNITS = ["s", "ms", "us", "ns"]
LAYOUTS = ["utf8", "large_utf8", "string_view"]
needs_numpy = pytest.mark.skipif(np is None, reason="parse_to_numpy, the oracle, makes numpy arrays")
PARIS = Zone("Europe/Paris")
EPOCH = dt.datetime(1970, 1, 1)

rfc3339 = rfc3339_texts(offsets=["Z", "z", "+05:30", "-08:00", "+0100"], separators=["T", " ", "t", "X"])
# Short texts sit inside a string view; the others in its data buffer.
cell = st.one_of(st.none(), rfc3339, st.sampled_from(["", "x", "2024-01-05", "1970-01-01T00:00:00Z"]))


def split(texts, cuts):
    """texts in chunks at the given cut points, an empty chunk at the end."""
    bounds = sorted({0, len(texts), *(c % (len(texts) + 1) for c in cuts)})
    return [texts[a:b] for a, b in itertools.pairwise(bounds)] + [[]]


@needs_numpy
@pytest.mark.parametrize("unit", UNITS)
@pytest.mark.parametrize("layout", LAYOUTS)
@given(
    texts=st.lists(cell, max_size=12),
    cuts=st.lists(st.integers(0, 12), max_size=3),
    offset=st.integers(0, 9),
    table=st.booleans(),
)
@example(texts=[None, "2024-01-05T12:00:00.5Z", None, "x"], cuts=[2], offset=3, table=True)
def test_parse_to_arrow_equals_parse_to_numpy(unit, layout, texts, cuts, offset, table):
    present = [t for t in texts if t is not None]
    rows = [r for r, t in enumerate(texts) if t is not None]
    producer = Producer(split(texts, cuts), layout, offset, table)
    try:
        expected = iter(parse_to_numpy(present, unit).view("int64").tolist())
    except ValueError as e:
        with pytest.raises(type(e)) as info:
            parse_to_arrow(producer, unit)
        notes = getattr(e, "__notes__", [])
        if notes:  # the reader's own error; the note names the row
            assert str(info.value) == str(e)
            assert info.value.__notes__ == [f"at row {rows[int(notes[0].split()[-1])]}"]
        else:
            i = int(str(e).split("]")[0].split("[")[1])
            assert str(info.value).startswith(f"row {rows[i]} = {present[i]!r} ")
        with pytest.raises(type(e)):
            parse_to_numpy(producer, unit)
        return
    values = [None if t is None else next(expected) for t in texts]
    assert read_column(parse_to_arrow(producer, unit)) == (f"ts{unit[0]}:UTC", values)
    nat = parse_to_numpy(producer, unit).view("int64").tolist()
    assert nat == [-(2**63) if v is None else v for v in values]


LIES = [
    ("negative length", LAYOUTS, "a negative length"),
    ("negative offset", LAYOUTS, "a negative offset"),
    ("missing buffer", LAYOUTS, "a missing buffer"),
    ("decreasing offsets", ["utf8", "large_utf8"], "text offsets that decrease"),
    ("view range", ["string_view"], "a string view reaching outside its data buffer"),
]


@pytest.mark.parametrize("function", [parse_to_arrow, parse_to_numpy] if np else [parse_to_arrow])
@pytest.mark.parametrize(
    "lie, layout, words", [(lie, layout, words) for lie, layouts, words in LIES for layout in layouts]
)
@pytest.mark.parametrize("table", [False, True])
def test_a_producer_that_lies_is_refused(function, lie, layout, words, table):
    texts = ["2024-01-05T12:00:00.123456789Z", None, "2024-01-05T12:00:00Z"]
    if table and lie == "negative length":  # the table's own length is sound
        words = "a table longer than its column"
    with pytest.raises(ValueError, match=f"producer declares {words}$"):
        function(Producer([texts, texts], layout, 2, table, lie))


# What else a producer can get wrong: (exported as, the fault, the error).
SHAPE_LIES = [
    (Producer, "no format", False, ValueError, "the Arrow schema has no format"),
    (Producer, "two columns", True, TypeError, "not a table of 2 columns (format '+s')"),
    (Producer, "int64 column", True, TypeError, "not a table's column of format 'l'"),
    (Producer, "no column", True, ValueError, "producer declares a table without its one column"),
    (Producer, "null rows", True, ValueError, "producer declares a table with null rows"),
    (Producer, "get_next silently", False, ValueError, "the Arrow stream failed: Input/output error"),
    (Producer, "no calls", False, ValueError, "producer declares a stream without its calls"),
    (
        ArrayProducer,
        "not a pair",
        False,
        TypeError,
        "__arrow_c_array__() must give a pair of capsules, not 'PyCapsule'",
    ),
]


@pytest.mark.parametrize("kind, lie, table, error, words", SHAPE_LIES)
def test_a_producer_that_gets_the_shape_wrong_is_refused(kind, lie, table, error, words):
    with pytest.raises(error, match=re.escape(words) + "$"):
        parse_to_arrow(kind([["1970-01-01T00:00:00Z"]] * (1 if kind is ArrayProducer else 2), table=table, lie=lie))


def test_format_arrow_refuses_a_schema_without_format():
    with pytest.raises(ValueError, match=r"^format_arrow\(\): the Arrow schema has no format$"):
        format_arrow(Producer([["1970-01-01T00:00:00Z"]], lie="no format"))


def test_a_capsule_is_consumed_once():
    class Reused:
        def __init__(self, pair):
            self.pair = pair

        def __arrow_c_array__(self, requested_schema=None):
            return self.pair

    source = Reused(parse_to_arrow(ArrayProducer([["2024-01-05T12:00:00Z"]])).__arrow_c_array__())
    with pytest.raises(TypeError, match="not of format 'tsn:UTC'"):
        parse_to_arrow(source)
    with pytest.raises(ValueError, match="arrow_schema capsule was consumed already"):
        parse_to_arrow(source)


def test_exported_buffers_outlive_the_column_and_release_on_another_thread():
    texts = ["2024-01-05T12:00:00Z", None, "1969-12-31T23:59:59Z"]
    column = parse_to_arrow(Producer([texts]), "s")
    schema_capsule, array_capsule = column.__arrow_c_array__()
    stream_capsule = column.__arrow_c_stream__()
    # Moved out of the capsule, as a consumer takes it.
    moved = ArrowArray()
    held = struct_of(array_capsule, ArrowArray, b"arrow_array")
    ctypes.memmove(ctypes.addressof(moved), ctypes.addressof(held), ctypes.sizeof(ArrowArray))
    held.release = type(held.release)()
    address = moved.buffers[1]
    assert address == read_column_address(column)  # one buffer for every export
    del column, schema_capsule, array_capsule
    gc.collect()
    assert (ctypes.c_int64 * 3).from_address(address)[::2] == [1704456000, -1]
    # ctypes lets go of the interpreter while a foreign function runs.
    thread = threading.Thread(target=lambda: moved.release(ctypes.pointer(moved)))
    thread.start()
    thread.join()
    assert not moved.release
    del stream_capsule  # released, unread, by its capsule


def read_column_address(column):
    _, capsule = column.__arrow_c_array__()
    return struct_of(capsule, ArrowArray, b"arrow_array").buffers[1]


def test_column_class_is_final_and_not_made_directly():
    with pytest.raises(TypeError):
        ArrowColumn()
    with pytest.raises(TypeError):
        type("Sub", (ArrowColumn,), {})


# Rows enough for three threads of 2^15 rows each at least, so that a
# machine of two cores or more reads the column on several.
LONG_COLUMN = 3 * 2**15 + 7


@pytest.mark.parametrize(
    "pattern, spell, other_shape",
    [
        (None, lambda t: t.isoformat() + "Z", ("Z", "+00:00")),
        ("%Y-%m-%d %H:%M:%S", lambda t: t.strftime("%Y-%m-%d %H:%M:%S"), (" ", "  ")),
        ("%d/%b/%Y:%H:%M:%S %z", lambda t: t.strftime("%d/%b/%Y:%H:%M:%S +0000"), (" ", "  ")),
    ],
    ids=["rfc3339", "database", "web_log"],
)
@pytest.mark.parametrize(
    "refused, layout",
    [((), "utf8"), ((LONG_COLUMN - 1,), "large_utf8"), ((70_000, 5), "string_view")],
    ids=["none_refused", "last_refused", "two_refused"],
)
def test_a_long_column_is_read_in_order_whatever_its_rows(pattern, spell, other_shape, refused, layout):
    """A column long enough to be read on several threads: nulls, texts of
    another shape (an offset written out, two spaces) and texts refused in
    pieces far apart, read as row by row, the first refused row named."""
    draw = random.Random(7)
    expected = [draw.randrange(-(10**10), 10**11) for _ in range(LONG_COLUMN)]
    texts = [spell(EPOCH + dt.timedelta(seconds=s)) for s in expected]
    for row in range(3, LONG_COLUMN, 9_001):
        texts[row] = expected[row] = None
        texts[row + 1] = texts[row + 1].replace(*other_shape, 1)
    for row in refused:
        texts[row] = texts[row].replace("-", "/").replace("/", "-", 1)
    column = Producer([texts], layout)
    if not refused:
        assert read_column(parse_to_arrow(column, "s", format=pattern))[1] == expected
        return
    with pytest.raises(ValueError) as info:
        parse_to_arrow(column, "s", format=pattern)
    assert info.value.__notes__ == [f"at row {min(refused)}"]


@needs_numpy
@pytest.mark.parametrize("unit", ["Y", "M", "W", "D", "h", "m", *UNITS])
@given(
    raw=st.lists(st.integers(-(2**63), 2**63 - 1) | st.integers(-(10**12), 10**12), max_size=8),
    minutes=st.none() | st.integers(-1439, 1439) | st.sampled_from(["Europe/Paris", "America/St_Johns"]),
)
@example(raw=[-(2**63), 0, 2**31 - 1], minutes=None)
def test_format_arrow_equals_format_numpy_with_nat_as_null(unit, raw, minutes):
    """With no offset, a fixed one, or a zone's offset at each instant."""
    array = np.array(raw, dtype="int64").view(f"datetime64[{unit}]")
    if minutes is None or unit == "D":
        offset = None
    else:
        offset = Zone(minutes) if isinstance(minutes, str) else UtcOffset.from_seconds(60 * minutes)
    valid = array[~np.isnat(array)]
    try:
        expected = iter(format_numpy(valid, offset))
    except ValueError:
        with pytest.raises(ValueError, match=r"^row \d+ = -?\d+ of 'datetime64\["):
            format_arrow(array, offset)
        return
    texts = [None if t == -(2**63) else next(expected) for t in raw]
    assert read_column(format_arrow(array, offset)) == ("u", texts)


# --- The Arrow libraries ----------------------------------------------------------


DIGITS = {"s": 0, "ms": 3, "us": 6, "ns": 9}


def sample_texts(n, unit="ns", seed=19):
    """Mixed writer shapes of instants that `unit` holds, every tenth row null."""
    rng = random.Random(seed)
    fractions = [f for f in ("", ".5", ".123", ".123456", ".123456789") if len(f) <= DIGITS[unit] + 1]
    out = []
    for i in range(n):
        if i % 10 == 9:
            out.append(None)
            continue
        secs = rng.randrange(-(9 * 10**9), 9 * 10**9)  # within timestamp[ns]: 2^63 ns are 292 years
        frac = rng.choice(fractions)
        zone = rng.choice(["Z", "+05:30", "-08:00", "+00:00"])
        local = dt.datetime(1970, 1, 1) + dt.timedelta(seconds=secs)
        out.append(local.strftime("%Y-%m-%dT%H:%M:%S") + frac + zone)
    return out


@pytest.fixture(scope="module")
def pa():
    return pytest.importorskip("pyarrow", reason="pyarrow comes from the benchmark's environment")


@pytest.mark.parametrize("unit", UNITS)
def test_pyarrow_layouts_chunks_slices_and_tables(pa, unit):
    texts = sample_texts(3000, unit)
    expected = read_column(parse_to_arrow(Producer([texts]), unit))[1]
    for kind in (pa.string(), pa.large_string(), pa.string_view()):
        array = pa.array(texts, kind)
        sources = [
            (array, expected),
            (array.slice(7, 2000), expected[7:2007]),
            (pa.chunked_array([array[:5], array[5:5], array[5:]]), expected),
            (pa.table({"t": array}), expected),
            (pa.record_batch({"t": array}).slice(3), expected[3:]),
        ]
        for source, want in sources:
            got = pa.array(parse_to_arrow(source, unit))
            assert got.type == pa.timestamp(unit, "UTC")
            assert got.cast(pa.int64()).to_pylist() == want


@pytest.mark.parametrize("unit", UNITS)
def test_format_arrow_of_pyarrow_timestamps_reads_back(pa, unit):
    texts = sample_texts(1000, unit)
    zoned = pa.array(parse_to_arrow(pa.array(texts), unit)).cast(pa.timestamp(unit, "Asia/Kolkata"))
    chunked = pa.chunked_array([zoned[:300], zoned[300:]])
    written = pa.array(format_arrow(chunked, UtcOffset.from_seconds(-3600)))
    assert written.type == pa.string() and written.null_count == 100
    assert pa.array(parse_to_arrow(written, unit)).equals(zoned.cast(pa.timestamp(unit, "UTC")))
    days = pa.array([0, None, -719162], pa.date32())
    assert pa.array(format_arrow(days)).to_pylist() == ["1970-01-01", None, "0001-01-01"]


def test_pyarrow_other_types_are_refused_by_format(pa):
    for array, fmt in [(pa.array([1]), "l"), (pa.array([b"x"]), "z"), (pa.array([0], pa.timestamp("s")), "tss:")]:
        with pytest.raises(TypeError, match=f"not of format '{fmt}'$"):
            parse_to_arrow(array)
    with pytest.raises(TypeError, match="not a table of 2 columns"):
        parse_to_arrow(pa.table({"a": ["x"], "b": ["y"]}))


def test_missing_values_and_every_form_of_texts_read_alike_against_pandas(pa):
    """None, NaN, pandas' NA and an Arrow null are missing values in every
    form of texts: NaT, null or None where pandas' own reader gives NaT."""
    pd, pl = pytest.importorskip("pandas"), pytest.importorskip("polars")
    texts = sample_texts(1000)
    nat = pd.to_datetime(texts, utc=True, format="ISO8601").asi8.tolist()
    forms = [
        texts,
        tuple(float("nan") if t is None else t for t in texts),
        pd.Series([pd.NA if t is None else t for t in texts], dtype=object),
        pd.Series(texts, dtype="string[pyarrow]"),
        pa.chunked_array([texts[:7], texts[7:]], pa.large_string()),
        pl.Series(texts),
    ]
    for source in forms:
        assert parse_to_numpy(source).view("int64").tolist() == nat
        series = pl.Series(parse_to_arrow(source))
        assert series.dtype == pl.Datetime("ns", "UTC")
        assert series.cast(pl.Int64).to_list() == [None if v == -(2**63) else v for v in nat]
        assert interop.parse_many(OffsetDateTime, source) == [t and OffsetDateTime.parse(t) for t in texts]


@needs_numpy
@pytest.mark.parametrize("unit", ["Y", "M", "W", "D", "h", "m", *UNITS])
def test_datetime64_of_every_unit_and_as_a_series_alike(unit):
    """Every function of datetime64 takes each unit, and a pandas Series as
    its array; local readings are those of the same instants in ns."""
    pd = pytest.importorskip("pandas")
    array = parse_to_numpy([t for t in sample_texts(40) if t]).astype(f"datetime64[{unit}]")
    given = pd.Series(array) if unit in UNITS else array
    assert interop.from_numpy(given) == interop.from_numpy(array)
    assert format_numpy(given) == read_column(format_arrow(given))[1]
    for shift in (interop.to_local_numpy, interop.from_local_numpy):
        nanos = shift(array.astype("datetime64[ns]"), PARIS)
        if (nanos.astype(array.dtype) == nanos).all():
            assert (shift(given, PARIS) == nanos).all()
        else:
            with pytest.raises(ValueError, match=r"^array\[\d+\] = -?\d+ of datetime64\[\w+\]: its "):
                shift(given, PARIS)


def texts_producer(texts):
    return Producer([texts], "string_view")


def test_duckdb_queries_the_column_and_gives_texts():
    duckdb = pytest.importorskip("duckdb", reason="DuckDB comes from the benchmark's environment")
    texts = sample_texts(500, "us")
    instants = parse_to_arrow(texts_producer(texts), "us")
    values = [v for v in read_column(instants)[1] if v is not None]
    query = "SELECT count(*), count(COLUMNS(*)), sum(epoch_us(COLUMNS(*))) FROM instants"
    assert duckdb.sql(query).fetchall() == [(500, len(values), sum(values))]
    relation = duckdb.sql("SELECT unnest($texts) AS t", params={"texts": texts})
    assert read_column(parse_to_arrow(relation, "us")) == read_column(instants)
