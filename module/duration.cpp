// The Duration class: one signed 128-bit nanosecond span.
#include "module/duration.hpp"

#include "binding/declare.hpp"
#include "core/digits.hpp"
#include "module/classes.hpp"

namespace merandol::py {

static constexpr auto duration_class = declare_class<DurationObject>();

static PyObject *duration_overflow() {
    PyErr_SetString(PyExc_OverflowError, "Duration overflow");
    return nullptr;
}

// The three 64-bit factories: a signed 64-bit count times at most 10^9 always
// fits in 128 bits, so none of them can fail after conversion.
template <std::int64_t NanosPerUnit>
static PyObject *duration_from_unit(PyObject *, std::int64_t count) {
    return DurationObject::wrap(i128{count} * NanosPerUnit);
}

static constexpr auto duration_seconds_decl = duration_class.class_method(
    "seconds", duration_from_unit<1000000000>, "Create a duration from seconds.", param<I64>("secs"));
static constexpr auto duration_milliseconds_decl = duration_class.class_method(
    "milliseconds", duration_from_unit<1000000>, "Create a duration from milliseconds.", param<I64>("ms"));
static constexpr auto duration_microseconds_decl = duration_class.class_method(
    "microseconds", duration_from_unit<1000>, "Create a duration from microseconds.", param<I64>("us"));

static PyObject *duration_nanoseconds(PyObject *, i128 span) { return DurationObject::wrap(span); }
static constexpr auto duration_nanoseconds_decl = duration_class.class_method(
    "nanoseconds", duration_nanoseconds, "Create a duration from nanoseconds.", param<I128>("ns"));

static PyObject *duration_total_seconds(PyObject *self) {
    // Round the span to the nearest double first, then one IEEE division:
    // not the correctly rounded quotient for spans above 2^53 ns.
    const double span = static_cast<double>(DurationObject::of(self));
    return PyFloat_FromDouble(span / 1e9);
}
static constexpr auto duration_total_seconds_decl =
    duration_class.instance_method("total_seconds", duration_total_seconds, "Get total seconds as a float.");

static PyObject *duration_total_nanos(PyObject *self) { return int_from(DurationObject::of(self)); }
static constexpr auto duration_total_nanos_decl =
    duration_class.instance_method("total_nanos", duration_total_nanos, "Get total nanoseconds as an integer.");

static PyObject *duration_negative(PyObject *self) {
    i128 negated;
    if (MERANDOL_UNLIKELY(__builtin_sub_overflow(i128{0}, DurationObject::of(self), &negated)))
        return duration_overflow();
    return DurationObject::wrap(negated);
}

// + and -, either of which may leave 128 bits.
template <bool Subtract>
static PyObject *duration_plus_or_minus(PyObject *a, PyObject *b) {
    if (!DurationObject::check(a) || !DurationObject::check(b)) Py_RETURN_NOTIMPLEMENTED;
    const i128 x = DurationObject::of(a), y = DurationObject::of(b);
    i128 result;
    if (MERANDOL_UNLIKELY(Subtract ? __builtin_sub_overflow(x, y, &result) : __builtin_add_overflow(x, y, &result)))
        return duration_overflow();
    return DurationObject::wrap(result);
}

static PyObject *duration_str(PyObject *self) {
    char buffer[length("Duration(") + digits::kI128TextMax + length(" ns)")];
    char *p = put(buffer, "Duration(");
    p = digits::write_i128(p, DurationObject::of(self));
    return ascii(buffer, put(p, " ns)"));
}

static PyObject *duration_repr(PyObject *self) {
    char buffer[length("Duration.nanoseconds(") + digits::kI128TextMax + length(")")];
    char *p = put(buffer, "Duration.nanoseconds(");
    p = digits::write_i128(p, DurationObject::of(self));
    return ascii(buffer, put(p, ")"));
}

// The 16 bytes of the two's-complement count, little-endian: two full
// words and an empty last one.
static Py_hash_t duration_hash(PyObject *self) {
    const auto bits = static_cast<unsigned __int128>(DurationObject::of(self));
    return hash_words<16>({static_cast<std::uint64_t>(bits), static_cast<std::uint64_t>(bits >> 64), 0});
}

static PyObject *duration_richcompare(PyObject *self, PyObject *other, int op) {
    return richcompare<DurationObject, [](i128 a, i128 b) { return a == b; },
                       [](i128 a, i128 b) { return (a > b) - (a < b); }>(self, other, op);
}

// The full 128-bit span, rebuilt through Duration.nanoseconds.
static PyObject *duration_reduce(PyObject *self) {
    PyObject *span = int_from(DurationObject::of(self));
    return reduce_value(DurationObject::type(), "nanoseconds", span ? Py_BuildValue("(N)", span) : nullptr);
}
static constexpr auto duration_reduce_decl = duration_class.reduce(duration_reduce);

static PyMethodDef duration_methods[] = {
    row<duration_seconds_decl>(),       row<duration_milliseconds_decl>(),
    row<duration_microseconds_decl>(),  row<duration_nanoseconds_decl>(),
    row<duration_total_seconds_decl>(), row<duration_total_nanos_decl>(),
    row<duration_reduce_decl>(),        kEndOfMethods,
};

static PyType_Slot duration_slots[] = {
    MERANDOL_INSTANCE_SLOTS(DurationObject),
    {Py_nb_negative, reinterpret_cast<void *>(duration_negative)},
    {Py_tp_str, reinterpret_cast<void *>(duration_str)},
    {Py_tp_repr, reinterpret_cast<void *>(duration_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(duration_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(duration_hash)},
    {Py_nb_add, reinterpret_cast<void *>(duration_plus_or_minus<false>)},
    {Py_nb_subtract, reinterpret_cast<void *>(duration_plus_or_minus<true>)},
    {Py_tp_methods, duration_methods},
    {0, nullptr},
};

static PyType_Spec duration_spec = {
    .name = duration_class.qualified_name,
    .basicsize = sizeof(DurationObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = duration_slots,
};

const ClassDef kDurationClass = {&duration_spec, nullptr};

}  // namespace merandol::py
