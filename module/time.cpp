// The Time class.
#include "core/time.hpp"

#include "binding/compat.hpp"
#include "binding/declare.hpp"
#include "core/digits.hpp"
#include "module/classes.hpp"
#include "module/time.hpp"

namespace merandol::py {

static constexpr auto time_class = declare_class<TimeObject>();

static PyObject *time_new(PyTypeObject *type, std::uint8_t hour, std::uint8_t minute, std::uint8_t second,
                          std::uint32_t nanosecond) {
    const auto time = Time::make(hour, minute, second, nanosecond);
    if (MERANDOL_UNLIKELY(!time)) return value_error("Invalid time: ", error_name(time.error()));
    return TimeObject::wrap_as(type, *time);
}
static constexpr auto time_new_decl =
    time_class.constructor(time_new, param<Int<std::uint8_t>>("hour"), param<Int<std::uint8_t>>("minute"),
                           param<Int<std::uint8_t>>("second"), param<Int<std::uint32_t>>("nanosecond", 0));

static PyObject *time_hour(PyObject *self, void *) { return int_from(std::int64_t{TimeObject::of(self).hour}); }
static PyObject *time_minute(PyObject *self, void *) { return int_from(std::int64_t{TimeObject::of(self).minute}); }
static PyObject *time_second(PyObject *self, void *) { return int_from(std::int64_t{TimeObject::of(self).second}); }
static PyObject *time_nanosecond(PyObject *self, void *) {
    return int_from(std::int64_t{TimeObject::of(self).nanosecond});
}

static PyObject *time_seconds_since_midnight(PyObject *self) {
    return int_from(std::int64_t{seconds_since_midnight(TimeObject::of(self))});
}
static constexpr auto time_seconds_since_midnight_decl = time_class.instance_method(
    "seconds_since_midnight", time_seconds_since_midnight, "Get total seconds since midnight (ignoring nanoseconds).");

static PyObject *time_nanos_since_midnight(PyObject *self) {
    return int_from(static_cast<std::int64_t>(nanos_since_midnight(TimeObject::of(self))));
}
static constexpr auto time_nanos_since_midnight_decl = time_class.instance_method(
    "nanos_since_midnight", time_nanos_since_midnight, "Get total nanoseconds since midnight.");

static PyObject *time_parse(PyObject *, std::string_view text) {
    const auto time = parse_time(text);
    if (MERANDOL_UNLIKELY(!time)) return value_error("Invalid time string: ", error_name(time.error()));
    return TimeObject::wrap(*time);
}
static constexpr auto time_parse_decl = time_class.class_method(
    "parse", time_parse,
    "Parse a time from ISO format (HH:MM:SS[.fffffffff]).\n\nArgs:\n    s: The string to parse.\n\nReturns:\n"
    "    Time: A new Time instance.\n\nRaises:\n    ValueError: If the string is not a valid time.",
    param<Text>("s"));

static PyObject *time_str(PyObject *self) {
    char buffer[kTimeTextMax];
    return ascii(buffer, write_time(buffer, TimeObject::of(self)));
}

static PyObject *time_repr(PyObject *self) {
    const Time t = TimeObject::of(self);
    char buffer[length("Time(hour=") + digits::kTextMax<std::uint8_t> + length(", minute=") +
                digits::kTextMax<std::uint8_t> + length(", second=") + digits::kTextMax<std::uint8_t> +
                length(", nanosecond=") + digits::kTextMax<std::uint32_t> + length(")")];
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

static PyObject *time_reduce(PyObject *self) {
    const Time t = TimeObject::of(self);
    return reduce_value(
        TimeObject::type(), nullptr,
        Py_BuildValue("(IIII)", unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second}, unsigned{t.nanosecond}));
}
static constexpr auto time_reduce_decl = time_class.reduce(time_reduce);

static PyGetSetDef time_getset[] = {
    {"hour", time_hour, nullptr, nullptr, nullptr},     {"minute", time_minute, nullptr, nullptr, nullptr},
    {"second", time_second, nullptr, nullptr, nullptr}, {"nanosecond", time_nanosecond, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef time_methods[] = {
    row<time_seconds_since_midnight_decl>(),
    row<time_nanos_since_midnight_decl>(),
    row<time_parse_decl>(),
    row<time_reduce_decl>(),
    kEndOfMethods,
};

static PyType_Slot time_slots[] = {
    MERANDOL_INSTANCE_SLOTS(TimeObject),
    {Py_tp_doc, class_doc<time_new_decl>()},
    {Py_tp_new, reinterpret_cast<void *>(constructor_new<time_new_decl>)},
    {kVectorcallSlot, reinterpret_cast<void *>(constructor_vectorcall<time_new_decl>)},
    {Py_tp_str, reinterpret_cast<void *>(time_str)},
    {Py_tp_repr, reinterpret_cast<void *>(time_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(time_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(time_hash)},
    {Py_tp_getset, time_getset},
    {Py_tp_methods, time_methods},
    {0, nullptr},
};

static PyType_Spec time_spec = {
    .name = time_class.qualified_name,
    .basicsize = sizeof(TimeObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = time_slots,
};

const ClassDef kTimeClass = {&time_spec, nullptr};

}  // namespace merandol::py
