// The words of calendar arithmetic (units and rounding modes) and the check
// of a rounding increment, for every unit that rounds or starts a unit: the
// module functions, the columns and the zoned date-time.  A word is matched
// against static text, so reading one allocates nothing.
#pragma once

#include <string_view>
#include <utility>

#include "binding/declare.hpp"
#include "core/calendar_arithmetic.hpp"

namespace merandol::py {

// A parameter that takes one of a few words: the table of words, the
// message listing them, and the word of a value for a signature's default.
template <class Value, auto &Words, const char *Allowed>
struct WordOf {
    using type = Value;
    static constexpr std::string_view word_of(Value value) noexcept {
        for (const auto &[text, v] : Words)
            if (v == value) return text;
        return {};
    }
    static bool convert(PyObject *o, type &out, const char *name) {
        std::string_view word;
        if (!to_text(o, word, name)) return false;
        for (const auto &[text, value] : Words)
            if (word == text) {
                out = value;
                return true;
            }
        PyErr_Format(PyExc_ValueError, "%s must be %s, not %R", name, Allowed, o);
        return false;
    }
};

inline constexpr std::pair<std::string_view, TimeUnit> kTimeUnitWords[] = {
    {"day", TimeUnit::Day},
    {"hour", TimeUnit::Hour},
    {"minute", TimeUnit::Minute},
    {"second", TimeUnit::Second},
    {"millisecond", TimeUnit::Millisecond},
    {"microsecond", TimeUnit::Microsecond},
    {"nanosecond", TimeUnit::Nanosecond},
};
inline constexpr char kTimeUnitsAllowed[] =
    "'day', 'hour', 'minute', 'second', 'millisecond', 'microsecond' or 'nanosecond'";
using TimeUnitWord = WordOf<TimeUnit, kTimeUnitWords, kTimeUnitsAllowed>;

inline constexpr std::pair<std::string_view, CalendarUnit> kCalendarUnitWords[] = {
    {"year", CalendarUnit::Year},
    {"month", CalendarUnit::Month},
    {"week", CalendarUnit::Week},
    {"day", CalendarUnit::Day},
};
inline constexpr char kCalendarUnitsAllowed[] = "'year', 'month', 'week' or 'day'";
using CalendarUnitWord = WordOf<CalendarUnit, kCalendarUnitWords, kCalendarUnitsAllowed>;

inline constexpr std::pair<std::string_view, RoundingMode> kRoundingModeWords[] = {
    {"floor", RoundingMode::Floor},          {"ceil", RoundingMode::Ceil},
    {"trunc", RoundingMode::Trunc},          {"expand", RoundingMode::Expand},
    {"half_floor", RoundingMode::HalfFloor}, {"half_ceil", RoundingMode::HalfCeil},
    {"half_trunc", RoundingMode::HalfTrunc}, {"half_expand", RoundingMode::HalfExpand},
    {"half_even", RoundingMode::HalfEven},
};
inline constexpr char kRoundingModesAllowed[] =
    "'floor', 'ceil', 'trunc', 'expand', 'half_floor', 'half_ceil', 'half_trunc', 'half_expand' or 'half_even'";
using RoundingModeWord = WordOf<RoundingMode, kRoundingModeWords, kRoundingModesAllowed>;

// The ValueError for an increment that is not valid for `unit`, as
// "increment must be 1 for 'day', not 2" or "increment must divide 60
// and be smaller than it for 'minute', not 7"; false.
bool reject_increment(TimeUnit unit, std::int64_t increment);

// Whether `increment` is valid for `unit` (Temporal's rule), with the
// ValueError when not.  Inline: the check is a few instructions, a call
// to it as many again on every rounding.
inline bool check_increment(TimeUnit unit, std::int64_t increment) {
    return valid_increment(unit, increment) || reject_increment(unit, increment);
}

// ValueError for a unit that `what` ("a Time", "a Duration") cannot be
// rounded to: a day.
PyObject *no_day_rounding(const char *what);

}  // namespace merandol::py
