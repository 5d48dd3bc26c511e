#include "core/datetime.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace merandol {
namespace {

constexpr DateTime kMin{{INT32_MIN, 1, 1}, {0, 0, 0, 0}};
constexpr DateTime kMax{{INT32_MAX, 12, 31}, {23, 59, 59, 999999999}};
constexpr i128 kI128Max = static_cast<i128>(~u128{0} >> 1);
constexpr i128 kI128Min = -kI128Max - 1;

std::string text(DateTime dt) {
    char buffer[kDateTimeTextMax];
    return std::string(buffer, write_datetime(buffer, dt));
}

DateTime parsed(std::string_view s) {
    const auto r = parse_datetime(s);
    EXPECT_TRUE(r.has_value()) << s;
    return r.value_or(DateTime{});
}

TEST(UnixTime, FromTimestamp) {
    const std::tuple<i64, std::int32_t, const char *> cases[] = {
        {0, 0, "1970-01-01T00:00:00Z"},
        {-1, 0, "1969-12-31T23:59:59Z"},
        {0, -1, "1969-12-31T23:59:59.999999999Z"},
        {-1, 999999999, "1969-12-31T23:59:59.999999999Z"},
        {86400, 0, "1970-01-02T00:00:00Z"},
        {951782400, 0, "2000-02-29T00:00:00Z"},
        {kMaxUnixSeconds, 999999999, "2147483647-12-31T23:59:59.999999999Z"},
        {kMinUnixSeconds, 0, "-2147483648-01-01T00:00:00Z"},
    };
    for (const auto &[secs, nanos, expected] : cases) {
        const auto dt = from_unix_timestamp(secs, nanos);
        ASSERT_TRUE(dt.has_value()) << secs;
        EXPECT_EQ(text(*dt), expected);
    }
    for (auto [secs, nanos] : {std::pair<i64, std::int32_t>{kMaxUnixSeconds + 1, 0},
                               {kMinUnixSeconds - 1, 0},
                               {kMinUnixSeconds, -1},
                               {INT64_MIN, -1},
                               {INT64_MIN, 0},
                               {INT64_MAX, 999999999}}) {
        const auto dt = from_unix_timestamp(secs, nanos);
        ASSERT_FALSE(dt.has_value()) << secs;
        EXPECT_EQ(dt.error(), DateError::OutOfRange);
    }
}

TEST(UnixTime, EndsOfTheRange) {
    EXPECT_EQ(unix_timestamp(kMax), 67767976233532799);
    EXPECT_TRUE(unix_timestamp_nanos(kMax) == i128{67767976233532799} * 1000000000 + 999999999);
    EXPECT_EQ(unix_timestamp(kMin), -67768100567971200);
    for (DateTime dt : {kMin, kMax}) {
        EXPECT_EQ(*from_unix_timestamp(unix_timestamp(dt), static_cast<std::int32_t>(dt.time.nanosecond)), dt);
        EXPECT_EQ(*from_unix_nanos(unix_timestamp_nanos(dt)), dt);
    }
    const DateTime half = parsed("1969-12-31T23:59:59.5Z");
    EXPECT_EQ(unix_timestamp(half), -1);
    EXPECT_TRUE(unix_timestamp_nanos(half) == -500000000);
}

TEST(UnixTime, RandomRoundTripsAndOrder) {
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<i64> any(kMinUnixSeconds, kMaxUnixSeconds);
    std::uniform_int_distribution<i64> near(-4000000000, 4000000000);
    std::uniform_int_distribution<std::int32_t> nanos(0, 999999999);
    DateTime previous = kMin;
    i128 previous_instant = unix_timestamp_nanos(kMin);
    for (int i = 0; i < 300000; ++i) {
        const i64 secs = i % 2 ? any(rng) : near(rng);
        const std::int32_t ns = nanos(rng);
        const DateTime dt = *from_unix_timestamp(secs, ns);
        ASSERT_EQ(unix_timestamp(dt), secs);
        const i128 instant = unix_timestamp_nanos(dt);
        ASSERT_EQ(*from_unix_nanos(instant), dt);
        ASSERT_EQ(*parse_datetime(text(dt)), dt) << text(dt);
        // Packed-field order is instant order, and difference agrees.
        ASSERT_EQ(compare(dt, previous), (instant > previous_instant) - (instant < previous_instant));
        ASSERT_TRUE(difference(dt, previous) == instant - previous_instant);
        ASSERT_EQ(*add_duration(previous, instant - previous_instant), dt);
        previous = dt;
        previous_instant = instant;
    }
}

TEST(AddDuration, ShortSpansAgreeWithTheInstant) {
    // Spans within a day, where only the time of day may move, against the
    // round trip through the instant.
    std::mt19937_64 rng(9);
    std::uniform_int_distribution<i64> secs(kMinUnixSeconds, kMaxUnixSeconds);
    std::uniform_int_distribution<i64> span(-86400000000000, 86400000000000);
    std::uniform_int_distribution<std::int32_t> nanos(0, 999999999);
    for (int i = 0; i < 300000; ++i) {
        const DateTime dt = *from_unix_timestamp(secs(rng), nanos(rng));
        const i128 s = i % 4 ? span(rng) : i128{span(rng) % 1000};
        const auto moved = add_duration(dt, s);
        const auto reference = from_unix_nanos(unix_timestamp_nanos(dt) + s);
        ASSERT_EQ(moved.has_value(), reference.has_value());
        if (reference) {
            ASSERT_EQ(*moved, *reference);
            ASSERT_TRUE(difference(*moved, dt) == s);
        }
    }
    for (int i = 0; i < 100000; ++i) {
        const Date d = *from_days_since_unix_epoch(secs(rng) / 86400);
        const i64 days = static_cast<i64>(rng() % 81) - 40;
        const auto moved = add_days(d, days);
        const auto reference = from_days_since_unix_epoch(days_since_unix_epoch(d) + days);
        ASSERT_EQ(moved.has_value(), reference.has_value());
        if (reference) {
            ASSERT_EQ(*moved, *reference);
        }
    }
}

TEST(AddDuration, EdgesAndOverflow) {
    EXPECT_EQ(add_duration(kMax, 1).error(), DateError::OutOfRange);
    EXPECT_EQ(add_duration(kMin, -1).error(), DateError::OutOfRange);
    EXPECT_EQ(add_duration(parsed("1970-01-01T00:00:00.000000001Z"), kI128Max).error(), DateError::OutOfRange);
    EXPECT_EQ(add_duration(kMin, kI128Min).error(), DateError::OutOfRange);
    // Seconds just below the 64-bit range: floor, not truncation, decides.
    EXPECT_EQ(from_unix_nanos(i128{INT64_MIN} * 1000000000 - 5).error(), DateError::OutOfRange);
    EXPECT_EQ(from_unix_nanos(i128{INT64_MAX} * 1000000000).error(), DateError::OutOfRange);
    EXPECT_EQ(text(*add_duration(parsed("1970-01-01T00:00:00Z"), -1)), "1969-12-31T23:59:59.999999999Z");
    EXPECT_EQ(text(*add_duration(parsed("2024-02-28T12:00:00Z"), i128{86400} * 1000000000)), "2024-02-29T12:00:00Z");
    EXPECT_EQ(*add_duration(kMax, 0), kMax);
    EXPECT_EQ(*add_duration(kMin, difference(kMax, kMin)), kMax);
}

TEST(Difference, SignAndMagnitude) {
    const DateTime a = parsed("1970-01-01T00:00:01Z"), b = parsed("1970-01-01T00:00:00.5Z");
    EXPECT_TRUE(difference(a, b) == 500000000);
    EXPECT_TRUE(difference(b, a) == -500000000);
    EXPECT_TRUE(difference(kMax, kMin) > i128{135} * 1000000000 * 1000000000 * 1000000);  // about 1.36e26
    EXPECT_TRUE(difference(kMin, kMax) == -difference(kMax, kMin));
}

TEST(Now, IsBetweenTwoClockReadings) {
    timespec before, after;
    clock_gettime(CLOCK_REALTIME, &before);
    const auto now = now_utc();
    clock_gettime(CLOCK_REALTIME, &after);
    ASSERT_TRUE(now.has_value() && now->has_value());
    const i128 t = unix_timestamp_nanos(**now);
    EXPECT_TRUE(t >= i128{before.tv_sec} * 1000000000 + before.tv_nsec);
    EXPECT_TRUE(t <= i128{after.tv_sec} * 1000000000 + after.tv_nsec);
}

TEST(DateTimeText, ReaderAccepts) {
    const std::pair<const char *, const char *> cases[] = {
        {"2024-01-01T12:00:00Z", "2024-01-01T12:00:00Z"},
        {"2024-01-01T12:00:00z", "2024-01-01T12:00:00Z"},
        {"2024-01-01 12:00:00Z", "2024-01-01T12:00:00Z"},
        {"2024-01-01T12:00:00.123456789Z", "2024-01-01T12:00:00.123456789Z"},
        {"2024-01-01T1:2:3Z", "2024-01-01T01:02:03Z"},
        {"-001-12-31T23:59:59Z", "-001-12-31T23:59:59Z"},
        {"+2024-01-01T00:00:00Z", "2024-01-01T00:00:00Z"},
        {"2024-01-01T12:00:00.500Z", "2024-01-01T12:00:00.5Z"},
        {"-2147483648-01-01T00:00:00Z", "-2147483648-01-01T00:00:00Z"},
        {"2147483647-12-31T23:59:59.999999999Z", "2147483647-12-31T23:59:59.999999999Z"},
        {"10000-01-01T00:00:00Z", "10000-01-01T00:00:00Z"},
    };
    for (const auto &[input, written] : cases) EXPECT_EQ(text(parsed(input)), written) << input;
}

TEST(DateTimeText, ReaderRejects) {
    const char *const cases[] = {
        "",
        "Z",
        "z",
        "TZ",
        " Z",
        // No zone letter, or another zone
        "2024-01-01T12:00:00",
        "2024-01-01T12:00:00+00:00",
        "2024-01-01T12:00:00ZZ",
        "2024-01-01T12:00:00\x5a\x20",
        // Separator
        "2024-01-01t12:00:00Z",
        "2024-01-0112:00:00Z",
        "2024-01-01_12:00:00Z",
        // No trimming
        "2024-01-01T12:00:00Z ",
        " 2024-01-01T12:00:00Z",
        "2024-01-01T12:00:00Z\n",
        // Fields
        "2024-01-01T24:00:00Z",
        "2024-02-30T00:00:00Z",
        "2024-01-01T12:00:00.Z",
        "2024-01-01T12:00:00.1234567890Z",
        "2024-01-01T12:00Z",
        "2024-01-01TT12:00:00Z",
        // A byte that only looks like "Z" after folding
        "2024-01-01T12:00:00\x7a\x7a",
        "2024-01-01T12:00:00\xda",
    };
    for (const char *input : cases) EXPECT_FALSE(parse_datetime(input).has_value()) << '"' << input << '"';
}

}  // namespace
}  // namespace merandol
