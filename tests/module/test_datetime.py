import datetime
import time

import pytest
from hypothesis import given
from hypothesis import strategies as st
from merandol import Date, DateTime, Duration, Time

UTC = datetime.UTC
EPOCH = datetime.datetime(1970, 1, 1, tzinfo=UTC)
MAX_TEXT = "2147483647-12-31T23:59:59.999999999Z"
MIN_TEXT = "-2147483648-01-01T00:00:00Z"


def parse(text):
    return DateTime.parse(text)


def test_construction():
    dt = DateTime(Date(2024, 1, 1), Time(12, 0, 0))
    assert str(dt) == "2024-01-01T12:00:00Z"
    assert DateTime(date=Date(2024, 1, 1), time=Time(12, 0, 0)) == dt
    assert dt.date == Date(2024, 1, 1) and dt.time == Time(12, 0, 0)
    assert dt.date is not dt.date


@pytest.mark.parametrize(
    "args, message, name",
    [
        ((Time(1, 2, 3), Time(1, 2, 3)), "'Time' object is not an instance of 'Date'", "date"),
        ((Date(2024, 1, 1), "12:00:00"), "'str' object is not an instance of 'Time'", "time"),
        ((None, Time(1, 2, 3)), "'None' is not an instance of 'Date'", "date"),
    ],
)
def test_construction_refuses_other_objects(args, message, name):
    with pytest.raises(TypeError) as info:
        DateTime(*args)
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{name}'"]


@pytest.mark.parametrize(
    "args, text",
    [
        ((0,), "1970-01-01T00:00:00Z"),
        ((0, 1500000000), "1970-01-01T00:00:01.5Z"),
        ((0, -1), "1969-12-31T23:59:59.999999999Z"),
        ((-1,), "1969-12-31T23:59:59Z"),
        ((0, -(2**31)), "1969-12-31T23:59:57.852516352Z"),
        ((0, 2**31 - 1), "1970-01-01T00:00:02.147483647Z"),
        ((67767976233532799, 999999999), MAX_TEXT),
        ((-67768100567971200,), MIN_TEXT),
    ],
)
def test_from_unix_timestamp(args, text):
    assert str(DateTime.from_unix_timestamp(*args)) == text


@pytest.mark.parametrize(
    "args", [(67767976233532800,), (9223372036854775807, 1000000000), (-67768100567971200, -1), (-(2**63), -1)]
)
def test_from_unix_timestamp_out_of_range(args):
    with pytest.raises(ValueError) as info:
        DateTime.from_unix_timestamp(*args)
    assert info.value.args == ("Invalid timestamp: OutOfRange",)


@pytest.mark.parametrize("args, name", [((0, 2**31), "nanos"), ((2**63,), "secs"), ((0, 1.0), "nanos")])
def test_from_unix_timestamp_conversion(args, name):
    with pytest.raises((OverflowError, TypeError)) as info:
        DateTime.from_unix_timestamp(*args)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_unix_time_readings():
    half = parse("1969-12-31T23:59:59.5Z")
    assert half.unix_timestamp() == -1 and half.unix_timestamp_nanos() == -500000000
    assert parse(MAX_TEXT).unix_timestamp_nanos() == 67767976233532799999999999
    assert DateTime.from_unix_timestamp(secs=5, nanos=7).unix_timestamp_nanos() == 5000000007


def test_add_duration_and_difference():
    day = Duration.seconds(86400)
    assert str(parse("2024-02-28T12:00:00Z").add_duration(day)) == "2024-02-29T12:00:00Z"
    assert parse("2024-02-28T12:00:00Z").add_duration(dur=day) == parse("2024-02-29T12:00:00Z")
    for start, span in [(MAX_TEXT, 1), (MIN_TEXT, -1), ("1970-01-01T00:00:00.000000001Z", 2**127 - 1)]:
        with pytest.raises(ValueError) as info:
            parse(start).add_duration(Duration.nanoseconds(span))
        assert info.value.args == ("DateTime out of range: OutOfRange",)
    a, b = parse("1970-01-01T00:00:01Z"), parse("1970-01-01T00:00:00.5Z")
    assert a.difference(b) == Duration.nanoseconds(500000000)
    assert b.difference(other=a) == Duration.nanoseconds(-500000000)
    span = parse(MAX_TEXT).difference(parse(MIN_TEXT))
    assert parse(MIN_TEXT).add_duration(span) == parse(MAX_TEXT)


@pytest.mark.parametrize(
    "call, message, name",
    [
        (lambda d: d.add_duration(5), "'int' object is not an instance of 'Duration'", "dur"),
        (lambda d: d.difference(Date(2024, 1, 1)), "'Date' object is not an instance of 'DateTime'", "other"),
    ],
)
def test_arguments_of_the_wrong_class(call, message, name):
    with pytest.raises(TypeError) as info:
        call(parse("2024-01-01T00:00:00Z"))
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_parse_and_text():
    assert parse("2024-01-01 12:00:00z") == parse("2024-01-01T12:00:00Z")
    value = parse("2024-01-01T12:00:00.500Z")
    assert repr(value) == "DateTime.parse('2024-01-01T12:00:00.5Z')"
    assert eval(repr(value)) == value
    for text in ["2024-01-01T12:00:00", "2024-01-01", " 2024-01-01T12:00:00Z", "2024-01-01t12:00:00Z", "ünï\x00"]:
        with pytest.raises(ValueError) as info:
            parse(text)
        assert info.value.args == (
            f"Invalid datetime string '{text}'. Expected format: YYYY-MM-DDTHH:MM:SS[.fffffffff]Z",
        )
    with pytest.raises(TypeError) as info:
        parse(None)
    assert info.value.__notes__ == ["while processing 's'"]


def test_comparison():
    assert parse("1969-12-31T23:59:59.999999999Z") < parse("1970-01-01T00:00:00Z")
    assert parse("2024-01-01T00:00:00.000000002Z") > parse("2024-01-01T00:00:00.000000001Z")
    assert parse("-1-12-31T23:59:59Z") < parse("0-01-01T00:00:00Z")
    dt = parse("2024-01-01T00:00:00Z")
    assert dt != "2024-01-01T00:00:00Z" and dt != dt.date
    with pytest.raises(TypeError):
        dt < 1  # noqa: B015


@pytest.mark.parametrize(
    "text, expected",
    [("1970-01-01T00:00:00Z", -5339081515209119773), ("2024-01-01T12:00:00Z", 5219630723068717795)],
)
def test_hash_values(text, expected):
    assert hash(parse(text)) == expected


def test_now_utc_lies_between_two_clock_readings():
    for _ in range(100):
        before = time.time_ns()
        now = DateTime.now_utc()
        after = time.time_ns()
        assert before <= now.unix_timestamp_nanos() <= after


# --- Against the standard library, UTC, microseconds, years 1 to 9999 ------

aware = st.datetimes(
    min_value=datetime.datetime(1, 1, 2), max_value=datetime.datetime(9999, 12, 30), timezones=st.just(UTC)
)


def from_std(value):
    return DateTime(
        Date(value.year, value.month, value.day),
        Time(value.hour, value.minute, value.second, value.microsecond * 1000),
    )


def micros(value):
    return (value - EPOCH) // datetime.timedelta(microseconds=1)


@given(aware)
def test_unix_time_agrees_with_datetime(value):
    dt = from_std(value)
    us = micros(value)
    assert dt.unix_timestamp_nanos() == us * 1000
    assert dt.unix_timestamp() == us // 10**6
    assert DateTime.from_unix_timestamp(us // 10**6, us % 10**6 * 1000) == dt
    iso = value.replace(tzinfo=None).isoformat()
    assert DateTime.parse(iso + "Z") == dt
    expected = iso.rstrip("0").rstrip(".") if "." in iso else iso
    assert str(dt) == expected + "Z"


@given(aware, aware)
def test_arithmetic_and_order_agree_with_datetime(a, b):
    da, db = from_std(a), from_std(b)
    assert da.difference(db).total_nanos() == micros(a) * 1000 - micros(b) * 1000
    assert da.add_duration(db.difference(da)) == db
    assert (da < db) == (a < b) and (da == db) == (a == b) and (da >= db) == (a >= b)
    assert (hash(da) == hash(db)) >= (a == b)
