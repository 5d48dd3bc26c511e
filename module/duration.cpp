// The Duration class: one signed 128-bit nanosecond span.
#include "module/duration.hpp"

#include "core/digits.hpp"

namespace merandol::py {

static PyObject *duration_overflow() {
    PyErr_SetString(PyExc_OverflowError, "Duration overflow");
    return nullptr;
}

// The three 64-bit factories: a signed 64-bit count times at most 10^9 always
// fits in 128 bits, so none of them can fail after conversion.
template <std::int64_t NanosPerUnit>
static PyObject *duration_from_unit(const Params &params, const char *name, PyObject *const *args, Py_ssize_t nargs,
                                    PyObject *kwnames) {
    PyObject *arg[1];
    std::int64_t count = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_i64(arg[0], count, name)) return nullptr;
    return DurationObject::wrap(i128{count} * NanosPerUnit);
}

static PyObject *duration_seconds(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"secs"};
    static const Params params = {"Duration.seconds()", names, 1, 1};
    return duration_from_unit<1000000000>(params, "secs", args, nargs, kwnames);
}

static PyObject *duration_milliseconds(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"ms"};
    static const Params params = {"Duration.milliseconds()", names, 1, 1};
    return duration_from_unit<1000000>(params, "ms", args, nargs, kwnames);
}

static PyObject *duration_microseconds(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"us"};
    static const Params params = {"Duration.microseconds()", names, 1, 1};
    return duration_from_unit<1000>(params, "us", args, nargs, kwnames);
}

static PyObject *duration_nanoseconds(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"ns"};
    static const Params params = {"Duration.nanoseconds()", names, 1, 1};
    PyObject *arg[1];
    i128 span = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_i128(arg[0], span, "ns")) return nullptr;
    return DurationObject::wrap(span);
}

static PyObject *duration_total_seconds(PyObject *self, PyObject *) {
    // Round the span to the nearest double first, then one IEEE division:
    // not the correctly rounded quotient for spans above 2^53 ns.
    const double span = static_cast<double>(DurationObject::of(self));
    return PyFloat_FromDouble(span / 1e9);
}

static PyObject *duration_total_nanos(PyObject *self, PyObject *) { return int_from(DurationObject::of(self)); }

static PyObject *duration_negative(PyObject *self) {
    i128 negated;
    if (MERANDOL_UNLIKELY(__builtin_sub_overflow(i128{0}, DurationObject::of(self), &negated)))
        return duration_overflow();
    return DurationObject::wrap(negated);
}

static PyObject *duration_add(PyObject *a, PyObject *b) {
    if (!DurationObject::check(a) || !DurationObject::check(b)) Py_RETURN_NOTIMPLEMENTED;
    i128 sum;
    if (MERANDOL_UNLIKELY(__builtin_add_overflow(DurationObject::of(a), DurationObject::of(b), &sum)))
        return duration_overflow();
    return DurationObject::wrap(sum);
}

static PyObject *duration_subtract(PyObject *a, PyObject *b) {
    if (!DurationObject::check(a) || !DurationObject::check(b)) Py_RETURN_NOTIMPLEMENTED;
    i128 difference;
    if (MERANDOL_UNLIKELY(__builtin_sub_overflow(DurationObject::of(a), DurationObject::of(b), &difference)))
        return duration_overflow();
    return DurationObject::wrap(difference);
}

static PyObject *duration_str(PyObject *self) {
    char buffer[9 + digits::kI128TextMax + 4];
    char *p = put(buffer, "Duration(");
    p = digits::write_i128(p, DurationObject::of(self));
    return ascii(buffer, put(p, " ns)"));
}

static PyObject *duration_repr(PyObject *self) {
    char buffer[21 + digits::kI128TextMax + 1];
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
static PyObject *duration_reduce(PyObject *self, PyObject *) {
    PyObject *span = int_from(DurationObject::of(self));
    return reduce_value(DurationObject::type(), "nanoseconds", span ? Py_BuildValue("(N)", span) : nullptr);
}

static PyMethodDef duration_methods[] = {
    {"seconds", method(duration_seconds), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "seconds($cls, secs)\n--\n\nCreate a duration from seconds."},
    {"milliseconds", method(duration_milliseconds), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "milliseconds($cls, ms)\n--\n\nCreate a duration from milliseconds."},
    {"microseconds", method(duration_microseconds), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "microseconds($cls, us)\n--\n\nCreate a duration from microseconds."},
    {"nanoseconds", method(duration_nanoseconds), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "nanoseconds($cls, ns)\n--\n\nCreate a duration from nanoseconds."},
    {"total_seconds", method(duration_total_seconds), METH_NOARGS,
     "total_seconds($self)\n--\n\nGet total seconds as a float."},
    {"total_nanos", method(duration_total_nanos), METH_NOARGS,
     "total_nanos($self)\n--\n\nGet total nanoseconds as an integer."},
    {"__reduce__", method(duration_reduce), METH_NOARGS, kReduceDoc},
    {nullptr, nullptr, 0, nullptr},
};

static PyType_Slot duration_slots[] = {
    MERANDOL_INSTANCE_SLOTS(DurationObject),
    {Py_nb_negative, reinterpret_cast<void *>(duration_negative)},
    {Py_tp_str, reinterpret_cast<void *>(duration_str)},
    {Py_tp_repr, reinterpret_cast<void *>(duration_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(duration_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(duration_hash)},
    {Py_nb_add, reinterpret_cast<void *>(duration_add)},
    {Py_nb_subtract, reinterpret_cast<void *>(duration_subtract)},
    {Py_tp_methods, duration_methods},
    {0, nullptr},
};

static PyType_Spec duration_spec = {
    .name = "merandol.Duration",
    .basicsize = sizeof(DurationObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = duration_slots,
};

const ClassDef kDurationClass = {"Duration", &duration_spec, nullptr};

}  // namespace merandol::py
