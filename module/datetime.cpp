// The DateTime class: a UTC date and time of day.
#include "module/datetime.hpp"

#include "module/date.hpp"
#include "module/duration.hpp"
#include "module/time.hpp"

namespace merandol::py {

static const char *const datetime_names[] = {"date", "time"};
static const Params datetime_params = {"DateTime.__new__()", datetime_names, 2, 2};

static PyObject *datetime_make(PyTypeObject *type, PyObject *const *arg) {
    DateTime dt{};
    if (!to_instance<DateObject>(arg[0], dt.date, "date") || !to_instance<TimeObject>(arg[1], dt.time, "time"))
        return nullptr;
    return DateTimeObject::wrap_as(type, dt);
}

static PyObject *datetime_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    PyObject *arg[2];
    return bind_tuple(datetime_params, args, kwargs, arg) ? datetime_make(type, arg) : nullptr;
}

#ifdef Py_tp_vectorcall  // CPython 3.14 and later
static PyObject *datetime_vectorcall(PyObject *type, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    PyObject *arg[2];
    return bind(datetime_params, args, PyVectorcall_NARGS(nargsf), kwnames, arg)
               ? datetime_make(reinterpret_cast<PyTypeObject *>(type), arg)
               : nullptr;
}
#endif

static PyObject *datetime_date(PyObject *self, void *) { return DateObject::wrap(DateTimeObject::of(self).date); }
static PyObject *datetime_time(PyObject *self, void *) { return TimeObject::wrap(DateTimeObject::of(self).time); }

static PyObject *datetime_from_unix_timestamp(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"secs", "nanos"};
    static const Params params = {"DateTime.from_unix_timestamp()", names, 2, 1};
    PyObject *arg[2];
    std::int64_t secs = 0;
    std::int32_t nanos = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_i64(arg[0], secs, "secs") ||
        (arg[1] != nullptr && !to_int(arg[1], nanos, "nanos")))
        return nullptr;
    // Any 32-bit count is accepted: floor-divide it into whole seconds
    // (-3 to 2) and a remainder in [0, 10^9).
    std::int32_t carry = nanos / 1000000000, rest = nanos % 1000000000;
    if (rest < 0) {
        carry -= 1;
        rest += 1000000000;
    }
    std::expected<DateTime, DateError> dt = std::unexpected(DateError::OutOfRange);
    if (!__builtin_add_overflow(secs, carry, &secs)) dt = from_unix_timestamp(secs, rest);
    if (MERANDOL_UNLIKELY(!dt)) return value_error("Invalid timestamp: ", error_name(dt.error()));
    return DateTimeObject::wrap(*dt);
}

static PyObject *datetime_unix_timestamp(PyObject *self, PyObject *) {
    return int_from(unix_timestamp(DateTimeObject::of(self)));
}

static PyObject *datetime_unix_timestamp_nanos(PyObject *self, PyObject *) {
    return int_from(unix_timestamp_nanos(DateTimeObject::of(self)));
}

static PyObject *datetime_add_duration(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"dur"};
    static const Params params = {"DateTime.add_duration()", names, 1, 1};
    PyObject *arg[1];
    i128 span = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_instance<DurationObject>(arg[0], span, "dur")) return nullptr;
    const auto dt = add_duration(DateTimeObject::of(self), span);
    if (MERANDOL_UNLIKELY(!dt)) return value_error("DateTime out of range: ", error_name(dt.error()));
    return DateTimeObject::wrap(*dt);
}

static PyObject *datetime_difference(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"other"};
    static const Params params = {"DateTime.difference()", names, 1, 1};
    PyObject *arg[1];
    DateTime other{};
    if (!bind(params, args, nargs, kwnames, arg) || !to_instance<DateTimeObject>(arg[0], other, "other"))
        return nullptr;
    return DurationObject::wrap(difference(DateTimeObject::of(self), other));
}

static PyObject *datetime_now_utc(PyObject *, PyObject *) {
    const auto reading = now_utc();
    if (MERANDOL_UNLIKELY(!reading)) return panic("Failed to get current time: the real-time clock could not be read");
    if (MERANDOL_UNLIKELY(!*reading)) return value_error("Failed to get current time: ", error_name(reading->error()));
    return DateTimeObject::wrap(**reading);
}

static PyObject *datetime_parse(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"s"};
    static const Params params = {"DateTime.parse()", names, 1, 1};
    PyObject *arg[1];
    std::string_view text;
    if (!bind(params, args, nargs, kwnames, arg) || !to_text(arg[0], text, "s")) return nullptr;
    const auto dt = parse_datetime(text);
    if (MERANDOL_UNLIKELY(!dt))
        return PyErr_Format(PyExc_ValueError,
                            "Invalid datetime string '%U'. Expected format: YYYY-MM-DDTHH:MM:SS[.fffffffff]Z", arg[0]);
    return DateTimeObject::wrap(*dt);
}

static PyObject *datetime_str(PyObject *self) {
    char buffer[kDateTimeTextMax];
    return ascii(buffer, write_datetime(buffer, DateTimeObject::of(self)));
}

static PyObject *datetime_repr(PyObject *self) {
    char buffer[16 + kDateTimeTextMax + 2];
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

static PyObject *datetime_reduce(PyObject *self, PyObject *) {
    return reduce_value(DateTimeObject::type(), nullptr,
                        Py_BuildValue("(NN)", datetime_date(self, nullptr), datetime_time(self, nullptr)));
}

static PyGetSetDef datetime_getset[] = {
    {"date", datetime_date, nullptr, nullptr, nullptr},
    {"time", datetime_time, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef datetime_methods[] = {
    {"from_unix_timestamp", method(datetime_from_unix_timestamp), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "from_unix_timestamp($cls, secs, nanos=0)\n--\n\nCreate a DateTime from Unix timestamp (seconds and "
     "nanoseconds).\n\nArgs:\n    secs: Seconds since Unix epoch.\n    nanos: Additional nanoseconds (default=0)."
     "\n\nReturns:\n    DateTime: A new DateTime instance.\n\nRaises:\n    ValueError: If the timestamp is invalid."},
    {"unix_timestamp", method(datetime_unix_timestamp), METH_NOARGS,
     "unix_timestamp($self)\n--\n\nGet Unix timestamp (seconds since Unix epoch)."},
    {"unix_timestamp_nanos", method(datetime_unix_timestamp_nanos), METH_NOARGS,
     "unix_timestamp_nanos($self)\n--\n\nGet Unix timestamp in nanoseconds."},
    {"add_duration", method(datetime_add_duration), METH_FASTCALL | METH_KEYWORDS,
     "add_duration($self, dur)\n--\n\nAdd a duration to this DateTime.\n\nArgs:\n    dur: A Duration instance.\n\n"
     "Returns:\n    DateTime: A new DateTime instance.\n\nRaises:\n    ValueError: If the resulting datetime is out of "
     "range."},
    {"difference", method(datetime_difference), METH_FASTCALL | METH_KEYWORDS,
     "difference($self, other)\n--\n\nCalculate the difference between two DateTimes.\n\nArgs:\n    other: Another "
     "DateTime instance.\n\nReturns:\n    Duration: The duration between the two datetimes (self - other)."},
    {"now_utc", method(datetime_now_utc), METH_NOARGS | METH_CLASS,
     "now_utc($cls)\n--\n\nGet the current UTC DateTime (requires std feature)."},
    {"parse", method(datetime_parse), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "parse($cls, s)\n--\n\nParse a DateTime from ISO 8601 / RFC 3339 UTC format.\n\nArgs:\n    s: The string to parse "
     "(e.g., \"2024-01-01T12:00:00Z\").\n\nReturns:\n    DateTime: A new DateTime instance.\n\nRaises:\n    "
     "ValueError: If the string is not a valid datetime."},
    {"__reduce__", method(datetime_reduce), METH_NOARGS, kReduceDoc},
    {nullptr, nullptr, 0, nullptr},
};

static PyType_Slot datetime_slots[] = {
    MERANDOL_INSTANCE_SLOTS(DateTimeObject),
    {Py_tp_doc, const_cast<char *>("DateTime(date, time)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void *>(datetime_new)},
#ifdef Py_tp_vectorcall  // CPython 3.14 and later
    {Py_tp_vectorcall, reinterpret_cast<void *>(datetime_vectorcall)},
#endif
    {Py_tp_str, reinterpret_cast<void *>(datetime_str)},
    {Py_tp_repr, reinterpret_cast<void *>(datetime_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(datetime_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(datetime_hash)},
    {Py_tp_getset, datetime_getset},
    {Py_tp_methods, datetime_methods},
    {0, nullptr},
};

static PyType_Spec datetime_spec = {
    .name = "merandol.DateTime",
    .basicsize = sizeof(DateTimeObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = datetime_slots,
};

const ClassDef kDateTimeClass = {"DateTime", &datetime_spec, nullptr};

}  // namespace merandol::py
