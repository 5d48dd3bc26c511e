import pytest
from hypothesis import given
from hypothesis import strategies as st
from merandol import Duration

I128_MIN, I128_MAX = -(2**127), 2**127 - 1
spans = st.one_of(
    st.integers(I128_MIN, I128_MAX), st.integers(-(10**30), 10**30), st.sampled_from([I128_MIN, I128_MAX, 0, -1])
)


@pytest.mark.parametrize(
    "factory, scale, name",
    [(Duration.seconds, 10**9, "secs"), (Duration.milliseconds, 10**6, "ms"), (Duration.microseconds, 10**3, "us")],
)
def test_64_bit_factories_reach_their_full_range(factory, scale, name):
    assert factory(2**63 - 1).total_nanos() == (2**63 - 1) * scale
    assert factory(-(2**63)).total_nanos() == -(2**63) * scale
    assert factory(**{name: 3}).total_nanos() == 3 * scale
    for bad in (2**63, -(2**63) - 1):
        with pytest.raises(OverflowError) as info:
            factory(bad)
        assert info.value.__notes__ == [f"while processing '{name}'"]
    with pytest.raises(TypeError) as info:
        factory("5")
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_nanoseconds_reach_128_bits():
    assert Duration.nanoseconds(I128_MAX).total_nanos() == I128_MAX
    assert Duration.nanoseconds(I128_MIN).total_nanos() == I128_MIN
    for bad in (2**127, I128_MIN - 1, 2**200):
        with pytest.raises(OverflowError) as info:
            Duration.nanoseconds(bad)
        assert str(info.value) == "Python int larger than 128 bits"
        assert info.value.__notes__ == ["while processing 'ns'"]
    with pytest.raises(TypeError):
        Duration.nanoseconds(1.0)


def test_text_forms():
    assert str(Duration.seconds(1)) == "Duration(1000000000 ns)"
    assert repr(Duration.seconds(1)) == "Duration.nanoseconds(1000000000)"
    assert str(Duration.milliseconds(-1)) == "Duration(-1000000 ns)"
    assert str(Duration.nanoseconds(0)) == "Duration(0 ns)"
    assert repr(Duration.nanoseconds(I128_MIN)) == "Duration.nanoseconds(-170141183460469231731687303715884105728)"
    assert repr(Duration.seconds(1) - Duration.seconds(3)) == "Duration.nanoseconds(-2000000000)"
    assert repr(-(Duration.seconds(1) - Duration.seconds(3))) == "Duration.nanoseconds(2000000000)"


@pytest.mark.parametrize(
    "ns, seconds",
    [(1, 1e-09), (1_500_000_000, 1.5), (I128_MAX, 1.7014118346046924e29), (123456789012345678901, 123456789012.34569)],
)
def test_total_seconds(ns, seconds):
    assert Duration.nanoseconds(ns).total_seconds() == seconds


def test_equal_spans_are_equal_whatever_the_factory():
    values = [
        Duration.seconds(1),
        Duration.milliseconds(1000),
        Duration.microseconds(10**6),
        Duration.nanoseconds(10**9),
    ]
    assert len({hash(v) for v in values}) == 1
    assert all(v == values[0] for v in values)
    assert Duration.seconds(1) < Duration.milliseconds(1001)


@pytest.mark.parametrize(
    "operation",
    [
        lambda d: -Duration.nanoseconds(I128_MIN),
        lambda d: Duration.nanoseconds(I128_MAX) + Duration.nanoseconds(1),
        lambda d: Duration.nanoseconds(I128_MIN) - Duration.nanoseconds(1),
        lambda d: Duration.nanoseconds(I128_MIN) + Duration.nanoseconds(-1),
        lambda d: Duration.nanoseconds(0) - Duration.nanoseconds(I128_MIN),
    ],
)
def test_overflow_raises_instead_of_wrapping(operation):
    with pytest.raises(OverflowError, match=r"^Duration overflow$"):
        operation(None)


def test_in_place_operators_rebind():
    d = start = Duration.seconds(1)
    d += Duration.seconds(2)
    assert d == Duration.seconds(3) and start == Duration.seconds(1)
    d -= Duration.seconds(5)
    assert d == Duration.seconds(-2)


@pytest.mark.parametrize(
    "operation",
    [
        lambda d: d + 1,
        lambda d: 1 + d,
        lambda d: d - 1,
        lambda d: 1 - d,
        lambda d: d * 2,
        lambda d: abs(d),
        lambda d: +d,
        lambda d: d < 1,
        lambda d: Duration(),
    ],
)
def test_unsupported_operations(operation):
    with pytest.raises(TypeError):
        operation(Duration.seconds(1))


def test_foreign_equality_and_truth():
    d = Duration.seconds(1)
    assert d != 1 and not d == 10**9
    assert bool(Duration.nanoseconds(0)) is True
    assert d.seconds(2) == Duration.seconds(2)
    with pytest.raises(TypeError, match=r"^unsupported operand type\(s\) for \+: 'merandol\.Duration' and 'int'$"):
        d + 1


@given(spans, spans)
def test_arithmetic_matches_python_integers(a, b):
    da, db = Duration.nanoseconds(a), Duration.nanoseconds(b)
    for result, exact in ((lambda: da + db, a + b), (lambda: da - db, a - b), (lambda: -da, -a)):
        if I128_MIN <= exact <= I128_MAX:
            assert result().total_nanos() == exact
        else:
            with pytest.raises(OverflowError):
                result()
    assert (da < db) == (a < b) and (da == db) == (a == b) and (da >= db) == (a >= b)
    assert eval(repr(da), {"Duration": Duration}) == da
    assert str(da) == f"Duration({a} ns)"
    assert da.total_seconds() == float(a) / 1e9
    assert hash(da) != -1 and (hash(da) == hash(Duration.nanoseconds(a)))
