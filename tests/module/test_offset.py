import datetime

import pytest
from hypothesis import given
from hypothesis import strategies as st
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset

EXPECTED_FORMAT = "Expected RFC 3339 format: YYYY-MM-DDTHH:MM:SS[.fffffffff][Z|\u00b1HH:MM]"
TOP = "2147483647-12-31T23:00:00Z"


def parse(text):
    return OffsetDateTime.parse(text)


# --- UtcOffset -------------------------------------------------------------


@pytest.mark.parametrize(
    "seconds, text, utc",
    [
        (86400, "+24:00", False),
        (-86400, "-24:00", False),
        (0, "+00:00", True),
        (-30, "-00:00", False),
        (19800, "+05:30", False),
        (-28800, "-08:00", False),
        (3661, "+01:01", False),
    ],
)
def test_offset_from_seconds(seconds, text, utc):
    offset = UtcOffset.from_seconds(seconds)
    assert str(offset) == text
    assert offset.as_seconds() == seconds
    assert offset.is_utc() is utc
    assert repr(offset) == f"UtcOffset.from_seconds({seconds})"
    assert eval(repr(offset)) == offset


def test_offset_from_hours_minutes():
    west = UtcOffset.from_hours_minutes(False, 5, 30)
    assert west.as_seconds() == -19800 and str(west) == "-05:30"
    assert repr(west) == "UtcOffset.from_seconds(-19800)"
    assert UtcOffset.from_hours_minutes(sign_positive=True, hours=23, minutes=59).as_seconds() == 86340
    assert UtcOffset.from_hours_minutes(False, 0, 0).is_utc()
    assert UtcOffset.from_seconds(3600) == UtcOffset.from_hours_minutes(True, 1, 0)
    assert hash(UtcOffset.from_seconds(3600)) == hash(UtcOffset.from_hours_minutes(True, 1, 0))


@pytest.mark.parametrize(
    "call",
    [
        lambda: UtcOffset.from_seconds(86401),
        lambda: UtcOffset.from_seconds(-86401),
        lambda: UtcOffset.from_hours_minutes(True, 24, 0),
        lambda: UtcOffset.from_hours_minutes(True, 0, 60),
    ],
)
def test_offset_out_of_range(call):
    with pytest.raises(ValueError) as info:
        call()
    assert info.value.args == ("Invalid offset: OutOfRange",)


@pytest.mark.parametrize(
    "call, exc, message, name",
    [
        (lambda: UtcOffset.from_seconds(2**31), OverflowError, "number too large to fit in target type", "seconds"),
        (
            lambda: UtcOffset.from_hours_minutes(True, 256, 0),
            OverflowError,
            "number too large to fit in target type",
            "hours",
        ),
        (
            lambda: UtcOffset.from_hours_minutes(True, -1, 0),
            OverflowError,
            "number too small to fit in target type",
            "hours",
        ),
        (
            lambda: UtcOffset.from_hours_minutes(1, 1, 0),
            TypeError,
            "'int' object is not an instance of 'bool'",
            "sign_positive",
        ),
        (
            lambda: UtcOffset.from_hours_minutes(None, 1, 0),
            TypeError,
            "'NoneType' object is not an instance of 'bool'",
            "sign_positive",
        ),
    ],
)
def test_offset_conversion_failures(call, exc, message, name):
    with pytest.raises(exc) as info:
        call()
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_offset_comparison():
    assert UtcOffset.from_seconds(-1) < UtcOffset.from_seconds(0) <= UtcOffset.from_seconds(0)
    assert UtcOffset.from_seconds(0) != 0 and not UtcOffset.from_seconds(0) == 0
    with pytest.raises(TypeError):
        UtcOffset.from_seconds(0) < 0  # noqa: B015


@pytest.mark.parametrize("seconds, expected", [(0, -3737345886862931216), (3600, -6999854392838765814)])
def test_offset_hash_values(seconds, expected):
    assert hash(UtcOffset.from_seconds(seconds)) == expected


# --- OffsetDateTime ---------------------------------------------------------


def test_parse_and_readings():
    v = parse("2024-03-10T12:00:00+05:30")
    assert str(v) == "2024-03-10T12:00:00+05:30"
    assert repr(v) == "OffsetDateTime.parse('2024-03-10T12:00:00+05:30')"
    assert eval(repr(v)) == v
    assert v.utc == DateTime.parse("2024-03-10T06:30:00Z")
    assert v.offset.as_seconds() == 19800
    assert v.to_local() == DateTime.parse("2024-03-10T12:00:00Z")
    assert hash(v) == -6486097509943757896


def test_same_instant_under_two_offsets():
    a, b = parse("2024-03-10T12:00:00+05:30"), parse("2024-03-10T06:30:00Z")
    assert a != b and not a == b
    assert a <= b and a >= b and not a < b and not a > b
    assert a.difference(b) == Duration.nanoseconds(0)
    assert a.unix_timestamp() == b.unix_timestamp() and a.unix_timestamp_nanos() == b.unix_timestamp_nanos()


@pytest.mark.parametrize(
    "text, written",
    [
        ("  2024-03-10 12:00:00+0530 ", "2024-03-10T12:00:00+05:30"),
        ("2024-03-10T12:00:00z", "2024-03-10T12:00:00Z"),
        ("2024-03-10T12:00:00-00:00", "2024-03-10T12:00:00Z"),
        ("2024-03-10T12:00:00+05", "2024-03-10T12:00:00+05:00"),
        ("2024-03-10T12:00:00+5:3", "2024-03-10T12:00:00+05:03"),
        ("\u30002024-03-10T12:00:00.500Z\u00a0\n", "2024-03-10T12:00:00.5Z"),
    ],
)
def test_parse_variants(text, written):
    assert str(parse(text)) == written


@pytest.mark.parametrize(
    "text",
    [
        "2024-03-10T12:00:00",
        "2024-03-10t12:00:00Z",
        "2024-03-10T12:00:00+24:00",
        "  bad\u3000",
        "",
        "-2147483648-01-01T00:30:00+01:00",
        "2024-03-10T12:00:00+05:30:00",
        "2024-03-10T12:00:00 +05:30",
    ],
)
def test_parse_failure_quotes_the_text_untrimmed(text):
    with pytest.raises(ValueError) as info:
        parse(text)
    assert info.value.args == (f"Invalid offset datetime string '{text}'. {EXPECTED_FORMAT}",)


def test_from_local_and_from_utc():
    offset = UtcOffset.from_seconds(3600)
    v = OffsetDateTime.from_local(Date(2024, 1, 1), Time(0, 30, 0, 500000000), offset)
    assert v.utc == DateTime.parse("2023-12-31T23:30:00.5Z") and v.offset == offset
    assert OffsetDateTime.from_local(date=Date(2024, 1, 1), time=Time(0, 30, 0), offset=offset) == parse(
        "2024-01-01T00:30:00+01:00"
    )
    with pytest.raises(ValueError) as info:
        OffsetDateTime.from_local(Date(-(2**31), 1, 1), Time(0, 30, 0), offset)
    assert info.value.args == ("Invalid local datetime: OutOfRange",)
    u = OffsetDateTime.from_utc(utc=DateTime.parse("2024-01-01T00:00:00Z"), offset=offset)
    assert str(u) == "2024-01-01T01:00:00+01:00"


def test_local_reading_out_of_range_is_still_a_value():
    v = OffsetDateTime.from_utc(DateTime.parse(TOP), UtcOffset.from_seconds(3600))
    with pytest.raises(ValueError) as info:
        v.to_local()
    assert info.value.args == ("Local datetime out of range: OutOfRange",)
    # Printing raises an ordinary ValueError, so that logging it cannot
    # escape an `except Exception` handler.
    for text in (str, repr):
        with pytest.raises(ValueError) as info:
            text(v)
        assert info.value.args == ("OffsetDateTime local representation out of range: OutOfRange",)
    assert isinstance(hash(v), int) and v.unix_timestamp() == DateTime.parse(TOP).unix_timestamp()
    assert v.utc == DateTime.parse(TOP) and v.offset.as_seconds() == 3600
    assert v == OffsetDateTime.from_utc(DateTime.parse(TOP), UtcOffset.from_seconds(3600))
    back = v.add_duration(Duration.nanoseconds(-1))
    assert back.to_local() == DateTime.parse("2147483647-12-31T23:59:59.999999999Z")
    assert str(OffsetDateTime.from_utc(DateTime.parse(TOP), UtcOffset.from_seconds(-3600))) == (
        "2147483647-12-31T22:00:00-01:00"
    )


def test_add_duration_out_of_range():
    v = parse("2147483647-12-31T23:59:59.999999999Z")
    for span in (1, 2**127 - 1):
        with pytest.raises(ValueError) as info:
            v.add_duration(Duration.nanoseconds(span))
        assert info.value.args == ("DateTime out of range: OutOfRange",)


def test_add_duration_keeps_offset_and_nanosecond():
    v = parse("2024-02-28T23:59:59.25+05:30")
    moved = v.add_duration(Duration.seconds(1))
    assert str(moved) == "2024-02-29T00:00:00.25+05:30"
    assert moved.add_duration(dur=Duration.seconds(-1)) == v


@pytest.mark.parametrize(
    "call, message, name",
    [
        (lambda v: v.add_duration(5), "'int' object is not an instance of 'Duration'", "dur"),
        (
            lambda v: v.difference(DateTime.parse("2024-01-01T00:00:00Z")),
            "'DateTime' object is not an instance of 'OffsetDateTime'",
            "other",
        ),
        (
            lambda v: OffsetDateTime.from_utc(v, UtcOffset.from_seconds(0)),
            "'OffsetDateTime' object is not an instance of 'DateTime'",
            "utc",
        ),
        (
            lambda v: OffsetDateTime.from_local(Date(2024, 1, 1), Time(0, 0, 0), None),
            "'None' is not an instance of 'UtcOffset'",
            "offset",
        ),
        (lambda v: OffsetDateTime.parse(b"x"), "'bytes' object is not an instance of 'str'", "s"),
    ],
)
def test_arguments_of_the_wrong_class(call, message, name):
    with pytest.raises(TypeError) as info:
        call(parse("2024-01-01T00:00:00Z"))
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_comparison_with_foreign_objects():
    v = parse("2024-01-01T00:00:00Z")
    assert v != v.utc and v != "2024-01-01T00:00:00Z"
    with pytest.raises(TypeError):
        v < v.utc  # noqa: B015


# --- Against the standard library: whole-minute offsets, microseconds --------

UTC = datetime.UTC
EPOCH = datetime.datetime(1970, 1, 1, tzinfo=UTC)
naive = st.datetimes(min_value=datetime.datetime(1, 1, 2), max_value=datetime.datetime(9999, 12, 30))
minutes = st.integers(-1439, 1439)


def zone(m):
    return datetime.timezone(datetime.timedelta(minutes=m))


def written(value):
    """The standard isoformat, as merandol writes it: no trailing fraction
    zeros, and "Z" for a zero offset."""
    iso = value.isoformat()
    stamp, offset = iso[:-6], iso[-6:]
    if "." in stamp:
        stamp = stamp.rstrip("0").rstrip(".")
    return stamp + ("Z" if offset == "+00:00" else offset)


@given(naive, minutes)
def test_text_agrees_with_datetime(local, m):
    value = local.replace(tzinfo=zone(m))
    v = parse(value.isoformat())
    assert v == OffsetDateTime.from_local(
        Date(local.year, local.month, local.day),
        Time(local.hour, local.minute, local.second, local.microsecond * 1000),
        UtcOffset.from_seconds(m * 60),
    )
    assert v.unix_timestamp_nanos() == (value - EPOCH) // datetime.timedelta(microseconds=1) * 1000
    assert str(v) == written(value)
    assert datetime.datetime.fromisoformat(str(v)) == value
    assert eval(repr(v)) == v


@given(naive, minutes, naive, minutes)
def test_order_and_difference_agree_with_datetime(a, ma, b, mb):
    x, y = a.replace(tzinfo=zone(ma)), b.replace(tzinfo=zone(mb))
    vx, vy = parse(x.isoformat()), parse(y.isoformat())
    assert (vx < vy) == (x < y) and (vx <= vy) == (x <= y) and (vx >= vy) == (x >= y)
    assert vx.difference(vy).total_nanos() == (x - y) // datetime.timedelta(microseconds=1) * 1000
    assert (vx == vy) == (x == y and ma == mb)
