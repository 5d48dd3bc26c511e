// One declaration per callable.  A declaration names the callable, its
// class (through the class's one DeclaredClass in the unit), its
// implementation, its parameters (each with its conversion, its default
// and how it may be passed) and its doc string; everything else follows
// from it at compile time: the binder's name table and counts, the message
// name ("Date.add_days()"), the text signature at the head of the doc
// string, the calling convention and flags of the method table row, and
// the function the interpreter calls, which binds and converts the
// arguments and hands their values to the implementation.  A declaration
// whose parts disagree, or whose implementation does not take the declared
// values, does not compile.
//
//   static constexpr auto date_class = declare_class<DateObject>();
//   static PyObject *date_add_days(PyObject *self, std::int64_t days) { ... }
//   static constexpr auto date_add_days_decl =
//       date_class.instance_method("add_days", date_add_days, "Add days ...", param<I64>("days"));
//   ... row<date_add_days_decl>() in the class's method table.
#pragma once

#include <algorithm>
#include <array>
#include <concepts>
#include <cstring>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/frame.hpp"

namespace merandol::py {

// --- Conversions -------------------------------------------------------------

// A conversion is what a parameter is declared with (param<I64>("days")):
// the value its implementation receives and how an argument becomes one.
// It is a type that provides
//
//   type     the C++ type of the value, which the implementation takes for
//            the parameter (by value or const reference) and a default is
//            given as;
//   convert  static bool convert(PyObject *argument, type &out, const char *name):
//            stores the argument's value in `out` and returns true, or sets
//            the exception and returns false (name is the parameter's, for
//            the note "while processing 'days'" that the frame's rules add);
//   word_of  only where the argument is one of a few words
//            (DisambiguateWord): static constexpr std::string_view
//            word_of(type), the word of a value, which the text signature
//            shows as the default ('compatible').  Without it a default
//            shows as Python's literal of its value (put_default: integers,
//            booleans, text, None, and what Kept and std::optional hold), and
//            a default of any other type does not compile.
//
// convert runs on every call of the callable, so it is always inlined, as
// the frame's rules it leads to are, and a slow path goes out of line
// there.  Left to weigh it, link-time optimization has called it out of
// line as the module grew: ZonedDateTime.add(days=1) took 52 ns where 47
// with it inline.
template <class C>
concept Conversion = requires(PyObject *argument, typename C::type &out, const char *name) {
    { C::convert(argument, out, name) } -> std::same_as<bool>;
};

struct I64 {
    using type = std::int64_t;
    [[gnu::always_inline]] static bool convert(PyObject *o, type &out, const char *name) {
        return to_i64(o, out, name);
    }
};

template <class T>
struct Int {
    using type = T;
    [[gnu::always_inline]] static bool convert(PyObject *o, type &out, const char *name) {
        return to_int(o, out, name);
    }
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
    [[gnu::always_inline]] static bool convert(PyObject *o, type &out, const char *name) {
        return to_text(o, out, name);
    }
};

// An instance of the class whose objects are `I` (DateObject and the like).
template <class I>
struct Of {
    using type = typename I::value_type;
    [[gnu::always_inline]] static bool convert(PyObject *o, type &out, const char *name) {
        return to_instance<I>(o, out, name);
    }
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

template <Conversion C>
struct Keep {
    using type = Kept<typename C::type>;
    static bool convert(PyObject *o, type &out, const char *name) {
        out.object = o;
        return C::convert(o, out.value, name);
    }
};

// None, like a parameter left out with this default, is no value.
template <Conversion C>
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

template <Conversion C>
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
template <Conversion C>
constexpr Param<C> param(const char *name) noexcept {
    return {name};
}
template <Conversion C>
constexpr Param<C> param(const char *name, typename C::type fallback) noexcept {
    return {name, false, fallback};
}

// What the interpreter passes before the arguments, and so how the
// signature begins: "$self", "$cls", "$module", or for a constructor the
// class name in place of the callable's.
enum class Receiver : std::uint8_t { Instance, Class, Module, Constructor };

// `F` is the implementation's type: a function that takes the receiver
// (PyTypeObject * for a constructor, PyObject * otherwise), then each
// parameter's value, and returns a new reference or nullptr with an
// exception set.
template <class F, class... C>
struct Callable {
    const char *owner;  // the class, or nullptr for a module function
    const char *name;
    Receiver receiver;
    const char *doc;  // the description after the signature
    F implementation;
    std::tuple<Param<C>...> params;

    static constexpr std::size_t count = sizeof...(C);
};

template <class F, class... C>
constexpr Callable<F, C...> module_function(const char *name, F implementation, const char *doc,
                                            Param<C>... params) noexcept {
    return {nullptr, name, Receiver::Module, doc, implementation, {params...}};
}

// The members of one class, which a unit names once; every declaration
// made through it is the class's.
//
//   static constexpr auto date_class = declare_class<DateObject>();
//   static constexpr auto date_add_days_decl = date_class.instance_method("add_days", date_add_days, "...", ...);
struct DeclaredClass {
    const char *qualified_name;  // "merandol.Date": its PyType_Spec's name
    const char *name;            // "Date": what signatures and messages say

    template <class F, class... C>
    constexpr Callable<F, C...> instance_method(const char *method, F implementation, const char *doc,
                                                Param<C>... params) const noexcept {
        return {name, method, Receiver::Instance, doc, implementation, {params...}};
    }
    template <class F, class... C>
    constexpr Callable<F, C...> class_method(const char *method, F implementation, const char *doc,
                                             Param<C>... params) const noexcept {
        return {name, method, Receiver::Class, doc, implementation, {params...}};
    }
    // Its doc string is the class's: the constructor's signature alone.
    template <class F, class... C>
    constexpr Callable<F, C...> constructor(F implementation, Param<C>... params) const noexcept {
        return {name, "__new__", Receiver::Constructor, "", implementation, {params...}};
    }
    // __reduce__, which pickling calls.
    template <class F>
    constexpr Callable<F> reduce(F implementation) const noexcept {
        return instance_method("__reduce__", implementation, "Return state information for pickling.");
    }
};

// A class of the companion, by its qualified name ("merandol_interop.Zone").
consteval DeclaredClass declare_class(const char *qualified_name) {
    const char *name = qualified_name;
    for (const char *c = qualified_name; *c != '\0'; ++c)
        if (*c == '.') name = c + 1;
    return {qualified_name, name};
}

// One of merandol's classes, by its instances' type (DateObject).
template <class I>
consteval DeclaredClass declare_class() {
    return declare_class(kClassQualifiedNames[static_cast<unsigned>(I::id)]);
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
    constexpr void put_number(std::size_t n) noexcept {
        if (n >= 10) put_number(n / 10);
        put(static_cast<char>('0' + n % 10));
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

// Each name's length, so that binding a keyword compares lengths before
// bytes.
template <const auto &D>
constexpr auto name_sizes() noexcept {
    std::array<std::uint8_t, kNames<D>.size()> sizes{};
    for (std::size_t i = 0; i < sizes.size(); ++i)
        sizes[i] = static_cast<std::uint8_t>(std::char_traits<char>::length(kNames<D>[i]));
    return sizes;
}

template <const auto &D>
inline constexpr auto kNameSizes = name_sizes<D>();

template <const auto &D>
constexpr Params params() noexcept {
    constexpr auto ps = facts<D>();
    int required = 0, positional = 0, positional_only = 0;
    for (const auto &p : ps) {
        required += p.required;
        positional += p.passing != Passing::KeywordOnly;
        positional_only += p.passing == Passing::PositionalOnly;
    }
    return {kFn<D>.data(), kNames<D>.data(), kNameSizes<D>.data(), static_cast<int>(ps.size()),
            required,      positional,       positional_only,      positional != static_cast<int>(ps.size())};
}

template <const auto &D>
inline constexpr Params kParams = params<D>();

// The parameters apart from the rest of the declaration, for what the call
// reads of them at run time (a default): read there, the declaration
// itself would be an object in memory holding the implementation's
// address, and the implementation, no longer a function called once, would
// not be inlined into the function the interpreter calls.
template <const auto &D>
inline constexpr auto kDeclaredParams = D.params;

// Converts the bound arguments in order, stopping at the first failure,
// and calls the implementation with their values.  A required parameter
// is never left out (the binder saw to it); an optional one left out takes
// its default.
template <const auto &D, auto Impl, class R, std::size_t... I>
inline PyObject *call_converted(R receiver, PyObject *const *raw, std::index_sequence<I...>) {
    std::tuple<typename std::remove_cvref_t<decltype(std::get<I>(D.params))>::type...> values{};
    auto convert = [&]<std::size_t K>(std::integral_constant<std::size_t, K>) {
        constexpr const auto &p = std::get<K>(kDeclaredParams<D>);
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

// The implementation's signature, taken apart.
template <class F>
struct Signature;
template <class R, class... A>
struct Signature<R (*)(A...)> {
    using result = R;
    using parameters = std::tuple<A...>;
};
template <class R, class... A>
struct Signature<R (*)(A...) noexcept> : Signature<R (*)(A...)> {};

// The receiver the interpreter hands the implementation first.
template <const auto &D>
using ReceiverOf = std::conditional_t<D.receiver == Receiver::Constructor, PyTypeObject *, PyObject *>;

// The conversion of declared parameter K.
template <const auto &D, std::size_t K>
using ConversionOf = typename std::remove_cvref_t<decltype(std::get<K>(D.params))>::conversion;

// Whether the implementation takes, in order, the receiver and each
// declared parameter's value (by value or const reference), and returns
// PyObject *.
template <const auto &D>
consteval bool implementation_matches() {
    using S = Signature<decltype(D.implementation)>;
    using P = typename S::parameters;
    if constexpr (!std::is_same_v<typename S::result, PyObject *> || std::tuple_size_v<P> != D.count + 1) {
        return false;
    } else {
        return std::is_same_v<std::tuple_element_t<0, P>, ReceiverOf<D>> &&
               []<std::size_t... K>(std::index_sequence<K...>) {
                   return (std::is_same_v<std::remove_cvref_t<std::tuple_element_t<K + 1, P>>,
                                          typename ConversionOf<D, K>::type> &&
                           ...);
               }(std::make_index_sequence<D.count>{});
    }
}

// A type as the compiler spells it, without this project's namespaces:
// "long int", "Of<Instance<ClassId::Date, Date> >".
template <class T>
consteval std::string_view spelt() {
    const std::string_view signature = __PRETTY_FUNCTION__;
    const std::size_t begin = signature.find("T = ") + 4;
    return signature.substr(begin, signature.find_first_of(";]", begin) - begin);
}

constexpr void put_type(TextWriter &w, std::string_view type) noexcept {
    for (const std::string_view ns : {"merandol::py::", "merandol::"})
        for (std::size_t at; (at = type.find(ns)) != std::string_view::npos;) {
            put_type(w, type.substr(0, at));
            type.remove_prefix(at + ns.size());
        }
    w.put(type);
}

// Why the implementation does not fit its declaration: "parameter 2
// (`days`) of Date.add_days is declared I64, whose value is long int, but
// the implementation takes int".  Parameters count from the receiver, 1.
template <const auto &D>
constexpr void put_mismatch(TextWriter &w) noexcept {
    using S = Signature<decltype(D.implementation)>;
    using P = typename S::parameters;
    auto put_fn = [&] {
        if (D.owner != nullptr) w.put(D.owner), w.put('.');
        w.put(D.name);
    };
    if constexpr (!std::is_same_v<typename S::result, PyObject *>) {
        w.put("the implementation of "), put_fn(), w.put(" returns "), put_type(w, spelt<typename S::result>());
        w.put(", not a new reference (PyObject *)");
    } else if constexpr (std::tuple_size_v<P> != D.count + 1) {
        w.put("the implementation of "), put_fn(), w.put(" takes "), w.put_number(std::tuple_size_v<P>);
        w.put(" parameters, but its declaration gives it the receiver and "), w.put_number(D.count);
    } else if constexpr (!std::is_same_v<std::tuple_element_t<0, P>, ReceiverOf<D>>) {
        w.put("parameter 1 (the receiver) of "), put_fn(), w.put(" is "), put_type(w, spelt<ReceiverOf<D>>());
        w.put(", but the implementation takes "), put_type(w, spelt<std::tuple_element_t<0, P>>());
    } else {
        bool told = false;
        auto tell = [&]<std::size_t K>(std::integral_constant<std::size_t, K>) {
            using C = ConversionOf<D, K>;
            using Taken = std::tuple_element_t<K + 1, P>;
            if (told || std::is_same_v<std::remove_cvref_t<Taken>, typename C::type>) return;
            told = true;
            w.put("parameter "), w.put_number(K + 2), w.put(" (`"), w.put(std::get<K>(D.params).name);
            w.put("`) of "), put_fn(), w.put(" is declared "), put_type(w, spelt<C>());
            w.put(", whose value is "), put_type(w, spelt<typename C::type>());
            w.put(", but the implementation takes "), put_type(w, spelt<Taken>());
        };
        [&]<std::size_t... K>(std::index_sequence<K...>) {
            (tell(std::integral_constant<std::size_t, K>{}), ...);
        }(std::make_index_sequence<D.count>{});
    }
}

template <const auto &D>
inline constexpr auto kMismatch = compose<put_mismatch<D>>();

// Every check of a declaration, for the places that turn it into what the
// interpreter calls.  The second assertion's message is text composed from
// the declaration, which C++26 allows and g++ and clang take in C++23 too;
// it is evaluated only when the assertion fails.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wc++26-extensions"
template <const auto &D>
consteval bool checked() {
    static_assert(check<D>());
    // A name longer than 255 bytes would not fit its size's byte.
    for (std::size_t i = 0; i < kNames<D>.size(); ++i)
        if (std::char_traits<char>::length(kNames<D>[i]) != kNameSizes<D>[i]) return false;
    static_assert(implementation_matches<D>(), std::string_view(kMismatch<D>.data(), kMismatch<D>.size() - 1));
    return true;
}
#pragma GCC diagnostic pop

// METH_NOARGS.
template <const auto &D, auto Impl>
PyObject *noargs(PyObject *self, PyObject *) {
    return Impl(self);
}

// The parameter a keyword names among those it may name (not positional-
// only), or -1: the names' lengths and bytes are constants here, so each
// comparison is a few instructions rather than a loop and a call.
template <const auto &D, std::size_t... I>
[[gnu::always_inline]] inline int keyword_index(const char *bytes, Py_ssize_t size, std::index_sequence<I...>) {
    constexpr auto positional_only = static_cast<std::size_t>(kParams<D>.positional_only);
    int found = -1;
    (void)((I >= positional_only && size == kNameSizes<D>[I] && std::memcmp(bytes, kNames<D>[I], kNameSizes<D>[I]) == 0
                ? (found = static_cast<int>(I), true)
                : false) ||
           ...);
    return found;
}

// bind() for this declaration's calls with keywords, the usual ones bound
// here: ASCII names, each naming a parameter once, no required one left
// out.  Anything else goes to bind_slow(), which words its error.  Kept out
// of line, so that the calls without keywords stay as small as bind().
template <const auto &D>
[[gnu::noinline]] bool bind_keywords(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out) {
    // kParams itself, not a copy, which would be built on the stack at
    // every call for the rare bind_slow().
    constexpr const Params &p = kParams<D>;
    if (nargs > p.positional) return bind_slow(p, args, nargs, kwnames, out);
    // A fixed count of stores, then the few positional arguments.
    std::fill_n(out, D.count, nullptr);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = argument_at(args, i);
    const Py_ssize_t given = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < given; ++k) {
        PyObject *name = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(name) || !PyUnicode_IS_COMPACT_ASCII(name)) return bind_slow(p, args, nargs, kwnames, out);
        const int i = keyword_index<D>(static_cast<const char *>(PyUnicode_DATA(name)), PyUnicode_GET_LENGTH(name),
                                       std::make_index_sequence<D.count>{});
        if (i < 0 || out[i] != nullptr) return bind_slow(p, args, nargs, kwnames, out);
        out[i] = argument_at(args, nargs + k);
    }
    for (int i = 0; i < p.required; ++i)
        if (out[i] == nullptr) return bind_slow(p, args, nargs, kwnames, out);
    return true;
}

// bind(), with keywords bound by bind_keywords where the declaration has
// keyword-only parameters, whose usual way they are; elsewhere keywords
// are rare, and a binder per declaration would only grow the module's code
// and shrink the inlining the compiler affords the rest.
template <const auto &D>
[[gnu::always_inline]] inline bool bind_declared(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                                                 PyObject **out) {
    if constexpr (kParams<D>.positional < static_cast<int>(D.count))
        if (kwnames != nullptr) return bind_keywords<D>(args, nargs, kwnames, out);
    return bind(kParams<D>, args, nargs, kwnames, out);
}

// METH_FASTCALL | METH_KEYWORDS.
template <const auto &D, auto Impl>
PyObject *fastcall(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *raw[D.count];
    if (!bind_declared<D>(args, nargs, kwnames, raw)) return nullptr;
    return call_converted<D, Impl>(self, raw);
}

}  // namespace declare_detail

// The method table row of a declared method or module function.
template <const auto &D>
PyMethodDef row() noexcept {
    static_assert(declare_detail::checked<D>());
    static_assert(D.receiver != Receiver::Constructor, "a constructor is a class's slots, not a method table row");
    using namespace declare_detail;
    constexpr int klass = D.receiver == Receiver::Class ? METH_CLASS : 0;
    if constexpr (D.count == 0)
        return {D.name, reinterpret_cast<PyCFunction>(noargs<D, D.implementation>), METH_NOARGS | klass,
                kDoc<D>.data()};
    else
        return {D.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fastcall<D, D.implementation>)),
                METH_FASTCALL | METH_KEYWORDS | klass, kDoc<D>.data()};
}

// The end of a method table.
inline constexpr PyMethodDef kEndOfMethods = {nullptr, nullptr, 0, nullptr};

// A constructor's slots: the class doc (its signature), tp_new, which the
// interpreter calls with a tuple and a dict, and where the interpreter
// offers it, the vectorcall form of the same.
template <const auto &D>
PyObject *constructor_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static_assert(declare_detail::checked<D>() && D.receiver == Receiver::Constructor);
    PyObject *raw[D.count];
    if (!bind_tuple(declare_detail::kParams<D>, args, kwargs, raw)) return nullptr;
    return declare_detail::call_converted<D, D.implementation>(type, raw);
}

template <const auto &D>
PyObject *constructor_vectorcall(PyObject *type, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    static_assert(declare_detail::checked<D>() && D.receiver == Receiver::Constructor);
    PyObject *raw[D.count];
    if (!declare_detail::bind_declared<D>(args, PyVectorcall_NARGS(nargsf), kwnames, raw)) return nullptr;
    return declare_detail::call_converted<D, D.implementation>(reinterpret_cast<PyTypeObject *>(type), raw);
}

template <const auto &D>
constexpr char *class_doc() noexcept {
    return const_cast<char *>(declare_detail::kDoc<D>.data());
}

}  // namespace merandol::py
