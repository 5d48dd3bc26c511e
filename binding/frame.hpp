// The module frame: everything the class units share at the interpreter
// boundary.  Object layout and the process-wide class cache, the argument
// binder, the argument conversions, the mapping of core errors to
// exceptions, hashing, rich comparison and result construction.  A class
// unit declares its parameters, members and slots and calls into the core;
// it never talks to the interpreter in any other way.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>

namespace merandol::py {

using i128 = __int128;

#define MERANDOL_UNLIKELY(x) __builtin_expect(!!(x), 0)

// --- Classes ---------------------------------------------------------------

// The classes of merandol, in registration order (the module's __all__
// lists them so).  Everything that goes over the classes one by one (the
// registry, merandol_interop's lookup) expands this one list.
#define MERANDOL_CLASSES(X) X(Weekday) X(Date) X(Time) X(Duration) X(DateTime) X(UtcOffset) X(OffsetDateTime)

#define MERANDOL_CLASS_ID(Name) Name,
enum class ClassId : std::uint8_t { MERANDOL_CLASSES(MERANDOL_CLASS_ID) Count };
#undef MERANDOL_CLASS_ID
inline constexpr unsigned kClassCount = static_cast<unsigned>(ClassId::Count);

#define MERANDOL_CLASS_NAME(Name) #Name,
inline constexpr const char *kClassNames[kClassCount] = {MERANDOL_CLASSES(MERANDOL_CLASS_NAME)};
#undef MERANDOL_CLASS_NAME

#define MERANDOL_CLASS_QUALIFIED_NAME(Name) "merandol." #Name,
inline constexpr const char *kClassQualifiedNames[kClassCount] = {MERANDOL_CLASSES(MERANDOL_CLASS_QUALIFIED_NAME)};
#undef MERANDOL_CLASS_QUALIFIED_NAME

// The process-wide class cache.  merandol builds each class on first
// request; merandol_interop fills it with merandol's class objects.  Either
// way a slot, once stored, holds its class for the life of the process.
extern std::atomic<PyTypeObject *> g_class_cache[kClassCount];
PyTypeObject *build_class(ClassId id);

inline PyTypeObject *class_object(ClassId id) noexcept {
    PyTypeObject *type = g_class_cache[static_cast<unsigned>(id)].load(std::memory_order_acquire);
    return type ? type : build_class(id);
}

// A new, uninitialised instance of `type`, whose instances are `size` bytes
// (its tp_basicsize, known at compile time to every caller).  Each module
// defines it: merandol from its free lists, merandol_interop through the
// class's allocation slot, which leads to the same lists.
PyObject *allocate_instance(PyTypeObject *type, Py_ssize_t size) noexcept;

// An instance: the object header followed by exactly one core value.
template <ClassId Id, class Value>
struct Instance {
    PyObject_HEAD
    Value value;

    static constexpr ClassId id = Id;
    using value_type = Value;

    static PyTypeObject *type() noexcept { return class_object(Id); }

    static const Value &of(PyObject *o) noexcept { return reinterpret_cast<Instance *>(o)->value; }

    static bool check(PyObject *o) noexcept {
        PyTypeObject *t = type();
        return Py_IS_TYPE(o, t) || PyType_IsSubtype(Py_TYPE(o), t);
    }

    // A new object of exactly this class holding `v`.
    static PyObject *wrap(const Value &v) noexcept { return wrap_as(type(), v); }

    // The classes are final, so t's instances have exactly this size.
    static PyObject *wrap_as(PyTypeObject *t, const Value &v) noexcept {
        if (MERANDOL_UNLIKELY(t == nullptr)) return nullptr;
        auto *o = reinterpret_cast<Instance *>(allocate_instance(t, sizeof(Instance)));
        if (MERANDOL_UNLIKELY(o == nullptr)) return nullptr;
        o->value = v;
        return reinterpret_cast<PyObject *>(o);
    }
};

// --- Argument binding ------------------------------------------------------

// A member's parameter list, as its declaration (binding/declare.hpp)
// derives it.  `fn` is how messages name the member ("Date.__new__()").
// The first `positional` parameters may be given by position, the first
// `positional_only` of them only so; the first `required` must be given.
struct Params {
    const char *fn;
    const char *const *names;
    const std::uint8_t *name_sizes;
    int count;
    int required;
    int positional;
    int positional_only;
    // merandol's members say "takes 1 positional arguments", as they always
    // have; a function with keyword-only parameters words its count as the
    // interpreter does for its own ("takes 1 positional argument").
    bool counts_as_interpreter;
};

bool bind_slow(const Params &p, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out);

// An argument read on its own.  The interpreter has just stored the
// arguments one by one, and the compiler would copy two at once: such a
// load cannot be answered from the two stores and waits until they reach
// the cache (some 15 cycles, 3 to 5 ns a call).  Passed through a
// register, the value cannot be merged with its neighbour's.
[[gnu::always_inline]] inline PyObject *argument_at(PyObject *const *args, Py_ssize_t i) noexcept {
    PyObject *arg = args[i];
    asm("" : "+r"(arg));
    return arg;
}

// Vectorcall form: fills out[0..count) with borrowed references, nullptr
// for an optional parameter that was not given.  Always inlined: with the
// declaration's constant counts it is a few stores, where link-time
// optimization has at times made it one shared copy, a call and a loop
// (some 60 instructions on every call of to_stdlib).
[[gnu::always_inline]] inline bool bind(const Params &p, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                                        PyObject **out) {
    if (kwnames == nullptr && nargs >= p.required && nargs <= p.positional) {
        for (Py_ssize_t i = 0; i < p.count; ++i) out[i] = i < nargs ? argument_at(args, i) : nullptr;
        return true;
    }
    return bind_slow(p, args, nargs, kwnames, out);
}

// tp_new form: a tuple of positional arguments and a dict of keywords.
bool bind_tuple(const Params &p, PyObject *args, PyObject *kwargs, PyObject **out);

// --- Argument conversion ---------------------------------------------------

// Adds a note, formatted as PyUnicode_FromFormat does, to the pending
// exception.
void add_note(const char *format, ...);

// Adds "while processing '{name}'" to the pending exception.
void note_argument(const char *name);

// Returned, not stored through a reference: a reference would make the
// caller keep every converted argument in memory around the call.
std::optional<std::int64_t> to_i64_slow(PyObject *o);

// Conversion rule 1: the interpreter's C-long conversion.
[[gnu::always_inline]] inline bool to_i64(PyObject *o, std::int64_t &out, const char *name) {
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o))) [[likely]] {
        out = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o));
        return true;
    }
    if (const auto v = to_i64_slow(o)) {
        out = *v;
        return true;
    }
    note_argument(name);
    return false;
}

bool range_error(std::int64_t v, std::int64_t lo, const char *name);

// Conversion rules 2, 3 and 4: rule 1, then a check against the target width.
template <class T>
inline bool to_int(PyObject *o, T &out, const char *name) {
    std::int64_t v;
    if (!to_i64(o, v, name)) return false;
    constexpr std::int64_t lo = static_cast<std::int64_t>(std::numeric_limits<T>::min());
    constexpr std::int64_t hi = static_cast<std::int64_t>(std::numeric_limits<T>::max());
    if (MERANDOL_UNLIKELY(v < lo || v > hi)) return range_error(v, lo, name);
    out = static_cast<T>(v);
    return true;
}

// Conversion rule 5: any integer that fits 16 bytes of two's complement.
bool to_i128(PyObject *o, i128 &out, const char *name);

// Conversion rule 6: True or False (or a numpy boolean).
bool to_bool(PyObject *o, bool &out, const char *name);

// Conversion rule 7: a str, handed over as its UTF-8 bytes.  An ASCII str
// holds exactly those bytes already.
bool to_text_slow(PyObject *o, std::string_view &out, const char *name);

inline bool to_text(PyObject *o, std::string_view &out, const char *name) {
    if (PyUnicode_Check(o) && PyUnicode_IS_COMPACT_ASCII(o)) {
        out = std::string_view(static_cast<const char *>(PyUnicode_DATA(o)),
                               static_cast<std::size_t>(PyUnicode_GET_LENGTH(o)));
        return true;
    }
    return to_text_slow(o, out, name);
}

// Conversion rule 8: an instance of a module class.
bool not_an_instance(PyObject *o, PyTypeObject *type, const char *name);

template <class I>
inline bool to_instance(PyObject *o, typename I::value_type &out, const char *name) {
    if (MERANDOL_UNLIKELY(!I::check(o))) return not_an_instance(o, I::type(), name);
    out = I::of(o);
    return true;
}

// --- Errors ----------------------------------------------------------------

// ValueError whose message is `prefix` followed by the error kind's name.
PyObject *value_error(const char *prefix, std::string_view kind);

// The internal failure: a PanicException carrying `message`.
PyObject *panic(const char *message);

// --- Results ---------------------------------------------------------------

// A new str of ASCII text.
inline PyObject *ascii(const char *text, std::size_t n) {
    PyObject *s = PyUnicode_New(static_cast<Py_ssize_t>(n), 127);
    if (MERANDOL_UNLIKELY(s == nullptr)) return nullptr;
    std::memcpy(PyUnicode_DATA(s), text, n);
    return s;
}

inline PyObject *ascii(const char *begin, const char *end) {
    return ascii(begin, static_cast<std::size_t>(end - begin));
}

// The length of a literal's text, to size a buffer by what goes into it.
template <std::size_t N>
consteval std::size_t length(const char (&)[N]) noexcept {
    return N - 1;
}

// Copies `s` to `out` and returns the end, for composing str and repr text.
inline char *put(char *out, std::string_view s) noexcept {
    std::memcpy(out, s.data(), s.size());
    return out + s.size();
}

inline PyObject *int_from(std::int64_t v) { return PyLong_FromLongLong(v); }

PyObject *int_from(i128 v);

// --- Classes ---------------------------------------------------------------

// Stores each class method of `type` (METH_CLASS in its tp_methods) on the
// class already bound to it, as a built-in method whose self is the class:
// what looking the descriptor up makes on every access.  The interpreter
// then specialises `Date.parse` as a plain load of a class attribute, with
// no bound method made and freed per call.  For classes that cannot be
// subclassed, as a subclass would see its base bound.
int bind_class_methods(PyTypeObject *type);

// --- Pickling --------------------------------------------------------------

// The (callable, args) pair that __reduce__ returns, where the callable is
// the class itself or, with `factory`, one of its class methods.  Takes the
// reference to `args`.
PyObject *reduce_value(PyTypeObject *type, const char *factory, PyObject *args);

// --- Hash ------------------------------------------------------------------

// SipHash-1-3 (Aumasson and Bernstein): one compression round per 8-byte
// block and three finalisation rounds.  Both key halves are zero, so the
// initial state is the "somepseudorandomlygeneratedbytes" constants.
struct SipHash13 {
    std::uint64_t v0 = 0x736f6d6570736575, v1 = 0x646f72616e646f6d, v2 = 0x6c7967656e657261, v3 = 0x7465646279746573;

    static constexpr std::uint64_t rotl(std::uint64_t x, int b) noexcept { return (x << b) | (x >> (64 - b)); }

    // clang-format off
    constexpr void round() noexcept {
        v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
        v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
        v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
        v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
    }
    // clang-format on

    constexpr void absorb(std::uint64_t m) noexcept {
        v3 ^= m;
        round();
        v0 ^= m;
    }

    constexpr std::uint64_t finish() noexcept {
        v2 ^= 0xff;
        round();
        round();
        round();
        return v0 ^ v1 ^ v2 ^ v3;
    }
};

// The message of an N-byte value as SipHash reads it: N / 8 full
// little-endian words, then a last word with the N % 8 remaining bytes in
// its low bytes (the others zero).  Each class builds these words straight
// from its fields, with shifts, so no byte buffer goes through memory.
template <std::size_t N>
using HashWords = std::array<std::uint64_t, N / 8 + 1>;

// The hash of a value: SipHash-1-3 over its N field bytes, read as signed;
// -1 (the interpreter's error marker) becomes -2.  N is a constant of each
// class, so the rounds unroll and the first half-round, which reads only
// the initial constants, folds away.
template <std::size_t N>
constexpr Py_hash_t hash_words(const HashWords<N> &words) noexcept {
    SipHash13 h;
    for (std::size_t i = 0; i < N / 8; ++i) h.absorb(words[i]);
    // The message length goes into the top byte of the last word.
    h.absorb(words[N / 8] | std::uint64_t{N} << 56);
    const auto value = static_cast<Py_hash_t>(h.finish());
    return value == -1 ? -2 : value;
}

// Seven zero bytes: the value the tests quote for Time(0, 0, 0).
static_assert(hash_words<7>({0}) == -8539203582074308692);

// A field's two's-complement bits, zero-extended to a word, ready to be
// shifted to the field's byte place.
template <class T>
constexpr std::uint64_t word_bits(T v) noexcept {
    return static_cast<std::make_unsigned_t<T>>(v);
}

// --- Rich comparison -------------------------------------------------------

// `equal` decides == and !=; `compare` (negative, zero, positive) decides the
// orderings.  A foreign operand gives NotImplemented.
template <class I, auto equal, auto compare>
PyObject *richcompare(PyObject *self, PyObject *other, int op) {
    if (!I::check(other)) Py_RETURN_NOTIMPLEMENTED;
    const auto &a = I::of(self);
    const auto &b = I::of(other);
    bool r;
    switch (op) {
        case Py_EQ: r = equal(a, b); break;
        case Py_NE: r = !equal(a, b); break;
        case Py_LT: r = compare(a, b) < 0; break;
        case Py_LE: r = compare(a, b) <= 0; break;
        case Py_GT: r = compare(a, b) > 0; break;
        case Py_GE: r = compare(a, b) >= 0; break;
        default: Py_RETURN_NOTIMPLEMENTED;
    }
    return Py_NewRef(r ? Py_True : Py_False);
}

}  // namespace merandol::py
