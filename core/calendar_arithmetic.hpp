// Calendar arithmetic on the one calendar of core/calendar.hpp: dates moved
// by years, months, weeks and days; the start of a year, month, ISO week or
// day; ISO week dates; and rounding of counts to a multiple of an increment
// under the nine rounding modes, for readings, times of day and spans.
// Every operation is checked: a result beyond the range is an error, never
// a wrapped or clamped value.
#pragma once

#include <cstdint>
#include <expected>

#include "core/calendar.hpp"
#include "core/date.hpp"
#include "core/datetime.hpp"
#include "core/floor.hpp"
#include "core/time.hpp"

namespace merandol {

// --- Moving a date by calendar units -----------------------------------------

// Signed 64-bit amounts, as a caller gives them.
struct CalendarAmount {
    i64 years = 0, months = 0, weeks = 0, days = 0;
};

// Years and months first, the day clamped to the last day of the month
// reached, then weeks and days.  The month reached must itself lie in the
// range, even when the days would bring the date back into it.  Always
// inlined: a caller's zero amounts then drop whole steps, which link-time
// optimization, weighing the module's size, has at times left undone.
[[gnu::always_inline]] constexpr std::expected<Date, DateError> add_calendar(Date d, CalendarAmount amount) noexcept {
    Date moved = d;
    if (amount.years != 0 || amount.months != 0) {
        // Months since January of year 0: |years * 12 + months| < 2^68 and
        // the date's own count < 2^36, far inside 128 bits.
        const i128 month_index =
            i128{d.year} * kMonthsPerYear + (d.month - 1) + i128{amount.years} * kMonthsPerYear + amount.months;
        // Checked before the division, which then runs in 64 bits.
        if (month_index < i128{INT32_MIN} * kMonthsPerYear || month_index >= (i128{INT32_MAX} + 1) * kMonthsPerYear)
            return std::unexpected(DateError::OutOfRange);
        const auto [year, month0] = floor_divmod<i64>(static_cast<i64>(month_index), kMonthsPerYear);
        const auto month = static_cast<unsigned>(month0) + 1;
        const unsigned last = days_in_month(static_cast<std::int32_t>(year), month);
        moved = Date{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month),
                     static_cast<std::uint8_t>(d.day < last ? d.day : last)};
    }
    // Usually the days fit 64 bits as they are summed.  Where they do not,
    // the exact sum, |7 * 2^63 + 2^63| < 2^67, may still fit (huge weeks
    // undone by days); a count beyond 64 bits leaves the range, which
    // add_days checks for the others (stepping within the month without
    // the day number).
    i64 days;
    if (__builtin_mul_overflow(amount.weeks, 7, &days) || __builtin_add_overflow(days, amount.days, &days))
        [[unlikely]] {
        const i128 exact = i128{amount.weeks} * 7 + amount.days;
        if (exact < INT64_MIN || exact > INT64_MAX) return std::unexpected(DateError::OutOfRange);
        days = static_cast<i64>(exact);
    }
    return add_days(moved, days);
}

// A reading keeps its time of day.
constexpr std::expected<DateTime, DateError> add_calendar(DateTime dt, CalendarAmount amount) noexcept {
    const auto date = add_calendar(dt.date, amount);
    if (!date) return std::unexpected(date.error());
    return DateTime{*date, dt.time};
}

// --- Weekdays of day numbers and ISO weeks -------------------------------------

// The weekday of a day number, Monday 0: day 0, 1970-01-01, is a Thursday (3).
constexpr unsigned weekday_from_monday(i64 day) noexcept {
    return static_cast<unsigned>(floor_divmod<i64>(day + 3, 7).remainder);
}

// A year's ISO weeks begin on the Monday of the week that holds its first
// Thursday; the year has week 53 when 1 January is a Thursday, or a
// Wednesday in a leap year.  Years are 64-bit: the ISO year of a date at
// either end of the range may lie one year beyond it.
constexpr unsigned weeks_in_iso_year(i64 year) noexcept {
    const unsigned first = weekday_from_monday(first_day_of_year(year));
    return first == 3 || (first == 2 && is_leap_year(year)) ? 53 : 52;
}

// The day number of the Monday of ISO week 1 of `year`.
constexpr i64 first_iso_monday(i64 year) noexcept {
    const i64 january_first = first_day_of_year(year);
    const unsigned weekday = weekday_from_monday(january_first);
    // Monday to Thursday: that week is week 1; Friday to Sunday: the next.
    return weekday <= 3 ? january_first - weekday : january_first + (7 - weekday);
}

struct IsoWeekDate {
    i64 year;       // the ISO week-numbering year
    unsigned week;  // [1, weeks_in_iso_year(year)]
    Weekday weekday;

    friend constexpr bool operator==(IsoWeekDate, IsoWeekDate) noexcept = default;
};

constexpr IsoWeekDate iso_week_date(Date d) noexcept {
    const i64 day = days_since_unix_epoch(d);
    const unsigned weekday = weekday_from_monday(day);
    // The week's Thursday lies in the ISO year, by definition of week 1.
    const i64 thursday = day - weekday + 3;
    const i64 year = year_start(thursday).year;
    const i64 week = (thursday - first_day_of_year(year)) / 7 + 1;
    return {year, static_cast<unsigned>(week), static_cast<Weekday>(weekday)};
}

// InvalidDate: a week outside [1, weeks_in_iso_year(year)]; OutOfRange: a
// date beyond the range.
constexpr std::expected<Date, DateError> from_iso_week_date(i64 year, i64 week, Weekday weekday) noexcept {
    // Beyond a year either side of the range no day of the year is in it.
    if (year < i64{INT32_MIN} - 1 || year > i64{INT32_MAX} + 1) return std::unexpected(DateError::OutOfRange);
    if (week < 1 || week > weeks_in_iso_year(year)) return std::unexpected(DateError::InvalidDate);
    const i64 day = first_iso_monday(year) + (week - 1) * 7 + static_cast<i64>(weekday);
    if (day < kMinDayNumber || day > kMaxDayNumber) return std::unexpected(DateError::OutOfRange);
    return from_days_since_unix_epoch(day);
}

// --- Start of a calendar unit -----------------------------------------------

enum class CalendarUnit : std::uint8_t { Year, Month, Week, Day };

// The first day of the unit that holds `d`; only the week can begin before
// the range (-2147483648-01-01 is no Monday).
constexpr std::expected<Date, DateError> start_of(Date d, CalendarUnit unit) noexcept {
    switch (unit) {
        case CalendarUnit::Year: return Date{d.year, 1, 1};
        case CalendarUnit::Month: return Date{d.year, d.month, 1};
        case CalendarUnit::Week: {
            const i64 monday = days_since_unix_epoch(d) - weekday_from_monday(days_since_unix_epoch(d));
            if (monday < kMinDayNumber) return std::unexpected(DateError::OutOfRange);
            return from_days_since_unix_epoch(monday);
        }
        case CalendarUnit::Day: break;
    }
    return d;
}

constexpr std::expected<DateTime, DateError> start_of(DateTime dt, CalendarUnit unit) noexcept {
    const auto date = start_of(dt.date, unit);
    if (!date) return std::unexpected(date.error());
    return DateTime{*date, Time{0, 0, 0, 0}};
}

// --- Rounding ------------------------------------------------------------------

// Temporal's rounding modes.  Floor and ceil go toward negative and
// positive infinity, trunc and expand toward and away from zero; the half
// modes go to the nearer multiple and settle a tie as the mode they are
// named after, half_even to the even multiple of the increment.
enum class RoundingMode : std::uint8_t {
    Floor,
    Ceil,
    Trunc,
    Expand,
    HalfFloor,
    HalfCeil,
    HalfTrunc,
    HalfExpand,
    HalfEven
};

enum class RoundError : std::uint8_t { Overflow };

// Whether a value strictly between two multiples goes to the upper one.
// `half` compares the remainder with half the step (negative, zero,
// positive); `odd` is the lower multiple's quotient's parity.
constexpr bool rounds_up(RoundingMode mode, bool negative, int half, bool odd) noexcept {
    switch (mode) {
        case RoundingMode::Floor: return false;
        case RoundingMode::Ceil: return true;
        case RoundingMode::Trunc: return negative;
        case RoundingMode::Expand: return !negative;
        default: break;
    }
    if (half != 0) return half > 0;
    switch (mode) {
        case RoundingMode::HalfFloor: return false;
        case RoundingMode::HalfCeil: return true;
        case RoundingMode::HalfTrunc: return negative;
        case RoundingMode::HalfExpand: return !negative;
        default: return odd;  // HalfEven
    }
}

// `value` rounded to a multiple of `step` (> 0), for any signed integer
// type; Overflow when that multiple does not fit it.
template <class T>
constexpr std::expected<T, RoundError> round_to_multiple(T value, T step, RoundingMode mode) noexcept {
    const auto [quotient, remainder] = floor_divmod(value, step);
    if (remainder == 0) return value;
    // remainder vs step - remainder, which cannot overflow, rather than
    // 2 * remainder vs step.  The multiple is reached from the value, as
    // the other one may lie beyond the type where this one does not.
    const T rest = step - remainder;
    const int half = (remainder > rest) - (remainder < rest);
    T multiple;
    if (rounds_up(mode, value < 0, half, (quotient & 1) != 0) ? __builtin_add_overflow(value, rest, &multiple)
                                                              : __builtin_sub_overflow(value, remainder, &multiple))
        return std::unexpected(RoundError::Overflow);
    return multiple;
}

static_assert(*round_to_multiple(5, 2, RoundingMode::HalfEven) == 4 &&
              *round_to_multiple(7, 2, RoundingMode::HalfEven) == 8);
static_assert(*round_to_multiple(-5, 2, RoundingMode::HalfEven) == -4 &&
              *round_to_multiple(-7, 2, RoundingMode::HalfEven) == -8);
static_assert(*round_to_multiple(-7, 2, RoundingMode::Floor) == -8 &&
              *round_to_multiple(-7, 2, RoundingMode::Ceil) == -6 &&
              *round_to_multiple(-7, 2, RoundingMode::Trunc) == -6 &&
              *round_to_multiple(-7, 2, RoundingMode::Expand) == -8);
static_assert(*round_to_multiple(-5, 2, RoundingMode::HalfFloor) == -6 &&
              *round_to_multiple(-5, 2, RoundingMode::HalfCeil) == -4 &&
              *round_to_multiple(-5, 2, RoundingMode::HalfTrunc) == -4 &&
              *round_to_multiple(-5, 2, RoundingMode::HalfExpand) == -6);
static_assert(*round_to_multiple(5, 2, RoundingMode::HalfTrunc) == 4 &&
              *round_to_multiple(5, 2, RoundingMode::HalfExpand) == 6);
static_assert(*round_to_multiple(-1, 10, RoundingMode::Trunc) == 0 &&
              *round_to_multiple(-6, 10, RoundingMode::HalfTrunc) == -10);
static_assert(*round_to_multiple(6, 3, RoundingMode::Ceil) == 6 &&
              *round_to_multiple(-6, 3, RoundingMode::Floor) == -6);
static_assert(!round_to_multiple<std::int64_t>(INT64_MAX, 2, RoundingMode::Ceil) &&
              !round_to_multiple<std::int64_t>(INT64_MIN + 1, 3, RoundingMode::Floor) &&
              *round_to_multiple<std::int64_t>(INT64_MIN + 1, 3, RoundingMode::Ceil) == INT64_MIN + 2);

// The units a reading, a time or a span is rounded to.
enum class TimeUnit : std::uint8_t { Day, Hour, Minute, Second, Millisecond, Microsecond, Nanosecond };

inline constexpr i64 kNanosPerDay = kSecondsPerDay * kNanosPerSecond;
inline constexpr i64 kNanosPerTimeUnit[] = {
    kNanosPerDay, 3600 * kNanosPerSecond, 60 * kNanosPerSecond, kNanosPerSecond, 1000000, 1000, 1};
// How many of the unit make the next larger one; a day is its own.
inline constexpr i64 kUnitsPerEnclosingUnit[] = {1, 24, 60, 60, 1000, 1000, 1000};

constexpr i64 nanos_per(TimeUnit unit) noexcept { return kNanosPerTimeUnit[static_cast<unsigned>(unit)]; }
// The next larger unit's length: the span within which a reading's count
// of `unit`s is rounded.
constexpr i64 enclosing_nanos(TimeUnit unit) noexcept {
    return nanos_per(unit) * kUnitsPerEnclosingUnit[static_cast<unsigned>(unit)];
}
static_assert(enclosing_nanos(TimeUnit::Day) == kNanosPerDay && enclosing_nanos(TimeUnit::Hour) == kNanosPerDay &&
              enclosing_nanos(TimeUnit::Second) == 60 * kNanosPerSecond &&
              enclosing_nanos(TimeUnit::Nanosecond) == 1000);
// Every enclosing unit divides the day, so a day is a whole number of them
// and the counts within it start afresh at midnight.
static_assert([] {
    for (unsigned u = 0; u < 7; ++u)
        if (kNanosPerDay % enclosing_nanos(static_cast<TimeUnit>(u)) != 0) return false;
    return true;
}());

// Temporal's rule: the increment divides the next larger unit and is
// smaller than it; 1 for a day.
constexpr bool valid_increment(TimeUnit unit, i64 increment) noexcept {
    const i64 most = kUnitsPerEnclosingUnit[static_cast<unsigned>(unit)];
    if (unit == TimeUnit::Day) return increment == 1;
    // Both below 1000 here: a 32-bit remainder.
    return increment > 0 && increment < most &&
           static_cast<std::uint32_t>(most) % static_cast<std::uint32_t>(increment) == 0;
}
static_assert(valid_increment(TimeUnit::Hour, 12) && !valid_increment(TimeUnit::Hour, 24) &&
              !valid_increment(TimeUnit::Minute, 7) && valid_increment(TimeUnit::Day, 1) &&
              !valid_increment(TimeUnit::Day, 2) && !valid_increment(TimeUnit::Second, 0));

// One unit's case of round_nanos_of_day(), its lengths constants: the
// remainders by them are multiplications, and the count of units within
// the enclosing one (below 1000), divided by the increment, is a 32-bit
// division, where the same by 64-bit variables is among the processor's
// longest steps.
template <TimeUnit Unit>
constexpr i64 round_nanos_within(i64 nanos, i64 increment, RoundingMode mode) noexcept {
    constexpr i64 unit = nanos_per(Unit), enclosing = enclosing_nanos(Unit);
    const i64 within = nanos % enclosing;
    const auto count = static_cast<std::uint32_t>(within / unit), by = static_cast<std::uint32_t>(increment);
    const std::uint32_t quotient = count / by;
    const i64 below = i64{count - quotient * by} * unit + within % unit, above = increment * unit - below;
    if (below == 0) return nanos;
    const int half = (below > above) - (below < above);
    return rounds_up(mode, false, half, (quotient & 1) != 0) ? nanos + above : nanos - below;
}

// A count of nanoseconds since the start of a day, [0, kNanosPerDay),
// rounded on its count of `unit`s within the next larger unit; the result
// lies in [0, kNanosPerDay], the day's end meaning the next midnight.
// `increment` must be valid for the unit.
constexpr i64 round_nanos_of_day(i64 nanos, TimeUnit unit, i64 increment, RoundingMode mode) noexcept {
    switch (unit) {
        case TimeUnit::Day: return round_nanos_within<TimeUnit::Day>(nanos, increment, mode);
        case TimeUnit::Hour: return round_nanos_within<TimeUnit::Hour>(nanos, increment, mode);
        case TimeUnit::Minute: return round_nanos_within<TimeUnit::Minute>(nanos, increment, mode);
        case TimeUnit::Second: return round_nanos_within<TimeUnit::Second>(nanos, increment, mode);
        case TimeUnit::Millisecond: return round_nanos_within<TimeUnit::Millisecond>(nanos, increment, mode);
        case TimeUnit::Microsecond: return round_nanos_within<TimeUnit::Microsecond>(nanos, increment, mode);
        case TimeUnit::Nanosecond: break;
    }
    return round_nanos_within<TimeUnit::Nanosecond>(nanos, increment, mode);
}

// A time of day rounded on its fields, for a unit below the day: the count
// of units within the enclosing one is a field (the hour, minute or second)
// or a part of the nanoseconds, what lies below it is the fields after, and
// the result rewrites the fields, where the way through the nanoseconds of
// the day takes some ten multiplications there and back.  It `carries`
// where the count reaches the enclosing unit's end (12:59 rounded up to the
// hour), into the fields above, and has no time then.  A plain struct, and
// always inlined: an optional (its storage a union) or a struct returned
// from a call passes through memory, stored field by field and read back
// whole, the stall that Time::from_fields describes.
struct RoundedTime {
    Time time;
    bool carries;
};

template <TimeUnit Unit>
[[gnu::always_inline]] constexpr RoundedTime round_time_fields(Time t, i64 increment, RoundingMode mode) noexcept {
    static_assert(Unit != TimeUnit::Day);
    constexpr i64 unit = nanos_per(Unit);
    constexpr auto units = static_cast<std::uint32_t>(kUnitsPerEnclosingUnit[static_cast<unsigned>(Unit)]);
    // The unit's count within the enclosing unit, and the nanoseconds of the
    // fields below it.
    std::uint32_t count;
    i64 rest;
    switch (Unit) {
        case TimeUnit::Hour:
            count = t.hour;
            rest = (t.minute * i64{60} + t.second) * kNanosPerSecond + t.nanosecond;
            break;
        case TimeUnit::Minute: count = t.minute, rest = t.second * kNanosPerSecond + t.nanosecond; break;
        case TimeUnit::Second: count = t.second, rest = t.nanosecond; break;
        default: count = t.nanosecond / unit % units, rest = t.nanosecond % unit; break;
    }
    const auto by = static_cast<std::uint32_t>(increment);
    const std::uint32_t quotient = count / by, lower = quotient * by;
    const i64 below = i64{count - lower} * unit + rest, above = increment * unit - below;
    if (below == 0) return {t, false};
    const int half = (below > above) - (below < above);
    const std::uint32_t reached = rounds_up(mode, false, half, (quotient & 1) != 0) ? lower + by : lower;
    if (reached == units) return {{}, true};
    switch (Unit) {
        case TimeUnit::Hour: return {Time::from_fields(reached, 0, 0, 0), false};
        case TimeUnit::Minute: return {Time::from_fields(t.hour, reached, 0, 0), false};
        case TimeUnit::Second: return {Time::from_fields(t.hour, t.minute, reached, 0), false};
        default: {
            const i64 nanosecond = t.nanosecond - t.nanosecond % (unit * units) + i64{reached} * unit;
            return {Time::from_fields(t.hour, t.minute, t.second, static_cast<std::uint32_t>(nanosecond)), false};
        }
    }
}

// round_time_fields() for any unit; a day always carries, its rounding
// being a change of date or none.
[[gnu::always_inline]] constexpr RoundedTime round_time_fields(Time t, TimeUnit unit, i64 increment,
                                                               RoundingMode mode) noexcept {
    switch (unit) {
        case TimeUnit::Day: break;
        case TimeUnit::Hour: return round_time_fields<TimeUnit::Hour>(t, increment, mode);
        case TimeUnit::Minute: return round_time_fields<TimeUnit::Minute>(t, increment, mode);
        case TimeUnit::Second: return round_time_fields<TimeUnit::Second>(t, increment, mode);
        case TimeUnit::Millisecond: return round_time_fields<TimeUnit::Millisecond>(t, increment, mode);
        case TimeUnit::Microsecond: return round_time_fields<TimeUnit::Microsecond>(t, increment, mode);
        case TimeUnit::Nanosecond: return round_time_fields<TimeUnit::Nanosecond>(t, increment, mode);
    }
    return {{}, true};
}

// A reading: a rounding up past the last instant of the day moves to the
// next day's midnight, which may lie beyond the range.
constexpr std::expected<DateTime, DateError> round_reading(DateTime dt, TimeUnit unit, i64 increment,
                                                           RoundingMode mode) noexcept {
    const RoundedTime within = round_time_fields(dt.time, unit, increment, mode);
    if (!within.carries) return DateTime{dt.date, within.time};
    const i64 nanos = round_nanos_of_day(static_cast<i64>(nanos_since_midnight(dt.time)), unit, increment, mode);
    if (nanos == kNanosPerDay) {
        const auto next = day_after(dt.date);
        if (!next) return std::unexpected(next.error());
        return DateTime{*next, Time{0, 0, 0, 0}};
    }
    return DateTime{dt.date, Time::from_second_of_day(static_cast<std::uint32_t>(nanos / kNanosPerSecond),
                                                      static_cast<std::uint32_t>(nanos % kNanosPerSecond))};
}

// A time of day wraps at midnight.  The unit is no day.
constexpr Time round_time_of_day(Time t, TimeUnit unit, i64 increment, RoundingMode mode) noexcept {
    const RoundedTime within = round_time_fields(t, unit, increment, mode);
    if (!within.carries) return within.time;
    const i64 nanos =
        round_nanos_of_day(static_cast<i64>(nanos_since_midnight(t)), unit, increment, mode) % kNanosPerDay;
    return Time::from_second_of_day(static_cast<std::uint32_t>(nanos / kNanosPerSecond),
                                    static_cast<std::uint32_t>(nanos % kNanosPerSecond));
}

// A span on its whole signed count of nanoseconds.
constexpr std::expected<i128, RoundError> round_span(i128 span, TimeUnit unit, i64 increment,
                                                     RoundingMode mode) noexcept {
    return round_to_multiple<i128>(span, i128{increment} * nanos_per(unit), mode);
}

// --- Compile-time checks of key identities -----------------------------------
static_assert(*add_calendar(Date{2024, 1, 31}, {.months = 1}) == Date{2024, 2, 29});
static_assert(*add_calendar(Date{2023, 1, 31}, {.months = 1}) == Date{2023, 2, 28});
static_assert(*add_calendar(Date{2024, 2, 29}, {.years = 1}) == Date{2025, 2, 28});
static_assert(*add_calendar(Date{2024, 1, 31}, {.months = 1, .days = 1}) == Date{2024, 3, 1});
static_assert(*add_calendar(Date{2024, 3, 31}, {.months = -13}) == Date{2023, 2, 28});
static_assert(*add_calendar(Date{2024, 1, 1}, {.weeks = -1, .days = 7}) == Date{2024, 1, 1});
static_assert(!add_calendar(Date{INT32_MAX, 12, 1}, {.months = 1, .days = -31}));
static_assert(!add_calendar(Date{2024, 1, 1}, {.years = INT64_MAX}) &&
              !add_calendar(Date{2024, 1, 1}, {.days = INT64_MIN}));
static_assert(*add_calendar(Date{INT32_MIN, 1, 1}, {.years = -1, .months = 12}) == Date{INT32_MIN, 1, 1});
// 7 * (INT64_MAX / 7 + 1) = 2^63 + 6 overflows 64 bits; with -2^63 days, 6.
static_assert(*add_calendar(Date{2024, 1, 1}, {.weeks = INT64_MAX / 7 + 1, .days = INT64_MIN}) == Date{2024, 1, 7});
static_assert(iso_week_date({2024, 12, 30}) == IsoWeekDate{2025, 1, Weekday::Monday});
static_assert(iso_week_date({2021, 1, 3}) == IsoWeekDate{2020, 53, Weekday::Sunday});
static_assert(iso_week_date({1970, 1, 1}) == IsoWeekDate{1970, 1, Weekday::Thursday});
static_assert(*from_iso_week_date(2020, 53, Weekday::Sunday) == Date{2021, 1, 3});
static_assert(*from_iso_week_date(2025, 1, Weekday::Monday) == Date{2024, 12, 30});
static_assert(from_iso_week_date(2021, 53, Weekday::Monday).error() == DateError::InvalidDate);
static_assert(weeks_in_iso_year(2020) == 53 && weeks_in_iso_year(2015) == 53 && weeks_in_iso_year(2021) == 52);
static_assert(*start_of(Date{2024, 2, 29}, CalendarUnit::Week) == Date{2024, 2, 26});
static_assert(*start_of(Date{2024, 2, 29}, CalendarUnit::Year) == Date{2024, 1, 1});
static_assert(*round_reading({{2024, 2, 29}, {23, 59, 30, 0}}, TimeUnit::Minute, 1, RoundingMode::HalfEven) ==
              DateTime{{2024, 3, 1}, {0, 0, 0, 0}});
static_assert(*round_reading({{2024, 2, 29}, {12, 0, 0, 0}}, TimeUnit::Day, 1, RoundingMode::HalfEven) ==
              DateTime{{2024, 2, 29}, {0, 0, 0, 0}});
static_assert(!round_reading({{INT32_MAX, 12, 31}, {23, 0, 0, 0}}, TimeUnit::Day, 1, RoundingMode::Ceil));
// 66 s to 12 s: within its minute the count is 0.5 of an increment, a tie
// that goes to the even count 0; across the day it would be 5.5.
static_assert(round_time_of_day({0, 1, 6, 0}, TimeUnit::Second, 12, RoundingMode::HalfEven) == Time{0, 1, 0, 0});
static_assert(round_time_of_day({23, 59, 59, 0}, TimeUnit::Minute, 1, RoundingMode::Ceil) == Time{0, 0, 0, 0});
static_assert(*round_span(i128{-90} * kNanosPerSecond, TimeUnit::Minute, 1, RoundingMode::HalfEven) ==
              i128{-120} * kNanosPerSecond);

}  // namespace merandol
