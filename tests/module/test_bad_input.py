"""Arbitrary text and arbitrary objects fed to every member (as listed in
catalogue.py): only the documented exceptions arise, each with its message
and note, and the readers accept exactly what their references accept."""

import datetime as dt
import operator
import re
import zoneinfo

import pytest
from catalogue import (
    COMPARABLE,
    I64,
    I128,
    MEMBERS,
    OPERATOR_ERRORS,
    OPERATORS,
    READERS,
    SAMPLES,
    TEXT_SLOTS,
    WHITE_SPACE,
    BadIndex,
    Bool,
    Int,
    Int128,
    Refused,
    Text,
    convert,
)
from hypothesis import given, settings
from hypothesis import strategies as st
from merandol import Date, DateTime, OffsetDateTime, Time
from merandol_interop import (
    HTTP_DATE,
    ISO8601,
    RFC2822,
    Format,
    format_numpy,
    from_numpy,
    from_stdlib,
    parse_many,
    parse_to_numpy,
    to_numpy,
    to_stdlib,
)

try:
    import numpy as np
except ImportError:  # the free-threaded interpreter has none
    np = None


class IntSub(int):
    pass


class StrSub(str):
    pass


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value})"


# Decimal digits of other scripts, fullwidth and mathematical digits, and
# superscripts: none of them is an ASCII digit.
OTHER_DIGITS = list("٣۵५০๑໒༣၄០᠑０９𝟘𝟡¹²³")
SEPARATORS = ["-", "+", ":", ".", ",", "/", "T", "t", "Z", "z", "_", "\x00", "\udc80", "\ud800", "−"]
NUMBERS = [
    "0",
    "1",
    "9",
    "12",
    "23",
    "24",
    "29",
    "30",
    "31",
    "59",
    "60",
    "2024",
    "999999999",
    "1000000000",
    "2147483647",
    "2147483648",
    "0" * 60,
    "9" * 60,
    "1" + "0" * 40,
]

fragments = st.one_of(
    st.sampled_from(list(WHITE_SPACE) + OTHER_DIGITS + SEPARATORS + NUMBERS),
    st.integers(0, 10**12).map(str),
    st.text(st.characters(codec=None, exclude_categories=()), max_size=3),
)
texts = st.one_of(
    st.text(st.characters(exclude_categories=()), max_size=40),  # lone surrogates included
    st.lists(fragments, max_size=12).map("".join),
)


@st.composite
def edited(draw, base):
    """A valid text with one fragment inserted, replaced or removed."""
    text = draw(base)
    at = draw(st.integers(0, len(text)))
    cut = draw(st.integers(0, min(2, len(text) - at)))
    return text[:at] + draw(st.one_of(st.just(""), fragments)) + text[at + cut :]


valid_texts = st.one_of(*[st.sampled_from(SAMPLES[cls]).map(str) for cls in (SAMPLES.keys()) if cls in TEXT_SLOTS])
reader_texts = st.one_of(texts, edited(valid_texts), valid_texts)

instances = st.one_of(*[st.sampled_from(samples) for samples in SAMPLES.values()])
integers = st.one_of(
    st.integers(),
    st.integers(-(2**140), 2**140),
    st.sampled_from(
        [
            0,
            1,
            -1,
            255,
            256,
            2**31,
            -(2**31) - 1,
            2**32,
            I64[0],
            I64[1],
            I64[0] - 1,
            I64[1] + 1,
            I128[0],
            I128[1],
            I128[0] - 1,
            I128[1] + 1,
        ]
    ),
)
objects = st.one_of(
    integers,
    st.booleans(),
    st.floats(),
    st.none(),
    texts,
    st.binary(max_size=8),
    integers.map(IntSub),
    texts.map(StrSub),
    integers.map(Index),
    st.builds(BadIndex),
    instances,
    st.just(object()),
    st.just(IntSub),
    st.complex_numbers(max_magnitude=10),
)


def argument(target):
    """Mostly what the target accepts, near its edges, else anything."""
    if isinstance(target, Int):
        valid = st.one_of(
            st.integers(target.lo, target.hi),
            st.sampled_from([target.lo, target.hi, 0]),
            st.sampled_from([target.lo - 1, target.hi + 1]),
        )
    elif isinstance(target, Int128):
        valid = st.one_of(st.integers(*I128), st.sampled_from([*I128, 0]))
    elif isinstance(target, Bool):
        valid = st.booleans()
    elif isinstance(target, Text):
        valid = reader_texts
    else:
        valid = st.sampled_from(SAMPLES[target.cls])
    return st.one_of(valid, valid, objects)


def fn(member):
    return f"{member.owner.__name__}.{member.name}()"


def expect_raise(call, exc_type, message=None, note=None):
    with pytest.raises(exc_type) as info:
        call()
    if message is not None:
        assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) == ([note] if note else None)


with_params = [m for m in MEMBERS if m.params]


@pytest.mark.parametrize("member", with_params, ids=[m.label for m in with_params])
@given(data=st.data())
def test_arbitrary_arguments(member, data):
    receiver = data.draw(st.sampled_from(SAMPLES[member.owner]), label="self") if member.instance else None
    count = data.draw(st.integers(member.needed, len(member.params)), label="count")
    params = member.params[:count]
    args = [data.draw(argument(target), label=name) for name, target in params]
    by_keyword = data.draw(st.booleans(), label="by keyword")
    call = (
        (lambda: member.call(receiver, **{name: a for (name, _), a in zip(params, args, strict=False)}))
        if by_keyword
        else (lambda: member.call(receiver, *args))
    )

    values = []
    for (name, target), arg in zip(params, args, strict=False):
        try:
            values.append(convert(target, arg))
        except Refused as refused:
            return expect_raise(call, refused.exc_type, refused.message, f"while processing '{name}'")
    message, check = member.oracle(receiver, *values)
    if message is not None:
        return expect_raise(call, ValueError, message)
    result = call()
    assert type(result) in SAMPLES or type(result) in (int, float, bool, str)
    if check is not None:
        assert check(result), (args, result)


@pytest.mark.parametrize("reader, reference, fields, message", READERS, ids=[r[0].__qualname__ for r in READERS])
@settings(max_examples=4 * settings.default.max_examples)
@given(text=reader_texts)
def test_readers_accept_exactly_what_the_reference_accepts(reader, reference, fields, message, text):
    try:
        text.encode()
    except UnicodeEncodeError:
        return expect_raise(lambda: reader(text), UnicodeEncodeError, note="while processing 's'")
    expected = reference(text)
    if expected is None:
        expect_raise(lambda: reader(text), ValueError, message(text))
    else:
        value = reader(text)
        assert fields(value) == expected
        assert fields(reader(str(value))) == expected


@pytest.mark.parametrize("member", with_params, ids=[m.label for m in with_params])
@given(data=st.data())
def test_binding_refuses_foreign_keywords(member, data):
    receiver = SAMPLES[member.owner][0] if member.instance else None
    names = {name for name, _ in member.params}
    bad = data.draw(texts.filter(lambda s: s not in names), label="keyword")
    expect_raise(
        lambda: member.call(receiver, **{bad: 1}), TypeError, f"{fn(member)} got an unexpected keyword argument '{bad}'"
    )
    args = [data.draw(argument(t)) for _, t in member.params] + [data.draw(objects)]
    k = len(args)
    counts = (
        f"{len(member.params)} positional arguments"
        if member.needed == len(member.params)
        else f"from {member.needed} to {len(member.params)} positional arguments"
    )
    expect_raise(
        lambda: member.call(receiver, *args),
        TypeError,
        f"{fn(member)} takes {counts} but {k} {'was' if k == 1 else 'were'} given",
    )


without_params = [m for m in MEMBERS if not m.params]


@pytest.mark.parametrize("member", without_params, ids=[m.label for m in without_params])
@given(data=st.data())
def test_members_without_parameters(member, data):
    receiver = data.draw(st.sampled_from(SAMPLES[member.owner]))
    result = member.call(receiver)
    assert type(result) in SAMPLES or type(result) in (int, float, bool, str)
    if member.kind == "property":
        with pytest.raises(AttributeError):
            setattr(receiver, member.name, data.draw(objects))
        with pytest.raises(AttributeError):
            delattr(receiver, member.name)
    else:
        with pytest.raises(TypeError):
            getattr(receiver, member.name)(data.draw(objects))


ORDERINGS = [operator.lt, operator.le, operator.gt, operator.ge]


@pytest.mark.parametrize("cls", COMPARABLE, ids=[c.__name__ for c in COMPARABLE])
@given(data=st.data())
def test_comparison_with_anything(cls, data):
    value = data.draw(st.sampled_from(SAMPLES[cls]))
    other = data.draw(st.one_of(objects, st.sampled_from(SAMPLES[cls])))
    if isinstance(other, cls):
        assert (value == other) == (repr(value) == repr(other))
        assert (value != other) == (repr(value) != repr(other))
        for order in ORDERINGS:
            assert isinstance(order(value, other), bool)
        return
    assert cls.__eq__(value, other) is NotImplemented
    assert cls.__lt__(value, other) is NotImplemented
    assert (value == other) is False and (value != other) is True
    for order in ORDERINGS:
        with pytest.raises(TypeError):
            order(value, other)


@pytest.mark.parametrize("cls", list(TEXT_SLOTS), ids=[c.__name__ for c in TEXT_SLOTS])
def test_text_and_hash_slots(cls):
    text, representation = TEXT_SLOTS[cls]
    for value in SAMPLES[cls]:
        assert str(value) == text(value)
        assert repr(value) == representation(value)
        assert hash(value) != -1


@pytest.mark.parametrize("label, function, classes, oracle, _", OPERATORS, ids=[o[0] for o in OPERATORS])
@given(data=st.data())
def test_operators_with_anything(label, function, classes, oracle, _, data):
    operands = [data.draw(st.one_of(st.sampled_from(SAMPLES[c]), objects)) for c in classes]
    if not all(isinstance(o, c) for o, c in zip(operands, classes, strict=False)):
        if not any(isinstance(o, c) for o, c in zip(operands, classes, strict=False)):
            return  # neither operand is ours: the interpreter's business
        with pytest.raises(TypeError):
            function(*operands)
        return
    message, check = oracle(*operands)
    if message is not None:
        return expect_raise(lambda: function(*operands), OPERATOR_ERRORS[message], message)
    assert check(function(*operands))


# --- merandol_interop ----------------------------------------------------------

standard_objects = st.one_of(
    st.dates(),
    st.times(timezones=st.none() | st.just(dt.UTC)),
    st.datetimes(timezones=st.none() | st.timezones()),
    st.timedeltas(),
    st.sampled_from([dt.UTC, dt.timezone(dt.timedelta(microseconds=1)), dt.tzinfo(), zoneinfo.ZoneInfo("UTC")]),
)


def type_name(x):
    t = type(x)
    return t.__qualname__ if t.__module__ == "builtins" else f"{t.__module__}.{t.__qualname__}"


def name_of(x):
    """How a refusal names the value: its repr, or for an offset date-time
    whose local reading has no text, its UTC reading."""
    try:
        return repr(x)
    except ValueError:
        assert isinstance(x, OffsetDateTime)
        return "OffsetDateTime.from_utc("


@given(st.one_of(objects, standard_objects), st.booleans())
def test_conversions_of_any_object(x, truncate):
    """Either a value of the other side, or a refusal that names the object."""
    for conversion in (lambda: to_stdlib(x, truncate=truncate), lambda: from_stdlib(x)):
        try:
            result = conversion()
        except TypeError as e:
            assert str(e).endswith(f", not '{type_name(x)}'")
        except ValueError as e:
            assert str(e).startswith(name_of(x)) and " cannot be converted to " in str(e)
        else:
            assert type(result).__module__ in ("datetime", "zoneinfo", "merandol", "merandol_interop")


# Where a refusal of a column names what it refused: the element's index in
# the message or (for a reader's own error) in a note, or the argument.
COLUMN_REFUSAL = re.compile(r"(texts|values|array)\[\d+\]|texts must|(parse_many|to_numpy|from_numpy|format_numpy)\(\)")


@given(
    st.lists(st.one_of(objects, reader_texts), max_size=4),
    st.sampled_from([Date, Time, DateTime, OffsetDateTime]),
    st.sampled_from(["Y", "D", "s", "ns", "as", None]),
)
def test_columns_of_any_objects(items, cls, unit):
    """Each column function returns a whole result or refuses, naming the
    element or the argument it refused."""
    calls = [lambda: parse_many(cls, items)]
    if np is not None:
        calls += [
            lambda: parse_to_numpy(items),
            lambda: to_numpy(items, unit),
            lambda: from_numpy(np.array(items, dtype=object)),
            lambda: format_numpy(items),
        ]
    for call in calls:
        try:
            result = call()
        except (TypeError, ValueError) as e:
            notes = getattr(e, "__notes__", [])
            assert COLUMN_REFUSAL.match(str(e)) or (notes and notes[-1].startswith("at index ")), e
        else:
            assert len(result) == len(items)


# A pattern refused names its position (and directive); a text refused, the
# position where reading stopped, or the range its instant leaves.
PATTERN_REFUSAL = re.compile(r"(['\"]).*\1 is not a pattern: [a-z% ]+ at position \d+( \(%.*\))?", re.DOTALL)
TEXT_REFUSAL = re.compile(r".* at position \d+( \(%.*\))?|.*: its instant is outside the range of DateTime", re.DOTALL)
patterns = st.one_of(
    st.text(),
    st.sampled_from(["%Y-%m-%d", "%d/%b/%Y:%H:%M:%S %z", "%G-W%V-%u", "%s", "%I:%M %p", "%c", "%F%"]),
    edited(st.sampled_from(["%Y-%m-%dT%H:%M:%S%z", "%a, %d %b %Y %T %Z", "%j/%y %H"])),
)


@given(patterns, reader_texts)
def test_formats_of_any_pattern_and_text(pattern, text):
    """A pattern compiles or is refused naming where; each form reads a text
    into its class, which it writes back, or refuses it naming where."""
    forms = [ISO8601, RFC2822, HTTP_DATE]
    try:
        forms.append(Format(pattern))
    except UnicodeEncodeError:
        assert any("\ud800" <= c <= "\udfff" for c in pattern)
    except ValueError as e:
        assert PATTERN_REFUSAL.fullmatch(str(e)), e
    for form in forms:
        try:
            value = form.parse(text)
        except UnicodeEncodeError:
            assert any("\ud800" <= c <= "\udfff" for c in text)
        except ValueError as e:
            assert TEXT_REFUSAL.fullmatch(str(e)), e
        else:
            assert type(value) is (form.result or type(value))
            assert isinstance(form.format(value), str)
