"""Zones against the standard zoneinfo, the oracle wherever both answer
(years 1 to 9999, whole seconds): offsets at every transition of every zone
and at arbitrary instants, and local readings around the transitions
settled as fold=0 and fold=1 settle them."""

import datetime as dt
import os
import pickle
import threading
import zoneinfo

import pytest
from hypothesis import given
from hypothesis import strategies as st
from merandol import Date, DateTime, Duration, Time
from merandol_interop import Zone, ZonedDateTime, available_zones

KEYS = sorted(available_zones())  # each one is read, and walked against zoneinfo, below
# Every zone's walk makes about a hundred thousand calls; the slow runs
# (valgrind, the debug interpreter) walk every twentieth zone.
WALKED = KEYS[::20] if os.environ.get("MERANDOL_HYPOTHESIS") == "slow" else KEYS
UTC = dt.UTC
EPOCH = dt.datetime(1970, 1, 1, tzinfo=UTC)
FIRST, LAST = DateTime.parse("0001-01-02T00:00:00Z"), DateTime.parse("9999-12-30T00:00:00Z")
YEAR_1800 = DateTime.parse("1800-01-01T00:00:00Z")
NS = Duration.nanoseconds(1)


def std_offset(key, seconds):
    """zoneinfo's offset, in seconds, at a Unix time."""
    return int((EPOCH + dt.timedelta(seconds=seconds)).astimezone(zoneinfo.ZoneInfo(key)).utcoffset().total_seconds())


def at(seconds):
    return DateTime.from_unix_timestamp(seconds)


@pytest.mark.parametrize("key", WALKED)
def test_every_transition_up_to_2038_agrees(key):
    """Walk the zone's changes: the offset a nanosecond before, at and after
    each is zoneinfo's, and no change is missed between two of them."""
    zone, t, previous = Zone(key), FIRST, None
    end = DateTime.parse("2038-01-01T00:00:00Z").unix_timestamp()
    while (change := zone.next_transition(t)) is not None and change.unix_timestamp() < end:
        s = change.unix_timestamp()
        assert zone.offset_at(change.utc.add_duration(Duration.nanoseconds(-1))).as_seconds() == std_offset(key, s - 1)
        assert zone.offset_at(change).as_seconds() == change.offset.as_seconds() == std_offset(key, s)
        assert zone.offset_at(change.utc.add_duration(NS)) == change.offset
        assert zone.previous_transition(change.utc.add_duration(NS)) == change
        if previous is not None:
            middle = (previous + s) // 2
            assert zone.offset_at(at(middle)).as_seconds() == std_offset(key, middle)
        previous, t = s, change.utc


@given(key=st.sampled_from(KEYS), seconds=st.integers(FIRST.unix_timestamp(), LAST.unix_timestamp()))
def test_offset_and_local_reading_agree_with_zoneinfo(key, seconds):
    zone = Zone(key)
    local = zone.to_local(at(seconds))
    assert local.offset == zone.offset_at(at(seconds))
    assert local.offset.as_seconds() == std_offset(key, seconds)
    assert local.utc == at(seconds)


def std_readings(key, local):
    """zoneinfo's (offset at fold=0, offset at fold=1) of a naive reading."""
    return tuple(int(local.replace(tzinfo=zoneinfo.ZoneInfo(key), fold=f).utcoffset().total_seconds()) for f in (0, 1))


@given(
    key=st.sampled_from(KEYS),
    seconds=st.integers(YEAR_1800.unix_timestamp(), LAST.unix_timestamp()),
    percent=st.integers(-120, 120),
)
def test_local_readings_settle_as_fold_0_and_1(key, seconds, percent):
    """Readings within 1.2 times a change's size of the reading just after it (the zone's
    first change after an instant since 1800, or its last): some 40% lie in a gap or a fold."""
    zone = Zone(key)
    change = zone.next_transition(at(seconds)) or zone.previous_transition(at(seconds))
    change = change if change is not None and FIRST < change.utc < LAST else zone.to_local(at(seconds))
    size = abs(change.offset.as_seconds() - zone.offset_at(change.utc.add_duration(-NS)).as_seconds()) or 3600
    local_seconds = change.to_local().unix_timestamp() + percent * size // 100
    local = dt.datetime(1970, 1, 1) + dt.timedelta(seconds=local_seconds)
    date, time = Date(local.year, local.month, local.day), Time(local.hour, local.minute, local.second)
    off0, off1 = std_readings(key, local)
    # zoneinfo's fold=0 is the reading with the offset before a change.
    compatible = zone.from_local(date, time)
    assert compatible.unix_timestamp() == local_seconds - off0
    assert compatible.offset.as_seconds() == std_offset(key, local_seconds - off0)
    earlier, later = (zone.from_local(date, time, how) for how in ("earlier", "later"))
    assert (earlier.unix_timestamp(), later.unix_timestamp()) == tuple(
        sorted((local_seconds - off0, local_seconds - off1))
    )
    if off0 == off1:
        assert zone.from_local(date, time, "raise") == compatible
    else:
        with pytest.raises(ValueError, match="skipped" if off0 < off1 else "repeated"):
            zone.from_local(date, time, "raise")


def test_the_ends_of_the_range_answer():
    zone = Zone("America/New_York")
    lowest, highest = DateTime.parse("-2147483648-01-01T00:00:00Z"), DateTime.parse("2147483647-12-31T23:59:59Z")
    # The first type holds as far back as the range goes; every year's changes exist up to its last year.
    assert zone.offset_at(lowest) == zone.offset_at(FIRST) and zone.previous_transition(lowest) is None
    assert zone.next_transition(highest) is None and zone.previous_transition(highest).utc.date.year == 2147483647
    with pytest.raises(ValueError, match="Invalid local datetime"):
        zone.from_local(Date(2147483647, 12, 31), Time(23, 0, 0))


@pytest.mark.parametrize("key", [None, "Europe/Paris", "Asia/Tokyo"])
def test_cache_pickle_and_equality(key):
    paris, tokyo = Zone("Europe/Paris"), Zone("Asia/Tokyo")
    text = "2024-07-01T02:00:00+02:00[Europe/Paris]"
    assert Zone("Europe/Paris") is paris and pickle.loads(pickle.dumps(paris)) is paris
    assert ZonedDateTime.parse(text).zone is paris
    Zone.clear_cache()
    again = Zone("Europe/Paris")  # read again: equal, with the same key and rules
    assert again is not paris and again == paris and hash(again) == hash(paris)
    assert ZonedDateTime.parse(text).zone is again
    with open("/usr/share/zoneinfo/Europe/Paris", "rb") as file:
        zone, twin = Zone.from_tzif(data := file.read(), key=key), Zone.from_tzif(data, key=key)
    summer = DateTime.parse("2024-07-01T00:00:00Z")
    assert zone.key == key and zone.offset_at(summer) == paris.offset_at(summer)
    assert zone == twin and hash(zone) == hash(twin) and zone != tokyo
    assert (zone == paris) == (key == "Europe/Paris") and len({zone, twin, paris, tokyo}) == 2 + (key != "Europe/Paris")
    with pytest.raises(TypeError, match="read from bytes cannot be pickled"):
        pickle.dumps(zone)


def test_zone_and_clear_cache_from_many_threads():
    keys = KEYS[:40]
    errors = []

    def work(i):
        try:
            for round_ in range(30):
                zone = Zone(keys[(i + round_) % len(keys)])
                assert zone.key == keys[(i + round_) % len(keys)]
                if round_ % 7 == i % 7:
                    Zone.clear_cache()
        except Exception as e:
            errors.append(e)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


# --- Columns ---------------------------------------------------------------

try:
    import numpy as np
except ImportError:  # the free-threaded interpreter has none
    np = None
from merandol_interop import format_numpy, from_local_numpy, to_local_numpy  # noqa: E402

needs_numpy = pytest.mark.skipif(np is None, reason="the column functions make numpy arrays")

UNIT_NS = {"s": 10**9, "ms": 10**6, "us": 10**3, "ns": 1}
# datetime64[ns] spans 1677 to 2262; the other units the whole range kept small.
SPAN = st.integers(-(2**62) // 10**9, 2**62 // 10**9)


@needs_numpy
@pytest.mark.parametrize("unit", UNIT_NS)
@given(key=st.sampled_from(KEYS), seconds=st.lists(SPAN, max_size=6), nat=st.booleans())
def test_columns_agree_with_the_scalar_members(unit, key, seconds, nat):
    zone = Zone(key)
    raw = [s * 10**9 // UNIT_NS[unit] + 1 for s in seconds] + ([np.iinfo(np.int64).min] if nat else [])
    array = np.array(raw, dtype="int64").view(f"datetime64[{unit}]")
    instants = [
        DateTime.from_unix_timestamp(0).add_duration(Duration.nanoseconds(v * UNIT_NS[unit]))
        for v in raw[: len(seconds)]
    ]
    local = to_local_numpy(array, zone)
    assert local.dtype == array.dtype and (np.isnat(local) == np.isnat(array)).all()
    expected = [zone.to_local(i).to_local().unix_timestamp_nanos() // UNIT_NS[unit] for i in instants]
    assert local.view("int64")[: len(seconds)].tolist() == expected
    assert format_numpy(array[: len(seconds)], zone) == [str(zone.to_local(i)) for i in instants]
    for how in ("compatible", "earlier", "later"):
        back = from_local_numpy(local, zone, how)
        readings = [zone.to_local(i).to_local() for i in instants]
        assert back.view("int64")[: len(seconds)].tolist() == [
            zone.from_local(r.date, r.time, how).unix_timestamp_nanos() // UNIT_NS[unit] for r in readings
        ]


@needs_numpy
@pytest.mark.parametrize("unit", ["m", "h", "10s", "D"])
def test_format_numpy_at_a_zone_reads_other_units_as_their_seconds(unit):
    # Around the spring and autumn changes of 2024, and before 1970.
    array = np.array(["2024-03-31", "2024-10-27", "1900-01-01"], dtype="datetime64[D]").astype(f"datetime64[{unit}]")
    array = np.concatenate([array + k for k in range(0, 60, 7)])
    paris = Zone("Europe/Paris")
    if unit == "D":
        with pytest.raises(ValueError, match="dates, to which an offset does not apply"):
            format_numpy(array, paris)
    else:
        assert format_numpy(array, paris) == format_numpy(array.astype("datetime64[s]"), paris)


@needs_numpy
def test_to_local_numpy_agrees_with_pandas():
    pd = pytest.importorskip("pandas", reason="pandas is the oracle")
    rng = np.random.default_rng(5)
    # 1970 to 2037: pandas rounds local mean time to the minute and applies no
    # rule beyond the file's last transition, where zoneinfo is the oracle.
    array = rng.integers(0, 2_145_916_800 * 10**9, 1000).view("datetime64[ns]")
    expected = pd.DatetimeIndex(array).tz_localize("UTC").tz_convert("America/New_York").tz_localize(None)
    assert (to_local_numpy(array, Zone("America/New_York")) == expected.to_numpy()).all()


@needs_numpy
def test_column_refusals_name_the_index():
    paris = Zone("Europe/Paris")
    gap = np.array(["2024-01-01T00:00", "2024-03-31T02:30"], dtype="datetime64[s]")
    with pytest.raises(ValueError, match=r"^array\[1\] = 2024-03-31T02:30:00 is skipped in Europe/Paris"):
        from_local_numpy(gap, paris, "raise")
    with pytest.raises(ValueError, match=r"^array\[0\] = 19723 of datetime64\[D\]: its local reading is not"):
        to_local_numpy(gap.astype("datetime64[D]"), paris)
    with pytest.raises(TypeError, match="'Zone'"):
        to_local_numpy(gap, "Europe/Paris")
    top = np.array([np.iinfo(np.int64).max], dtype="int64").view("datetime64[ns]")
    with pytest.raises(ValueError, match=r"^array\[0\] = "):
        to_local_numpy(top, paris)
