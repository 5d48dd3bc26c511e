// The DateTime class: a UTC date and time of day.
#include "module/datetime.hpp"

#include "binding/compat.hpp"
#include "binding/declare.hpp"
#include "module/classes.hpp"
#include "module/date.hpp"
#include "module/duration.hpp"
#include "module/time.hpp"

namespace merandol::py {

static constexpr auto datetime_class = declare_class<DateTimeObject>();

static PyObject *datetime_new(PyTypeObject *type, Date date, Time time) {
    return DateTimeObject::wrap_as(type, DateTime{date, time});
}
static constexpr auto datetime_new_decl =
    datetime_class.constructor(datetime_new, param<Of<DateObject>>("date"), param<Of<TimeObject>>("time"));

static PyObject *datetime_date(PyObject *self, void *) { return DateObject::wrap(DateTimeObject::of(self).date); }
static PyObject *datetime_time(PyObject *self, void *) { return TimeObject::wrap(DateTimeObject::of(self).time); }

static PyObject *datetime_from_unix_timestamp(PyObject *, std::int64_t secs, std::int32_t nanos) {
    // Any 32-bit count is accepted: whole seconds (-3 to 2) carry over, and
    // a remainder in [0, 10^9) stays.
    const auto [carry, rest] = floor_divmod(nanos, std::int32_t{1000000000});
    std::expected<DateTime, DateError> dt = std::unexpected(DateError::OutOfRange);
    if (!__builtin_add_overflow(secs, carry, &secs)) dt = from_unix_timestamp(secs, rest);
    if (MERANDOL_UNLIKELY(!dt)) return value_error("Invalid timestamp: ", error_name(dt.error()));
    return DateTimeObject::wrap(*dt);
}
static constexpr auto datetime_from_unix_timestamp_decl = datetime_class.class_method(
    "from_unix_timestamp", datetime_from_unix_timestamp,
    "Create a DateTime from Unix timestamp (seconds and nanoseconds).\n\nArgs:\n    secs: Seconds since Unix epoch.\n"
    "    nanos: Additional nanoseconds (default=0).\n\nReturns:\n    DateTime: A new DateTime instance.\n\nRaises:\n"
    "    ValueError: If the timestamp is invalid.",
    param<I64>("secs"), param<Int<std::int32_t>>("nanos", 0));

static PyObject *datetime_unix_timestamp(PyObject *self) { return int_from(unix_timestamp(DateTimeObject::of(self))); }
static constexpr auto datetime_unix_timestamp_decl = datetime_class.instance_method(
    "unix_timestamp", datetime_unix_timestamp, "Get Unix timestamp (seconds since Unix epoch).");

static PyObject *datetime_unix_timestamp_nanos(PyObject *self) {
    return int_from(unix_timestamp_nanos(DateTimeObject::of(self)));
}
static constexpr auto datetime_unix_timestamp_nanos_decl = datetime_class.instance_method(
    "unix_timestamp_nanos", datetime_unix_timestamp_nanos, "Get Unix timestamp in nanoseconds.");

static PyObject *datetime_add_duration(PyObject *self, i128 span) {
    const auto dt = add_duration(DateTimeObject::of(self), span);
    if (MERANDOL_UNLIKELY(!dt)) return value_error("DateTime out of range: ", error_name(dt.error()));
    return DateTimeObject::wrap(*dt);
}
static constexpr auto datetime_add_duration_decl = datetime_class.instance_method(
    "add_duration", datetime_add_duration,
    "Add a duration to this DateTime.\n\nArgs:\n    dur: A Duration instance.\n\nReturns:\n"
    "    DateTime: A new DateTime instance.\n\nRaises:\n    ValueError: If the resulting datetime is out of range.",
    param<Of<DurationObject>>("dur"));

static PyObject *datetime_difference(PyObject *self, DateTime other) {
    return DurationObject::wrap(difference(DateTimeObject::of(self), other));
}
static constexpr auto datetime_difference_decl = datetime_class.instance_method(
    "difference", datetime_difference,
    "Calculate the difference between two DateTimes.\n\nArgs:\n    other: Another DateTime instance.\n\nReturns:\n"
    "    Duration: The duration between the two datetimes (self - other).",
    param<Of<DateTimeObject>>("other"));

static PyObject *datetime_now_utc(PyObject *) {
    const auto reading = now_utc();
    if (MERANDOL_UNLIKELY(!reading)) return panic("Failed to get current time: the real-time clock could not be read");
    if (MERANDOL_UNLIKELY(!*reading)) return value_error("Failed to get current time: ", error_name(reading->error()));
    return DateTimeObject::wrap(**reading);
}
static constexpr auto datetime_now_utc_decl =
    datetime_class.class_method("now_utc", datetime_now_utc, "Get the current UTC DateTime (requires std feature).");

static PyObject *datetime_parse(PyObject *, Kept<std::string_view> text) {
    const auto dt = parse_datetime(text.value);
    if (MERANDOL_UNLIKELY(!dt))
        return PyErr_Format(PyExc_ValueError,
                            "Invalid datetime string '%U'. Expected format: YYYY-MM-DDTHH:MM:SS[.fffffffff]Z",
                            text.object);
    return DateTimeObject::wrap(*dt);
}
static constexpr auto datetime_parse_decl = datetime_class.class_method(
    "parse", datetime_parse,
    "Parse a DateTime from ISO 8601 / RFC 3339 UTC format.\n\nArgs:\n    s: The string to parse "
    "(e.g., \"2024-01-01T12:00:00Z\").\n\nReturns:\n    DateTime: A new DateTime instance.\n\nRaises:\n"
    "    ValueError: If the string is not a valid datetime.",
    param<Keep<Text>>("s"));

static PyObject *datetime_str(PyObject *self) {
    char buffer[kDateTimeTextMax];
    return ascii(buffer, write_datetime(buffer, DateTimeObject::of(self)));
}

static PyObject *datetime_repr(PyObject *self) {
    char buffer[length("DateTime.parse('") + kDateTimeTextMax + length("')")];
    char *p = put(buffer, "DateTime.parse('");
    p = write_datetime(p, DateTimeObject::of(self));
    return ascii(buffer, put(p, "')"));
}

static Py_hash_t datetime_hash(PyObject *self) {
    return hash_words<kDateTimeHashBytes>(datetime_hash_words(DateTimeObject::of(self)));
}

static PyObject *datetime_richcompare(PyObject *self, PyObject *other, int op) {
    return richcompare<DateTimeObject, [](const DateTime &a, const DateTime &b) { return a == b; },
                       [](const DateTime &a, const DateTime &b) { return compare(a, b); }>(self, other, op);
}

static PyObject *datetime_reduce(PyObject *self) {
    return reduce_value(DateTimeObject::type(), nullptr,
                        Py_BuildValue("(NN)", datetime_date(self, nullptr), datetime_time(self, nullptr)));
}
static constexpr auto datetime_reduce_decl = datetime_class.reduce(datetime_reduce);

static PyGetSetDef datetime_getset[] = {
    {"date", datetime_date, nullptr, nullptr, nullptr},
    {"time", datetime_time, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef datetime_methods[] = {
    row<datetime_from_unix_timestamp_decl>(),
    row<datetime_unix_timestamp_decl>(),
    row<datetime_unix_timestamp_nanos_decl>(),
    row<datetime_add_duration_decl>(),
    row<datetime_difference_decl>(),
    row<datetime_now_utc_decl>(),
    row<datetime_parse_decl>(),
    row<datetime_reduce_decl>(),
    kEndOfMethods,
};

static PyType_Slot datetime_slots[] = {
    MERANDOL_INSTANCE_SLOTS(DateTimeObject),
    {Py_tp_doc, class_doc<datetime_new_decl>()},
    {Py_tp_new, reinterpret_cast<void *>(constructor_new<datetime_new_decl>)},
    {kVectorcallSlot, reinterpret_cast<void *>(constructor_vectorcall<datetime_new_decl>)},
    {Py_tp_str, reinterpret_cast<void *>(datetime_str)},
    {Py_tp_repr, reinterpret_cast<void *>(datetime_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(datetime_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(datetime_hash)},
    {Py_tp_getset, datetime_getset},
    {Py_tp_methods, datetime_methods},
    {0, nullptr},
};

static PyType_Spec datetime_spec = {
    .name = datetime_class.qualified_name,
    .basicsize = sizeof(DateTimeObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = datetime_slots,
};

const ClassDef kDateTimeClass = {&datetime_spec, nullptr};

}  // namespace merandol::py
