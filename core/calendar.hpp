// The proleptic Gregorian calendar, the one place its numbers live: leap
// years, month lengths, days before a month, the day number (days since
// 1970-01-01) of a year's 1 January and the year of a day number, for
// 32-bit and 64-bit years alike.  Every reader and converter of dates counts
// with these.
#pragma once

#include <array>
#include <climits>
#include <concepts>
#include <cstdint>

#include "core/floor.hpp"

namespace merandol {

// --- Periods ------------------------------------------------------------------

inline constexpr std::int64_t kDaysPerYear = 365;
// Four years and their one leap day.
inline constexpr std::int64_t kDaysPer4Years = 4 * kDaysPerYear + 1;  // 1461
// Twenty-five four-year spans less the leap day of the century year.
inline constexpr std::int64_t kDaysPer100Years = 25 * kDaysPer4Years - 1;  // 36524
// Four centuries and the leap day of the year divisible by 400.
inline constexpr std::int64_t kDaysPer400Years = 4 * kDaysPer100Years + 1;  // 146097
static_assert(kDaysPer400Years == 146097 && kDaysPer400Years == 400 * 365 + 100 - 4 + 1);
// 146097 = 7 * 20871: whole 400-year cycles move neither weekdays nor leap
// years, so a year may be shifted by any multiple of 400.
static_assert(kDaysPer400Years % 7 == 0);

inline constexpr std::int64_t kMonthsPerYear = 12;
inline constexpr std::int32_t kUnixEpochYear = 1970;

// --- Leap years and months ----------------------------------------------------

template <std::integral Year>
constexpr bool is_leap_year(Year year) noexcept {
    // Divisible by 100 means divisible by 25 and by 4; among multiples of 25
    // the leap years are the multiples of 16 (i.e. of 400).  Two's complement
    // low bits give the right answer for negative years as well.
    return (year % 25 == 0) ? (year & 15) == 0 : (year & 3) == 0;
}

template <std::integral Year>
constexpr unsigned days_in_month(Year year, unsigned month) noexcept {
    if (month == 2) return is_leap_year(year) ? 29 : 28;
    // Odd months up to July and even months from August have 31 days: the
    // parity of month, flipped from August on (bit 3), is the low bit.
    return 30 | ((month ^ (month >> 3)) & 1);
}

// Days of a common year before the first of month [1, 12], and the whole
// year at 13.
inline constexpr std::array<std::uint16_t, 14> kDaysBeforeMonth = [] {
    std::array<std::uint16_t, 14> before{};
    for (unsigned month = 1; month <= 12; ++month)
        before[month + 1] = static_cast<std::uint16_t>(before[month] + days_in_month(1, month));
    return before;
}();
static_assert(kDaysBeforeMonth[1] == 0 && kDaysBeforeMonth[3] == 59 && kDaysBeforeMonth[13] == kDaysPerYear);

// Days of the year before the first of the month, the leap day counted.
constexpr unsigned days_before_month(unsigned month, bool leap) noexcept {
    return kDaysBeforeMonth[month] + (leap && month > 2);
}

// Days of each month of a common year, for lookups without a branch; index
// 0 unused.
inline constexpr std::array<std::uint8_t, 13> kDaysOfCommonMonth = [] {
    std::array<std::uint8_t, 13> days{};
    for (unsigned month = 1; month <= 12; ++month) days[month] = static_cast<std::uint8_t>(days_in_month(1, month));
    return days;
}();

// --- Day numbers --------------------------------------------------------------

// Days from 0001-01-01 to 1970-01-01: 1969 years, 1969 / 4 - 1969 / 100 +
// 1969 / 400 = 477 of them leap years.
inline constexpr std::int64_t kDaysFromYear1To1970 = 1969 * kDaysPerYear + 1969 / 4 - 1969 / 100 + 1969 / 400;
static_assert(kDaysFromYear1To1970 == 719162);
// Days from 0000-03-01 to 1970-01-01: five 400-year cycles reach
// 2000-03-01, which is day 11017.
inline constexpr std::int64_t kDaysFromMarchOfYear0To1970 = 5 * kDaysPer400Years - 11017;
static_assert(kDaysFromMarchOfYear0To1970 == 719468);
// A year counted from 1 March: 1 January is its day 306, since March to
// December have 306 days; the leap day ends it.
inline constexpr std::int64_t kDaysFromMarchToJanuary = kDaysPerYear - kDaysBeforeMonth[3];
static_assert(kDaysFromMarchToJanuary == 306);

// Day number of 1 January of `year`.  Whole 400-year cycles first, then the
// years into the cycle (in [0, 399]), counted from 0001-01-01.
constexpr std::int64_t first_day_of_year(std::int64_t year) noexcept {
    const auto [cycles, years] = floor_divmod<std::int64_t>(year - 1, 400);
    return cycles * kDaysPer400Years + kDaysPerYear * years + years / 4 - years / 100 - kDaysFromYear1To1970;
}

// The year of a day number, its 1 January and whether it is a leap year,
// by Hinnant's civil_from_days: years counted from 1 March of year 0, so
// that the leap day ends the year.
struct YearStart {
    std::int64_t year;
    std::int64_t first_day;
    bool leap;
};

constexpr YearStart year_start(std::int64_t day) noexcept {
    const auto [cycles, day_of_cycle] = floor_divmod<std::int64_t>(day + kDaysFromMarchOfYear0To1970, kDaysPer400Years);
    // Less a day at the end of each 4-year span and of the cycle, plus one
    // at the end of each century, every year of the cycle has 365 days.
    const std::int64_t year_of_cycle = (day_of_cycle - day_of_cycle / (kDaysPer4Years - 1) +
                                        day_of_cycle / kDaysPer100Years - day_of_cycle / (kDaysPer400Years - 1)) /
                                       kDaysPerYear;  // [0, 399]
    const std::int64_t day_of_year =
        day_of_cycle - (kDaysPerYear * year_of_cycle + year_of_cycle / 4 - year_of_cycle / 100);  // [0, 365]
    const bool jan_feb = day_of_year >= kDaysFromMarchToJanuary;
    const std::int64_t year = year_of_cycle + cycles * 400 + jan_feb;
    const bool leap = is_leap_year(year);
    // 1 March is day 59 (60 in a leap year) after 1 January.
    return {year,
            jan_feb ? day - (day_of_year - kDaysFromMarchToJanuary) : day - day_of_year - kDaysBeforeMonth[3] - leap,
            leap};
}

// --- Four-digit years in 32 bits ---------------------------------------------
// The column readers' dates, years [0, 9999], in 32-bit lanes: the year
// begins in March, so that the leap day ends it, and is moved on by 400
// years (which keeps every weekday and leap year) so that it is positive,
// in [399, 10399].
inline constexpr std::uint32_t kFourDigitYearShift = 400;
// y / 100 as y * 5243 >> 19 for y < 43699 (5243 = ceil(2^19 / 100)).
inline constexpr std::uint32_t kCenturyMultiplier = 5243;
inline constexpr unsigned kCenturyShift = 19;
// Days before the first of each month in a year from March (January and
// February close it), less one for the day's own; index 0 unused.
inline constexpr std::array<std::int16_t, 13> kDaysBeforeMonthFromMarch = [] {
    std::array<std::int16_t, 13> before{};
    for (unsigned month = 1; month <= 12; ++month)
        before[month] = static_cast<std::int16_t>((month > 2 ? kDaysBeforeMonth[month] - kDaysBeforeMonth[3]
                                                             : kDaysBeforeMonth[month] + kDaysFromMarchToJanuary) -
                                                  1);
    return before;
}();
static_assert(kDaysBeforeMonthFromMarch[1] == 305 && kDaysBeforeMonthFromMarch[3] == -1 &&
              kDaysBeforeMonthFromMarch[12] == 274);
// The count of 1970-01-01.  0000-03-01 lies in the shifted year 400, whose
// years before it count 400 * 365 + 100 - 4 + 1 days, one 400-year cycle
// (its day, 1, and March's entry, -1, cancel); 1970-01-01 lies
// kDaysFromMarchOfYear0To1970 days on.
inline constexpr std::int32_t kFourDigitEpochCount = kDaysPer400Years + kDaysFromMarchOfYear0To1970;
static_assert(kFourDigitEpochCount == 865565);

static_assert([] {
    for (std::uint32_t y = 399; y <= 10399; ++y)
        if ((y * kCenturyMultiplier >> kCenturyShift) != y / 100) return false;
    return true;
}());

// Day number of a date of a four-digit year, in 32-bit steps.
constexpr std::int64_t days_of_four_digit_year(unsigned year, unsigned month, unsigned day) noexcept {
    const unsigned y = year + kFourDigitYearShift - (month <= 2);        // [399, 10399]
    const unsigned centuries = y * kCenturyMultiplier >> kCenturyShift;  // y / 100
    const int days =
        static_cast<int>(y * 365 + y / 4 - centuries + centuries / 4 + day) + kDaysBeforeMonthFromMarch[month];
    return days - kFourDigitEpochCount;
}
static_assert(days_of_four_digit_year(1970, 1, 1) == 0 &&
              days_of_four_digit_year(0, 3, 1) == -kDaysFromMarchOfYear0To1970);
static_assert(days_of_four_digit_year(2000, 1, 1) == first_day_of_year(2000) &&
              days_of_four_digit_year(9999, 12, 31) == first_day_of_year(10000) - 1 &&
              days_of_four_digit_year(0, 1, 1) == first_day_of_year(0));

// Leap years by multiplication, as vector lanes test them: an odd d
// divides n exactly when n times d's inverse modulo 2^32 is at most
// (2^32 - 1) / d.
inline constexpr std::uint32_t kInverseOf25 = 0xC28F5C29;  // 25 * 0xC28F5C29 = 1 modulo 2^32
inline constexpr std::uint32_t kMultiplesOf25Below = UINT32_MAX / 25;
static_assert(std::uint32_t{25} * kInverseOf25 == 1);
constexpr bool is_leap_four_digit_year(std::uint32_t year) noexcept {
    return year * kInverseOf25 <= kMultiplesOf25Below ? (year & 15) == 0 : (year & 3) == 0;
}
static_assert([] {
    for (std::uint32_t year = 0; year <= 9999; ++year)
        if (is_leap_four_digit_year(year) != is_leap_year(year)) return false;
    return true;
}());

// --- Months since 1970 ----------------------------------------------------------

// Months from January 1970 to the first of `month` of `year`.
template <class Count>
constexpr Count months_since_epoch(Count year, unsigned month) noexcept {
    return (year - kUnixEpochYear) * kMonthsPerYear + static_cast<Count>(month) - 1;
}

template <class Count>
struct YearMonth {
    Count year;
    unsigned month;  // [1, 12]
};

// The year and month of a count of months since January 1970.
template <class Count>
constexpr YearMonth<Count> month_of_epoch(Count months) noexcept {
    const auto [years, month] = floor_divmod(months, Count{kMonthsPerYear});
    return {years + kUnixEpochYear, static_cast<unsigned>(month) + 1};
}

// --- Compile-time checks of key identities -----------------------------------
static_assert(is_leap_year(2000) && is_leap_year(0) && is_leap_year(-400) && !is_leap_year(1900) &&
              !is_leap_year(-100) && is_leap_year(std::int64_t{-4}));
static_assert(days_in_month(2024, 2) == 29 && days_in_month(2023, 2) == 28 && days_in_month(1, 7) == 31 &&
              days_in_month(1, 8) == 31 && days_in_month(1, 9) == 30);
static_assert(days_before_month(3, true) == 60 && days_before_month(12, false) == 334);
static_assert(first_day_of_year(1970) == 0 && first_day_of_year(2000) == 10957 && first_day_of_year(1969) == -365);
static_assert(first_day_of_year(1) == -kDaysFromYear1To1970);
static_assert(year_start(0).year == 1970 && year_start(0).first_day == 0 && year_start(59).first_day == 0);
static_assert(year_start(19782).first_day == 19723 && year_start(19782).leap && year_start(19783).first_day == 19723);
static_assert(year_start(-1).year == 1969 && year_start(-1).first_day == -365 && !year_start(-1).leap);
static_assert(year_start(-kDaysFromMarchOfYear0To1970).year == 0 &&
              year_start(-kDaysFromMarchOfYear0To1970 - 1).first_day == first_day_of_year(0));
static_assert(months_since_epoch<std::int64_t>(1970, 1) == 0 && months_since_epoch<std::int64_t>(1969, 12) == -1);
static_assert(month_of_epoch<std::int64_t>(-1).year == 1969 && month_of_epoch<std::int64_t>(-1).month == 12 &&
              month_of_epoch<std::int64_t>(12).year == 1971 && month_of_epoch<std::int64_t>(12).month == 1);

}  // namespace merandol
