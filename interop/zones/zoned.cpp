// The ZonedDateTime class: an instant and a Zone, with Temporal's
// semantics.  Calendar units move the local reading, which is then placed
// in the zone again; exact units move the instant.  The text is RFC 9557's
// (core/rfc9557.hpp).
#include <new>

#include "binding/compat.hpp"
#include "core/calendar_arithmetic.hpp"
#include "core/rfc9557.hpp"
#include "core/zoned.hpp"
#include "interop/calendar/calendar.hpp"
#include "interop/interop.hpp"
#include "interop/zones/zones.hpp"
#include "module/classes.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/duration.hpp"
#include "module/offset.hpp"
#include "module/time.hpp"

namespace merandol::py {

struct ZonedObject {
    PyObject_HEAD
    // The reading in the zone, kept: the text, the fields and every calendar
    // step start from it.
    DateTime local;
    // The instant in Unix seconds; its nanoseconds are the reading's.
    i64 seconds;
    // The offset in force at the instant, and a span around it where it
    // stays in force: a step that lands within needs no search of the
    // zone's table.
    OffsetPeriod period;
    PyObject *zone;  // a Zone, owned
};

static std::atomic<PyTypeObject *> g_zoned_type;

static PyTypeObject *zoned_type() noexcept { return g_zoned_type.load(std::memory_order_acquire); }

bool is_zoned(PyObject *o) noexcept { return Py_IS_TYPE(o, zoned_type()); }

static ZonedObject *as_zoned(PyObject *o) noexcept { return reinterpret_cast<ZonedObject *>(o); }

// The instant lies within a day of the reading and in the range, which
// every maker of a value checks before zoned_make.
static DateTime utc_of(const ZonedObject *z) noexcept { return *shift_seconds(z->local, -z->period.offset); }

ZonedValue zoned_of(PyObject *o) noexcept {
    const ZonedObject *z = as_zoned(o);
    return {utc_of(z), z->local, z->zone, z->period};
}

// The local seconds of a reading near the value's: on the same day they
// follow from the value's own without the day number.
static i64 local_seconds_near(const ZonedObject *z, DateTime reading) noexcept {
    if (reading.date != z->local.date) return unix_timestamp(reading);
    return z->seconds + z->period.offset +
           (static_cast<i64>(seconds_since_midnight(reading.time)) -
            static_cast<i64>(seconds_since_midnight(z->local.time)));
}

static PyObject *out_of_range() { return value_error("ZonedDateTime out of range: ", "OutOfRange"); }

#ifdef MERANDOL_FREE_LISTS
// Released values wait here for the next, as merandol's own do: a pop
// rather than a trip through the object allocator and back per operation.
static FreeList g_zoned_free;
#endif

// A new value to fill in, or nullptr with MemoryError.
[[gnu::always_inline]] static inline ZonedObject *zoned_alloc() {
#ifdef MERANDOL_FREE_LISTS
    if (g_zoned_free.count > 0)
        return reinterpret_cast<ZonedObject *>(
            PyObject_Init(static_cast<PyObject *>(g_zoned_free.items[--g_zoned_free.count]), zoned_type()));
#endif
    return PyObject_New(ZonedObject, zoned_type());
}

// `local` is the instant `seconds` (with the reading's nanoseconds) at the
// period's offset; both lie in the range.
[[gnu::always_inline]] static inline PyObject *zoned_make(PyObject *zone, DateTime local, i64 seconds,
                                                          const OffsetPeriod &period) {
    ZonedObject *o = zoned_alloc();
    if (MERANDOL_UNLIKELY(o == nullptr)) return nullptr;
    // Field by field: a whole copy loads 16 bytes over the two 8-byte
    // stores that made the reading or the period, and such a load waits
    // until both reach the cache.
    o->local.date = local.date;
    o->local.time = local.time;
    o->seconds = seconds;
    o->period.from = period.from;
    o->period.until = period.until;
    o->period.offset = period.offset;
    o->zone = Py_NewRef(zone);
    return reinterpret_cast<PyObject *>(o);
}

// `from` moved to `date` at the same time of day and offset, the instant
// `seconds`, which may lie beyond the range.
static PyObject *zoned_days_later(const ZonedObject *from, Date date, i64 seconds) {
    if (MERANDOL_UNLIKELY(seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds)) return out_of_range();
    ZonedObject *o = zoned_alloc();
    if (MERANDOL_UNLIKELY(o == nullptr)) return nullptr;
    o->local.date = date;
    o->local.time = from->local.time;
    o->seconds = seconds;
    o->period = from->period;
    o->zone = Py_NewRef(from->zone);
    return reinterpret_cast<PyObject *>(o);
}

PyObject *zoned_from_instant(PyObject *zone, DateTime utc) {
    const i64 seconds = unix_timestamp(utc);
    const OffsetPeriod period = zone_of(zone).period_at(seconds);
    const auto local = shift_seconds(utc, period.offset);
    if (MERANDOL_UNLIKELY(!local)) return out_of_range();
    return zoned_make(zone, *local, seconds, period);
}

// A reading at the period's offset, which the zone has there; the instant
// may lie beyond the range.
static PyObject *zoned_at_reading(PyObject *zone, DateTime local, i64 local_seconds, const OffsetPeriod &period) {
    const i64 seconds = local_seconds - period.offset;
    if (MERANDOL_UNLIKELY(seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds)) return out_of_range();
    return zoned_make(zone, local, seconds, period);
}

// An instant given as Unix seconds and nanoseconds.
static PyObject *zoned_at(PyObject *zone, i64 seconds, std::uint32_t nanos) {
    if (MERANDOL_UNLIKELY(seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds)) return out_of_range();
    const OffsetPeriod period = zone_of(zone).period_at(seconds);
    const auto local = from_unix_timestamp(seconds + period.offset, static_cast<std::int32_t>(nanos));
    if (MERANDOL_UNLIKELY(!local)) return out_of_range();
    return zoned_make(zone, *local, seconds, period);
}

// A local reading placed in the zone as `how` says.  A reading well inside
// the period of the offset at its own local seconds has that offset alone,
// which spares the walk over the changes of two days; only in a gap, where
// the reading moves, is it found again from the instant.
static PyObject *zoned_from_local(PyObject *zone, DateTime local, Disambiguate how) {
    const i64 local_seconds = unix_timestamp(local);
    const Zone &rules = zone_of(zone);
    const OffsetPeriod near = rules.period_at(local_seconds);
    if (names_reading_alone(near, local_seconds)) [[likely]]
        return zoned_at_reading(zone, local, local_seconds, near);
    const auto placed = rules.resolve_local(local_seconds, how);
    if (MERANDOL_UNLIKELY(!placed))
        return unsettled_local(
            zone, local, placed.error() == LocalError::Skipped ? ZoneLocalError::Skipped : ZoneLocalError::Repeated);
    if (MERANDOL_UNLIKELY(placed->seconds + placed->offset != local_seconds))
        return zoned_at(zone, placed->seconds, local.time.nanosecond);
    return zoned_at_reading(zone, local, local_seconds, rules.period_at(placed->seconds));
}

// The first instant of the day of `date` in the zone.
static PyObject *zoned_start_of_day(PyObject *zone, Date date) {
    const i64 midnight = days_since_unix_epoch(date) * kSecondsPerDay;
    return zoned_at(zone, start_of_day(zone_of(zone), midnight).seconds, 0);
}

static void zoned_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    Py_DECREF(as_zoned(self)->zone);
#ifdef MERANDOL_FREE_LISTS
    if (g_zoned_free.count < FreeList::kCapacity)
        g_zoned_free.items[g_zoned_free.count++] = self;
    else
#endif
        PyObject_Free(self);
    Py_DECREF(type);
}

// --- Words ------------------------------------------------------------------

// How parse settles a written offset that the zone does not have at the
// reading.
enum class OffsetOption : std::uint8_t { Reject, Prefer, Use, Ignore };

inline constexpr std::pair<std::string_view, OffsetOption> kOffsetOptionWords[] = {
    {"reject", OffsetOption::Reject},
    {"prefer", OffsetOption::Prefer},
    {"use", OffsetOption::Use},
    {"ignore", OffsetOption::Ignore},
};
inline constexpr char kOffsetOptionsAllowed[] = "'reject', 'prefer', 'use' or 'ignore'";
using OffsetOptionWord = WordOf<OffsetOption, kOffsetOptionWords, kOffsetOptionsAllowed>;

// --- Construction -------------------------------------------------------------

static constexpr auto zoned_class = declare_class("merandol_interop.ZonedDateTime");

static PyObject *zoned_new(PyTypeObject *, Date date, Time time, PyObject *zone, Disambiguate how) {
    return zoned_from_local(zone, DateTime{date, time}, how);
}
static constexpr auto zoned_new_decl = zoned_class.constructor(
    zoned_new, param<Of<DateObject>>("date"), param<Of<TimeObject>>("time"), param<ZoneObjectArg>("zone"),
    param<DisambiguateWord>("disambiguate", Disambiguate::Compatible).keyword_only());

static PyObject *zoned_from_instant_method(PyObject *, DateTime utc, PyObject *zone) {
    return zoned_from_instant(zone, utc);
}
static constexpr auto zoned_from_instant_decl =
    zoned_class.class_method("from_instant", zoned_from_instant_method,
                             "Create the ZonedDateTime of an instant in a zone.\n\n"
                             "Args:\n"
                             "    instant: A DateTime (UTC) or OffsetDateTime instance.\n"
                             "    zone: A Zone instance.\n\n"
                             "Returns:\n"
                             "    ZonedDateTime: The instant at the offset the zone has there.\n\n"
                             "Raises:\n"
                             "    ValueError: If the local reading lies beyond the DateTime range.",
                             param<Instant>("instant"), param<ZoneObjectArg>("zone"));

static PyObject *zoned_now(PyObject *, PyObject *zone) {
    const auto reading = now_utc();
    if (MERANDOL_UNLIKELY(!reading))
        return PyErr_Format(PyExc_OSError, "Failed to get current time: the real-time clock could not be read");
    if (MERANDOL_UNLIKELY(!*reading)) return value_error("Failed to get current time: ", error_name(reading->error()));
    return zoned_from_instant(zone, **reading);
}
static constexpr auto zoned_now_decl = zoned_class.class_method("now", zoned_now,
                                                                "Get the current instant in a zone.\n\n"
                                                                "Args:\n"
                                                                "    zone: A Zone instance.\n\n"
                                                                "Returns:\n"
                                                                "    ZonedDateTime: The system clock's instant.",
                                                                param<ZoneObjectArg>("zone"));

static PyObject *zoned_from_stdlib_method(PyObject *, PyObject *dt) { return zoned_from_stdlib(dt); }
static constexpr auto zoned_from_stdlib_decl =
    zoned_class.class_method("from_stdlib", zoned_from_stdlib_method,
                             "Create a ZonedDateTime from a standard datetime in a zoneinfo zone.\n\n"
                             "Args:\n"
                             "    dt: An aware datetime.datetime whose tzinfo is a zoneinfo.ZoneInfo with a key;\n"
                             "        its fold settles a repeated reading as zoneinfo does.\n\n"
                             "Returns:\n"
                             "    ZonedDateTime: The instant of the datetime in the Zone of the key.\n\n"
                             "Raises:\n"
                             "    ValueError: For a naive datetime, or a tzinfo that is no ZoneInfo with a key.",
                             param<Any>("dt"));

// --- Properties -----------------------------------------------------------------

static PyObject *zoned_get_instant(PyObject *self, void *) { return DateTimeObject::wrap(utc_of(as_zoned(self))); }
static PyObject *zoned_get_offset(PyObject *self, void *) {
    return UtcOffsetObject::wrap(UtcOffset{as_zoned(self)->period.offset});
}
static PyObject *zoned_get_zone(PyObject *self, void *) { return Py_NewRef(as_zoned(self)->zone); }
static PyObject *zoned_get_local(PyObject *self, void *) { return DateTimeObject::wrap(as_zoned(self)->local); }
static PyObject *zoned_get_date(PyObject *self, void *) { return DateObject::wrap(as_zoned(self)->local.date); }
static PyObject *zoned_get_time(PyObject *self, void *) { return TimeObject::wrap(as_zoned(self)->local.time); }

static PyGetSetDef zoned_getset[] = {
    {"instant", zoned_get_instant, nullptr, "The instant, as a UTC DateTime.", nullptr},
    {"offset", zoned_get_offset, nullptr, "The UtcOffset the zone has at the instant.", nullptr},
    {"zone", zoned_get_zone, nullptr, "The Zone.", nullptr},
    {"local", zoned_get_local, nullptr, "The local reading, as a DateTime.", nullptr},
    {"date", zoned_get_date, nullptr, "The local reading's Date.", nullptr},
    {"time", zoned_get_time, nullptr, "The local reading's Time.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyObject *zoned_to_offset(PyObject *self) {
    const ZonedObject *z = as_zoned(self);
    return OffsetDateTimeObject::wrap(OffsetDateTime{utc_of(z), UtcOffset{z->period.offset}});
}
static constexpr auto zoned_to_offset_decl =
    zoned_class.instance_method("to_offset", zoned_to_offset,
                                "Get the OffsetDateTime of the same instant.\n\n"
                                "Returns:\n"
                                "    OffsetDateTime: The instant at the offset in force there; the zone is dropped.");

static PyObject *zoned_with_zone(PyObject *self, PyObject *zone) {
    return zoned_from_instant(zone, utc_of(as_zoned(self)));
}
static constexpr auto zoned_with_zone_decl =
    zoned_class.instance_method("with_zone", zoned_with_zone,
                                "Get the same instant in another zone.\n\n"
                                "Args:\n"
                                "    zone: A Zone instance.\n\n"
                                "Returns:\n"
                                "    ZonedDateTime: The instant in that zone.\n\n"
                                "Raises:\n"
                                "    ValueError: If the local reading lies beyond the DateTime range.",
                                param<ZoneObjectArg>("zone"));

// --- Arithmetic ---------------------------------------------------------------

// The exact step of a move: the instant `seconds` with the reading
// `local` (which the calendar step may have moved from the value's own, at
// its period's offset) moved by `span` nanoseconds.
[[gnu::noinline]] static PyObject *zoned_move_exact(const ZonedObject *z, DateTime local, i64 seconds, i128 span) {
    const auto moved = add_duration(UnixInstant{seconds, local.time.nanosecond}, span);
    if (MERANDOL_UNLIKELY(!moved)) return out_of_range();
    // Within the period the offset stays, and the reading moves as the
    // instant does.
    if (moved->seconds >= z->period.from && moved->seconds < z->period.until) [[likely]] {
        const i64 step = moved->seconds - seconds;
        DateTime from = local;
        from.time.nanosecond = moved->nanos;
        // Within a day the reading steps through its neighbouring days.
        const auto reading = step >= -kSecondsPerDay && step <= kSecondsPerDay
                                 ? shift_seconds(from, static_cast<std::int32_t>(step))
                                 : add_duration(local, span);
        if (MERANDOL_UNLIKELY(!reading)) return out_of_range();
        return zoned_make(z->zone, *reading, moved->seconds, z->period);
    }
    return zoned_at(z->zone, moved->seconds, moved->nanos);
}

// The calendar step of a move, then its exact step of `span` nanoseconds.
[[gnu::noinline]] static PyObject *zoned_move_calendar(const ZonedObject *z, const CalendarAmount &calendar, i128 span,
                                                       Disambiguate how) {
    PyObject *zone = z->zone;
    const bool days_alone = calendar.years == 0 && calendar.months == 0;
    // Weeks and days alone, the usual calendar step, as below, but the new
    // value takes its time of day and period from this one as they lie in
    // memory, not rebuilt from parts.  Their count lies within 2^42 as the
    // range does; beyond, the general step says so.
    constexpr i64 kDaysMost = i64{1} << 42;
    const i128 days = i128{calendar.weeks} * 7 + calendar.days;
    if (days_alone && span == 0 && days >= -kDaysMost && days <= kDaysMost) {
        const auto date = add_days(z->local.date, static_cast<i64>(days));
        if (MERANDOL_UNLIKELY(!date)) return out_of_range();
        const i64 local_seconds = z->seconds + z->period.offset + static_cast<i64>(days) * kSecondsPerDay;
        if (names_reading_alone(z->period, local_seconds)) [[likely]]
            return zoned_days_later(z, *date, local_seconds - z->period.offset);
    }
    const auto moved = add_calendar(z->local, calendar);
    if (MERANDOL_UNLIKELY(!moved)) return out_of_range();
    // Weeks and days alone move the seconds by whole days; their count,
    // which kept the date in the range, lies below 2^42.
    const i64 local_seconds =
        days_alone ? z->seconds + z->period.offset + static_cast<i64>(days) * kSecondsPerDay : unix_timestamp(*moved);
    if (!names_reading_alone(z->period, local_seconds)) [[unlikely]] {
        if (span == 0) return zoned_from_local(zone, *moved, how);
        const auto placed = from_zone_local(zone_of(zone), *moved, how);
        if (MERANDOL_UNLIKELY(!placed)) {
            if (placed.error() == ZoneLocalError::OutOfRange) return out_of_range();
            return unsettled_local(zone, *moved, placed.error());
        }
        const auto instant = add_duration(placed->utc, span);
        if (MERANDOL_UNLIKELY(!instant)) return out_of_range();
        return zoned_from_instant(zone, *instant);
    }
    if (span == 0) return zoned_at_reading(zone, *moved, local_seconds, z->period);
    const i64 seconds = local_seconds - z->period.offset;
    // The instant on the way must lie in the range too.
    if (MERANDOL_UNLIKELY(seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds)) return out_of_range();
    return zoned_move_exact(z, *moved, seconds, span);
}

// Temporal's order: the calendar units move the local date (the day
// clamped to the month reached), the reading is placed again with `how`,
// then the exact units move the instant.  With no calendar unit the
// instant is moved alone.  `Sign` is -1 for subtract.  Each step is a
// function of its own, so that each call runs through a small one.  The
// amounts come one by one, as the binder converted them: gathered into an
// array they were copied 16 bytes at a time over the 8-byte stores that
// made them, a load that waits until those stores reach the cache.
template <int Sign>
static PyObject *zoned_move(PyObject *self, i64 years, i64 months, i64 weeks, i64 days, i64 hours, i64 minutes,
                            i64 seconds, i64 millis, i64 micros, i64 nanos, Disambiguate how) {
    const ZonedObject *z = as_zoned(self);
    // -INT64_MIN does not fit: any calendar amount of that size leaves the
    // range whichever way it goes, so INT64_MAX stands for it.
    auto signed_amount = [](i64 v) { return Sign > 0 ? v : v == INT64_MIN ? INT64_MAX : -v; };
    const CalendarAmount calendar{signed_amount(years), signed_amount(months), signed_amount(weeks),
                                  signed_amount(days)};
    // Most calls give calendar units or exact ones, seldom both.  Hours to
    // nanoseconds: each term below 2^63 * 3.6 * 10^12 < 2^105, the sum of
    // six below 2^108.
    i128 span = 0;
    if ((hours | minutes | seconds | millis | micros | nanos) != 0) {
        constexpr i64 kNanosPerHour = 3600 * kNanosPerSecond, kNanosPerMinute = 60 * kNanosPerSecond;
        span = i128{hours} * kNanosPerHour + i128{minutes} * kNanosPerMinute + i128{seconds} * kNanosPerSecond +
               i128{millis} * 1000000 + i128{micros} * 1000 + nanos;
        if constexpr (Sign < 0) span = -span;
    }
    if (calendar.years != 0 || calendar.months != 0 || calendar.weeks != 0 || calendar.days != 0)
        return zoned_move_calendar(z, calendar, span, how);
    if (span == 0) return Py_NewRef(self);
    return zoned_move_exact(z, z->local, z->seconds, span);
}

#define MERANDOL_AMOUNT_PARAMS                                                                     \
    param<I64>("years", 0).keyword_only(), param<I64>("months", 0).keyword_only(),                 \
        param<I64>("weeks", 0).keyword_only(), param<I64>("days", 0).keyword_only(),               \
        param<I64>("hours", 0).keyword_only(), param<I64>("minutes", 0).keyword_only(),            \
        param<I64>("seconds", 0).keyword_only(), param<I64>("milliseconds", 0).keyword_only(),     \
        param<I64>("microseconds", 0).keyword_only(), param<I64>("nanoseconds", 0).keyword_only(), \
        param<DisambiguateWord>("disambiguate", Disambiguate::Compatible).keyword_only()

#define MERANDOL_AMOUNT_DOC(verb)                                                           \
    "Calendar units are " verb                                                              \
    " to the local date (years and months first, the day\n"                                 \
    "clamped to the last of the month reached, then weeks and days) and the reading is\n"   \
    "placed in the zone again with disambiguate; exact units are then " verb                \
    " to the\n"                                                                             \
    "instant.  Without calendar units only the instant moves.\n\n"                          \
    "Args:\n"                                                                               \
    "    years: Years (default=0).\n"                                                       \
    "    months: Months (default=0).\n"                                                     \
    "    weeks: Weeks (default=0).\n"                                                       \
    "    days: Days (default=0).\n"                                                         \
    "    hours: Hours, exact (default=0).\n"                                                \
    "    minutes: Minutes, exact (default=0).\n"                                            \
    "    seconds: Seconds, exact (default=0).\n"                                            \
    "    milliseconds: Milliseconds, exact (default=0).\n"                                  \
    "    microseconds: Microseconds, exact (default=0).\n"                                  \
    "    nanoseconds: Nanoseconds, exact (default=0).\n"                                    \
    "    disambiguate: How the reading the calendar units reach is settled where a\n"       \
    "        change of offset skips or repeats it, as in Zone.from_local\n"                 \
    "        (default='compatible').\n\n"                                                   \
    "Returns:\n"                                                                            \
    "    ZonedDateTime: The new instant in the same zone.\n\n"                              \
    "Raises:\n"                                                                             \
    "    ValueError: If the result, or the date on the way to it, lies beyond the range,\n" \
    "        or disambiguate is 'raise' and the reading is skipped or repeated.\n"          \
    "    OverflowError: For an amount beyond 64 bits."

static constexpr auto zoned_add_decl = zoned_class.instance_method(
    "add", zoned_move<1>, "Add calendar and exact units in Temporal's order.\n\n" MERANDOL_AMOUNT_DOC("added"),
    MERANDOL_AMOUNT_PARAMS);
static constexpr auto zoned_subtract_decl = zoned_class.instance_method(
    "subtract", zoned_move<-1>,
    "Subtract calendar and exact units: add the negated amounts.\n\n" MERANDOL_AMOUNT_DOC("subtracted"),
    MERANDOL_AMOUNT_PARAMS);
#undef MERANDOL_AMOUNT_PARAMS
#undef MERANDOL_AMOUNT_DOC

static PyObject *zoned_difference(PyObject *self, PyObject *other) {
    if (MERANDOL_UNLIKELY(!is_zoned(other))) {
        PyErr_Format(PyExc_TypeError, "'%T' object is not a ZonedDateTime", other);
        note_argument("other");
        return nullptr;
    }
    const ZonedObject *a = as_zoned(self), *b = as_zoned(other);
    // Seconds within 2^57 of the epoch: the product stays below 2^88.
    return DurationObject::wrap(i128{a->seconds - b->seconds} * kNanosPerSecond +
                                (i64{a->local.time.nanosecond} - i64{b->local.time.nanosecond}));
}
static constexpr auto zoned_difference_decl =
    zoned_class.instance_method("difference", zoned_difference,
                                "Get the exact time between two instants.\n\n"
                                "Args:\n"
                                "    other: A ZonedDateTime instance, in any zone.\n\n"
                                "Returns:\n"
                                "    Duration: self - other, in nanoseconds.",
                                param<Any>("other"));

// --- Rounding -------------------------------------------------------------------

static PyObject *zoned_round(PyObject *self, TimeUnit unit, i64 increment, RoundingMode mode) {
    const ZonedObject *z = as_zoned(self);
    if (MERANDOL_UNLIKELY(!check_increment(unit, increment))) return nullptr;
    const Zone &zone = zone_of(z->zone);
    const DateTime local = z->local;
    if (unit == TimeUnit::Day) {
        // The day's real length: from its first instant to the next day's.
        const auto next = day_after(local.date);
        if (MERANDOL_UNLIKELY(!next)) return out_of_range();
        const ZonedSeconds start = start_of_day(zone, days_since_unix_epoch(local.date) * kSecondsPerDay);
        const ZonedSeconds end = start_of_day(zone, days_since_unix_epoch(*next) * kSecondsPerDay);
        const i128 progress = i128{z->seconds - start.seconds} * kNanosPerSecond + local.time.nanosecond;
        const i128 length = i128{end.seconds - start.seconds} * kNanosPerSecond;
        // progress lies in [0, length): the multiple is 0 or length.
        const bool up = *round_to_multiple<i128>(progress, length, mode) != 0;
        return zoned_at(z->zone, (up ? end : start).seconds, 0);
    }
    const auto rounded = round_reading(local, unit, increment, mode);
    if (MERANDOL_UNLIKELY(!rounded)) return out_of_range();
    // Temporal keeps the offset where the zone still has it at the rounded
    // reading, so a reading in a fold stays on its side: it has when the
    // instant the offset names lies in the offset's period, which the
    // value's own usually answers.
    const i64 seconds = local_seconds_near(z, *rounded);
    const i64 kept_instant = seconds - z->period.offset;
    if (kept_instant >= z->period.from && kept_instant < z->period.until) [[likely]]
        return zoned_at_reading(z->zone, *rounded, seconds, z->period);
    if (const auto kept = matching_period(zone, seconds, z->period.offset, false))
        return zoned_at_reading(z->zone, *rounded, seconds, *kept);
    return zoned_from_local(z->zone, *rounded, Disambiguate::Compatible);
}
static constexpr auto zoned_round_decl =
    zoned_class.instance_method("round", zoned_round,
                                "Round the local reading to a multiple of a unit.\n\n"
                                "Args:\n"
                                "    unit: 'day', 'hour', 'minute', 'second', 'millisecond', 'microsecond' or\n"
                                "        'nanosecond'.  A day is the day's real length, from its first instant to the\n"
                                "        next day's.\n"
                                "    increment: How many units; it divides the next larger unit and is smaller than\n"
                                "        it, and is 1 for 'day' (default=1).\n"
                                "    mode: 'floor', 'ceil', 'trunc', 'expand', 'half_floor', 'half_ceil',\n"
                                "        'half_trunc', 'half_expand' or 'half_even' (default='half_even').\n\n"
                                "Returns:\n"
                                "    ZonedDateTime: The rounded reading in the zone, at the original offset where the\n"
                                "    zone has it there, otherwise placed as 'compatible' does.\n\n"
                                "Raises:\n"
                                "    ValueError: For an unknown unit or mode, an increment that does not divide\n"
                                "        the next unit, or a result beyond the range.",
                                param<TimeUnitWord>("unit"), param<I64>("increment", 1).keyword_only(),
                                param<RoundingModeWord>("mode", RoundingMode::HalfEven).keyword_only());

PyObject *zoned_start_of(PyObject *self, CalendarUnit unit) {
    const ZonedObject *z = as_zoned(self);
    const auto first = start_of(z->local.date, unit);
    if (MERANDOL_UNLIKELY(!first)) return out_of_range();
    return zoned_start_of_day(z->zone, *first);
}
static constexpr auto zoned_start_of_decl =
    zoned_class.instance_method("start_of", zoned_start_of,
                                "Get the first instant of the year, month, week or day.\n\n"
                                "Args:\n"
                                "    unit: 'year', 'month', 'week' (ISO: from Monday) or 'day'.\n\n"
                                "Returns:\n"
                                "    ZonedDateTime: The first instant of the unit's first day in the zone:\n"
                                "    its midnight (the earlier one where it is repeated), or where a\n"
                                "    change of offset skips midnight, the change.\n\n"
                                "Raises:\n"
                                "    ValueError: For an unknown unit, or a result beyond the range.",
                                param<CalendarUnitWord>("unit"));

// --- Text ---------------------------------------------------------------------

// "2026-12-08T15:36:25+01:00[Europe/Paris]".
static PyObject *zoned_str(PyObject *self) {
    const ZonedObject *z = as_zoned(self);
    PyObject *key = zone_key(z->zone);
    if (MERANDOL_UNLIKELY(key == nullptr))
        return PyErr_Format(PyExc_ValueError, "a ZonedDateTime in a zone read from bytes without a key has no text");
    char head[kRfc9557HeadMax];
    const char *end = write_rfc9557_head(head, z->local, UtcOffset{z->period.offset});
    const auto head_size = static_cast<Py_ssize_t>(end - head);
    if (MERANDOL_UNLIKELY(!PyUnicode_IS_COMPACT_ASCII(key))) {
        PyObject *start = ascii(head, end);
        PyObject *text = start ? PyUnicode_FromFormat("%U%U]", start, key) : nullptr;
        Py_XDECREF(start);
        return text;
    }
    const Py_ssize_t key_size = PyUnicode_GET_LENGTH(key);
    PyObject *text = PyUnicode_New(head_size + key_size + 1, 127);
    if (MERANDOL_UNLIKELY(text == nullptr)) return nullptr;
    auto *out = static_cast<char *>(PyUnicode_DATA(text));
    std::memcpy(out, head, static_cast<std::size_t>(head_size));
    std::memcpy(out + head_size, PyUnicode_DATA(key), static_cast<std::size_t>(key_size));
    out[head_size + key_size] = ']';
    return text;
}

static PyObject *zoned_repr(PyObject *self) {
    if (zone_key(as_zoned(self)->zone) == nullptr) {
        PyObject *instant = DateTimeObject::wrap(utc_of(as_zoned(self)));
        PyObject *text = instant
                             ? PyUnicode_FromFormat("ZonedDateTime.from_instant(%R, %R)", instant, as_zoned(self)->zone)
                             : nullptr;
        Py_XDECREF(instant);
        return text;
    }
    PyObject *text = zoned_str(self);
    if (text == nullptr) return nullptr;
    Py_SETREF(text, PyUnicode_FromFormat("ZonedDateTime.parse(%R)", text));
    return text;
}

// The text as a message quotes it: its repr, shortened past 64 characters.
static PyObject *quoted(PyObject *text) {
    static constexpr Py_ssize_t kShown = 64;
    if (PyUnicode_GET_LENGTH(text) <= kShown) return PyObject_Repr(text);
    PyObject *shown = PyUnicode_Substring(text, 0, kShown);
    PyObject *quoted = shown ? PyUnicode_FromFormat("%R...", shown) : nullptr;
    Py_XDECREF(shown);
    return quoted;
}

// ValueError "'<text>' is not an RFC 9557 text: <reason>", and the position
// when one is given.
static PyObject *not_rfc9557(PyObject *text, std::string_view reason, const std::size_t *position) {
    PyObject *shown = quoted(text);
    if (shown == nullptr) return nullptr;
    if (position != nullptr)
        PyErr_Format(PyExc_ValueError, "%U is not an RFC 9557 text: %.*s at position %zu", shown,
                     static_cast<int>(reason.size()), reason.data(), *position);
    else
        PyErr_Format(PyExc_ValueError, "%U is not an RFC 9557 text: %.*s", shown, static_cast<int>(reason.size()),
                     reason.data());
    Py_DECREF(shown);
    return nullptr;
}

// Temporal's reading of a zoned text: an instant from "Z" or under
// offset='use'; the reading alone without an offset or under 'ignore';
// otherwise the offset must be one the zone has at the reading (an offset
// written to the minute matching one with seconds that rounds to it), or
// 'prefer' falls back to the reading and 'reject' refuses.
static PyObject *zoned_parse(PyObject *, Kept<std::string_view> text, OffsetOption option, Disambiguate how) {
    const auto reading = read_rfc9557(text.value);
    if (MERANDOL_UNLIKELY(!reading))
        return not_rfc9557(text.object, describe(reading.error().fault), &reading.error().position);
    if (MERANDOL_UNLIKELY(reading->zone_is_offset))
        return not_rfc9557(text.object, "an offset time zone, not an IANA zone", nullptr);
    PyObject *zone = zone_for_key_text(reading->zone);
    if (zone == nullptr) return nullptr;
    const DateTime local = reading->local;
    const Rfc9557Offset kind = reading->offset_kind;
    PyObject *result = nullptr;
    if (kind == Rfc9557Offset::Utc || (kind != Rfc9557Offset::None && option == OffsetOption::Use)) {
        const auto exact = from_local(local.date, local.time, reading->offset);
        result = exact ? zoned_from_instant(zone, exact->utc) : out_of_range();
    } else if (kind == Rfc9557Offset::None || option == OffsetOption::Ignore) {
        result = zoned_from_local(zone, local, how);
    } else {
        const i64 seconds = unix_timestamp(local);
        const auto matched =
            matching_period(zone_of(zone), seconds, reading->offset.seconds, kind == Rfc9557Offset::Minutes);
        if (matched) {
            result = zoned_at_reading(zone, local, seconds, *matched);
        } else if (option == OffsetOption::Prefer) {
            result = zoned_from_local(zone, local, how);
        } else {
            PyObject *name = zone_name(zone);
            PyObject *shown = name ? quoted(text.object) : nullptr;
            if (shown != nullptr)
                PyErr_Format(PyExc_ValueError, "%U: %U has no such offset at that reading (offset='reject')", shown,
                             name);
            Py_XDECREF(shown);
            Py_XDECREF(name);
        }
    }
    Py_DECREF(zone);
    return result;
}
static constexpr auto zoned_parse_decl = zoned_class.class_method(
    "parse", zoned_parse,
    "Read a ZonedDateTime from RFC 9557 text, as Temporal reads it.\n\n"
    "Args:\n"
    "    text: An RFC 3339 date-time whose offset may be left out, then the zone's\n"
    "        key in brackets ('[Europe/Paris]' or '[!Europe/Paris]'), then tags: a\n"
    "        '[u-ca=iso8601]' calendar is accepted, another refused, and an unknown\n"
    "        tag ignored unless it is critical ('[!key=value]').\n"
    "    offset: How an offset that the zone does not have at the reading is settled:\n"
    "        'reject' raises, 'prefer' keeps the offset where the zone has it and\n"
    "        otherwise uses the reading, 'use' keeps the instant the offset gives, and\n"
    "        'ignore' uses the reading alone.  An offset written to the minute matches\n"
    "        one with seconds that rounds to it; 'Z' always keeps its instant\n"
    "        (default='reject').\n"
    "    disambiguate: How a reading placed without its offset is settled, as in\n"
    "        Zone.from_local (default='compatible').\n\n"
    "Returns:\n"
    "    ZonedDateTime: The instant in the zone of the key.\n\n"
    "Raises:\n"
    "    ValueError: Naming the text and the reason: no zone, a bad tag, another\n"
    "        calendar, an offset the zone lacks under offset='reject', or a result\n"
    "        beyond the range.\n"
    "    ZoneNotFoundError: For a key that names no zone.",
    param<Keep<Text>>("text"), param<OffsetOptionWord>("offset", OffsetOption::Reject).keyword_only(),
    param<DisambiguateWord>("disambiguate", Disambiguate::Compatible).keyword_only());

// --- Comparison, hash, pickling, copying ------------------------------------------

// Equal when the instants and the zones are; ordered by instant alone.
static PyObject *zoned_richcompare(PyObject *self, PyObject *other, int op) {
    if (!is_zoned(other)) Py_RETURN_NOTIMPLEMENTED;
    const ZonedObject *x = as_zoned(self), *y = as_zoned(other);
    const int order = x->seconds != y->seconds ? (x->seconds < y->seconds ? -1 : 1)
                                               : (x->local.time.nanosecond > y->local.time.nanosecond) -
                                                     (x->local.time.nanosecond < y->local.time.nanosecond);
    bool r;
    switch (op) {
        case Py_LT: r = order < 0; break;
        case Py_LE: r = order <= 0; break;
        case Py_GT: r = order > 0; break;
        case Py_GE: r = order >= 0; break;
        default: {
            PyObject *a = as_zoned(self)->zone, *b = as_zoned(other)->zone;
            int same = 1;
            if (order == 0 && a != b) {
                same = PyObject_RichCompareBool(a, b, Py_EQ);
                if (same < 0) return nullptr;
            }
            r = (order == 0 && same == 1) == (op == Py_EQ);
        }
    }
    return Py_NewRef(r ? Py_True : Py_False);
}

// The instant's 13 bytes as a DateTime hashes them, then the zone's hash.
static Py_hash_t zoned_hash(PyObject *self) {
    const Py_hash_t zone = PyObject_Hash(as_zoned(self)->zone);
    if (zone == -1) return -1;
    const auto [first, second] = datetime_hash_words(utc_of(as_zoned(self)));
    const std::uint64_t z = static_cast<std::uint64_t>(zone);
    return hash_words<kDateTimeHashBytes + 8>({first, second | z << 40, z >> 24});
}

// The instant and the zone, which pickles by its key.
static PyObject *zoned_reduce(PyObject *self) {
    if (!zone_pickles(as_zoned(self)->zone)) return nullptr;
    return reduce_value(zoned_type(), "from_instant",
                        Py_BuildValue("(NO)", DateTimeObject::wrap(utc_of(as_zoned(self))), as_zoned(self)->zone));
}
static constexpr auto zoned_reduce_decl = zoned_class.reduce(zoned_reduce);

static PyObject *zoned_copy(PyObject *self) { return Py_NewRef(self); }
static constexpr auto zoned_copy_decl =
    zoned_class.instance_method("__copy__", zoned_copy, "Return the value itself: it is immutable.");

static PyObject *zoned_deepcopy(PyObject *self, PyObject *) { return Py_NewRef(self); }
static constexpr auto zoned_deepcopy_decl =
    zoned_class.instance_method("__deepcopy__", zoned_deepcopy,
                                "Return the value itself: it is immutable.\n\n"
                                "Args:\n"
                                "    memo: The memo of the deep copy, which the value does not need.\n\n"
                                "Returns:\n"
                                "    ZonedDateTime: The value itself.",
                                param<Any>("memo"));

static PyMethodDef zoned_methods[] = {
    row<zoned_from_instant_decl>(), row<zoned_now_decl>(),       row<zoned_from_stdlib_decl>(),
    row<zoned_parse_decl>(),        row<zoned_to_offset_decl>(), row<zoned_with_zone_decl>(),
    row<zoned_add_decl>(),          row<zoned_subtract_decl>(),  row<zoned_difference_decl>(),
    row<zoned_round_decl>(),        row<zoned_start_of_decl>(),  row<zoned_reduce_decl>(),
    row<zoned_copy_decl>(),         row<zoned_deepcopy_decl>(),  kEndOfMethods,
};

static PyType_Slot zoned_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void *>(zoned_dealloc)},
    {Py_tp_doc, class_doc<zoned_new_decl>()},
    {Py_tp_new, reinterpret_cast<void *>(constructor_new<zoned_new_decl>)},
    {kVectorcallSlot, reinterpret_cast<void *>(constructor_vectorcall<zoned_new_decl>)},
    {Py_tp_repr, reinterpret_cast<void *>(zoned_repr)},
    {Py_tp_str, reinterpret_cast<void *>(zoned_str)},
    {Py_tp_richcompare, reinterpret_cast<void *>(zoned_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(zoned_hash)},
    {Py_tp_getset, zoned_getset},
    {Py_tp_methods, zoned_methods},
    {0, nullptr},
};

static PyType_Spec zoned_spec = {
    .name = zoned_class.qualified_name,
    .basicsize = sizeof(ZonedObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = zoned_slots,
};

// The class, made once for the process.
static int zoned_exec(PyObject *module) {
    static PyMutex lock;
    PyMutex_Lock(&lock);
    int result = 0;
    if (zoned_type() == nullptr) {
        PyObject *type = type_from_spec(&zoned_spec);
        if (type == nullptr || bind_class_methods(reinterpret_cast<PyTypeObject *>(type)) < 0) {
            Py_XDECREF(type);
            result = -1;
        } else {
            g_zoned_type.store(reinterpret_cast<PyTypeObject *>(type), std::memory_order_release);
        }
    }
    PyMutex_Unlock(&lock);
    if (result < 0) return -1;
    return PyModule_AddObjectRef(module, "ZonedDateTime", reinterpret_cast<PyObject *>(zoned_type()));
}

static PyMethodDef zoned_functions[] = {kEndOfMethods};

extern const InteropUnit kZonedUnit = {zoned_functions, zoned_exec, {"ZonedDateTime"}};

}  // namespace merandol::py
