#include "core/date.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace merandol {
namespace {

// The obviously correct reference: step one day at a time.
Date next_day(Date d) {
    if (d.day < days_in_month(d.year, d.month)) return {d.year, d.month, static_cast<std::uint8_t>(d.day + 1)};
    if (d.month < 12) return {d.year, static_cast<std::uint8_t>(d.month + 1), 1};
    return {d.year + 1, 1, 1};
}

std::string text(Date d) {
    char buffer[kDateTextMax];
    return std::string(buffer, write_date(buffer, d));
}

void walk(Date start, i64 start_number, i64 count) {
    Date d = start;
    for (i64 n = start_number; n < start_number + count; ++n) {
        ASSERT_EQ(days_since_unix_epoch(d), n) << text(d);
        const auto back = from_days_since_unix_epoch(n);
        ASSERT_TRUE(back.has_value()) << n;
        ASSERT_EQ(*back, d) << n;
        if (n + 1 < start_number + count) d = next_day(d);
    }
}

TEST(DayNumber, WalkAroundTheEpoch) { walk({-1000, 1, 1}, days_since_unix_epoch({-1000, 1, 1}), 1500000); }

TEST(DayNumber, WalkAtBothEndsOfTheRange) {
    walk({INT32_MIN, 1, 1}, kMinDayNumber, 400000);
    const i64 start = kMaxDayNumber - 400000 + 1;
    walk(*from_days_since_unix_epoch(start), start, 400000);
}

TEST(DayNumber, RandomRoundTripsOverTheWholeRange) {
    std::mt19937_64 rng(20241207);
    std::uniform_int_distribution<i64> any(kMinDayNumber, kMaxDayNumber);
    for (int i = 0; i < 1000000; ++i) {
        const i64 n = any(rng);
        const auto d = from_days_since_unix_epoch(n);
        ASSERT_TRUE(d.has_value()) << n;
        ASSERT_TRUE(Date::make(d->year, d->month, d->day).has_value()) << n;
        ASSERT_EQ(days_since_unix_epoch(*d), n);
        // Weekday from the day number agrees with stepping through weeks.
        ASSERT_EQ(static_cast<i64>(weekday(*d)), ((n % 7 + 7) % 7 + 3) % 7);
    }
}

TEST(DayNumber, OutsideTheRangeFails) {
    for (i64 n : {kMinDayNumber - 1, kMaxDayNumber + 1, INT64_MIN, INT64_MAX, INT64_MIN + 1, INT64_MAX - 1,
                  i64{690527217032721} + 1, i64{-4} * kMaxDayNumber}) {
        const auto d = from_days_since_unix_epoch(n);
        ASSERT_FALSE(d.has_value()) << n;
        EXPECT_EQ(d.error(), DateError::OutOfRange) << n;
    }
}

TEST(AddDays, EdgesAndOverflow) {
    EXPECT_EQ(add_days({INT32_MAX, 12, 31}, 1).error(), DateError::OutOfRange);
    EXPECT_EQ(add_days({INT32_MIN, 1, 1}, -1).error(), DateError::OutOfRange);
    EXPECT_EQ(add_days({1970, 1, 2}, INT64_MAX).error(), DateError::OutOfRange);
    EXPECT_EQ(add_days({1969, 12, 31}, INT64_MIN).error(), DateError::OutOfRange);
    EXPECT_EQ(*add_days({2024, 5, 6}, 0), (Date{2024, 5, 6}));
    EXPECT_EQ(*add_days({2024, 1, 1}, 366), (Date{2025, 1, 1}));
    EXPECT_EQ(*add_days({2024, 1, 1}, -1), (Date{2023, 12, 31}));
    EXPECT_EQ(*add_days({INT32_MIN, 1, 1}, kMaxDayNumber - kMinDayNumber), (Date{INT32_MAX, 12, 31}));
}

TEST(Calendar, WeekdaysOrdinalsAndLeapYears) {
    EXPECT_EQ(weekday({1969, 12, 28}), Weekday::Sunday);
    EXPECT_EQ(weekday({1970, 1, 1}), Weekday::Thursday);
    EXPECT_EQ(weekday({INT32_MIN, 1, 1}), *from_days_since_unix_epoch(kMinDayNumber).transform(weekday));
    for (int y = -2000; y <= 2400; ++y) {
        const bool reference = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        ASSERT_EQ(is_leap_year(y), reference) << y;
        ASSERT_EQ(ordinal({y, 12, 31}), reference ? 366u : 365u) << y;
        ASSERT_EQ(ordinal({y, 1, 1}), 1u);
        ASSERT_EQ(ordinal({y, 3, 1}), reference ? 61u : 60u);
    }
    EXPECT_TRUE(is_leap_year(INT32_MIN));  // -2^31: a multiple of 4, not of 100
}

TEST(Calendar, MakeValidates) {
    EXPECT_TRUE(Date::make(2024, 2, 29).has_value());
    EXPECT_TRUE(Date::make(0, 2, 29).has_value());
    for (auto [y, m, d] : {std::tuple{1900, 2, 29},
                           {2023, 2, 29},
                           {2024, 0, 1},
                           {2024, 13, 1},
                           {2024, 1, 0},
                           {2024, 4, 31},
                           {2024, 1, 32},
                           {2024, 255, 1}}) {
        const auto r = Date::make(y, static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(d));
        ASSERT_FALSE(r.has_value()) << y << "-" << m << "-" << d;
        EXPECT_EQ(r.error(), DateError::InvalidDate);
    }
}

TEST(DateText, Writer) {
    const std::pair<Date, const char *> cases[] = {
        {{0, 1, 1}, "0000-01-01"},
        {{5, 1, 1}, "0005-01-01"},
        {{-1, 1, 1}, "-001-01-01"},
        {{-999, 1, 1}, "-999-01-01"},
        {{-1000, 1, 1}, "-1000-01-01"},
        {{10000, 1, 1}, "10000-01-01"},
        {{2024, 1, 5}, "2024-01-05"},
        {{INT32_MIN, 1, 1}, "-2147483648-01-01"},
        {{INT32_MAX, 12, 31}, "2147483647-12-31"},
    };
    for (const auto &[date, expected] : cases) EXPECT_EQ(text(date), expected);
}

TEST(DateText, ReaderAccepts) {
    const std::pair<const char *, Date> cases[] = {
        {"2024-01-01", {2024, 1, 1}},
        {"+2024-01-01", {2024, 1, 1}},
        {"-0001-01-01", {-1, 1, 1}},
        {"-1-1-1", {-1, 1, 1}},
        {"02024-01-01", {2024, 1, 1}},
        {"2024-012-031", {2024, 12, 31}},
        {"1-1-1", {1, 1, 1}},
        {"2024-1-5", {2024, 1, 5}},
        {"+0-1-1", {0, 1, 1}},
        {"-0-1-1", {0, 1, 1}},
        {"2147483647-12-31", {INT32_MAX, 12, 31}},
        {"-2147483648-01-01", {INT32_MIN, 1, 1}},
        {"0000000000000000000002024-02-29", {2024, 2, 29}},
    };
    for (const auto &[input, expected] : cases) {
        const auto r = parse_date(input);
        ASSERT_TRUE(r.has_value()) << input;
        EXPECT_EQ(*r, expected) << input;
    }
}

TEST(DateText, ReaderRejects) {
    const char *const cases[] = {
        // Too short, or a sign alone
        "",
        "1",
        "+1",
        "-",
        "+-",
        // Surrounding or trailing text
        " 2024-01-01",
        "2024-01-01 ",
        "2024-01-01\n",
        "2024-01-01T00",
        "2024-01-01-",
        // Separators
        "2024/01/01",
        "2024-1",
        "2024-01-",
        "2024--01-01",
        "-2024",
        "2024",
        // Signs where none may stand
        "+-2024-01-01",
        "2024-+1-01",
        "2024-01--1",
        "++2024-01-01",
        // Values out of range
        "2024-13-01",
        "2024-00-10",
        "2024-02-30",
        "2024-01-32",
        "2024-01-00",
        "1900-02-29",
        "2147483648-01-01",
        "-2147483649-01-01",
        "99999999999999999999-01-01",
        // Not ASCII digits (fullwidth one is EF BC 91)
        "\xef\xbc\x91-01-01",
        "2024-0\xef\xbc\x91-01",
        "2024-01-0a",
        "2O24-01-01",
    };
    for (const char *input : cases) {
        const auto r = parse_date(input);
        ASSERT_FALSE(r.has_value()) << '"' << input << '"';
        EXPECT_EQ(r.error(), DateError::InvalidDate);
    }
    EXPECT_FALSE(parse_date(std::string_view("2024-01-01\0", 11)).has_value());
}

TEST(DateText, WriterThenReaderRoundTrips) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<i64> any(kMinDayNumber, kMaxDayNumber);
    std::uniform_int_distribution<i64> near(-800000, 800000);
    for (int i = 0; i < 200000; ++i) {
        const Date d = *from_days_since_unix_epoch(i % 2 ? any(rng) : near(rng));
        const auto back = parse_date(text(d));
        ASSERT_TRUE(back.has_value()) << text(d);
        ASSERT_EQ(*back, d);
    }
}

TEST(Ordering, IsChronological) {
    EXPECT_LT(compare({-1, 12, 31}, {0, 1, 1}), 0);
    EXPECT_LT(compare({2024, 1, 1}, {2024, 1, 2}), 0);
    EXPECT_EQ(compare({2024, 1, 1}, {2024, 1, 1}), 0);
    EXPECT_GT(compare({INT32_MAX, 1, 1}, {INT32_MIN, 12, 31}), 0);
}

}  // namespace
}  // namespace merandol
