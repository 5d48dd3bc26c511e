// Calendar arithmetic on merandol's values: add_calendar, round_to,
// start_of, the ISO week date and the calendar's facts.  A value with an
// offset is worked on at its local reading and keeps its offset.  A result
// beyond the range raises the ValueError that merandol raises for the
// class; nothing wraps or is clamped.
#include "interop/calendar/calendar.hpp"

#include "core/offset.hpp"
#include "interop/interop.hpp"
#include "interop/zones/zones.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/duration.hpp"
#include "module/offset.hpp"
#include "module/time.hpp"

namespace merandol::py {

bool reject_increment(TimeUnit unit, std::int64_t increment) {
    const auto most = static_cast<long long>(kUnitsPerEnclosingUnit[static_cast<unsigned>(unit)]);
    const std::string_view word = TimeUnitWord::word_of(unit);
    if (unit == TimeUnit::Day)
        PyErr_Format(PyExc_ValueError, "increment must be 1 for 'day', not %lld", static_cast<long long>(increment));
    else
        PyErr_Format(PyExc_ValueError, "increment must divide %lld and be smaller than it for '%.*s', not %lld", most,
                     static_cast<int>(word.size()), word.data(), static_cast<long long>(increment));
    return false;
}

PyObject *no_day_rounding(const char *what) {
    return PyErr_Format(PyExc_ValueError,
                        "unit must be 'hour', 'minute', 'second', 'millisecond', 'microsecond' or 'nanosecond' for "
                        "%s, not 'day'",
                        what);
}

// Weekday.MONDAY to Weekday.SUNDAY, merandol's own objects, found when the
// module is executed and kept for the life of the process.
static PyObject *g_weekdays[7];

static int calendar_exec(PyObject *) {
    static constexpr const char *names[7] = {"MONDAY", "TUESDAY",  "WEDNESDAY", "THURSDAY",
                                             "FRIDAY", "SATURDAY", "SUNDAY"};
    auto *type = reinterpret_cast<PyObject *>(WeekdayObject::type());
    if (type == nullptr) return -1;
    for (unsigned i = 0; i < 7; ++i) {
        if (g_weekdays[i] == nullptr) g_weekdays[i] = PyObject_GetAttrString(type, names[i]);
        if (g_weekdays[i] == nullptr) return -1;
    }
    return 0;
}

// The messages merandol's classes raise for a result beyond the range.
static PyObject *date_out_of_range(DateError e) { return value_error("Date out of range: ", error_name(e)); }
static PyObject *datetime_out_of_range(DateError e) { return value_error("DateTime out of range: ", error_name(e)); }
static PyObject *local_out_of_range(DateError e) {
    return value_error("OffsetDateTime local representation out of range: ", error_name(e));
}

// An OffsetDateTime's local reading moved by `move`, placed again at its
// offset.
template <class Move>
static PyObject *at_local_reading(PyObject *value, Move &&move) {
    const OffsetDateTime v = OffsetDateTimeObject::of(value);
    const auto local = to_local(v);
    if (MERANDOL_UNLIKELY(!local)) return local_out_of_range(local.error());
    const std::expected<DateTime, DateError> moved = move(*local);
    if (MERANDOL_UNLIKELY(!moved)) return datetime_out_of_range(moved.error());
    const auto placed = from_local(moved->date, moved->time, v.offset);
    if (MERANDOL_UNLIKELY(!placed)) return datetime_out_of_range(placed.error());
    return OffsetDateTimeObject::wrap(*placed);
}

using CalendarClasses = ClassSet<ClassId::Date, ClassId::DateTime, ClassId::OffsetDateTime>;

static PyObject *wrong_class(const char *fn, const char *classes, PyObject *value) {
    return PyErr_Format(PyExc_TypeError, "%s argument must be a %s, not '%T'", fn, classes, value);
}

// --- add_calendar -------------------------------------------------------------

static PyObject *add_calendar(PyObject *, PyObject *value, std::int64_t years, std::int64_t months, std::int64_t weeks,
                              std::int64_t days) {
    const CalendarAmount amount{years, months, weeks, days};
    switch (CalendarClasses::find(Py_TYPE(value))) {
        case ClassId::Date: {
            const auto date = add_calendar(DateObject::of(value), amount);
            if (MERANDOL_UNLIKELY(!date)) return date_out_of_range(date.error());
            return DateObject::wrap(*date);
        }
        case ClassId::DateTime: {
            const auto dt = add_calendar(DateTimeObject::of(value), amount);
            if (MERANDOL_UNLIKELY(!dt)) return datetime_out_of_range(dt.error());
            return DateTimeObject::wrap(*dt);
        }
        case ClassId::OffsetDateTime:
            return at_local_reading(value, [&](DateTime local) { return add_calendar(local, amount); });
        default: return wrong_class("add_calendar()", CalendarClasses::kNames.data(), value);
    }
}
static constexpr auto add_calendar_decl =
    module_function("add_calendar", add_calendar,
                    "Move a date or a reading by calendar units.\n"
                    "\n"
                    "Years and months come first, the day clamped to the last day of the month\n"
                    "reached (31 January and one month is 28 or 29 February); then weeks and days.\n"
                    "\n"
                    "Args:\n"
                    "    value: A Date, a DateTime or an OffsetDateTime (its local reading moves and\n"
                    "        its offset is kept).\n"
                    "    years: Years to add, signed (default=0).\n"
                    "    months: Months to add, signed (default=0).\n"
                    "    weeks: Weeks to add, signed (default=0).\n"
                    "    days: Days to add, signed (default=0).\n"
                    "\n"
                    "Returns:\n"
                    "    object: A value of the class of value.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: When the result, or the month reached before the weeks and\n"
                    "        days, lies beyond the range.\n"
                    "    OverflowError: For an amount beyond signed 64 bits.",
                    param<Any>("value"), param<I64>("years", 0).keyword_only(), param<I64>("months", 0).keyword_only(),
                    param<I64>("weeks", 0).keyword_only(), param<I64>("days", 0).keyword_only());

// --- round_to -----------------------------------------------------------------

using RoundClasses = ClassSet<ClassId::DateTime, ClassId::OffsetDateTime, ClassId::Time, ClassId::Duration>;

static PyObject *round_to(PyObject *, PyObject *value, TimeUnit unit, std::int64_t increment, RoundingMode mode) {
    const ClassId id = RoundClasses::find(Py_TYPE(value));
    if (id == ClassId::Count) return wrong_class("round_to()", RoundClasses::kNames.data(), value);
    if (!check_increment(unit, increment)) return nullptr;
    switch (id) {
        case ClassId::DateTime: {
            const auto dt = round_reading(DateTimeObject::of(value), unit, increment, mode);
            if (MERANDOL_UNLIKELY(!dt)) return datetime_out_of_range(dt.error());
            return DateTimeObject::wrap(*dt);
        }
        case ClassId::OffsetDateTime:
            return at_local_reading(value, [&](DateTime local) { return round_reading(local, unit, increment, mode); });
        case ClassId::Time:
            if (unit == TimeUnit::Day) return no_day_rounding("a Time");
            return TimeObject::wrap(round_time_of_day(TimeObject::of(value), unit, increment, mode));
        default: {
            if (unit == TimeUnit::Day) return no_day_rounding("a Duration");
            const auto span = round_span(DurationObject::of(value), unit, increment, mode);
            if (MERANDOL_UNLIKELY(!span)) {
                PyErr_SetString(PyExc_OverflowError, "Duration overflow");
                return nullptr;
            }
            return DurationObject::wrap(*span);
        }
    }
}
static constexpr auto round_to_decl =
    module_function("round_to", round_to,
                    "Round a reading, a time of day or a span to a multiple of an increment.\n"
                    "\n"
                    "A reading or a time is rounded on its count of units within the next larger\n"
                    "unit (the seconds within the minute for increment=12 and unit='second', so\n"
                    "that ties of 'half_even' fall on that count); a Duration on its whole signed\n"
                    "count of nanoseconds.\n"
                    "\n"
                    "Args:\n"
                    "    value: A DateTime, an OffsetDateTime (its local reading; its offset is\n"
                    "        kept), a Time (wrapping at midnight) or a Duration.\n"
                    "    unit: 'day' (not for a Time or a Duration), 'hour', 'minute', 'second',\n"
                    "        'millisecond', 'microsecond' or 'nanosecond'.\n"
                    "    increment: A divisor of the next larger unit smaller than it; 1 for 'day'\n"
                    "        (default=1).\n"
                    "    mode: 'floor', 'ceil', 'trunc', 'expand', 'half_floor', 'half_ceil',\n"
                    "        'half_trunc', 'half_expand' or 'half_even' (default='half_even').\n"
                    "\n"
                    "Returns:\n"
                    "    object: A value of the class of value.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: For an unknown unit or mode, an increment the unit does not\n"
                    "        take, and a result beyond the range.\n"
                    "    OverflowError: For a Duration rounded past 128 bits.",
                    param<Any>("value"), param<TimeUnitWord>("unit"), param<I64>("increment", 1).keyword_only(),
                    param<RoundingModeWord>("mode", RoundingMode::HalfEven).keyword_only());

// --- start_of -----------------------------------------------------------------

static PyObject *start_of(PyObject *, PyObject *value, CalendarUnit unit) {
    switch (CalendarClasses::find(Py_TYPE(value))) {
        case ClassId::Date: {
            const auto date = start_of(DateObject::of(value), unit);
            if (MERANDOL_UNLIKELY(!date)) return date_out_of_range(date.error());
            return DateObject::wrap(*date);
        }
        case ClassId::DateTime: {
            const auto dt = start_of(DateTimeObject::of(value), unit);
            if (MERANDOL_UNLIKELY(!dt)) return datetime_out_of_range(dt.error());
            return DateTimeObject::wrap(*dt);
        }
        case ClassId::OffsetDateTime:
            return at_local_reading(value, [&](DateTime local) { return start_of(local, unit); });
        // The companion's own classes are asked here, before the refusal.
        default:
            if (is_zoned(value)) return zoned_start_of(value, unit);
            return wrong_class("start_of()", "Date, DateTime, OffsetDateTime or ZonedDateTime", value);
    }
}
static constexpr auto start_of_decl =
    module_function("start_of", start_of,
                    "The first moment of the year, month, week or day that holds a value.\n"
                    "\n"
                    "Args:\n"
                    "    value: A Date, a DateTime, an OffsetDateTime (its local reading; its\n"
                    "        offset is kept) or a ZonedDateTime (its first instant in its zone).\n"
                    "    unit: 'year', 'month', 'week' (ISO: beginning on Monday) or 'day'.\n"
                    "\n"
                    "Returns:\n"
                    "    object: A value of the class of value, at midnight for a reading.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: For an unknown unit, and for a week that begins before the\n"
                    "        range.",
                    param<Any>("value"), param<CalendarUnitWord>("unit"));

// --- ISO weeks ----------------------------------------------------------------

static PyObject *iso_week(PyObject *, Date date) {
    const IsoWeekDate week = iso_week_date(date);
    return Py_BuildValue("(LIO)", static_cast<long long>(week.year), week.week,
                         g_weekdays[static_cast<unsigned>(week.weekday)]);
}
static constexpr auto iso_week_decl =
    module_function("iso_week", iso_week,
                    "The ISO week date of a date.\n"
                    "\n"
                    "Args:\n"
                    "    date: A Date.\n"
                    "\n"
                    "Returns:\n"
                    "    tuple: The ISO week-numbering year (which may be the year before or after\n"
                    "    the date's), the week (1 to 53) and the Weekday.",
                    param<Of<DateObject>>("date"));

static PyObject *from_iso_week(PyObject *, std::int64_t year, std::int64_t week, Weekday weekday) {
    const auto date = from_iso_week_date(year, week, weekday);
    if (date) return DateObject::wrap(*date);
    if (date.error() == DateError::OutOfRange) return date_out_of_range(date.error());
    return PyErr_Format(PyExc_ValueError, "week must be 1 to %u in ISO year %lld, not %lld", weeks_in_iso_year(year),
                        static_cast<long long>(year), static_cast<long long>(week));
}
static constexpr auto from_iso_week_decl =
    module_function("from_iso_week", from_iso_week,
                    "The date of an ISO week date.\n"
                    "\n"
                    "Args:\n"
                    "    year: The ISO week-numbering year.\n"
                    "    week: The week, 1 to 52, or 53 in a year that has one.\n"
                    "    weekday: A Weekday.\n"
                    "\n"
                    "Returns:\n"
                    "    Date: The date.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: For a week the year does not have, and a date beyond the range.",
                    param<I64>("year"), param<I64>("week"), param<Of<WeekdayObject>>("weekday"));

// --- The calendar's facts -----------------------------------------------------

static PyObject *days_in_month(PyObject *, std::int32_t year, std::int64_t month) {
    if (MERANDOL_UNLIKELY(month < 1 || month > 12))
        return PyErr_Format(PyExc_ValueError, "month must be 1 to 12, not %lld", static_cast<long long>(month));
    return int_from(std::int64_t{merandol::days_in_month(year, static_cast<unsigned>(month))});
}
static constexpr auto days_in_month_decl =
    module_function("days_in_month", days_in_month,
                    "The number of days of a month.\n"
                    "\n"
                    "Args:\n"
                    "    year: A year of merandol's range (signed 32 bits; year 0 precedes year 1).\n"
                    "    month: The month, 1 to 12.\n"
                    "\n"
                    "Returns:\n"
                    "    int: 28 to 31.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: For a month outside 1 to 12.\n"
                    "    OverflowError: For a year beyond signed 32 bits.",
                    param<Int<std::int32_t>>("year"), param<I64>("month"));

static PyObject *days_in_year(PyObject *, std::int32_t year) {
    return int_from(kDaysPerYear + merandol::is_leap_year(year));
}
static constexpr auto days_in_year_decl =
    module_function("days_in_year", days_in_year,
                    "The number of days of a year.\n"
                    "\n"
                    "Args:\n"
                    "    year: A year of merandol's range (signed 32 bits; year 0 precedes year 1).\n"
                    "\n"
                    "Returns:\n"
                    "    int: 365, or 366 in a leap year.\n"
                    "\n"
                    "Raises:\n"
                    "    OverflowError: For a year beyond signed 32 bits.",
                    param<Int<std::int32_t>>("year"));

static PyObject *is_leap_year(PyObject *, std::int32_t year) {
    return Py_NewRef(merandol::is_leap_year(year) ? Py_True : Py_False);
}
static constexpr auto is_leap_year_decl =
    module_function("is_leap_year", is_leap_year,
                    "Whether a year of the proleptic Gregorian calendar has 366 days.\n"
                    "\n"
                    "Args:\n"
                    "    year: A year of merandol's range (signed 32 bits; year 0 precedes year 1).\n"
                    "\n"
                    "Returns:\n"
                    "    bool: True for a year divisible by 4 and not by 100, or by 400.\n"
                    "\n"
                    "Raises:\n"
                    "    OverflowError: For a year beyond signed 32 bits.",
                    param<Int<std::int32_t>>("year"));

static PyMethodDef calendar_functions[] = {
    row<add_calendar_decl>(), row<round_to_decl>(),      row<start_of_decl>(),
    row<iso_week_decl>(),     row<from_iso_week_decl>(), row<days_in_month_decl>(),
    row<days_in_year_decl>(), row<is_leap_year_decl>(),  kEndOfMethods,
};

extern const InteropUnit kCalendarUnit = {calendar_functions, calendar_exec, {}};

}  // namespace merandol::py
