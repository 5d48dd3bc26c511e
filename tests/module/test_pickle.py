import copy
import pickle

import pytest
from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset, Weekday

TOP = DateTime.parse("2147483647-12-31T23:00:00Z")
VALUES = [
    Date(2024, 1, 5),
    Date(-(2**31), 1, 1),
    Time(23, 59, 59, 999999999),
    Duration.nanoseconds(-(2**127)),
    Duration.nanoseconds(2**127 - 1),
    DateTime.parse("2147483647-12-31T23:59:59.999999999Z"),
    UtcOffset.from_seconds(-86400),
    OffsetDateTime.parse("2024-03-10T12:00:00+05:30"),
    OffsetDateTime.from_utc(TOP, UtcOffset.from_seconds(3600)),  # local reading has no text
    OffsetDateTime.from_utc(TOP, UtcOffset.from_seconds(-30)),  # offset not in whole minutes
]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("value", VALUES, ids=lambda v: type(v).__name__)
def test_pickle_round_trips_by_value(value, protocol):
    back = pickle.loads(pickle.dumps(value, protocol))
    assert type(back) is type(value)
    assert back == value and hash(back) == hash(value)


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_weekdays_unpickle_to_their_singletons(protocol):
    for name in ["MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY", "SUNDAY"]:
        day = getattr(Weekday, name)
        assert pickle.loads(pickle.dumps(day, protocol)) is day


@pytest.mark.parametrize("value", [*VALUES, Weekday.SUNDAY], ids=lambda v: type(v).__name__)
def test_copies(value):
    assert copy.copy(value) == value
    assert copy.deepcopy(value) == value
    assert copy.deepcopy([value, value]) == [value, value]
