#include "core/rfc3339.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace merandol {
namespace {

constexpr DateTime kMax{{INT32_MAX, 12, 31}, {23, 59, 59, 999999999}};

std::string text(UtcOffset o) {
    char buffer[kOffsetTextSize];
    return std::string(buffer, write_offset(buffer, o));
}

std::string text(OffsetDateTime v) {
    char buffer[kRfc3339TextMax];
    const auto end = write_rfc3339(buffer, v);
    return end ? std::string(buffer, *end) : std::string("<unwritable>");
}

DateTime utc(std::string_view s) { return *parse_datetime(s); }

TEST(UtcOffset, Constructors) {
    for (std::int32_t s : {-86400, 0, 86400}) EXPECT_EQ(UtcOffset::from_seconds(s)->seconds, s);
    for (std::int32_t s : {-86401, 86401, INT32_MIN, INT32_MAX})
        EXPECT_EQ(UtcOffset::from_seconds(s).error(), UtcOffsetError::OutOfRange);
    EXPECT_EQ(UtcOffset::from_hours_minutes(true, 23, 59)->seconds, 86340);
    EXPECT_EQ(UtcOffset::from_hours_minutes(false, 5, 30)->seconds, -19800);
    EXPECT_TRUE(is_utc(*UtcOffset::from_hours_minutes(false, 0, 0)));
    EXPECT_FALSE(UtcOffset::from_hours_minutes(true, 24, 0).has_value());
    EXPECT_FALSE(UtcOffset::from_hours_minutes(true, 0, 60).has_value());
}

TEST(UtcOffset, TextForm) {
    const std::pair<std::int32_t, const char *> cases[] = {
        {0, "+00:00"},      {19800, "+05:30"}, {-28800, "-08:00"}, {86400, "+24:00"},
        {-86400, "-24:00"}, {3661, "+01:01"},  {-30, "-00:00"},    {59, "+00:00"},
    };
    for (const auto &[seconds, expected] : cases) EXPECT_EQ(text(UtcOffset{seconds}), expected);
}

TEST(OffsetDateTime, LocalReadings) {
    const auto v = from_local({2024, 1, 1}, {0, 30, 0, 500000000}, UtcOffset{3600});
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->utc, utc("2023-12-31T23:30:00.5Z"));
    EXPECT_EQ(v->offset.seconds, 3600);
    EXPECT_EQ(*to_local(*v), utc("2024-01-01T00:30:00.5Z"));

    EXPECT_EQ(from_local({INT32_MIN, 1, 1}, {0, 30, 0, 0}, UtcOffset{3600}).error(), DateError::OutOfRange);
    EXPECT_EQ(from_local({INT32_MAX, 12, 31}, {23, 30, 0, 0}, UtcOffset{-3600}).error(), DateError::OutOfRange);
    EXPECT_TRUE(from_local({INT32_MAX, 12, 31}, {23, 30, 0, 0}, UtcOffset{3600}).has_value());

    const OffsetDateTime top = from_utc(utc("2147483647-12-31T23:00:00Z"), UtcOffset{3600});
    EXPECT_EQ(to_local(top).error(), DateError::OutOfRange);
    EXPECT_EQ(text(top), "<unwritable>");
    const auto back = add_duration(top, -1);
    EXPECT_EQ(*to_local(*back), kMax);
    EXPECT_EQ(text(from_utc(top.utc, UtcOffset{-3600})), "2147483647-12-31T22:00:00-01:00");
}

TEST(OffsetDateTime, ShiftAgreesWithTheDayNumberRoad) {
    std::mt19937_64 rng(12);
    std::uniform_int_distribution<i64> secs(kMinUnixSeconds, kMaxUnixSeconds);
    std::uniform_int_distribution<std::int32_t> shift(-86400, 86400), nanos(0, 999999999);
    for (int i = 0; i < 500000; ++i) {
        // Every third start is the first or last second of a month.
        DateTime dt = *from_unix_timestamp(secs(rng), nanos(rng));
        if (i % 3 == 1) {
            dt.date.day = 1;
            dt.time = {0, 0, 0, dt.time.nanosecond};
        } else if (i % 3 == 2) {
            dt.date.day = static_cast<std::uint8_t>(days_in_month(dt.date.year, dt.date.month));
            dt.time = {23, 59, 59, dt.time.nanosecond};
        }
        const std::int32_t s = i % 5 == 0 ? (i % 2 ? 86400 : -86400) : shift(rng);
        const auto fast = shift_seconds(dt, s);
        const auto slow = from_unix_timestamp(unix_timestamp(dt) + s, static_cast<std::int32_t>(dt.time.nanosecond));
        ASSERT_EQ(fast.has_value(), slow.has_value());
        if (slow) {
            ASSERT_EQ(*fast, *slow);
        }
    }
}

TEST(OffsetDateTime, EqualityAndOrder) {
    const OffsetDateTime a = from_utc(utc("2024-06-01T12:00:00Z"), UtcOffset{0});
    const OffsetDateTime b = from_utc(utc("2024-06-01T12:00:00Z"), UtcOffset{7200});
    EXPECT_FALSE(a == b);
    EXPECT_EQ(compare(a, b), 0);
    EXPECT_TRUE(difference(a, b) == 0);
    EXPECT_EQ(unix_timestamp(a), unix_timestamp(b));
    const OffsetDateTime half = from_utc(utc("1969-12-31T23:59:59.5Z"), UtcOffset{-3600});
    EXPECT_EQ(unix_timestamp(half), -1);
    EXPECT_TRUE(unix_timestamp_nanos(half) == -500000000);
}

TEST(OffsetDateTime, AddDurationKeepsOffsetAndNanosecond) {
    for (const char *start :
         {"2024-02-28T23:59:59.25+05:30", "2024-01-31T23:59:59.75-08:00", "2023-12-31T23:59:59.000000001Z"}) {
        const OffsetDateTime v = *parse_rfc3339(start);
        for (i128 span : {i128{1000000000}, i128{-1000000000}}) {
            const OffsetDateTime moved = *add_duration(v, span);
            EXPECT_EQ(moved.offset, v.offset);
            EXPECT_EQ(moved.utc.time.nanosecond, v.utc.time.nanosecond);
            EXPECT_TRUE(difference(moved, v) == span);
        }
    }
}

TEST(Rfc3339, ReaderAccepts) {
    const std::pair<const char *, const char *> cases[] = {
        {"2024-03-10T12:00:00+05:30", "2024-03-10T12:00:00+05:30"},
        {"2024-03-10T12:00:00Z", "2024-03-10T12:00:00Z"},
        {"2024-03-10T12:00:00z", "2024-03-10T12:00:00Z"},
        {"2024-03-10T12:00:00+00:00", "2024-03-10T12:00:00Z"},
        {"2024-03-10T12:00:00-00:00", "2024-03-10T12:00:00Z"},
        {"2024-03-10 12:00:00+0530", "2024-03-10T12:00:00+05:30"},
        {"2024-03-10T12:00:00+05", "2024-03-10T12:00:00+05:00"},
        {"2024-03-10T12:00:00+5:", "2024-03-10T12:00:00+05:00"},
        {"2024-03-10T12:00:00+05:", "2024-03-10T12:00:00+05:00"},
        {"2024-03-10T12:00:00+5:3", "2024-03-10T12:00:00+05:03"},
        {"2024-03-10T12:00:00+5:30", "2024-03-10T12:00:00+05:30"},
        {"2024-03-10T12:00:00+05:3", "2024-03-10T12:00:00+05:03"},
        {"2024-03-10T12:00:00-23:59", "2024-03-10T12:00:00-23:59"},
        {"2024-03-10T1:2:3.5+01:00", "2024-03-10T01:02:03.5+01:00"},
        {"-001-01-01T00:00:00Z", "-001-01-01T00:00:00Z"},
        {"  2024-03-10T12:00:00Z\n", "2024-03-10T12:00:00Z"},
    };
    for (const auto &[input, written] : cases) {
        const auto v = parse_rfc3339(input);
        ASSERT_TRUE(v.has_value()) << input;
        EXPECT_EQ(text(*v), written) << input;
    }
    EXPECT_EQ(parse_rfc3339("2024-03-10T12:00:00+05:30")->utc, utc("2024-03-10T06:30:00Z"));
}

TEST(Rfc3339, TrimsEveryWhiteSpaceCharacterAtEachEnd) {
    const char *const white[] = {
        "\t",           "\n",           "\v",           "\f",           "\r",           " ",
        "\xc2\x85",     "\xc2\xa0",     "\xe1\x9a\x80", "\xe2\x80\x80", "\xe2\x80\x81", "\xe2\x80\x82",
        "\xe2\x80\x83", "\xe2\x80\x84", "\xe2\x80\x85", "\xe2\x80\x86", "\xe2\x80\x87", "\xe2\x80\x88",
        "\xe2\x80\x89", "\xe2\x80\x8a", "\xe2\x80\xa8", "\xe2\x80\xa9", "\xe2\x80\xaf", "\xe2\x81\x9f",
        "\xe3\x80\x80"};
    const std::string core = "2024-03-10T12:00:00+05:30";
    const OffsetDateTime expected = *parse_rfc3339(core);
    for (const char *w : white) {
        for (const std::string &input : {w + core, core + w, w + core + w + w, std::string(w) + w + core}) {
            const auto v = parse_rfc3339(input);
            ASSERT_TRUE(v.has_value()) << input;
            EXPECT_EQ(*v, expected);
        }
    }
    // Not white space: zero-width space U+200B, BOM U+FEFF, U+180E, and
    // white space inside the text.
    for (const char *input :
         {"\xe2\x80\x8b"
          "2024-03-10T12:00:00Z",
          "\xef\xbb\xbf"
          "2024-03-10T12:00:00Z",
          "2024-03-10T12:00:00Z\xe1\xa0\x8e", "2024-03-10T12:00:00 Z", "2024-03-10T12:00:00\xc2\xa0Z"})
        EXPECT_FALSE(parse_rfc3339(input).has_value()) << input;
}

TEST(Rfc3339, ReaderRejects) {
    const char *const cases[] = {
        "",
        " ",
        "Z",
        "T",
        "TZ",
        // Separator
        "2024-03-10t12:00:00Z",
        "2024-03-1012:00:00Z",
        // Missing or malformed offsets
        "2024-03-10T12:00:00",
        "2024-03-10T12:00:00+5",
        "2024-03-10T12:00:00+123",
        "2024-03-10T12:00:00+12345",
        "2024-03-10T12:00:00+:30",
        "2024-03-10T12:00:00+05:300",
        "2024-03-10T12:00:00+05:30:00",
        "2024-03-10T12:00:00+24:00",
        "2024-03-10T12:00:00+05:60",
        "2024-03-10T12:00:00+0a:00",
        "2024-03-10T12:00:00+123:0",
        "2024-03-10T12:00:00++05:30",
        "2024-03-10T12:00:00 +05:30",
        "2024-03-10T12:00:00Zx",
        "2024-03-10T12:00:00ZZ",
        "2024-03-10T12:00:00+05:30Z",
        "2024-03-10T+05:30",
        // Bad date or time parts
        "2024-02-30T12:00:00Z",
        "2024-03-10T24:00:00Z",
        "2024-03-10T12:00:00.Z",
        "+2024-03-10",
        // UTC reading out of range
        "-2147483648-01-01T00:30:00+01:00",
        "2147483647-12-31T23:30:00-01:00",
    };
    for (const char *input : cases) EXPECT_FALSE(parse_rfc3339(input).has_value()) << '"' << input << '"';
}

TEST(Rfc3339, WriterThenReaderRoundTripsWholeMinuteOffsets) {
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<i64> secs(kMinUnixSeconds + 86400, kMaxUnixSeconds - 86400);
    std::uniform_int_distribution<i64> near(-5000000000, 5000000000);
    std::uniform_int_distribution<std::int32_t> nanos(0, 999999999), minutes(-1439, 1439);
    for (int i = 0; i < 200000; ++i) {
        const DateTime at = *from_unix_timestamp(i % 2 ? secs(rng) : near(rng), i % 3 ? nanos(rng) : 0);
        const OffsetDateTime v = from_utc(at, UtcOffset{minutes(rng) * 60});
        const auto back = parse_rfc3339(text(v));
        ASSERT_TRUE(back.has_value()) << text(v);
        ASSERT_EQ(*back, v) << text(v);
    }
}

}  // namespace
}  // namespace merandol
