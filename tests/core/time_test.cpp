#include "core/time.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace merandol {
namespace {

std::string text(Time t) {
    char buffer[kTimeTextMax];
    return std::string(buffer, write_time(buffer, t));
}

TEST(Time, MakeValidates) {
    EXPECT_TRUE(Time::make(23, 59, 59, 999999999).has_value());
    EXPECT_TRUE(Time::make(0, 0, 0, 0).has_value());
    for (auto [h, m, s, ns] : {std::tuple{24, 0, 0, 0u},
                               {0, 60, 0, 0u},
                               {0, 0, 60, 0u},
                               {0, 0, 0, 1000000000u},
                               {255, 255, 255, 4294967295u}})
        EXPECT_FALSE(
            Time::make(static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(s), ns)
                .has_value());
}

TEST(Time, CountsAtBothEndsOfTheDay) {
    EXPECT_EQ(seconds_since_midnight({0, 0, 0, 0}), 0u);
    EXPECT_EQ(nanos_since_midnight({0, 0, 0, 0}), 0u);
    EXPECT_EQ(seconds_since_midnight({23, 59, 59, 999999999}), 86399u);
    EXPECT_EQ(nanos_since_midnight({23, 59, 59, 999999999}), 86399999999999u);
    EXPECT_EQ(seconds_since_midnight({12, 0, 0, 999999999}), 43200u);
}

TEST(Time, Ordering) {
    EXPECT_GT(compare({0, 0, 0, 1}, {0, 0, 0, 0}), 0);
    EXPECT_LT(compare({0, 0, 0, 1}, {0, 0, 1, 0}), 0);
    EXPECT_EQ(compare({1, 2, 3, 4}, {1, 2, 3, 4}), 0);
}

TEST(TimeText, Writer) {
    const std::pair<Time, const char *> cases[] = {
        {{0, 0, 0, 0}, "00:00:00"},
        {{9, 5, 3, 0}, "09:05:03"},
        {{12, 34, 56, 500000000}, "12:34:56.5"},
        {{12, 34, 56, 123000}, "12:34:56.000123"},
        {{12, 34, 56, 1}, "12:34:56.000000001"},
        {{12, 34, 56, 123456789}, "12:34:56.123456789"},
        {{12, 34, 56, 100000000}, "12:34:56.1"},
        {{12, 34, 56, 10}, "12:34:56.00000001"},
        {{23, 59, 59, 999999999}, "23:59:59.999999999"},
    };
    for (const auto &[time, expected] : cases) EXPECT_EQ(text(time), expected);
}

TEST(TimeText, ReaderAccepts) {
    const std::pair<const char *, Time> cases[] = {
        {"12:34:56", {12, 34, 56, 0}},
        {"12:34:56.5", {12, 34, 56, 500000000}},
        {"12:34:56.05", {12, 34, 56, 50000000}},
        {"12:34:56.123456789", {12, 34, 56, 123456789}},
        {"12:34:56.000000001", {12, 34, 56, 1}},
        {"23:59:59.999999999", {23, 59, 59, 999999999}},
        {"0:0:0", {0, 0, 0, 0}},
        {"1:2:3", {1, 2, 3, 0}},
        {"7:5:9", {7, 5, 9, 0}},
        {"00000023:00059:000059", {23, 59, 59, 0}},
        {"12:34:56.0", {12, 34, 56, 0}},
        {"12:34:56.000000000", {12, 34, 56, 0}},
    };
    for (const auto &[input, expected] : cases) {
        const auto r = parse_time(input);
        ASSERT_TRUE(r.has_value()) << input;
        EXPECT_EQ(*r, expected) << input;
    }
}

TEST(TimeText, ReaderRejects) {
    const char *const cases[] = {
        // Empty, or a field missing
        "",
        "12:34",
        "12::56",
        ":34:56",
        "12:34:",
        "::",
        // Too many fields or fractions
        "12:34:56:00",
        "12:34:56.5.5",
        "12.5:00:00",
        // Fraction length
        "12:34:56.",
        "12:34:56.1234567890",
        ".5",
        // Out of range
        "24:00:00",
        "23:60:00",
        "23:59:60",
        "99999999999999999999:00:00",
        // Anything but ASCII digits
        " 12:34:56",
        "12:34:56 ",
        "+1:00:00",
        "12:34:56,5",
        "12:34:5a",
        "12:34:56.-5",
        "12:34:56.5 ",
        "1\xef\xbc\x92:34:56",
        "12:34:56.\xd9\xa5",
    };
    for (const char *input : cases) EXPECT_FALSE(parse_time(input).has_value()) << '"' << input << '"';
    EXPECT_FALSE(parse_time(std::string_view("12:34:56\0", 9)).has_value());
}

TEST(TimeText, WriterThenReaderRoundTrips) {
    std::mt19937_64 rng(1);
    std::uniform_int_distribution<std::uint64_t> any(0, 86399999999999);
    for (int i = 0; i < 300000; ++i) {
        std::uint64_t n = any(rng);
        // Make fractions with every count of trailing zeros common.
        constexpr std::uint64_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                              100000, 1000000, 10000000, 100000000, 1000000000};
        if (i % 2 == 0) n -= n % kPow10[i / 2 % 10];
        const Time t = Time::from_second_of_day(static_cast<std::uint32_t>(n / kNanosPerSecond),
                                                static_cast<std::uint32_t>(n % kNanosPerSecond));
        const auto back = parse_time(text(t));
        ASSERT_TRUE(back.has_value()) << text(t);
        ASSERT_EQ(*back, t);
    }
    for (std::uint32_t p = 1; p <= 100000000; p *= 10) {
        const Time t{1, 2, 3, p};
        ASSERT_EQ(*parse_time(text(t)), t) << text(t);
    }
}

}  // namespace
}  // namespace merandol
