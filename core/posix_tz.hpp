// The POSIX TZ string of a zone file's footer (RFC 8536 section 3.3): a
// standard offset and, optionally, a daylight offset with the yearly rule
// that switches between them.  The rule is the same every year, so the
// offset at an instant follows from the changes of a few neighbouring years
// alone, whatever the year (the whole signed 32-bit range and a little
// beyond, for readings near its ends).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "core/calendar.hpp"
#include "core/datetime.hpp"
#include "core/floor.hpp"

namespace merandol {

enum class PosixTzError : std::uint8_t {
    BadName,           // not three or more letters, or <...> of letters, digits, '+', '-'
    BadOffset,         // not [+-]hh[:mm[:ss]] with hh up to 24
    OffsetOutOfRange,  // beyond 24 hours either way, which no UtcOffset holds
    MissingRule,       // a daylight name without ",start,end"
    BadRule,           // not Jn, n or Mm.w.d in range
    BadTime,           // not [+-]hhh[:mm[:ss]] with hhh up to 167
    TrailingText,
};

constexpr std::string_view describe(PosixTzError e) noexcept {
    constexpr std::string_view text[] = {
        "a zone name is not three or more letters or a <...> name",
        "an offset is not [+-]hh[:mm[:ss]]",
        "an offset lies beyond 24 hours",
        "daylight time has no start and end rule",
        "a day rule is not Jn, n or Mm.w.d in range",
        "a change time is not [+-]hhh[:mm[:ss]] within 167 hours",
        "text follows the rule",
    };
    return text[static_cast<unsigned>(e)];
}

// The day of the year a change falls on.
struct DayRule {
    enum class Kind : std::uint8_t {
        Julian,        // Jn: n in [1, 365], 29 February never counted
        ZeroBased,     // n: n in [0, 365], 29 February counted
        MonthWeekDay,  // Mm.w.d
    };
    Kind kind;
    std::uint8_t month;    // [1, 12] for MonthWeekDay
    std::uint8_t week;     // [1, 5], 5 = the last such weekday of the month
    std::uint8_t weekday;  // [0, 6], 0 = Sunday
    std::uint16_t day;     // Julian or ZeroBased

    friend constexpr bool operator==(DayRule, DayRule) noexcept = default;
};

struct PosixTz {
    std::int32_t std_offset;  // [-86400, 86400], east-positive (the text is west-positive)
    std::int32_t dst_offset;  // the same range; equal to std_offset when there is no daylight time
    bool has_dst;
    DayRule start, end;       // into daylight time and back
    std::int32_t start_time;  // local seconds after midnight, [-167 h, 167 h]; start read at std_offset
    std::int32_t end_time;    // the same; end read at dst_offset

    // Whether the offset ever changes.
    constexpr bool changes() const noexcept { return has_dst && std_offset != dst_offset; }

    friend constexpr bool operator==(const PosixTz &, const PosixTz &) noexcept = default;
};
static_assert(std::is_trivially_copyable_v<PosixTz>);

// The names of standard and daylight time ("CET", "CEST"; "+0530" for
// "<+0530>"), viewing the text; the daylight name is empty without one.
struct PosixTzNames {
    std::string_view std_name;
    std::string_view dst_name;
};

std::expected<PosixTz, PosixTzError> parse_posix_tz(std::string_view text, PosixTzNames *names = nullptr) noexcept;

// --- The changes of a year ----------------------------------------------------

// The day number of a rule's day in `year`.
constexpr i64 rule_day(DayRule r, i64 year) noexcept {
    const i64 jan1 = first_day_of_year(year);
    const bool leap = is_leap_year(year);
    switch (r.kind) {
        case DayRule::Kind::Julian: return jan1 + r.day - 1 + (leap && r.day > kDaysBeforeMonth[3]);  // from 1 March
        case DayRule::Kind::ZeroBased: return jan1 + r.day;
        case DayRule::Kind::MonthWeekDay: break;
    }
    const i64 first = jan1 + days_before_month(r.month, leap);
    const i64 length = days_before_month(r.month + 1, leap) - days_before_month(r.month, leap);
    // Day 0 is a Thursday, weekday 4 counted from Sunday.
    const i64 first_weekday = floor_divmod<i64>(first + 4, 7).remainder;
    i64 day = first + floor_divmod<i64>(r.weekday - first_weekday, 7).remainder + i64{7} * (r.week - 1);
    if (day >= first + length) day -= 7;  // week 5 in a month with four such weekdays
    return day;
}

// The two changes of `year` in Unix seconds, in either order.
struct YearChanges {
    i64 start;  // into daylight time
    i64 end;    // back to standard time
};

constexpr YearChanges year_changes(const PosixTz &tz, i64 year) noexcept {
    return {rule_day(tz.start, year) * kSecondsPerDay + tz.start_time - tz.std_offset,
            rule_day(tz.end, year) * kSecondsPerDay + tz.end_time - tz.dst_offset};
}

// --- The offset in force ----------------------------------------------------
// Daylight time is on at an instant when the latest change at or before it
// is a start.  Changes at the same instant are ordered by year, and within
// a year the end before the start, so that a rule starting where the last
// one ended ("all year daylight time": 0/0 to J365/25 for a one-hour step)
// stays on.  A year's changes lie within 8 days of the year (365 days and
// 167 hours, plus 24 hours of offset), and the same change moves by at most
// a week from one year to the next; the answers below rely on nothing else.
//
// Instants are Unix seconds in [kMinUnixSeconds, kMaxUnixSeconds], widened
// by a few days so that local readings at the ends can be resolved; beyond
// that the rule is read at the nearest allowed instant.
inline constexpr i64 kFooterMinSeconds = kMinUnixSeconds - 4 * kSecondsPerDay;
inline constexpr i64 kFooterMaxSeconds = kMaxUnixSeconds + 4 * kSecondsPerDay;

// A rule made ready for queries.  A year's changes depend only on the
// weekday of its 1 January and on whether it is a leap year, so they are
// worked out once for each of the 14 kinds of year, as seconds after 1
// January 00:00 UTC: a year's changes then cost a day number and a lookup.
class FooterRule {
public:
    FooterRule() noexcept = default;
    explicit FooterRule(const PosixTz &rule) noexcept;

    const PosixTz &rule() const noexcept { return rule_; }
    // The same as year_changes(rule(), year).
    YearChanges changes(i64 year) const noexcept;

    bool daylight_at(i64 seconds) const noexcept;
    std::int32_t offset_at(i64 seconds) const noexcept {
        return rule_.changes() && daylight_at(seconds) ? rule_.dst_offset : rule_.std_offset;
    }
    // The nearest instant strictly after (before) `seconds` where the offset
    // changes; none when it never does.  Searches at most 400 years, a whole
    // period of the rule.
    std::optional<i64> next_change(i64 seconds) const noexcept;
    std::optional<i64> previous_change(i64 seconds) const noexcept;

private:
    // The kind of a year: the weekday of 1 January (0 = Sunday) + 7 in a
    // leap year.
    static constexpr unsigned kind(i64 first_day, bool leap) noexcept {
        return static_cast<unsigned>(floor_divmod<i64>(first_day + 4, 7).remainder) + 7 * leap;  // day 0 is a Thursday
    }

    // The year that holds an instant and, when it is simple (below), its
    // two changes in order: the searches' common first step.
    struct YearOfInstant {
        i64 seconds;  // the instant, clamped to the rule's reach
        i64 year;
        std::optional<std::pair<i64, i64>> simple_changes;
    };
    YearOfInstant year_of_instant(i64 seconds) const noexcept;

    PosixTz rule_{};
    std::int32_t start_[14]{};  // [-9 days, 375 days] in seconds
    std::int32_t end_[14]{};
    // A bit per kind of year whose changes both lie 16 days or more inside
    // it and 16 days or more apart: then a week's drift from one year to the
    // next keeps the neighbouring years' changes in their own years and in
    // the same order, and the year's own changes settle any instant in it.
    std::uint16_t simple_ = 0;
};

// 2024: M3.5.0 is Sunday 31 March, M10.5.0 Sunday 27 October, J60 and 59
// both 1 March in a common year; 59 is 29 February in a leap year.
static_assert(rule_day({DayRule::Kind::MonthWeekDay, 3, 5, 0, 0}, 2024) == 19813);
static_assert(rule_day({DayRule::Kind::MonthWeekDay, 10, 5, 0, 0}, 2024) == 20023);
static_assert(rule_day({DayRule::Kind::Julian, 0, 0, 0, 60}, 2023) == 19417 &&
              rule_day({DayRule::Kind::Julian, 0, 0, 0, 60}, 2024) == 19783);
static_assert(rule_day({DayRule::Kind::ZeroBased, 0, 0, 0, 59}, 2023) == 19417 &&
              rule_day({DayRule::Kind::ZeroBased, 0, 0, 0, 59}, 2024) == 19782);

}  // namespace merandol
