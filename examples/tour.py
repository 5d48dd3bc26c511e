"""A tour of merandol: parsing, printing, arithmetic, Unix time, offsets,
sorting, hashing and the conversions to and from the standard datetime
types.  Every public member appears once, and each line
prints a result you can check by eye.  The file is also type-checked
strictly against the stubs."""

import datetime
import pathlib
import pickle
import zoneinfo

from merandol import Date, DateTime, Duration, OffsetDateTime, Time, UtcOffset, Weekday
from merandol_interop import (
    ArrowColumn,
    Format,
    Zone,
    ZonedDateTime,
    ZoneNotFoundError,
    available_zones,
    format_arrow,
    format_numpy,
    from_local_numpy,
    from_numpy,
    from_stdlib,
    parse_many,
    parse_to_arrow,
    parse_to_numpy,
    to_local_numpy,
    to_numpy,
    to_stdlib,
)


def show(label: str, value: object) -> None:
    print(f"{label:<44} {value}")


def dates() -> None:
    print("== Dates")
    d = Date(2024, 2, 29)
    show("Date(2024, 2, 29)", repr(d))
    show("its fields", (d.year, d.month, d.day))
    show("str()", d)
    show("weekday(), number_from_monday()", (d.weekday(), d.weekday().number_from_monday()))
    show("weekday() is Weekday.THURSDAY", d.weekday() is Weekday.THURSDAY)
    show("ordinal() (day of the year)", d.ordinal())
    show("add_days(366)", d.add_days(366))
    show("days_since_unix_epoch()", d.days_since_unix_epoch())
    show("from_days_since_unix_epoch(0)", Date.from_days_since_unix_epoch(0))
    show("parse('-44-03-15') (year 45 BC)", Date.parse("-44-03-15"))
    show("the last representable date", Date(2**31 - 1, 12, 31))
    week = [
        Weekday.MONDAY,
        Weekday.TUESDAY,
        Weekday.WEDNESDAY,
        Weekday.THURSDAY,
        Weekday.FRIDAY,
        Weekday.SATURDAY,
        Weekday.SUNDAY,
    ]
    show("the week", " ".join(str(w) for w in week))


def times() -> None:
    print("== Times of day")
    t = Time(9, 5, 0, 123000)
    show("Time(9, 5, 0, 123000)", repr(t))
    show("str()", t)
    show("its fields", (t.hour, t.minute, t.second, t.nanosecond))
    show("seconds_since_midnight()", t.seconds_since_midnight())
    show("nanos_since_midnight()", t.nanos_since_midnight())
    show("parse('23:59:59.999999999')", Time.parse("23:59:59.999999999"))


def durations() -> None:
    print("== Durations")
    d = Duration.seconds(90) + Duration.milliseconds(250) - Duration.microseconds(1)
    show("90 s + 250 ms - 1 us", d)
    show("total_seconds(), total_nanos()", (d.total_seconds(), d.total_nanos()))
    show("negated", repr(-d))
    show("nanoseconds(2**127 - 1), exact", Duration.nanoseconds(2**127 - 1).total_nanos())
    try:
        Duration.nanoseconds(2**127 - 1) + Duration.nanoseconds(1)
    except OverflowError as e:
        show("past the top of the span range", f"OverflowError: {e}")


def date_times() -> None:
    print("== UTC date-times and Unix time")
    dt = DateTime(Date(2024, 1, 1), Time(12, 0, 0))
    show("DateTime(Date(2024, 1, 1), Time(12, 0, 0))", dt)
    show("its date and time", (dt.date, dt.time))
    show("unix_timestamp()", dt.unix_timestamp())
    show("unix_timestamp_nanos()", dt.unix_timestamp_nanos())
    show("from_unix_timestamp(0, -1)", DateTime.from_unix_timestamp(0, -1))
    later = dt.add_duration(Duration.seconds(86400 * 59))
    show("add_duration(59 days)", later)
    show("difference()", later.difference(dt))
    show("parse('2024-01-01 12:00:00.5z')", repr(DateTime.parse("2024-01-01 12:00:00.5z")))
    now = DateTime.now_utc()
    show("now_utc() is after 2024", now > dt)
    try:
        DateTime.parse("2024-01-01T12:00:00")
    except ValueError as e:
        show("a text without 'Z'", f"ValueError: {e}")


def offsets() -> None:
    print("== Offsets")
    india = UtcOffset.from_hours_minutes(True, 5, 30)
    show("from_hours_minutes(True, 5, 30)", (str(india), india.as_seconds(), india.is_utc()))
    pacific = UtcOffset.from_seconds(-8 * 3600)
    show("from_seconds(-28800)", repr(pacific))
    v = OffsetDateTime.parse("2024-03-10T12:00:00+05:30")
    show("parse('2024-03-10T12:00:00+05:30')", repr(v))
    show("utc, offset, to_local()", (v.utc, v.offset, v.to_local()))
    same = OffsetDateTime.from_utc(v.utc, pacific)
    show("the same instant at -08:00", same)
    show("equal? ordered the same?", (v == same, v <= same and v >= same))
    show("difference()", v.difference(same))
    show("unix_timestamp(), unix_timestamp_nanos()", (v.unix_timestamp(), v.unix_timestamp_nanos()))
    local = OffsetDateTime.from_local(Date(2024, 12, 31), Time(23, 30, 0), india)
    show("from_local(2024-12-31 23:30 at +05:30)", local)
    show("add_duration(1 hour)", local.add_duration(Duration.seconds(3600)))


def sorting_and_hashing() -> None:
    print("== Sorting, hashing, pickling")
    texts = ["2024-03-10T12:00:00Z", "1969-12-31T23:59:59.5Z", "2024-03-10T06:30:00Z", "1969-12-31T23:59:59.5Z"]
    values = [DateTime.parse(t) for t in texts]
    show("sorted", [str(v) for v in sorted(values)])
    show("distinct values in a set", len(set(values)))
    counts: dict[Date, int] = {}
    for v in values:
        counts[v.date] = counts.get(v.date, 0) + 1
    show("values per date", {str(k): n for k, n in counts.items()})
    back = pickle.loads(pickle.dumps(values))
    show("pickled and back, equal", back == values)


def standard_library() -> None:
    print("== The standard datetime types")
    v = OffsetDateTime.parse("2024-03-10T12:00:00.123456+05:30")
    aware: datetime.datetime = to_stdlib(v)
    show("to_stdlib(OffsetDateTime)", repr(aware))
    show("to_stdlib(DateTime) is at datetime.UTC", to_stdlib(v.utc).tzinfo is datetime.UTC)
    day: datetime.date = to_stdlib(Date(2024, 2, 29))
    clock: datetime.time = to_stdlib(Time(9, 5, 0, 123456789), truncate=True)
    zone: datetime.timezone = to_stdlib(UtcOffset.from_seconds(-3600))
    span: datetime.timedelta = to_stdlib(Duration.seconds(90))
    show("date, time (floored), timezone, timedelta", (str(day), str(clock), str(zone), str(span)))
    paris = datetime.datetime(2024, 10, 27, 2, 30, fold=1, tzinfo=zoneinfo.ZoneInfo("Europe/Paris"))
    back: OffsetDateTime = from_stdlib(paris)
    show("from_stdlib(02:30 Paris, the second time)", back)
    pieces: tuple[Date, Time, UtcOffset, Duration] = (
        from_stdlib(day),
        from_stdlib(clock),
        from_stdlib(zone),
        from_stdlib(span),
    )
    show("and back", tuple(str(p) for p in pieces))
    try:
        to_stdlib(Time(9, 5, 0, 123456789))
    except ValueError as e:
        show("nanoseconds without truncate", f"ValueError: {e}")


def columns() -> None:
    print("== Columns")
    texts = ["2024-03-10T12:00:00Z", "2024-03-10T12:00:00.5+01:00"]
    values: list[OffsetDateTime] = parse_many(OffsetDateTime, texts)
    show("parse_many(OffsetDateTime, ...)", values)
    instants = parse_to_numpy(texts, unit="ms")
    show("parse_to_numpy(..., unit='ms')", str(instants))
    show("format_numpy(instants)", format_numpy(instants))
    show("at -05:00", format_numpy(instants, UtcOffset.from_seconds(-18000)))
    show("from_numpy(instants)", from_numpy(instants))
    show("to_numpy(dates)", str(to_numpy([Date(2024, 2, 29), Date(1969, 7, 20)])))
    spans: list[Duration] = from_numpy(to_numpy([Duration.seconds(90)], unit="s"))
    show("Durations through timedelta64[s]", spans)
    # An Arrow column for pyarrow, polars or DuckDB; its texts may also come
    # from any of them.
    column: ArrowColumn = parse_to_arrow(texts, unit="us")
    show("parse_to_arrow(..., unit='us')", (repr(column), len(column)))
    written: ArrowColumn = format_arrow(instants, UtcOffset.from_seconds(3600))
    show("format_arrow(instants, +01:00)", repr(written))
    show("its texts read back as an Arrow column", str(parse_to_numpy(written, unit="ms")))


def zones() -> None:
    print("== Time zones")
    paris = Zone("Europe/Paris")
    summer = DateTime.parse("2024-07-01T12:00:00Z")
    show("Zone('Europe/Paris').to_local(...)", paris.to_local(summer))
    show("offset_at", paris.offset_at(summer))
    show("next_transition", paris.next_transition(summer))
    show("from_local in the spring gap", paris.from_local(Date(2024, 3, 31), Time(2, 30, 0)))
    show("from_local in the autumn fold, later", paris.from_local(Date(2024, 10, 27), Time(2, 30, 0), "later"))
    show("previous_transition", paris.previous_transition(summer))
    show("to_stdlib(paris)", to_stdlib(paris))
    show("key, and among available_zones()", (paris.key, paris.key in available_zones()))
    instants = parse_to_numpy(["2024-07-01T12:00:00Z", "2024-12-01T12:00:00Z"], unit="s")
    local = to_local_numpy(instants, paris)
    show("to_local_numpy(instants, paris)", str(local))
    show("and from_local_numpy back", str(from_local_numpy(local, paris)))
    # The zone read from TZif bytes (a file's, or a package's) has no key.
    tzif = (pathlib.Path(zoneinfo.TZPATH[0]) / "Europe/Paris").read_bytes()
    show("Zone.from_tzif(...).offset_at", Zone.from_tzif(tzif).offset_at(summer))
    Zone.clear_cache()
    try:
        Zone("Europe/Atlantis")
    except ZoneNotFoundError as e:
        show("Zone('Europe/Atlantis')", f"ZoneNotFoundError: {e}")


def other_forms() -> None:
    print("== Text in other forms")
    log = Format("%d/%b/%Y:%H:%M:%S %z")
    line = '203.0.113.9 - - [08/Dec/2026:14:36:25 +0100] "GET / HTTP/1.1" 200 512'
    stamp = log.parse(line[line.index("[") + 1 : line.index("]")])
    # A pattern with a date, a time and %z reads to an OffsetDateTime.
    assert isinstance(stamp, OffsetDateTime)
    show(f"{log!r}.parse(...)", stamp)
    show("its instant", stamp.utc)


def meetings() -> None:
    print("== A weekly meeting at 9:00 in Paris")
    first = ZonedDateTime(Date(2026, 3, 19), Time(9, 0, 0), Zone("Europe/Paris"))
    for week in range(3):
        meeting = first.add(weeks=week)
        show(f"week {week}: {meeting.local.time} local", meeting.instant)


def main() -> None:
    dates()
    times()
    durations()
    date_times()
    offsets()
    sorting_and_hashing()
    standard_library()
    columns()
    zones()
    other_forms()
    meetings()


if __name__ == "__main__":
    main()
