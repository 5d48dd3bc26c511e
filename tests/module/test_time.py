import pytest
from hypothesis import given
from hypothesis import strategies as st
from merandol import Time


def fields(t):
    return (t.hour, t.minute, t.second, t.nanosecond)


def test_construction():
    assert fields(Time(12, 34, 56)) == (12, 34, 56, 0)
    assert Time(hour=1, minute=2, second=3, nanosecond=4) == Time(1, 2, 3, 4)
    assert Time(1, 2, 3, nanosecond=4) == Time(1, 2, 3, 4)


@pytest.mark.parametrize("args", [(24, 0, 0), (0, 60, 0), (0, 0, 60), (0, 0, 0, 10**9), (255, 0, 0)])
def test_invalid_times(args):
    with pytest.raises(ValueError) as info:
        Time(*args)
    assert info.value.args == ("Invalid time: InvalidTime",)


@pytest.mark.parametrize(
    "args, exc, name",
    [
        ((300, 0, 0), OverflowError, "hour"),
        ((-1, 0, 0), OverflowError, "hour"),
        ((0, 0, 0, 2**32), OverflowError, "nanosecond"),
        ((0, 0, 0, -1), OverflowError, "nanosecond"),
        ((1.5, 0, 0), TypeError, "hour"),
        (("1", 0, 0), TypeError, "hour"),
        ((0, 0, None), TypeError, "second"),
    ],
)
def test_conversion_failures(args, exc, name):
    with pytest.raises(exc) as info:
        Time(*args)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_binding():
    with pytest.raises(TypeError) as info:
        Time(1, 2, 3, 4, 5)
    assert str(info.value) == "Time.__new__() takes from 3 to 4 positional arguments but 5 were given"
    with pytest.raises(TypeError) as info:
        Time(1, nanosecond=2)
    assert str(info.value) == "Time.__new__() missing 2 required positional arguments: 'minute' and 'second'"


@pytest.mark.parametrize(
    "time, text",
    [
        ((0, 0, 0), "00:00:00"),
        ((9, 5, 0), "09:05:00"),
        ((9, 5, 0, 123000), "09:05:00.000123"),
        ((9, 5, 0, 500000000), "09:05:00.5"),
        ((12, 34, 56, 1), "12:34:56.000000001"),
        ((23, 59, 59, 999999999), "23:59:59.999999999"),
    ],
)
def test_text_form(time, text):
    assert str(Time(*time)) == text
    assert Time.parse(text) == Time(*time)


def test_repr():
    assert repr(Time(9, 5, 0, 123000)) == "Time(hour=9, minute=5, second=0, nanosecond=123000)"
    assert repr(Time(9, 5, 0, 500000000)) == "Time(hour=9, minute=5, second=0, nanosecond=500000000)"


def test_parse():
    assert Time.parse("12:34:56.5") == Time(12, 34, 56, 500000000)
    assert Time.parse(s="1:2:3") == Time(1, 2, 3)
    assert str(Time.parse("12:34:56.0")) == "12:34:56"
    for bad in [" 12:34:56", "12:34:56.", "24:00:00", "12:34", "12:34:56.1234567890", "１2:34:56"]:
        with pytest.raises(ValueError) as info:
            Time.parse(bad)
        assert info.value.args == ("Invalid time string: InvalidTime",)
    with pytest.raises(TypeError) as info:
        Time.parse(123)
    assert info.value.__notes__ == ["while processing 's'"]


def test_counts():
    t = Time(23, 59, 59, 999999999)
    assert t.seconds_since_midnight() == 86399
    assert t.nanos_since_midnight() == 86399999999999
    assert Time(0, 0, 0).nanos_since_midnight() == 0


def test_comparison():
    assert Time(0, 0, 0, 1) > Time(0, 0, 0)
    assert Time(0, 0, 0, 1) < Time(0, 0, 1)
    assert Time(1, 2, 3) == Time(1, 2, 3)
    assert Time(1, 2, 3) != "01:02:03"
    with pytest.raises(TypeError):
        Time(1, 2, 3) < 5  # noqa: B015


@pytest.mark.parametrize(
    "time, expected",
    [
        ((0, 0, 0, 0), -8539203582074308692),
        ((12, 34, 56, 789), 1374175347291027543),
        ((23, 59, 59, 999999999), 6725288365840738049),
    ],
)
def test_hash_values(time, expected):
    assert hash(Time(*time)) == expected


@given(st.times())
def test_text_agrees_with_datetime_time(reference):
    t = Time(reference.hour, reference.minute, reference.second, reference.microsecond * 1000)
    iso = reference.isoformat()
    # The standard library keeps six fraction digits; merandol drops trailing zeros.
    expected = iso.rstrip("0").rstrip(".") if "." in iso else iso
    assert str(t) == expected
    assert Time.parse(iso) == t
    assert t.seconds_since_midnight() == reference.hour * 3600 + reference.minute * 60 + reference.second


@given(st.integers(0, 86399999999999), st.integers(0, 86399999999999))
def test_order_follows_nanos_and_text_round_trips(a, b):
    ta = Time(a // 3600 // 10**9, a // 60 // 10**9 % 60, a // 10**9 % 60, a % 10**9)
    tb = Time(b // 3600 // 10**9, b // 60 // 10**9 % 60, b // 10**9 % 60, b % 10**9)
    assert ta.nanos_since_midnight() == a
    assert (ta < tb) == (a < b) and (ta == tb) == (a == b)
    assert Time.parse(str(ta)) == ta
    assert eval(repr(ta)) == ta
    assert (hash(ta) == hash(tb)) >= (a == b)
