// One declaration per callable.  A declaration names the callable, its
// receiver, its parameters (each with its conversion, its default and how
// it may be passed) and its doc string; everything else follows from it at
// compile time: the binder's name table and counts, the message name
// ("Date.add_days()"), the text signature at the head of the doc string,
// the calling convention and flags of the method table row, and the
// function the interpreter calls, which binds and converts the arguments
// and hands their values to the implementation.  A declaration whose parts
// disagree does not compile.
//
//   static constexpr auto date_add_days_decl = instance_method("Date", "add_days", "Add days ...",
//                                                              param<I64>("days"));
//   static PyObject *date_add_days(PyObject *self, std::int64_t days);
//   ... row<date_add_days_decl, date_add_days>() in the class's method table.
#pragma once

#include <array>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/frame.hpp"

namespace merandol::py {

// --- Conversions -------------------------------------------------------------

// Each names the type a parameter's value arrives as, and how an argument
// becomes one (the conversion rules of the frame).

struct I64 {
    using type = std::int64_t;
    static bool convert(PyObject *o, type &out, const char *name) { return to_i64(o, out, name); }
};

template <class T>
struct Int {
    using type = T;
    static bool convert(PyObject *o, type &out, const char *name) { return to_int(o, out, name); }
};

struct I128 {
    using type = i128;
    static bool convert(PyObject *o, type &out, const char *name) { return to_i128(o, out, name); }
};

struct Bool {
    using type = bool;
    static bool convert(PyObject *o, type &out, const char *name) { return to_bool(o, out, name); }
};

struct Text {
    using type = std::string_view;
    static bool convert(PyObject *o, type &out, const char *name) { return to_text(o, out, name); }
};

// An instance of the class whose objects are `I` (DateObject and the like).
template <class I>
struct Of {
    using type = typename I::value_type;
    static bool convert(PyObject *o, type &out, const char *name) { return to_instance<I>(o, out, name); }
};

// The argument itself, borrowed, for a callable that decides by its type.
struct Any {
    using type = PyObject *;
    static bool convert(PyObject *o, type &out, const char *) {
        out = o;
        return true;
    }
};

// The converted value beside the argument it came from, for messages that
// quote the argument as it was given.
template <class T>
struct Kept {
    T value;
    PyObject *object;  // nullptr when the default was taken
};

template <class C>
struct Keep {
    using type = Kept<typename C::type>;
    static bool convert(PyObject *o, type &out, const char *name) {
        out.object = o;
        return C::convert(o, out.value, name);
    }
};

// None, like a parameter left out with this default, is no value.
template <class C>
struct OrNone {
    using type = std::optional<typename C::type>;
    static bool convert(PyObject *o, type &out, const char *name) {
        if (o == Py_None) {
            out.reset();
            return true;
        }
        typename C::type value{};
        if (!C::convert(o, value, name)) return false;
        out = value;
        return true;
    }
};

// --- Declarations ------------------------------------------------------------

// In the order the parameters must come.
enum class Passing : std::uint8_t { PositionalOnly, Either, KeywordOnly };

template <class C>
struct Param {
    using conversion = C;
    using type = typename C::type;

    const char *name;
    bool required = true;
    type fallback{};  // the value of a parameter left out
    Passing passing = Passing::Either;

    constexpr Param keyword_only() const noexcept {
        Param p = *this;
        p.passing = Passing::KeywordOnly;
        return p;
    }
    constexpr Param positional_only() const noexcept {
        Param p = *this;
        p.passing = Passing::PositionalOnly;
        return p;
    }
};

// A required parameter, or one that takes `fallback` when left out.
template <class C>
constexpr Param<C> param(const char *name) noexcept {
    return {name};
}
template <class C>
constexpr Param<C> param(const char *name, typename C::type fallback) noexcept {
    return {name, false, fallback};
}

// What the interpreter passes before the arguments, and so how the
// signature begins: "$self", "$cls", "$module", or for a constructor the
// class name in place of the callable's.
enum class Receiver : std::uint8_t { Instance, Class, Module, Constructor };

template <class... C>
struct Callable {
    const char *owner;  // the class, or nullptr for a module function
    const char *name;
    Receiver receiver;
    const char *doc;  // the description after the signature
    std::tuple<Param<C>...> params;

    static constexpr std::size_t count = sizeof...(C);
};

template <class... C>
constexpr Callable<C...> instance_method(const char *owner, const char *name, const char *doc,
                                         Param<C>... params) noexcept {
    return {owner, name, Receiver::Instance, doc, {params...}};
}
template <class... C>
constexpr Callable<C...> class_method(const char *owner, const char *name, const char *doc,
                                      Param<C>... params) noexcept {
    return {owner, name, Receiver::Class, doc, {params...}};
}
template <class... C>
constexpr Callable<C...> module_function(const char *name, const char *doc, Param<C>... params) noexcept {
    return {nullptr, name, Receiver::Module, doc, {params...}};
}
// Its doc string is the class's: the constructor's signature alone.
template <class... C>
constexpr Callable<C...> constructor(const char *owner, Param<C>... params) noexcept {
    return {owner, "__new__", Receiver::Constructor, "", {params...}};
}

// Text composed at compile time: the same steps run once to count the
// characters and once to write them, so every size follows from the text.
struct TextWriter {
    char *out;  // nullptr while counting
    std::size_t size = 0;

    constexpr void put(char c) noexcept {
        if (out != nullptr) out[size] = c;
        ++size;
    }
    constexpr void put(std::string_view s) noexcept {
        for (const char c : s) put(c);
    }
};

// The text that Put writes, as a NUL-terminated array of exactly its size.
template <auto Put>
consteval std::size_t composed_size() {
    TextWriter w{nullptr};
    Put(w);
    return w.size + 1;
}

template <auto Put>
consteval auto compose() {
    std::array<char, composed_size<Put>()> chars{};
    TextWriter w{chars.data()};
    Put(w);
    chars[w.size] = '\0';
    return chars;
}

// Every class's __reduce__, which pickling calls.
constexpr Callable<> reduce_method(const char *owner) noexcept {
    return instance_method(owner, "__reduce__", "Return state information for pickling.");
}

namespace declare_detail {

constexpr bool same(const char *a, const char *b) noexcept { return std::string_view(a) == std::string_view(b); }

// Every parameter as (name, required, passing), for the checks and texts.
struct ParamFacts {
    const char *name;
    bool required;
    Passing passing;
};

template <const auto &D>
constexpr auto facts() noexcept {
    return std::apply(
        [](const auto &...p) {
            return std::array<ParamFacts, sizeof...(p)>{ParamFacts{p.name, p.required, p.passing}...};
        },
        D.params);
}

// Not constexpr: a check that calls it is no constant, and the compiler
// stops there, quoting the call and so its reason.
void declaration_is_wrong(const char *reason);

template <const auto &D>
consteval bool check() {
    constexpr auto ps = facts<D>();
    if (D.name == nullptr || *D.name == '\0') declaration_is_wrong("a callable needs a name");
    if ((D.receiver == Receiver::Module) != (D.owner == nullptr))
        declaration_is_wrong("a module function has no owner, and every other callable names its class");
    bool optional_seen = false;
    Passing last = Passing::PositionalOnly;
    for (std::size_t i = 0; i < ps.size(); ++i) {
        if (ps[i].name == nullptr || *ps[i].name == '\0') declaration_is_wrong("a parameter needs a name");
        for (std::size_t j = 0; j < i; ++j)
            if (same(ps[i].name, ps[j].name)) declaration_is_wrong("two parameters share a name");
        if (static_cast<int>(ps[i].passing) < static_cast<int>(last))
            declaration_is_wrong("positional-only parameters come first and keyword-only ones last");
        last = ps[i].passing;
        if (ps[i].required && optional_seen) declaration_is_wrong("a required parameter follows one with a default");
        if (ps[i].required && ps[i].passing == Passing::KeywordOnly)
            declaration_is_wrong("a keyword-only parameter needs a default");
        optional_seen = optional_seen || !ps[i].required;
    }
    return true;
}

// A default as the signature shows it: Python's literal of the value.
template <class T>
constexpr void put_default(TextWriter &w, const T &v) noexcept {
    if constexpr (std::is_same_v<T, bool>) {
        w.put(v ? "True" : "False");
    } else if constexpr (std::is_integral_v<T>) {
        if (v < 0) w.put('-');
        auto magnitude = static_cast<unsigned long long>(v < 0 ? -(v + 1) : v) + (v < 0 ? 1 : 0);
        char digits[20];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (n > 0) w.put(digits[--n]);
    } else if constexpr (std::is_same_v<T, std::string_view>) {
        w.put('\'');
        w.put(v);
        w.put('\'');
    } else if constexpr (requires { v.has_value(); }) {
        if (v)
            put_default(w, *v);
        else
            w.put("None");
    } else if constexpr (requires { v.object; }) {
        put_default(w, v.value);
    } else {
        declaration_is_wrong("this conversion's default has no text");
    }
}

// "Date.add_days()", "Date.__new__()", "to_stdlib()".
template <const auto &D>
constexpr void put_fn(TextWriter &w) noexcept {
    if (D.owner != nullptr) {
        w.put(D.owner);
        w.put('.');
    }
    w.put(D.name);
    w.put("()");
}

// "add_days($self, days)\n--\n\nAdd days ...", or for a constructor
// "Date(year, month, day)\n--\n\n".  A "/" follows the last positional-only
// parameter and a "*" comes before the first keyword-only one.
template <const auto &D>
constexpr void put_doc(TextWriter &w) noexcept {
    constexpr auto ps = facts<D>();
    w.put(D.receiver == Receiver::Constructor ? D.owner : D.name);
    w.put('(');
    bool first = true;
    auto separate = [&] {
        if (!first) w.put(", ");
        first = false;
    };
    if (D.receiver == Receiver::Instance) separate(), w.put("$self");
    if (D.receiver == Receiver::Class) separate(), w.put("$cls");
    if (D.receiver == Receiver::Module) separate(), w.put("$module");
    std::size_t i = 0;
    auto put_param = [&](const auto &p) {
        if (p.passing == Passing::KeywordOnly && (i == 0 || ps[i - 1].passing != Passing::KeywordOnly))
            separate(), w.put('*');
        separate();
        w.put(p.name);
        if (!p.required) {
            // A conversion from words shows its default as its word.
            using C = typename std::remove_cvref_t<decltype(p)>::conversion;
            w.put('=');
            if constexpr (requires { C::word_of(p.fallback); })
                w.put('\''), w.put(C::word_of(p.fallback)), w.put('\'');
            else
                put_default(w, p.fallback);
        }
        if (p.passing == Passing::PositionalOnly &&
            (i + 1 == ps.size() || ps[i + 1].passing != Passing::PositionalOnly))
            separate(), w.put('/');
        ++i;
    };
    std::apply([&](const auto &...p) { (put_param(p), ...); }, D.params);
    w.put(")\n--\n\n");
    w.put(D.doc);
}

template <const auto &D>
inline constexpr auto kFn = compose<put_fn<D>>();

template <const auto &D>
inline constexpr auto kDoc = compose<put_doc<D>>();

template <const auto &D>
constexpr auto names() noexcept {
    return std::apply([](const auto &...p) { return std::array<const char *, sizeof...(p)>{p.name...}; }, D.params);
}

template <const auto &D>
inline constexpr auto kNames = names<D>();

template <const auto &D>
constexpr Params params() noexcept {
    constexpr auto ps = facts<D>();
    int required = 0, positional = 0, positional_only = 0;
    for (const auto &p : ps) {
        required += p.required;
        positional += p.passing != Passing::KeywordOnly;
        positional_only += p.passing == Passing::PositionalOnly;
    }
    return {kFn<D>.data(),
            kNames<D>.data(),
            static_cast<int>(ps.size()),
            required,
            positional,
            positional_only,
            positional != static_cast<int>(ps.size())};
}

template <const auto &D>
inline constexpr Params kParams = params<D>();

// Converts the bound arguments in order, stopping at the first failure,
// and calls the implementation with their values.  A required parameter
// is never left out (the binder saw to it); an optional one left out takes
// its default.
template <const auto &D, auto Impl, class R, std::size_t... I>
inline PyObject *call_converted(R receiver, PyObject *const *raw, std::index_sequence<I...>) {
    std::tuple<typename std::remove_cvref_t<decltype(std::get<I>(D.params))>::type...> values{};
    auto convert = [&]<std::size_t K>(std::integral_constant<std::size_t, K>) {
        constexpr const auto &p = std::get<K>(D.params);
        using C = typename std::remove_cvref_t<decltype(p)>::conversion;
        if constexpr (!p.required) {
            if (raw[K] == nullptr) {
                std::get<K>(values) = p.fallback;
                return true;
            }
        }
        return C::convert(raw[K], std::get<K>(values), p.name);
    };
    if (!(convert(std::integral_constant<std::size_t, I>{}) && ...)) return nullptr;
    return Impl(receiver, std::get<I>(values)...);
}

template <const auto &D, auto Impl, class R>
inline PyObject *call_converted(R receiver, PyObject *const *raw) {
    return call_converted<D, Impl>(receiver, raw, std::make_index_sequence<D.count>{});
}

// METH_NOARGS.
template <const auto &D, auto Impl>
PyObject *noargs(PyObject *self, PyObject *) {
    return Impl(self);
}

// METH_FASTCALL | METH_KEYWORDS.
template <const auto &D, auto Impl>
PyObject *fastcall(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *raw[D.count];
    if (!bind(kParams<D>, args, nargs, kwnames, raw)) return nullptr;
    return call_converted<D, Impl>(self, raw);
}

}  // namespace declare_detail

// The method table row of a declared method or module function.
template <const auto &D, auto Impl>
PyMethodDef row() noexcept {
    static_assert(declare_detail::check<D>());
    static_assert(D.receiver != Receiver::Constructor, "a constructor is a class's slots, not a method table row");
    using namespace declare_detail;
    constexpr int klass = D.receiver == Receiver::Class ? METH_CLASS : 0;
    if constexpr (D.count == 0)
        return {D.name, reinterpret_cast<PyCFunction>(noargs<D, Impl>), METH_NOARGS | klass, kDoc<D>.data()};
    else
        return {D.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fastcall<D, Impl>)),
                METH_FASTCALL | METH_KEYWORDS | klass, kDoc<D>.data()};
}

// The end of a method table.
inline constexpr PyMethodDef kEndOfMethods = {nullptr, nullptr, 0, nullptr};

// A constructor's slots: the class doc (its signature), tp_new, which the
// interpreter calls with a tuple and a dict, and where the interpreter
// offers it, the vectorcall form of the same.
template <const auto &D, auto Impl>
PyObject *constructor_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static_assert(declare_detail::check<D>() && D.receiver == Receiver::Constructor);
    PyObject *raw[D.count];
    if (!bind_tuple(declare_detail::kParams<D>, args, kwargs, raw)) return nullptr;
    return declare_detail::call_converted<D, Impl>(type, raw);
}

template <const auto &D, auto Impl>
PyObject *constructor_vectorcall(PyObject *type, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    PyObject *raw[D.count];
    if (!bind(declare_detail::kParams<D>, args, PyVectorcall_NARGS(nargsf), kwnames, raw)) return nullptr;
    return declare_detail::call_converted<D, Impl>(reinterpret_cast<PyTypeObject *>(type), raw);
}

template <const auto &D>
constexpr char *class_doc() noexcept {
    return const_cast<char *>(declare_detail::kDoc<D>.data());
}

}  // namespace merandol::py
