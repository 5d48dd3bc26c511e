// Conversions between merandol's values and the standard datetime types.
// The standard types hold microseconds, the years 1 to 9999, offsets
// strictly within a day and spans of at most 999999999 days either way.  A
// value outside those is refused with a ValueError that names it; nothing
// is cut short, except that truncate=True floors nanoseconds to microseconds.
#include <cstdarg>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "core/floor.hpp"
#include "core/zoned.hpp"
#include "interop/interop.hpp"
#include "interop/zones/zones.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/duration.hpp"
#include "module/offset.hpp"
#include "module/time.hpp"

// The header declares the datetime module's C interface as a pointer of
// each unit that includes it; this is the only one.
#include <datetime.h>

namespace merandol::py {

inline constexpr std::int32_t kMinStdlibYear = 1, kMaxStdlibYear = 9999;
inline constexpr std::int64_t kNanosPerMicro = 1000;
inline constexpr std::int64_t kMicrosPerSecond = 1000000;
inline constexpr std::int64_t kMicrosPerDay = kSecondsPerDay * kMicrosPerSecond;
inline constexpr std::int64_t kMaxDeltaDays = 999999999;  // timedelta's bound either way
static_assert(kMicrosPerDay == 86400000000);

static PyObject *g_utcoffset_name;     // "utcoffset"
static PyObject *g_nanosecond_name;    // "nanosecond", of a datetime subclass that has one
static PyObject *g_nanoseconds_name;   // "nanoseconds", of a timedelta subclass that has one
static PyTypeObject *g_timezone_type;  // datetime.timezone, the type of datetime.UTC

static int stdlib_exec(PyObject *) {
    if (PyDateTimeAPI == nullptr) PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) return -1;
    g_timezone_type = Py_TYPE(PyDateTime_TimeZone_UTC);
    // Interned for the life of the process, like the class objects.
    for (auto [slot, text] : {std::pair{&g_utcoffset_name, "utcoffset"}, std::pair{&g_nanosecond_name, "nanosecond"},
                              std::pair{&g_nanoseconds_name, "nanoseconds"}}) {
        if (*slot == nullptr) *slot = PyUnicode_InternFromString(text);
        if (*slot == nullptr) return -1;
    }
    return 0;
}

// ValueError "{value!r} cannot be converted to {target}: {reason}".
static PyObject *refuse(PyObject *value, const char *target, const char *reason, ...) {
    std::va_list args;
    va_start(args, reason);
    PyObject *why = PyUnicode_FromFormatV(reason, args);
    va_end(args);
    if (why == nullptr) return nullptr;
    PyErr_Format(PyExc_ValueError, "%R cannot be converted to %s: %U", value, target, why);
    Py_DECREF(why);
    return nullptr;
}

static PyObject *year_refused(PyObject *value, const char *target, std::int64_t year) {
    return refuse(value, target, "year %lld is outside the standard library's years 1 to 9999",
                  static_cast<long long>(year));
}

static bool in_stdlib_years(std::int64_t year) noexcept { return year >= kMinStdlibYear && year <= kMaxStdlibYear; }

// The microseconds of a nanosecond field, or -1 with the error set when
// some would be lost and truncation was not asked for.
static int micros_of(PyObject *value, const char *target, std::uint32_t nanos, bool truncate) {
    if (MERANDOL_UNLIKELY(nanos % kNanosPerMicro != 0 && !truncate)) {
        refuse(value, target, "its nanosecond %u is not a whole number of microseconds (truncate=True floors it)",
               nanos);
        return -1;
    }
    return static_cast<int>(nanos / kNanosPerMicro);
}

// --- Offsets ----------------------------------------------------------------

// datetime.timezone objects of whole-minute offsets, made on first use and
// kept, so that converting an offset date-time makes no timezone: slot
// minutes + 1439 for the 2879 offsets from -23:59 to +23:59.
inline constexpr int kMaxOffsetMinutes = 23 * 60 + 59;
static std::atomic<PyObject *> g_timezones[2 * kMaxOffsetMinutes + 1];

// A new reference to the timezone of `seconds`, |seconds| < 86400.
static PyObject *timezone_of(std::int32_t seconds) {
    if (seconds == 0) return Py_NewRef(PyDateTime_TimeZone_UTC);
    std::atomic<PyObject *> *slot = seconds % 60 == 0 ? &g_timezones[seconds / 60 + kMaxOffsetMinutes] : nullptr;
    if (slot != nullptr)
        if (PyObject *cached = slot->load(std::memory_order_acquire)) return Py_NewRef(cached);
    PyObject *delta = PyDateTimeAPI->Delta_FromDelta(0, seconds, 0, 1, PyDateTimeAPI->DeltaType);
    if (delta == nullptr) return nullptr;
    PyObject *tz = PyDateTimeAPI->TimeZone_FromTimeZone(delta, nullptr);
    Py_DECREF(delta);
    if (tz == nullptr || slot == nullptr) return tz;
    // The slot keeps this reference; a thread that lost the race drops its own.
    PyObject *expected = nullptr;
    if (slot->compare_exchange_strong(expected, tz, std::memory_order_acq_rel)) return Py_NewRef(tz);
    Py_DECREF(tz);
    return Py_NewRef(expected);
}

static bool is_full_day(UtcOffset offset) noexcept { return std::abs(offset.seconds) == kSecondsPerDay; }

static PyObject *full_day_refused(PyObject *value, const char *target) {
    return refuse(value, target, "an offset of a full 24 hours is outside datetime.timezone's range");
}

// The whole seconds of a utcoffset() result, or false with the error set.
static bool offset_seconds(PyObject *value, const char *target, PyObject *delta, std::int32_t &out) {
    if (MERANDOL_UNLIKELY(!PyDelta_Check(delta))) {
        PyErr_Format(PyExc_TypeError, "utcoffset() of %R returned '%T', not a datetime.timedelta", value, delta);
        return false;
    }
    const std::int64_t seconds =
        std::int64_t{PyDateTime_DELTA_GET_DAYS(delta)} * kSecondsPerDay + PyDateTime_DELTA_GET_SECONDS(delta);
    if (MERANDOL_UNLIKELY(PyDateTime_DELTA_GET_MICROSECONDS(delta) != 0)) {
        refuse(value, target, "its UTC offset %R is not a whole number of seconds", delta);
        return false;
    }
    if (MERANDOL_UNLIKELY(seconds <= -kSecondsPerDay || seconds >= kSecondsPerDay)) {
        refuse(value, target, "its UTC offset %R is not strictly within a day", delta);
        return false;
    }
    out = static_cast<std::int32_t>(seconds);
    return true;
}

// --- merandol to the standard library ---------------------------------------

static PyObject *date_to_stdlib(PyObject *value) {
    const Date d = DateObject::of(value);
    if (MERANDOL_UNLIKELY(!in_stdlib_years(d.year))) return year_refused(value, "datetime.date", d.year);
    return PyDateTimeAPI->Date_FromDate(d.year, d.month, d.day, PyDateTimeAPI->DateType);
}

static PyObject *time_to_stdlib(PyObject *value, bool truncate) {
    const Time t = TimeObject::of(value);
    const int micros = micros_of(value, "datetime.time", t.nanosecond, truncate);
    if (micros < 0) return nullptr;
    return PyDateTimeAPI->Time_FromTime(t.hour, t.minute, t.second, micros, Py_None, PyDateTimeAPI->TimeType);
}

// The fold is a template argument: the constructor that takes one costs
// some 20 instructions more, which only a zoned value's later reading needs.
template <bool kWithFold = false>
static PyObject *datetime_of(PyObject *value, const char *target, const DateTime &dt, bool truncate, PyObject *tz,
                             int fold = 0) {
    if (MERANDOL_UNLIKELY(!in_stdlib_years(dt.date.year))) return year_refused(value, target, dt.date.year);
    const int micros = micros_of(value, target, dt.time.nanosecond, truncate);
    if (micros < 0) return nullptr;
    if constexpr (kWithFold)
        return PyDateTimeAPI->DateTime_FromDateAndTimeAndFold(dt.date.year, dt.date.month, dt.date.day, dt.time.hour,
                                                              dt.time.minute, dt.time.second, micros, tz, fold,
                                                              PyDateTimeAPI->DateTimeType);
    else
        return PyDateTimeAPI->DateTime_FromDateAndTime(dt.date.year, dt.date.month, dt.date.day, dt.time.hour,
                                                       dt.time.minute, dt.time.second, micros, tz,
                                                       PyDateTimeAPI->DateTimeType);
}

static PyObject *datetime_to_stdlib(PyObject *value, bool truncate) {
    return datetime_of(value, "datetime.datetime", DateTimeObject::of(value), truncate, PyDateTime_TimeZone_UTC);
}

static PyObject *offset_datetime_to_stdlib(PyObject *value, bool truncate) {
    static constexpr const char *target = "datetime.datetime";
    const OffsetDateTime v = OffsetDateTimeObject::of(value);
    if (MERANDOL_UNLIKELY(is_full_day(v.offset))) return full_day_refused(value, target);
    const auto local = to_local(v);
    if (MERANDOL_UNLIKELY(!local)) {
        // Beyond either end of the range the local reading has no text, so
        // the value is named by its UTC reading; the local year lies one
        // past the end.
        char utc[kDateTimeTextMax];
        const char *utc_end = write_datetime(utc, v.utc);
        PyErr_Format(PyExc_ValueError,
                     "OffsetDateTime.from_utc(DateTime.parse('%.*s'), UtcOffset.from_seconds(%d)) cannot be converted "
                     "to %s: year %lld is outside the standard library's years 1 to 9999",
                     static_cast<int>(utc_end - utc), utc, v.offset.seconds, target,
                     static_cast<long long>(std::int64_t{v.utc.date.year} + (v.offset.seconds > 0 ? 1 : -1)));
        return nullptr;
    }
    PyObject *tz = timezone_of(v.offset.seconds);
    if (tz == nullptr) return nullptr;
    PyObject *result = datetime_of(value, target, *local, truncate, tz);
    Py_DECREF(tz);
    return result;
}

// zoneinfo.ZoneInfo, borrowed: imported on first use and kept for the
// process, as the timezones above are.
static std::atomic<PyObject *> g_zoneinfo_class;

static PyObject *zoneinfo_class() {
    PyObject *cls = g_zoneinfo_class.load(std::memory_order_acquire);
    if (cls != nullptr) return cls;
    PyObject *zoneinfo = PyImport_ImportModule("zoneinfo");
    cls = zoneinfo ? PyObject_GetAttrString(zoneinfo, "ZoneInfo") : nullptr;
    Py_XDECREF(zoneinfo);
    if (cls == nullptr) return nullptr;
    PyObject *expected = nullptr;
    if (!g_zoneinfo_class.compare_exchange_strong(expected, cls, std::memory_order_acq_rel)) {
        Py_DECREF(cls);
        cls = expected;
    }
    return cls;
}

// The standard library's zone of the same key, zoneinfo.ZoneInfo(key).
static PyObject *zone_to_stdlib(PyObject *value) {
    PyObject *key = zone_key(value);
    if (key == nullptr)
        return refuse(value, "zoneinfo.ZoneInfo", "a zone read from bytes without a key has no ZoneInfo");
    PyObject *cls = zoneinfo_class();
    return cls ? PyObject_CallOneArg(cls, key) : nullptr;
}

// The local reading at ZoneInfo(key), with fold=1 for the later of a
// repeated reading, as PEP 495 marks it.
static PyObject *zoned_to_stdlib(PyObject *value, bool truncate) {
    const ZonedValue z = zoned_of(value);
    const DateTime local = z.local;
    const i64 local_seconds = unix_timestamp(local);
    int fold = 0;
    if (!names_reading_alone(z.period, local_seconds)) [[unlikely]] {
        const LocalCandidates c = zone_of(z.zone).local_candidates(local_seconds);
        fold = c.kind == LocalKind::Fold && z.period.offset == c.later_offset;
    }
    PyObject *tz = zone_to_stdlib(z.zone);
    if (tz == nullptr) return nullptr;
    PyObject *result = datetime_of<true>(value, "datetime.datetime", local, truncate, tz, fold);
    Py_DECREF(tz);
    return result;
}

static PyObject *utcoffset_to_stdlib(PyObject *value) {
    const UtcOffset offset = UtcOffsetObject::of(value);
    if (MERANDOL_UNLIKELY(is_full_day(offset))) return full_day_refused(value, "datetime.timezone");
    return timezone_of(offset.seconds);
}

// A span floored to the microsecond as (days, microseconds of the day), and
// whether the floor lost nanoseconds.
template <class T>
static std::pair<FloorDivided<T>, bool> days_and_micros(T span) noexcept {
    const auto [micros, nanos] = floor_divmod<T>(span, kNanosPerMicro);
    return {floor_divmod<T>(micros, kMicrosPerDay), nanos != 0};
}

static PyObject *duration_to_stdlib(PyObject *value, bool truncate) {
    static constexpr const char *target = "datetime.timedelta";
    const i128 span = DurationObject::of(value);
    // Spans within 64 bits (292 years either way, inside timedelta's range)
    // divide in 64 bits; a 128-bit division is a library call.
    FloorDivided<i128> split;
    bool lossy;
    if (span >= INT64_MIN && span <= INT64_MAX) {
        const auto [narrow, narrow_lossy] = days_and_micros<std::int64_t>(static_cast<std::int64_t>(span));
        split = {narrow.quotient, narrow.remainder}, lossy = narrow_lossy;
    } else {
        std::tie(split, lossy) = days_and_micros<i128>(span);
    }
    const auto [days, micros_of_day] = split;
    // The range first: where it fails, truncating would not help.
    if (MERANDOL_UNLIKELY(days < -kMaxDeltaDays || days > kMaxDeltaDays))
        return refuse(value, target, "it is outside timedelta's range of -999999999 to 999999999 days");
    if (lossy && !truncate)
        return refuse(value, target, "it is not a whole number of microseconds (truncate=True floors it)");
    const auto micros = static_cast<std::int64_t>(micros_of_day);
    return PyDateTimeAPI->Delta_FromDelta(static_cast<int>(days), static_cast<int>(micros / kMicrosPerSecond),
                                          static_cast<int>(micros % kMicrosPerSecond), 0, PyDateTimeAPI->DeltaType);
}

using StdlibClasses = ClassSet<ClassId::Date, ClassId::Time, ClassId::DateTime, ClassId::OffsetDateTime,
                               ClassId::UtcOffset, ClassId::Duration>;

static PyObject *to_stdlib(PyObject *, PyObject *value, bool truncate) {
    switch (StdlibClasses::find(Py_TYPE(value))) {
        case ClassId::OffsetDateTime: return offset_datetime_to_stdlib(value, truncate);
        case ClassId::DateTime: return datetime_to_stdlib(value, truncate);
        case ClassId::Date: return date_to_stdlib(value);
        case ClassId::Time: return time_to_stdlib(value, truncate);
        case ClassId::Duration: return duration_to_stdlib(value, truncate);
        case ClassId::UtcOffset: return utcoffset_to_stdlib(value);
        default:
            if (is_zone(value)) return zone_to_stdlib(value);
            if (is_zoned(value)) return zoned_to_stdlib(value, truncate);
            return PyErr_Format(PyExc_TypeError,
                                "to_stdlib() argument must be a merandol %s, or a Zone or ZonedDateTime, not '%T'",
                                StdlibClasses::kNames.data(), value);
    }
}
static constexpr auto to_stdlib_decl =
    module_function("to_stdlib", to_stdlib,
                    "Convert a merandol value to its standard datetime object.\n\n"
                    "Args:\n"
                    "    value: A Date, Time, DateTime, OffsetDateTime, UtcOffset, Duration,\n"
                    "        Zone or ZonedDateTime.\n"
                    "    truncate: Floor nanoseconds that are not whole microseconds instead of\n"
                    "        refusing them (default=False).\n\n"
                    "Returns:\n"
                    "    object: A datetime.date for a Date, a naive datetime.time for a Time, a\n"
                    "    datetime.datetime at datetime.UTC for a DateTime, a datetime.datetime of\n"
                    "    its local reading with a datetime.timezone of its offset for an\n"
                    "    OffsetDateTime, a datetime.timezone for a UtcOffset, a datetime.timedelta\n"
                    "    for a Duration, the zoneinfo.ZoneInfo of its key for a Zone, and for a\n"
                    "    ZonedDateTime the datetime.datetime of its local reading at that\n"
                    "    ZoneInfo, with fold=1 for the later of a repeated reading.\n\n"
                    "Raises:\n"
                    "    ValueError: For what the standard types cannot hold: years outside 1 to\n"
                    "        9999, an offset of a full 24 hours, a Duration beyond timedelta's\n"
                    "        range, and nanoseconds that are not whole microseconds unless\n"
                    "        truncate is true.",
                    param<Any>("value"), param<Bool>("truncate", false).keyword_only());

// --- The standard library to merandol ---------------------------------------

// The nanoseconds below the microsecond that a subclass keeps in an extra
// attribute (pandas' Timestamp.nanosecond, Timedelta.nanoseconds): 0 for
// the standard types themselves, or -1 with the error set.
static int extra_nanos(PyObject *obj, PyTypeObject *base, PyObject *name, const char *target) {
    if (Py_IS_TYPE(obj, base)) return 0;
    PyObject *attr;
    const int found = PyObject_GetOptionalAttr(obj, name, &attr);
    if (found <= 0) return found;
    const long nanos = PyLong_Check(attr) ? PyLong_AsLong(attr) : -1;
    Py_DECREF(attr);
    if (nanos == -1 && PyErr_Occurred()) return -1;
    if (MERANDOL_UNLIKELY(nanos < 0 || nanos >= kNanosPerMicro)) {
        refuse(obj, target, "its %U is not an integer from 0 to 999", name);
        return -1;
    }
    return static_cast<int>(nanos);
}

static PyObject *datetime_from_stdlib(PyObject *obj) {
    static constexpr const char *target = "merandol.OffsetDateTime";
    PyObject *tzinfo = PyDateTime_DATE_GET_TZINFO(obj);
    std::int32_t offset = 0;
    if (tzinfo != PyDateTime_TimeZone_UTC) {
        // A timezone's utcoffset() is its fixed offset; any other tzinfo
        // answers through the datetime, which checks the answer.
        PyObject *delta = tzinfo == Py_None ? Py_NewRef(Py_None)
                          : Py_IS_TYPE(tzinfo, g_timezone_type)
                              ? PyObject_CallMethodOneArg(tzinfo, g_utcoffset_name, obj)
                              : PyObject_CallMethodNoArgs(obj, g_utcoffset_name);
        if (delta == nullptr) return nullptr;
        const bool naive = delta == Py_None;
        const bool ok = !naive && offset_seconds(obj, target, delta, offset);
        Py_DECREF(delta);
        if (naive)
            return refuse(obj, target, "a naive datetime names no instant; attach a tzinfo (for example datetime.UTC)");
        if (!ok) return nullptr;
    }
    const int nanos = extra_nanos(obj, PyDateTimeAPI->DateTimeType, g_nanosecond_name, target);
    if (nanos < 0) return nullptr;
    const Date date{PyDateTime_GET_YEAR(obj), static_cast<std::uint8_t>(PyDateTime_GET_MONTH(obj)),
                    static_cast<std::uint8_t>(PyDateTime_GET_DAY(obj))};
    const Time time{static_cast<std::uint8_t>(PyDateTime_DATE_GET_HOUR(obj)),
                    static_cast<std::uint8_t>(PyDateTime_DATE_GET_MINUTE(obj)),
                    static_cast<std::uint8_t>(PyDateTime_DATE_GET_SECOND(obj)),
                    static_cast<std::uint32_t>(PyDateTime_DATE_GET_MICROSECOND(obj) * kNanosPerMicro + nanos)};
    // Years 1 to 9999 shifted by less than a day stay far inside the range.
    return OffsetDateTimeObject::wrap(*from_local(date, time, UtcOffset{offset}));
}

static PyObject *time_from_stdlib(PyObject *obj) {
    if (MERANDOL_UNLIKELY(PyDateTime_TIME_GET_TZINFO(obj) != Py_None))
        return refuse(obj, "merandol.Time", "an aware time has an offset that Time cannot hold; pass a naive time");
    return TimeObject::wrap(Time{static_cast<std::uint8_t>(PyDateTime_TIME_GET_HOUR(obj)),
                                 static_cast<std::uint8_t>(PyDateTime_TIME_GET_MINUTE(obj)),
                                 static_cast<std::uint8_t>(PyDateTime_TIME_GET_SECOND(obj)),
                                 static_cast<std::uint32_t>(PyDateTime_TIME_GET_MICROSECOND(obj) * kNanosPerMicro)});
}

static PyObject *timedelta_from_stdlib(PyObject *obj) {
    const int nanos = extra_nanos(obj, PyDateTimeAPI->DeltaType, g_nanoseconds_name, "merandol.Duration");
    if (nanos < 0) return nullptr;
    // At most about 8.6 * 10^22 nanoseconds, beyond 64 bits.
    const i128 micros =
        (i128{PyDateTime_DELTA_GET_DAYS(obj)} * kSecondsPerDay + PyDateTime_DELTA_GET_SECONDS(obj)) * kMicrosPerSecond +
        PyDateTime_DELTA_GET_MICROSECONDS(obj);
    return DurationObject::wrap(micros * kNanosPerMicro + nanos);
}

// A zoneinfo.ZoneInfo (or subclass) gives the Zone of its key: a new
// reference, nullptr with an error, or None when `obj` is no ZoneInfo.
// zoneinfo is imported only when a tzinfo of another kind comes.
static PyObject *zone_from_stdlib(PyObject *obj) {
    PyObject *type = zoneinfo_class();
    if (type == nullptr) return nullptr;
    const int is_zoneinfo = PyObject_IsInstance(obj, type);
    if (is_zoneinfo <= 0) return is_zoneinfo < 0 ? nullptr : Py_NewRef(Py_None);
    PyObject *key = PyObject_GetAttrString(obj, "key");
    if (key == nullptr) return nullptr;
    if (key == Py_None) {
        Py_DECREF(key);
        return refuse(obj, "merandol_interop.Zone", "a ZoneInfo read from a file without a key names no zone");
    }
    PyObject *zone = zone_for_key(key);
    Py_DECREF(key);
    return zone;
}

static PyObject *tzinfo_from_stdlib(PyObject *obj) {
    static constexpr const char *target = "merandol.UtcOffset";
    if (!Py_IS_TYPE(obj, g_timezone_type)) {
        PyObject *zone = zone_from_stdlib(obj);
        if (zone != Py_None) return zone;
        Py_DECREF(zone);
    }
    if (!Py_IS_TYPE(obj, g_timezone_type))
        return refuse(obj, target,
                      "only a datetime.timezone is a fixed offset; convert an aware datetime instead, whose offset "
                      "is the one its tzinfo gives for its instant");
    PyObject *delta = PyObject_CallMethodOneArg(obj, g_utcoffset_name, Py_None);
    if (delta == nullptr) return nullptr;
    std::int32_t seconds = 0;
    const bool ok = offset_seconds(obj, target, delta, seconds);
    Py_DECREF(delta);
    return ok ? UtcOffsetObject::wrap(UtcOffset{seconds}) : nullptr;
}

// The instant that the datetime's utcoffset() gives (zoneinfo settles a
// skipped or repeated reading by its fold), in the Zone of its key.
PyObject *zoned_from_stdlib(PyObject *obj) {
    static constexpr const char *target = "merandol_interop.ZonedDateTime";
    if (!PyDateTime_Check(obj))
        return PyErr_Format(PyExc_TypeError,
                            "ZonedDateTime.from_stdlib() argument must be a datetime.datetime, not '%T'", obj);
    PyObject *tzinfo = PyDateTime_DATE_GET_TZINFO(obj);
    PyObject *zone = tzinfo == Py_None ? Py_NewRef(Py_None) : zone_from_stdlib(tzinfo);
    if (zone == nullptr) return nullptr;
    if (zone == Py_None) {
        Py_DECREF(zone);
        return refuse(obj, target, "its tzinfo is no zoneinfo.ZoneInfo");
    }
    PyObject *offset = datetime_from_stdlib(obj);
    PyObject *result = nullptr;
    if (offset != nullptr) result = zoned_from_instant(zone, OffsetDateTimeObject::of(offset).utc);
    Py_XDECREF(offset);
    Py_DECREF(zone);
    return result;
}

static PyObject *from_stdlib(PyObject *, PyObject *obj) {
    // A datetime is also a date: it is asked first.
    if (PyDateTime_Check(obj)) return datetime_from_stdlib(obj);
    if (PyDate_Check(obj))
        return DateObject::wrap(Date{PyDateTime_GET_YEAR(obj), static_cast<std::uint8_t>(PyDateTime_GET_MONTH(obj)),
                                     static_cast<std::uint8_t>(PyDateTime_GET_DAY(obj))});
    if (PyDelta_Check(obj)) return timedelta_from_stdlib(obj);
    if (PyTime_Check(obj)) return time_from_stdlib(obj);
    if (PyTZInfo_Check(obj)) return tzinfo_from_stdlib(obj);
    return PyErr_Format(PyExc_TypeError,
                        "from_stdlib() argument must be a datetime.date, datetime.datetime, datetime.time, "
                        "datetime.timezone or datetime.timedelta, not '%T'",
                        obj);
}
static constexpr auto from_stdlib_decl =
    module_function("from_stdlib", from_stdlib,
                    "Convert a standard datetime object to its merandol value.\n\n"
                    "Args:\n"
                    "    obj: A datetime.date, an aware datetime.datetime, a naive datetime.time,\n"
                    "        a datetime.timezone, a datetime.timedelta or a zoneinfo.ZoneInfo.\n"
                    "        Subclasses count as their base; a subclass's nanosecond (or, for a\n"
                    "        timedelta, nanoseconds) attribute is kept.\n\n"
                    "Returns:\n"
                    "    object: A Date for a datetime.date, an OffsetDateTime at the offset its\n"
                    "    utcoffset() reports for an aware datetime.datetime, a Time for a naive\n"
                    "    datetime.time, a UtcOffset for a datetime.timezone, a Duration for a\n"
                    "    datetime.timedelta and the Zone of its key for a zoneinfo.ZoneInfo.\n\n"
                    "Raises:\n"
                    "    ValueError: For a naive datetime, an aware time, an offset that is not\n"
                    "        a whole number of seconds, and a tzinfo other than datetime.timezone\n"
                    "        or zoneinfo.ZoneInfo.",
                    param<Any>("obj"));

static PyMethodDef stdlib_functions[] = {
    row<to_stdlib_decl>(),
    row<from_stdlib_decl>(),
    kEndOfMethods,
};

extern const InteropUnit kStdlibUnit = {stdlib_functions, stdlib_exec, {}};

}  // namespace merandol::py
