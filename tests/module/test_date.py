import datetime

import pytest
from hypothesis import given
from hypothesis import strategies as st
from merandol import Date, Weekday

I32_MIN, I32_MAX = -(2**31), 2**31 - 1
MIN_DAY, MAX_DAY = -784353015833, 784351576776
WEEKDAYS = ["MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY", "SUNDAY"]


def fields(d):
    return (d.year, d.month, d.day)


# --- Construction ----------------------------------------------------------


@pytest.mark.parametrize("args", [(2024, 2, 29), (0, 2, 29), (I32_MIN, 1, 1), (I32_MAX, 12, 31), (-1, 12, 31)])
def test_valid_dates_keep_their_fields(args):
    assert fields(Date(*args)) == args
    assert Date(year=args[0], month=args[1], day=args[2]) == Date(*args)


@pytest.mark.parametrize(
    "args", [(2023, 2, 29), (1900, 2, 29), (2024, 4, 31), (2024, 1, 0), (2024, 0, 1), (2024, 13, 1)]
)
def test_invalid_dates_are_refused(args):
    with pytest.raises(ValueError) as info:
        Date(*args)
    assert info.value.args == ("Invalid date: InvalidDate",)


@pytest.mark.parametrize(
    "args, exc, message, name",
    [
        ((2024, 256, 1), OverflowError, "number too large to fit in target type", "month"),
        ((2024, -1, 1), OverflowError, "number too small to fit in target type", "month"),
        ((2024, 300, 1), OverflowError, "number too large to fit in target type", "month"),
        ((2024, 1, 256), OverflowError, "number too large to fit in target type", "day"),
        ((2**31, 1, 1), OverflowError, "number too large to fit in target type", "year"),
        ((-(2**31) - 1, 1, 1), OverflowError, "number too small to fit in target type", "year"),
        ((2**64, 1, 1), OverflowError, None, "year"),
        ((2024.0, 1, 1), TypeError, None, "year"),
        (("2024", 1, 1), TypeError, None, "year"),
        ((2024, None, 1), TypeError, None, "month"),
        # Conversion comes first: a bad day is reported even when the month is invalid.
        ((2024, 0, "x"), TypeError, None, "day"),
    ],
)
def test_conversion_failures_name_the_argument(args, exc, message, name):
    with pytest.raises(exc) as info:
        Date(*args)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_integer_like_arguments_are_accepted():
    class Index:
        def __index__(self):
            return 7

    assert Date(True, Index(), 1) == Date(1, 7, 1)


# --- Text ------------------------------------------------------------------


@pytest.mark.parametrize(
    "date, text",
    [
        ((2024, 1, 5), "2024-01-05"),
        ((-1, 1, 1), "-001-01-01"),
        ((0, 1, 1), "0000-01-01"),
        ((10000, 1, 1), "10000-01-01"),
        ((-1000, 12, 31), "-1000-12-31"),
        ((I32_MIN, 1, 1), "-2147483648-01-01"),
    ],
)
def test_text_form_reads_back(date, text):
    assert str(Date(*date)) == text
    assert Date.parse(text) == Date(*date)


@pytest.mark.parametrize(
    "date, text",
    [((2024, 1, 5), "Date(year=2024, month=1, day=5)"), ((-1, 1, 1), "Date(year=-1, month=1, day=1)")],
)
def test_repr(date, text):
    assert repr(Date(*date)) == text


@pytest.mark.parametrize("text", [" 2024-01-05", "2024-01-05 ", "2024-02-30", "", "2024-01-05\n", "２０２４-01-05"])
def test_parse_refuses(text):
    with pytest.raises(ValueError) as info:
        Date.parse(text)
    assert info.value.args == ("Invalid date string: InvalidDate",)


def test_parse_argument_must_be_text():
    with pytest.raises(TypeError) as info:
        Date.parse(20240105)
    assert str(info.value) == "'int' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 's'"]
    with pytest.raises(UnicodeEncodeError) as info:
        Date.parse("2024-01-0\udc00")
    assert info.value.__notes__ == ["while processing 's'"]
    assert Date.parse(s="2024-01-05") == Date(2024, 1, 5)


# --- Day numbers and arithmetic ----------------------------------------------


@pytest.mark.parametrize(
    "days, date",
    [(0, (1970, 1, 1)), (-1, (1969, 12, 31)), (MIN_DAY, (I32_MIN, 1, 1)), (MAX_DAY, (I32_MAX, 12, 31))],
)
def test_day_numbers(days, date):
    assert Date.from_days_since_unix_epoch(days) == Date(*date)
    assert Date(*date).days_since_unix_epoch() == days


@pytest.mark.parametrize("days", [MAX_DAY + 1, MIN_DAY - 1, 2**63 - 1, -(2**63)])
def test_day_numbers_out_of_range(days):
    with pytest.raises(ValueError) as info:
        Date.from_days_since_unix_epoch(days)
    assert info.value.args == ("Invalid date: OutOfRange",)


def test_day_number_beyond_64_bits_fails_in_conversion():
    with pytest.raises(OverflowError) as info:
        Date.from_days_since_unix_epoch(2**63)
    assert info.value.__notes__ == ["while processing 'days'"]


def test_add_days():
    assert Date(2024, 1, 1).add_days(-1) == Date(2023, 12, 31)
    assert Date(2024, 1, 1).add_days(days=366) == Date(2025, 1, 1)
    d = Date(2024, 5, 6)
    same = d.add_days(days=0)
    assert same == d and same is not d


@pytest.mark.parametrize("date, days", [((I32_MAX, 12, 31), 1), ((I32_MIN, 1, 1), -1), ((1970, 1, 2), 2**63 - 1)])
def test_add_days_out_of_range(date, days):
    with pytest.raises(ValueError) as info:
        Date(*date).add_days(days)
    assert info.value.args == ("Date out of range: OutOfRange",)


def test_ordinal():
    assert Date(2024, 12, 31).ordinal() == 366
    assert Date(2023, 12, 31).ordinal() == 365
    assert Date(2024, 3, 1).ordinal() == 61


# --- Weekday ----------------------------------------------------------------


def test_weekday_is_the_class_attribute():
    monday = Date(2024, 1, 1).weekday()
    assert monday is Weekday.MONDAY
    assert monday == Weekday.MONDAY
    assert monday.number_from_monday() == 1
    assert str(monday) == repr(monday) == "Monday"
    assert Date(1970, 1, 1).weekday() is Weekday.THURSDAY
    assert Date(1969, 12, 28).weekday() is Weekday.SUNDAY


def test_weekday_attributes():
    names = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]
    for number, (attribute, name) in enumerate(zip(WEEKDAYS, names, strict=False), start=1):
        day = getattr(Weekday, attribute)
        assert day is getattr(Weekday, attribute)
        assert day.number_from_monday() == number
        assert str(day) == repr(day) == name
    assert Weekday.MONDAY != Weekday.TUESDAY
    assert hash(Weekday.MONDAY) == hash(Date(2024, 1, 1).weekday())


def test_weekday_cannot_be_made_or_ordered():
    with pytest.raises(TypeError):
        Weekday()
    with pytest.raises(TypeError):
        type(Weekday.MONDAY)()
    with pytest.raises(TypeError):
        Weekday.MONDAY < Weekday.TUESDAY  # noqa: B015
    with pytest.raises(TypeError):
        Weekday.MONDAY.number_from_monday(1)


# --- Comparison and hashing ---------------------------------------------------


def test_ordering_is_chronological():
    assert Date(2024, 1, 1) < Date(2024, 1, 2)
    assert Date(-1, 12, 31) < Date(0, 1, 1)
    assert Date(2024, 1, 1) <= Date(2024, 1, 1) >= Date(2024, 1, 1)
    assert not Date(2024, 1, 1) != Date(2024, 1, 1)


def test_foreign_operands():
    d = Date(2024, 1, 1)
    assert d != "2024-01-01"
    assert not d == "2024-01-01"
    assert d.__eq__(1) is NotImplemented
    with pytest.raises(TypeError):
        d < 1  # noqa: B015


def test_equal_dates_hash_alike():
    made, parsed = Date(2024, 1, 5), Date.parse("2024-01-05")
    assert made is not parsed
    assert hash(made) == hash(parsed)
    assert len({made, parsed}) == 1


# --- Against the standard library over years 1 to 9999 ------------------------

ORDINAL_OF_EPOCH = datetime.date(1970, 1, 1).toordinal()


@given(st.dates())
def test_agrees_with_datetime_date(reference):
    d = Date(reference.year, reference.month, reference.day)
    assert d.days_since_unix_epoch() == reference.toordinal() - ORDINAL_OF_EPOCH
    assert d.weekday().number_from_monday() == reference.isoweekday()
    assert d.ordinal() == reference.timetuple().tm_yday
    assert str(d) == reference.isoformat()
    assert Date.parse(reference.isoformat()) == d
    assert Date.from_days_since_unix_epoch(reference.toordinal() - ORDINAL_OF_EPOCH) == d


@given(st.dates(), st.integers(-4000, 4000))
def test_add_days_and_order_agree_with_datetime_date(reference, days):
    d = Date(reference.year, reference.month, reference.day)
    try:
        expected = reference + datetime.timedelta(days=days)
    except OverflowError:
        return
    moved = d.add_days(days)
    assert fields(moved) == (expected.year, expected.month, expected.day)
    assert (moved < d) == (expected < reference)
    assert (moved == d) == (expected == reference)


@given(st.integers(MIN_DAY, MAX_DAY))
def test_day_numbers_round_trip_over_the_whole_range(days):
    d = Date.from_days_since_unix_epoch(days)
    assert d.days_since_unix_epoch() == days
    assert Date.parse(str(d)) == d
    assert eval(repr(d)) == d
