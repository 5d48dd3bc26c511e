// The Time class.
#include "core/time.hpp"

#include "core/digits.hpp"
#include "module/time.hpp"

namespace merandol::py {

static const char *const time_names[] = {"hour", "minute", "second", "nanosecond"};
static const Params time_params = {"Time.__new__()", time_names, 4, 3};

static PyObject *time_make(PyTypeObject *type, PyObject *const *arg) {
    std::uint8_t hour = 0, minute = 0, second = 0;
    std::uint32_t nanosecond = 0;
    if (!to_int(arg[0], hour, "hour") || !to_int(arg[1], minute, "minute") || !to_int(arg[2], second, "second") ||
        (arg[3] != nullptr && !to_int(arg[3], nanosecond, "nanosecond")))
        return nullptr;
    const auto time = Time::make(hour, minute, second, nanosecond);
    if (MERANDOL_UNLIKELY(!time)) return value_error("Invalid time: ", error_name(time.error()));
    return TimeObject::wrap_as(type, *time);
}

static PyObject *time_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    PyObject *arg[4];
    return bind_tuple(time_params, args, kwargs, arg) ? time_make(type, arg) : nullptr;
}

#ifdef Py_tp_vectorcall  // CPython 3.14 and later
static PyObject *time_vectorcall(PyObject *type, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    PyObject *arg[4];
    return bind(time_params, args, PyVectorcall_NARGS(nargsf), kwnames, arg)
               ? time_make(reinterpret_cast<PyTypeObject *>(type), arg)
               : nullptr;
}
#endif

static PyObject *time_hour(PyObject *self, void *) { return int_from(std::int64_t{TimeObject::of(self).hour}); }
static PyObject *time_minute(PyObject *self, void *) { return int_from(std::int64_t{TimeObject::of(self).minute}); }
static PyObject *time_second(PyObject *self, void *) { return int_from(std::int64_t{TimeObject::of(self).second}); }
static PyObject *time_nanosecond(PyObject *self, void *) {
    return int_from(std::int64_t{TimeObject::of(self).nanosecond});
}

static PyObject *time_seconds_since_midnight(PyObject *self, PyObject *) {
    return int_from(std::int64_t{seconds_since_midnight(TimeObject::of(self))});
}

static PyObject *time_nanos_since_midnight(PyObject *self, PyObject *) {
    return int_from(static_cast<std::int64_t>(nanos_since_midnight(TimeObject::of(self))));
}

static PyObject *time_parse(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"s"};
    static const Params params = {"Time.parse()", names, 1, 1};
    PyObject *arg[1];
    std::string_view text;
    if (!bind(params, args, nargs, kwnames, arg) || !to_text(arg[0], text, "s")) return nullptr;
    const auto time = parse_time(text);
    if (MERANDOL_UNLIKELY(!time)) return value_error("Invalid time string: ", error_name(time.error()));
    return TimeObject::wrap(*time);
}

static PyObject *time_str(PyObject *self) {
    char buffer[kTimeTextMax];
    return ascii(buffer, write_time(buffer, TimeObject::of(self)));
}

static PyObject *time_repr(PyObject *self) {
    const Time t = TimeObject::of(self);
    char buffer[64];
    char *p = buffer;
    p = put(p, "Time(hour=");
    p = digits::write_u64(p, t.hour);
    p = put(p, ", minute=");
    p = digits::write_u64(p, t.minute);
    p = put(p, ", second=");
    p = digits::write_u64(p, t.second);
    p = put(p, ", nanosecond=");
    p = digits::write_u64(p, t.nanosecond);
    p = put(p, ")");
    return ascii(buffer, p);
}

// Hour, minute, second, then the nanosecond (4 bytes, little-endian).
static Py_hash_t time_hash(PyObject *self) {
    const Time t = TimeObject::of(self);
    return hash_words<7>(
        {word_bits(t.hour) | word_bits(t.minute) << 8 | word_bits(t.second) << 16 | word_bits(t.nanosecond) << 24});
}

static PyObject *time_richcompare(PyObject *self, PyObject *other, int op) {
    return richcompare<TimeObject, [](Time a, Time b) { return a == b; }, [](Time a, Time b) { return compare(a, b); }>(
        self, other, op);
}

static PyObject *time_reduce(PyObject *self, PyObject *) {
    const Time t = TimeObject::of(self);
    return reduce_value(
        TimeObject::type(), nullptr,
        Py_BuildValue("(IIII)", unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second}, unsigned{t.nanosecond}));
}

static PyGetSetDef time_getset[] = {
    {"hour", time_hour, nullptr, nullptr, nullptr},     {"minute", time_minute, nullptr, nullptr, nullptr},
    {"second", time_second, nullptr, nullptr, nullptr}, {"nanosecond", time_nanosecond, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef time_methods[] = {
    {"seconds_since_midnight", method(time_seconds_since_midnight), METH_NOARGS,
     "seconds_since_midnight($self)\n--\n\nGet total seconds since midnight (ignoring nanoseconds)."},
    {"nanos_since_midnight", method(time_nanos_since_midnight), METH_NOARGS,
     "nanos_since_midnight($self)\n--\n\nGet total nanoseconds since midnight."},
    {"parse", method(time_parse), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "parse($cls, s)\n--\n\nParse a time from ISO format (HH:MM:SS[.fffffffff]).\n\nArgs:\n    s: The string to "
     "parse.\n\nReturns:\n    Time: A new Time instance.\n\nRaises:\n    ValueError: If the string is not a valid "
     "time."},
    {"__reduce__", method(time_reduce), METH_NOARGS, kReduceDoc},
    {nullptr, nullptr, 0, nullptr},
};

static PyType_Slot time_slots[] = {
    MERANDOL_INSTANCE_SLOTS(TimeObject),
    {Py_tp_doc, const_cast<char *>("Time(hour, minute, second, nanosecond=0)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void *>(time_new)},
#ifdef Py_tp_vectorcall  // CPython 3.14 and later
    {Py_tp_vectorcall, reinterpret_cast<void *>(time_vectorcall)},
#endif
    {Py_tp_str, reinterpret_cast<void *>(time_str)},
    {Py_tp_repr, reinterpret_cast<void *>(time_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(time_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(time_hash)},
    {Py_tp_getset, time_getset},
    {Py_tp_methods, time_methods},
    {0, nullptr},
};

static PyType_Spec time_spec = {
    .name = "merandol.Time",
    .basicsize = sizeof(TimeObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = time_slots,
};

const ClassDef kTimeClass = {"Time", &time_spec, nullptr};

}  // namespace merandol::py
