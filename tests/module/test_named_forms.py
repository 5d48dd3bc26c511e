"""The named forms against the standard library's readers and writers:
datetime.fromisoformat for ISO8601, email.utils for RFC2822, and
http.cookiejar.http2time and email.utils for HTTP_DATE."""

import datetime
import email.utils
import http.cookiejar
import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st
from merandol import Date, DateTime, OffsetDateTime
from merandol_interop import HTTP_DATE, ISO8601, RFC2822, Format, Zone, format_numpy, from_stdlib, to_stdlib

DAYS = ("Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun")
FULL_DAYS = ("Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday")
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")
DATE_FORMS = ("%Y-%m-%d", "%Y%m%d", "%G-W%V-%u", "%GW%V%u", "%G-W%V", "%GW%V", "%Y-%j", "%Y%j")


@st.composite
def iso_texts(draw):
    """A text in a form that fromisoformat reads (or, for ordinal dates, in
    the calendar form it reads instead), its oracle text, and the digits of
    its fraction."""
    day = draw(st.dates(datetime.date(1, 1, 1), datetime.date(9999, 12, 30)))
    form = draw(st.sampled_from(DATE_FORMS))
    text = day.strftime(form.replace("%Y", f"{day.year:04d}").replace("%G", f"{day.isocalendar()[0]:04d}"))
    oracle = day.strftime("%Y-%m-%d").zfill(10) if "%j" in form else text
    if draw(st.booleans()):
        return text, oracle, ""
    # 3.13's fromisoformat refuses hour 24 in every form.
    last_hour = 24 if sys.version_info >= (3, 14) else 23
    h, mi, s = draw(st.integers(0, last_hour)), draw(st.integers(0, 59)), draw(st.integers(0, 59))
    extended = draw(st.booleans())
    sep = ":" if extended else ""
    precision = draw(st.integers(1, 3))
    fraction = draw(st.text("0123456789", min_size=1, max_size=9)) if precision == 3 and draw(st.booleans()) else ""
    if h == 24:
        mi, s, fraction = 0, 0, "0" * len(fraction)
    time = sep.join(f"{n:02d}" for n in (h, mi, s)[:precision])
    time += draw(st.sampled_from(".,")) + fraction if fraction else ""
    offset = ""
    if draw(st.booleans()):
        oh, om, os_ = draw(st.integers(0, 23)), draw(st.integers(0, 59)), draw(st.integers(0, 59))
        osep = ":" if draw(st.booleans()) else ""
        offset = draw(st.sampled_from("+-")) + osep.join(f"{n:02d}" for n in (oh, om, os_)[: draw(st.integers(1, 3))])
        offset = draw(st.sampled_from([offset, "Z"]))
    middle = draw(st.sampled_from("T "))
    return f"{text}{middle}{time}{offset}", f"{oracle}{middle}{time}{offset}", fraction


@given(iso_texts())
def test_iso8601_reads_as_fromisoformat(case):
    text, oracle, fraction = case
    value = ISO8601.parse(text)
    if isinstance(value, Date):
        assert value == from_stdlib(datetime.date.fromisoformat(oracle)) and "T" not in text and " " not in text
        return
    expected = datetime.datetime.fromisoformat(oracle)
    got = to_stdlib(value, truncate=True)
    if isinstance(value, DateTime):
        assert expected.tzinfo is None and got.replace(tzinfo=None) == expected
        local = value
    else:
        assert got == expected and got.utcoffset() == expected.utcoffset()
        local = value.to_local()
    # Nine digits are kept where the standard reader keeps six.
    assert local.time.nanosecond == int(fraction.ljust(9, "0")[:9] or 0)
    # Written back, it reads to itself (RFC 3339 shows whole minutes of an offset).
    if isinstance(value, DateTime) or value.offset.as_seconds() % 60 == 0:
        assert ISO8601.parse(ISO8601.format(value)) == value


# What fromisoformat reads that ISO8601 refuses, and the other way about.
@pytest.mark.parametrize(
    "text, ours, theirs",
    [
        ("2026-342", True, False),  # ordinal dates
        ("-001-12-08", True, False),  # years beyond 1 to 9999
        ("9999-12-31T24:00", True, False),
        ("2026-12-08T14:36z", True, False),
        ("2026-12-08T14:36:25.1234567890", False, True),  # more than nine digits
        ("2026-12-08T14:36+01:30:15.5", False, True),  # an offset is whole seconds
        ("2026-12-08T14:36+01:60", False, sys.version_info < (3, 15)),  # 3.15's reader refuses it too
        ("2026-12-08T14:36 +01:00", False, True),
        ("2026-12-08x14:36", False, True),  # any character between date and time
        ("2026-12-08T14:36:25\0", False, True),
    ],
)
def test_iso8601_differences(text, ours, theirs):
    for reads, read in ((ours, ISO8601.parse), (theirs, datetime.datetime.fromisoformat)):
        if reads:
            read(text)
        else:
            with pytest.raises(ValueError):
                read(text)


# RFC 5322's zone names and their offsets in hours.
ZONES = dict(UT=0, GMT=0, EST=-5, EDT=-4, CST=-6, CDT=-5, MST=-7, MDT=-6, PST=-8, PDT=-7)


@st.composite
def email_texts(draw):
    """An RFC 5322 date as email.utils reads it: four-digit years from 1000,
    two digits for 1969 to 2049 (it reads 50 to 68 as 20xx, RFC 5322 19xx)."""
    two_digits = draw(st.booleans())
    years = (1969, 2049) if two_digits else (1000, 9999)
    d = draw(st.datetimes(datetime.datetime(years[0], 1, 1), datetime.datetime(years[1], 12, 31)))
    seconds = draw(st.booleans())
    d = d.replace(microsecond=0, second=d.second if seconds else 0)
    zone = draw(st.sampled_from([*ZONES, "+", "-"]))
    minutes = ZONES[zone] * 60 if zone in ZONES else draw(st.integers(0, 1439)) * (-1 if zone == "-" else 1)
    if zone in "+-":
        zone = f"{zone}{abs(minutes) // 60:02d}{abs(minutes) % 60:02d}"
    gap = " " * draw(st.integers(1, 3))
    year = f"{d.year % 100:02d}" if two_digits else str(d.year)
    day = f"{d.day:02d}" if draw(st.booleans()) else str(d.day)
    text = gap.join([day, MONTHS[d.month - 1], year, f"{d:%H:%M:%S}" if seconds else f"{d:%H:%M}", zone])
    if draw(st.booleans()):
        text = f"{DAYS[d.weekday()]},{gap}{text}"
    return text, d.replace(tzinfo=datetime.timezone(datetime.timedelta(minutes=minutes)))


@given(email_texts())
def test_rfc2822_reads_as_email_utils(case):
    text, expected = case
    value = RFC2822.parse(text)
    theirs = email.utils.parsedate_to_datetime(text)
    # "-0000", an unknown offset, is a naive reading there and offset 0 here.
    assert to_stdlib(value) == expected == (theirs if theirs.tzinfo else theirs.replace(tzinfo=datetime.UTC))
    assert value.offset.as_seconds() == expected.utcoffset().total_seconds()


@st.composite
def http_texts(draw):
    """An HTTP date in one of its forms: years from 1970 (http2time reads none
    before); RFC 850's two digits for 1977 to 2069, where http2time's pivot
    (50 years from now) and the fixed one (70) agree."""
    form = draw(st.sampled_from(["imf", "rfc850", "asctime"]))
    years = (1977, 2069) if form == "rfc850" else (1970, 9999)
    d = draw(st.datetimes(datetime.datetime(years[0], 1, 1), datetime.datetime(years[1], 12, 31))).replace(
        microsecond=0
    )
    name, month = DAYS[d.weekday()], MONTHS[d.month - 1]
    text = {
        "imf": f"{name}, {d.day:02d} {month} {d.year} {d:%H:%M:%S} GMT",
        "rfc850": f"{FULL_DAYS[d.weekday()]}, {d.day:02d}-{month}-{d.year % 100:02d} {d:%H:%M:%S} GMT",
        "asctime": f"{name} {month} {d.day:2d} {d:%H:%M:%S} {d.year}",
    }[form]
    return text, d.replace(tzinfo=datetime.UTC)


@given(http_texts())
def test_http_date_reads_as_the_standard_readers(case):
    text, expected = case
    value = HTTP_DATE.parse(text)
    assert to_stdlib(value) == expected
    # http2time reads no asctime date; email.utils reads it.
    if text[3] == " ":
        assert email.utils.parsedate_tz(text)[:6] == expected.timetuple()[:6]
    else:
        assert http.cookiejar.http2time(text) == expected.timestamp()


@given(st.datetimes(datetime.datetime(1, 1, 1), datetime.datetime(9999, 12, 31)), st.integers(-1439, 1439))
def test_written_as_email_utils_writes(d, minutes):
    aware = d.replace(microsecond=0, tzinfo=datetime.timezone(datetime.timedelta(minutes=minutes)))
    value = from_stdlib(aware)
    assert RFC2822.format(value) == email.utils.format_datetime(aware)
    assert HTTP_DATE.format(value.utc) == email.utils.format_datetime(to_stdlib(value.utc), usegmt=True)
    assert RFC2822.parse(RFC2822.format(value)) == value and HTTP_DATE.parse(HTTP_DATE.format(value.utc)) == value.utc


# Each form, and a pattern, refuses a weekday that is not the date's.
@pytest.mark.parametrize(
    "form, text",
    [
        (Format("%a %Y-%m-%d"), "Mon 2026-12-08"),
        (RFC2822, "Mon, 08 Dec 2026 14:36:25 +0100"),
        (HTTP_DATE, "Mon, 08 Dec 2026 14:36:25 GMT"),
        (HTTP_DATE, "Monday, 08-Dec-26 14:36:25 GMT"),
        (HTTP_DATE, "Mon Dec  8 14:36:25 2026"),
    ],
)
def test_wrong_weekday_refused(form, text):
    with pytest.raises(ValueError, match=r"weekday Monday is not the date's \(Tuesday\) at position 0( \(%a\))?$"):
        form.parse(text)
    assert isinstance(
        form.parse(text.replace("Monday", "Tuesday").replace("Mon", "Tue")), (OffsetDateTime, DateTime, Date)
    )


# %Z at a zone writes the designation in force, as zoneinfo names it.
@given(
    st.sampled_from(["Europe/Paris", "Europe/Moscow", "America/Sao_Paulo", "Australia/Lord_Howe", "Asia/Kolkata"]),
    st.lists(st.integers(-(2**32), 2**35), min_size=1, max_size=20),
)
def test_zone_abbreviation_as_zoneinfo(key, seconds):
    np = pytest.importorskip("numpy", reason="format_numpy writes numpy arrays", exc_type=ImportError)
    zoneinfo = pytest.importorskip("zoneinfo")
    texts = format_numpy(np.array(seconds, dtype="datetime64[s]"), Zone(key), format=Format("%F %T %Z"))
    zone = zoneinfo.ZoneInfo(key)
    assert [t.split()[-1] for t in texts] == [datetime.datetime.fromtimestamp(s, zone).tzname() for s in seconds]
