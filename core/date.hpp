// Calendar date on the proleptic Gregorian calendar over the whole signed
// 32-bit year range, its day number (days since 1970-01-01) and weekday.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <type_traits>

#include "core/calendar.hpp"

namespace merandol {

using i64 = std::int64_t;
using u64 = std::uint64_t;
using i128 = __int128;
using u128 = unsigned __int128;

// As wide as the year: in a std::expected<Date, DateError> the error
// shares the year's bytes, and a one-byte error had the compiler keep the
// year's bytes apart and put the Date back together through memory, a
// load that waits on several stores.  Hence no narrower type, as
// clang-tidy would have it.
enum class DateError : std::uint32_t { InvalidDate, OutOfRange };  // NOLINT(performance-enum-size)

constexpr std::string_view error_name(DateError e) noexcept {
    return e == DateError::InvalidDate ? "InvalidDate" : "OutOfRange";
}

enum class Weekday : std::uint8_t { Monday, Tuesday, Wednesday, Thursday, Friday, Saturday, Sunday };

constexpr std::string_view weekday_name(Weekday w) noexcept {
    constexpr std::string_view names[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    return names[static_cast<unsigned>(w)];
}

constexpr unsigned number_from_monday(Weekday w) noexcept { return static_cast<unsigned>(w) + 1; }

// Day numbers of the first and last representable dates,
// -2147483648-01-01 and 2147483647-12-31.
inline constexpr i64 kMinDayNumber = -784353015833;
inline constexpr i64 kMaxDayNumber = 784351576776;

struct Date {
    std::int32_t year;   // any value; year 0 precedes year 1
    std::uint8_t month;  // [1, 12]
    std::uint8_t day;    // [1, days_in_month(year, month)]

    static constexpr std::expected<Date, DateError> make(std::int32_t year, std::uint8_t month,
                                                         std::uint8_t day) noexcept {
        if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month))
            return std::unexpected(DateError::InvalidDate);
        return Date{year, month, day};
    }

    friend constexpr bool operator==(Date, Date) noexcept = default;
};
static_assert(sizeof(Date) == 8 && std::is_trivially_copyable_v<Date>);

// Date to day number.  The year is made March-based (January and February
// belong to the previous year, so the leap day ends the year) and shifted by
// 2147484000 = 400 * 5368710 years, which keeps every intermediate positive
// and leaves the 400-year cycle unchanged.
inline constexpr i64 kYearShift = 2147484000;
static_assert(kYearShift % 400 == 0);

// Days from 1 March of the shifted year 0 to `d`: always positive.
constexpr u64 shifted_day_count(Date d) noexcept {
    const bool jan_feb = d.month <= 2;
    const u64 b = static_cast<u64>(static_cast<i64>(d.year) - jan_feb + kYearShift);  // [351, 4294967647]
    // Days from 1 March to the first of the month: 979/32 ~ 30.6 days per
    // month; the offsets 8829 and -2919 place March at 0 and January at 306.
    const unsigned m = jan_feb ? (979u * d.month + 8829u) / 32u : (979u * d.month - 2919u) / 32u;
    // Constant divisors: the compiler emits shifts and multiply-high.
    return 365 * b + b / 4 - b / 100 + b / 400 + m + d.day;
}

// 1970-01-01: the shifted count of 0000-03-01 is kYearShift / 400 cycles
// and its day 1, and 1970-01-01 lies kDaysFromMarchOfYear0To1970 on.
inline constexpr u64 kEpochShiftedDayCount = kYearShift / 400 * kDaysPer400Years + 1 + kDaysFromMarchOfYear0To1970;
static_assert(kEpochShiftedDayCount == 784353144339);

constexpr i64 days_since_unix_epoch(Date d) noexcept {
    return static_cast<i64>(shifted_day_count(d)) - static_cast<i64>(kEpochShiftedDayCount);
}

constexpr u64 mul_hi(u64 a, u64 b) noexcept { return static_cast<u64>((static_cast<u128>(a) * b) >> 64); }
constexpr u64 mul_lo(u64 a, u64 b) noexcept { return a * b; }

// Day number to date: Neri and Schneider, "Euclidean affine functions and
// their application to calendar algorithms" (2023), in the variant that
// counts days backwards from a fixed anchor so that every step is an
// unsigned multiplication by a constant.  Each 64-bit multiplier is 2^64
// divided by a period in days, so the high half of a product is a quotient
// and the low half the fraction of the period that remains.
constexpr std::expected<Date, DateError> from_days_since_unix_epoch(i64 n) noexcept {
    // Anchor.  Every representable day lies on or before it; counting back
    // from it keeps a non-negative.
    i64 a;
    if (__builtin_sub_overflow(i64{690527217032721}, n, &a) || a < 0) return std::unexpected(DateError::OutOfRange);
    const u64 ua = static_cast<u64>(a);
    // Century.  h = a / 36524.25 (505054698555331 = 2^64 / 36524.25); adding
    // the three skipped leap days of every 400 years turns the Gregorian
    // count into a Julian one with a leap day every fourth year.
    const u64 h = mul_hi(ua, 505054698555331);
    const u64 x = ua + h - h / 4;
    if (x >> 63) return std::unexpected(DateError::OutOfRange);
    // Year.  c = x / 365.25 (50504432782230121 = 2^64 / 365.25); t is the
    // day within that year scaled by 2142.2 (782432 = 365.25 * 2142.2), a
    // fixed point with 2^16 per 30.6-day month.
    const u64 c = mul_hi(x, 50504432782230121);
    const u64 t = mul_hi(mul_lo(x, 50504432782230121), 782432);
    i64 y = 1890599307999 - static_cast<i64>(c);
    // The first 247 * 512 steps counted back (59 days) are February and
    // January, which belong to the next calendar year.
    const bool jan_feb = t / 512 < 247;
    // Map.  r = month * 2^16 + (day - 1) * 2140; 512 * (y mod 4) undoes the
    // quarter day of the Julian year.
    const i64 r = 512 * (y & 3) - static_cast<i64>(t) + (jan_feb ? 191360 : 977792);
    if (r < 0) return std::unexpected(DateError::OutOfRange);
    y += jan_feb;
    if (y < INT32_MIN || y > INT32_MAX) return std::unexpected(DateError::OutOfRange);
    const u64 month = static_cast<u64>(r) / 65536;                              // [1, 12]
    const u64 day = mul_hi(static_cast<u64>(r) % 65536, 8619973866219416) + 1;  // 8619973866219416 = 2^64 / 2140
    const auto year = static_cast<std::int32_t>(y);
    if (month < 1 || month > 12 || day > days_in_month(year, static_cast<unsigned>(month)))
        return std::unexpected(DateError::InvalidDate);
    return Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
}

constexpr std::expected<Date, DateError> add_days(Date d, i64 days) noexcept {
    // Within the month there is no need for the day-number round trip.
    if (days >= -30 && days <= 30) {
        const i64 day = d.day + days;
        if (day >= 1 && day <= days_in_month(d.year, d.month))
            return Date{d.year, d.month, static_cast<std::uint8_t>(day)};
    }
    i64 n;
    if (__builtin_add_overflow(days_since_unix_epoch(d), days, &n)) return std::unexpected(DateError::OutOfRange);
    return from_days_since_unix_epoch(n);
}

// The neighbouring days, stepped through the month and the year rather than
// through the day number.
constexpr std::expected<Date, DateError> day_after(Date d) noexcept {
    if (d.day < days_in_month(d.year, d.month)) return Date{d.year, d.month, static_cast<std::uint8_t>(d.day + 1)};
    if (d.month < 12) return Date{d.year, static_cast<std::uint8_t>(d.month + 1), 1};
    if (d.year == INT32_MAX) return std::unexpected(DateError::OutOfRange);
    return Date{d.year + 1, 1, 1};
}

constexpr std::expected<Date, DateError> day_before(Date d) noexcept {
    if (d.day > 1) return Date{d.year, d.month, static_cast<std::uint8_t>(d.day - 1)};
    if (d.month > 1) {
        const auto month = static_cast<std::uint8_t>(d.month - 1);
        return Date{d.year, month, static_cast<std::uint8_t>(days_in_month(d.year, month))};
    }
    if (d.year == INT32_MIN) return std::unexpected(DateError::OutOfRange);
    return Date{d.year - 1, 12, 31};
}

constexpr Weekday weekday(Date d) noexcept {
    // Day 0, 1970-01-01, is a Thursday: remainders 0..6 map to Thu..Wed.
    static constexpr std::uint8_t from_remainder[7] = {3, 4, 5, 6, 0, 1, 2};
    // The day number modulo 7, taken on the positive shifted count: adding
    // 7 - (kEpochShiftedDayCount mod 7) subtracts the epoch's count mod 7.
    constexpr u64 kToDayNumber = 7 - kEpochShiftedDayCount % 7;
    return static_cast<Weekday>(from_remainder[(shifted_day_count(d) + kToDayNumber) % 7]);
}

constexpr unsigned ordinal(Date d) noexcept { return days_before_month(d.month, is_leap_year(d.year)) + d.day; }

// Chronological order; the same as comparing (year, month, day).
constexpr int compare(Date a, Date b) noexcept {
    const i64 x = days_since_unix_epoch(a), y = days_since_unix_epoch(b);
    return (x > y) - (x < y);
}

// Text form "YYYY-MM-DD": the year signed, zero-padded to four characters
// counting the sign.  The longest text is "-2147483648-12-31".
inline constexpr std::size_t kDateTextMax = sizeof("-2147483648-12-31") - 1;

char *write_date(char *out, Date d) noexcept;
// The year alone, as write_date writes it: at most "-2147483648".
char *write_year(char *out, std::int32_t year) noexcept;
std::expected<Date, DateError> parse_date(std::string_view text) noexcept;

// Exactly "YYYY-MM-DD", the shape every writer produces, read at fixed
// places into `out`.  False for any other text or a day that does not
// exist, which parse_date then decides.  (A flag and an output, rather than
// an optional, keep the fields in registers through the callers.)
bool read_fixed_date(std::string_view text, Date &out) noexcept;
inline constexpr std::size_t kFixedDateSize = sizeof("YYYY-MM-DD") - 1;

// --- Compile-time checks of key identities -------------------------------
static_assert(days_since_unix_epoch({1970, 1, 1}) == 0);
static_assert(days_since_unix_epoch({1969, 12, 31}) == -1);
static_assert(days_since_unix_epoch({2000, 3, 1}) == 11017);
static_assert(days_since_unix_epoch({2024, 2, 29}) == 19782);
static_assert(days_since_unix_epoch({INT32_MIN, 1, 1}) == kMinDayNumber);
static_assert(days_since_unix_epoch({INT32_MAX, 12, 31}) == kMaxDayNumber);
static_assert(*from_days_since_unix_epoch(0) == Date{1970, 1, 1});
static_assert(*from_days_since_unix_epoch(kMinDayNumber) == Date{INT32_MIN, 1, 1});
static_assert(*from_days_since_unix_epoch(kMaxDayNumber) == Date{INT32_MAX, 12, 31});
static_assert(!from_days_since_unix_epoch(kMinDayNumber - 1).has_value());
static_assert(!from_days_since_unix_epoch(kMaxDayNumber + 1).has_value());
static_assert(*day_after({2024, 2, 28}) == Date{2024, 2, 29} && *day_after({2023, 2, 28}) == Date{2023, 3, 1});
static_assert(*day_after({-1, 12, 31}) == Date{0, 1, 1} && !day_after({INT32_MAX, 12, 31}));
static_assert(*day_before({2024, 3, 1}) == Date{2024, 2, 29} && *day_before({0, 1, 1}) == Date{-1, 12, 31});
static_assert(!day_before({INT32_MIN, 1, 1}));
// The calendar's 64-bit year arithmetic reaches one year past either end.
static_assert(year_start(kMaxDayNumber).year == INT32_MAX && year_start(kMinDayNumber).first_day == kMinDayNumber);
static_assert(year_start(kMaxDayNumber + 1).year == i64{INT32_MAX} + 1 &&
              year_start(kMinDayNumber - 1).year == i64{INT32_MIN} - 1);
static_assert(first_day_of_year(INT32_MIN) == kMinDayNumber &&
              first_day_of_year(i64{INT32_MAX} + 1) == kMaxDayNumber + 1);
static_assert(weekday({1970, 1, 1}) == Weekday::Thursday);
static_assert(weekday({2024, 1, 1}) == Weekday::Monday);
static_assert(ordinal({2024, 12, 31}) == 366 && ordinal({2023, 3, 1}) == 60);

}  // namespace merandol
