"""Conventions every class follows: registration, class flags, argument
binding and conversion messages, hashing and comparison."""

import gc
import importlib
import importlib.metadata
import os
import pathlib
import sys
import tomllib
import weakref

import merandol
import merandol_interop
import pytest
from hypothesis import given
from hypothesis import strategies as st
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset, Weekday

REGISTERED = ["Weekday", "Date", "Time", "Duration", "DateTime", "UtcOffset", "OffsetDateTime"]
CLASSES = [getattr(merandol, name) for name in REGISTERED]


def test_version_is_the_packages():
    """The installed wheel's metadata gives it; the build tree's is pyproject.toml's."""
    if os.environ.get("MERANDOL_EXPECT_INSTALLED"):
        assert "site-packages" in merandol.__file__
        assert merandol_interop.__version__ == importlib.metadata.version("merandol")
    else:
        project = tomllib.loads((pathlib.Path(__file__).parents[2] / "pyproject.toml").read_text())["project"]
        assert merandol_interop.__version__ == project["version"]


def test_module_attributes():
    assert merandol.__all__ == REGISTERED
    assert merandol.__doc__ == ""
    assert not hasattr(merandol, "PanicException")


def test_reimport_registers_the_same_classes():
    saved = sys.modules.pop("merandol")
    try:
        again = importlib.import_module("merandol")
        assert again is not saved
        assert again.__all__ == REGISTERED
        for name in REGISTERED:
            assert getattr(again, name) is getattr(saved, name)
    finally:
        sys.modules["merandol"] = saved


@pytest.mark.parametrize("cls", CLASSES, ids=REGISTERED)
def test_class_names_and_flags(cls):
    assert cls.__module__ == "merandol"
    assert cls.__qualname__ == cls.__name__
    assert repr(cls) == f"<class 'merandol.{cls.__name__}'>"
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_class_docs():
    assert Date.__doc__ == Time.__doc__ == DateTime.__doc__ == ""
    assert DateTime.__text_signature__ == "(date, time)"
    assert Date.__text_signature__ == "(year, month, day)"
    assert Time.__text_signature__ == "(hour, minute, second, nanosecond=0)"
    for cls in (Weekday, Duration, UtcOffset, OffsetDateTime):
        assert cls.__doc__ is None


@pytest.mark.parametrize("cls", [Weekday, Duration, UtcOffset, OffsetDateTime])
def test_classes_without_constructor_refuse_calls(cls):
    with pytest.raises(TypeError, match=f"cannot create 'merandol.{cls.__name__}' instances"):
        cls()


@pytest.mark.parametrize(
    "value",
    [
        Date(2024, 1, 1),
        Weekday.MONDAY,
        Time(1, 2, 3),
        Duration.seconds(1),
        DateTime.from_unix_timestamp(0),
        UtcOffset.from_seconds(0),
        OffsetDateTime.parse("2024-01-01T00:00:00Z"),
    ],
    ids=["Date", "Weekday", "Time", "Duration", "DateTime", "UtcOffset", "OffsetDateTime"],
)
def test_instances_are_small_fixed_values(value):
    with pytest.raises(AttributeError):
        value.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(value)
    assert not gc.is_tracked(value)
    assert not hasattr(value, "__dict__")


def test_properties_are_read_only():
    d = Date(2024, 1, 1)
    with pytest.raises(AttributeError):
        d.year = 2025
    with pytest.raises(AttributeError):
        del d.month


def test_sizes_are_header_plus_value():
    header = object.__basicsize__
    assert sys.getsizeof(Date(2024, 1, 1)) == header + 8
    assert sys.getsizeof(Time(1, 2, 3)) == header + 8
    assert sys.getsizeof(Duration.seconds(1)) == header + 16
    assert sys.getsizeof(DateTime.from_unix_timestamp(0)) == header + 16
    assert sys.getsizeof(UtcOffset.from_seconds(0)) == header + 8
    assert sys.getsizeof(OffsetDateTime.parse("2024-01-01T00:00:00Z")) == header + 24


# --- Argument binding ------------------------------------------------------


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Date(), "Date.__new__() missing 3 required positional arguments: 'year', 'month', and 'day'"),
        (lambda: Date(2024), "Date.__new__() missing 2 required positional arguments: 'month' and 'day'"),
        (lambda: Date(2024, 1), "Date.__new__() missing 1 required positional argument: 'day'"),
        (lambda: Date(2024, day=1), "Date.__new__() missing 1 required positional argument: 'month'"),
        (lambda: Date(1, 2, 3, 4), "Date.__new__() takes 3 positional arguments but 4 were given"),
        (lambda: Date(2024, 1, 1, year=1), "Date.__new__() got multiple values for argument 'year'"),
        (lambda: Date(2024, 1, 1, years=1), "Date.__new__() got an unexpected keyword argument 'years'"),
        (lambda: Date.parse(), "Date.parse() missing 1 required positional argument: 's'"),
        (lambda: Date.parse("a", "b"), "Date.parse() takes 1 positional arguments but 2 were given"),
        (lambda: Date.parse("a", s="b"), "Date.parse() got multiple values for argument 's'"),
        (lambda: Date.parse(t="b"), "Date.parse() got an unexpected keyword argument 't'"),
        (lambda: Date(1, 1, 1).add_days(1, 2), "Date.add_days() takes 1 positional arguments but 2 were given"),
        (
            lambda: Date.from_days_since_unix_epoch(),
            "Date.from_days_since_unix_epoch() missing 1 required positional argument: 'days'",
        ),
        (lambda: Date.from_days_since_unix_epoch(**{"d\udc00": 1}), None),
        (lambda: Duration.seconds(), "Duration.seconds() missing 1 required positional argument: 'secs'"),
        (lambda: Duration.seconds(1, 2), "Duration.seconds() takes 1 positional arguments but 2 were given"),
        (lambda: Duration.seconds(1, secs=2), "Duration.seconds() got multiple values for argument 'secs'"),
        (lambda: Duration.seconds(sec=2), "Duration.seconds() got an unexpected keyword argument 'sec'"),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    if message is not None:
        assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


def test_keywords_bind_by_their_text():
    # A str subclass and a non-ASCII name are read through their UTF-8.
    class Name(str):
        pass

    assert Date(2024, 1, **{Name("day"): 8}) == Date(2024, 1, 8)
    with pytest.raises(TypeError, match="unexpected keyword argument 'dáy'"):
        Date(2024, 1, **{"dáy": 8})


def test_keywords_are_checked_in_order():
    # The unexpected keyword comes first, so it is the one reported.
    with pytest.raises(TypeError, match="unexpected keyword argument 'x'"):
        Date(x=1, year=1, month=1, day=1)


def test_methods_without_parameters_refuse_arguments():
    with pytest.raises(TypeError):
        Date(2024, 1, 1).ordinal(1)


# --- Conversion --------------------------------------------------------------


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise RuntimeError("no index")


class IntSub(int):
    pass


@pytest.mark.parametrize(
    "value, result",
    [(5, 5), (True, 1), (IntSub(9), 9), (Index(3), 3), (2**63 - 1, 2**63 - 1), (-(2**63), -(2**63))],
)
def test_signed_64_accepts_integers(value, result):
    if abs(result) < 10**11:
        assert Date.from_days_since_unix_epoch(value).days_since_unix_epoch() == result
    else:  # converted, then refused by the range check of the core
        with pytest.raises(ValueError, match=r"^Invalid date: OutOfRange$"):
            Date.from_days_since_unix_epoch(value)


@pytest.mark.parametrize(
    "value, exc",
    [
        (1.5, TypeError),
        ("1", TypeError),
        (None, TypeError),
        (BadIndex(), RuntimeError),
        (2**63, OverflowError),
        (-(2**63) - 1, OverflowError),
        (Index(2**64), OverflowError),
    ],
)
def test_signed_64_failures_carry_the_note(value, exc):
    with pytest.raises(exc) as info:
        Date.from_days_since_unix_epoch(value)
    assert info.value.__notes__ == ["while processing 'days'"]


def test_text_accepts_str_subclasses():
    class Text(str):
        pass

    assert Date.parse(Text("2024-01-01")) == Date(2024, 1, 1)


@pytest.mark.parametrize("value, name", [(b"2024-01-01", "bytes"), (None, "NoneType"), (Date(1, 1, 1), "Date")])
def test_text_refuses_other_objects(value, name):
    with pytest.raises(TypeError) as info:
        Date.parse(value)
    assert str(info.value) == f"'{name}' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 's'"]


# --- Hash -------------------------------------------------------------------


@given(st.integers(-784353015833, 784351576776))
def test_hash_is_never_minus_one(days):
    d = Date.from_days_since_unix_epoch(days)
    assert hash(d) != -1
    assert hash(d) == hash(Date(d.year, d.month, d.day))
