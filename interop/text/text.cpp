// The Format class: a pattern of strftime's directives compiled once
// (core/pattern.hpp), read into merandol's own classes and written from
// them; and the named forms ISO8601, RFC2822 and HTTP_DATE
// (core/named_forms.hpp), objects of the same class without a pattern.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "binding/compat.hpp"
#include "core/named_forms.hpp"
#include "core/rfc3339.hpp"
#include "interop/interop.hpp"
#include "interop/text/text.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/offset.hpp"
#include "module/time.hpp"

namespace merandol::py {

// --- The forms ------------------------------------------------------------------

TextForm TextForm::named_form(NamedForm named) noexcept {
    TextForm form;
    form.named_ = named;
    form.kind_ = named == NamedForm::Rfc2822    ? TextKind::OffsetDateTime
                 : named == NamedForm::HttpDate ? TextKind::DateTime
                                                : TextKind::ByText;
    return form;
}

TextForm TextForm::of_pattern(Pattern &&pattern) noexcept {
    TextForm form;
    form.kind_ = pattern.kind();
    form.pattern_ = std::move(pattern);
    return form;
}

std::size_t TextForm::text_max(std::size_t abbreviation_size) const noexcept {
    switch (named_) {
        case NamedForm::Iso8601: return std::max({kRfc3339TextMax, kDateTimeTextMax, kDateTextMax});
        case NamedForm::Rfc2822: return kRfc2822TextMax;
        case NamedForm::HttpDate: return kHttpDateTextMax;
        case NamedForm::None: break;
    }
    return pattern_.written_size_max(abbreviation_size);
}

std::expected<TextValue, TextError> TextForm::read(std::string_view text) const noexcept {
    switch (named_) {
        case NamedForm::Iso8601: return read_iso8601(text);
        case NamedForm::Rfc2822: return read_rfc2822(text);
        case NamedForm::HttpDate: return read_http_date(text);
        case NamedForm::None: break;
    }
    return pattern_.read(text);
}

// What a named form writes a value as, when the value lacks what it needs.
inline constexpr std::string_view kNeedsOffset = "an OffsetDateTime";
inline constexpr std::string_view kNeedsInstant = "a DateTime or OffsetDateTime";

std::expected<char *, WriteRefusal> TextForm::write(char *out, const PatternValue &v) const noexcept {
    const DateTime reading{v.date, v.time};
    switch (named_) {
        case NamedForm::Iso8601:
            if (v.has_offset) return write_local_rfc3339(out, reading, v.offset);
            if (v.has_date && v.has_time) return write_datetime(out, reading) - 1;  // a reading: no "Z"
            return v.has_date ? write_date(out, v.date) : write_time(out, v.time);
        case NamedForm::Rfc2822:
            if (!v.has_offset) return std::unexpected(WriteRefusal{kNeedsOffset});
            return write_rfc2822(out, reading, v.offset);
        case NamedForm::HttpDate: {
            if (!v.has_date || !v.has_time) return std::unexpected(WriteRefusal{kNeedsInstant});
            if (!v.has_offset) return write_http_date(out, reading);
            // The reading of a value that exists: its instant is in range.
            return write_http_date(out, from_local(v.date, v.time, v.offset)->utc);
        }
        case NamedForm::None: break;
    }
    const auto written = pattern_.write(out, v);
    if (!written) return std::unexpected(WriteRefusal{written.error()});
    return *written;
}

PyTypeObject *class_of(TextKind kind) noexcept {
    switch (kind) {
        case TextKind::Date: return DateObject::type();
        case TextKind::Time: return TimeObject::type();
        case TextKind::DateTime: return DateTimeObject::type();
        case TextKind::OffsetDateTime: return OffsetDateTimeObject::type();
        case TextKind::ByText: break;
    }
    return nullptr;
}

using WrittenClasses = ClassSet<ClassId::Date, ClassId::Time, ClassId::DateTime, ClassId::OffsetDateTime>;

bool pattern_value_of(PyObject *o, PatternValue &out, const char *name) {
    switch (WrittenClasses::find(Py_TYPE(o))) {
        case ClassId::Date: out = PatternValue::of(DateObject::of(o)); return true;
        case ClassId::Time: out = PatternValue::of(TimeObject::of(o)); return true;
        case ClassId::DateTime: out = PatternValue::of(DateTimeObject::of(o)); return true;
        case ClassId::OffsetDateTime: {
            const OffsetDateTime &v = OffsetDateTimeObject::of(o);
            const auto local = to_local(v);
            if (!local) {
                PyErr_Format(PyExc_ValueError, "the local reading of %R is outside the range of DateTime", o);
                return false;
            }
            out = PatternValue::of(*local, v.offset);
            return true;
        }
        default:
            PyErr_Format(PyExc_TypeError, "'%T' object is not a merandol %s", o, WrittenClasses::kNames.data());
            note_argument(name);
            return false;
    }
}

// --- The Format object --------------------------------------------------------------

struct FormatObject {
    PyObject_HEAD
    TextForm form;
    PyObject *pattern;  // the str, or nullptr for a named form
    const char *name;   // a named form's name in the module ("ISO8601"), or nullptr
    bool ascii;         // every text it writes is ASCII
};

static std::atomic<PyTypeObject *> g_format_type;

PyTypeObject *format_type() noexcept { return g_format_type.load(std::memory_order_acquire); }

bool is_format(PyObject *o) noexcept { return Py_IS_TYPE(o, format_type()); }

static FormatObject &format_of(PyObject *o) noexcept { return *reinterpret_cast<FormatObject *>(o); }

const TextForm &text_form_of(PyObject *format) noexcept { return format_of(format).form; }

static PyObject *format_wrap(TextForm &&form, PyObject *pattern, const char *name, bool ascii) {
    auto *o = PyObject_New(FormatObject, format_type());
    if (o == nullptr) return nullptr;
    new (&o->form) TextForm(std::move(form));
    o->pattern = Py_XNewRef(pattern);
    o->name = name;
    o->ascii = ascii;
    return reinterpret_cast<PyObject *>(o);
}

static void format_dealloc(PyObject *self) {
    FormatObject &o = format_of(self);
    PyTypeObject *type = Py_TYPE(self);
    o.form.~TextForm();
    Py_XDECREF(o.pattern);
    PyObject_Free(self);
    Py_DECREF(type);
}

// --- Messages ---------------------------------------------------------------------

// Code points in UTF-8 text up to byte `position`: every byte that does
// not continue a sequence (10xxxxxx) starts one.
static std::size_t code_points(std::string_view text, std::size_t position) noexcept {
    position = std::min(position, text.size());
    std::size_t n = 0;
    for (std::size_t i = 0; i < position; ++i) n += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    return n;
}

// The longest text a message quotes whole.
inline constexpr Py_ssize_t kQuotedMax = 64;

// repr() of a text, its first kQuotedMax code points and "..." past them.
static PyObject *quoted(std::string_view utf8) {
    PyObject *text = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "backslashreplace");
    if (text == nullptr) return nullptr;
    if (PyUnicode_GET_LENGTH(text) <= kQuotedMax) {
        PyObject *r = PyObject_Repr(text);
        Py_DECREF(text);
        return r;
    }
    PyObject *head = PyUnicode_Substring(text, 0, kQuotedMax);
    Py_DECREF(text);
    PyObject *r = head ? PyUnicode_FromFormat("%R...", head) : nullptr;
    Py_XDECREF(head);
    return r;
}

// What a directive reads, for a text that does not have it.
static const char *expected_by(std::string_view directive, bool named) {
    if (directive.empty()) return named ? "unexpected character" : "text unlike the pattern's";
    switch (directive.back()) {
        case 'a':
        case 'A': return "expected a weekday name";
        case 'b':
        case 'B':
        case 'h': return "expected a month name";
        case 'p': return "expected AM or PM";
        case 'z': return "expected an offset";
        case 'Z': return "expected UTC, GMT, UT, Z or an offset";
        case 'n':
        case 't': return "expected white space";
        case '%': return "expected '%'";
        default: return "expected a digit";
    }
}

// "month 13", "text left over": what stopped a reading.
static PyObject *reason(const TextError &e, bool named) {
    switch (e.fault) {
        case TextFault::Mismatch:
            if (!e.field.empty())
                return PyUnicode_FromFormat("expected %.*s", static_cast<int>(e.field.size()), e.field.data());
            return PyUnicode_FromString(expected_by(e.directive, named));
        case TextFault::OutOfRange:
            return PyUnicode_FromFormat("%.*s %lld", static_cast<int>(e.field.size()), e.field.data(),
                                        static_cast<long long>(e.value));
        case TextFault::Contradiction:
            if (e.field == "weekday") {
                const std::string_view read = weekday_name(weekday_read(e.value));
                const std::string_view date = weekday_name(weekday_of_date(e.value));
                return PyUnicode_FromFormat("weekday %.*s is not the date's (%.*s)", static_cast<int>(read.size()),
                                            read.data(), static_cast<int>(date.size()), date.data());
            }
            return PyUnicode_FromFormat("%.*s %lld disagrees with the other fields", static_cast<int>(e.field.size()),
                                        e.field.data(), static_cast<long long>(e.value));
        case TextFault::Leftover: return PyUnicode_FromString("text left over");
        case TextFault::Truncated: break;
    }
    return PyUnicode_FromString("text ended");
}

// "an ISO 8601 text" and the like, for "'...' is not <what>".
static const char *named_form_text(NamedForm named) {
    switch (named) {
        case NamedForm::Iso8601: return "an ISO 8601 text";
        case NamedForm::Rfc2822: return "an RFC 2822 date";
        default: return "an HTTP date";
    }
}

PyObject *text_refused(PyObject *format, std::string_view text, const TextError &error) {
    const FormatObject &f = format_of(format);
    const bool named = f.pattern == nullptr;
    PyObject *shown = quoted(text);
    PyObject *why = shown ? reason(error, named) : nullptr;
    if (why != nullptr) {
        const auto position = static_cast<long long>(code_points(text, error.position));
        if (named)
            PyErr_Format(PyExc_ValueError, "%U is not %s: %U at position %lld", shown, named_form_text(f.form.named()),
                         why, position);
        else if (error.directive.empty())
            PyErr_Format(PyExc_ValueError, "%U does not match %R: %U at position %lld", shown, f.pattern, why,
                         position);
        else
            PyErr_Format(PyExc_ValueError, "%U does not match %R: %U at position %lld (%.*s)", shown, f.pattern, why,
                         position, static_cast<int>(error.directive.size()), error.directive.data());
    }
    Py_XDECREF(shown);
    Py_XDECREF(why);
    return nullptr;
}

PyObject *instant_refused(PyObject *format, std::string_view text) {
    const FormatObject &f = format_of(format);
    PyObject *shown = quoted(text);
    if (shown == nullptr) return nullptr;
    if (f.pattern == nullptr)
        PyErr_Format(PyExc_ValueError, "%U is not %s: its instant is outside the range of DateTime", shown,
                     named_form_text(f.form.named()));
    else
        PyErr_Format(PyExc_ValueError, "%U does not match %R: its instant is outside the range of DateTime", shown,
                     f.pattern);
    Py_DECREF(shown);
    return nullptr;
}

PyObject *write_refused(PyObject *format, const char *class_name, const WriteRefusal &refusal) {
    const FormatObject &f = format_of(format);
    if (f.pattern == nullptr)
        return PyErr_Format(PyExc_TypeError, "merandol_interop.%s writes %.*s, not %s", f.name,
                            static_cast<int>(refusal.needed.size()), refusal.needed.data(), class_name);
    return PyErr_Format(PyExc_TypeError, "%R writes %.*s, a field that %s does not have", f.pattern,
                        static_cast<int>(refusal.needed.size()), refusal.needed.data(), class_name);
}

bool writes_ascii(PyObject *format) noexcept { return format_of(format).ascii; }

// --- Members ------------------------------------------------------------------------

static constexpr auto format_class = declare_class("merandol_interop.Format");

static bool is_ascii(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

static PyObject *format_new(PyTypeObject *, PyObject *pattern) {
    if (!PyUnicode_Check(pattern)) return PyErr_Format(PyExc_TypeError, "a pattern must be a str, not '%T'", pattern);
    std::string_view text;
    if (!to_text(pattern, text, "pattern")) return nullptr;
    auto compiled = Pattern::compile(text);
    if (!compiled) {
        const PatternError &e = compiled.error();
        if (e.fault == PatternFault::OutOfMemory) return PyErr_NoMemory();
        const std::string_view why = describe(e.fault);
        const auto position = static_cast<long long>(code_points(text, e.position));
        if (e.directive.empty())
            return PyErr_Format(PyExc_ValueError, "%R is not a pattern: %.*s at position %lld", pattern,
                                static_cast<int>(why.size()), why.data(), position);
        return PyErr_Format(PyExc_ValueError, "%R is not a pattern: %.*s at position %lld (%.*s)", pattern,
                            static_cast<int>(why.size()), why.data(), position, static_cast<int>(e.directive.size()),
                            e.directive.data());
    }
    // A str subclass's own methods must not answer for the pattern.
    PyObject *exact = PyUnicode_CheckExact(pattern) ? Py_NewRef(pattern) : PyUnicode_FromObject(pattern);
    if (exact == nullptr) return nullptr;
    PyObject *o = format_wrap(TextForm::of_pattern(std::move(*compiled)), exact, nullptr, is_ascii(text));
    Py_DECREF(exact);
    return o;
}
static constexpr auto format_new_decl = format_class.constructor(format_new, param<Any>("pattern"));

bool FormatHold::hold(std::optional<PyObject *> given) {
    if (!given) return true;
    format_ = is_format(*given) ? Py_NewRef(*given) : format_new(format_type(), *given);
    return format_ != nullptr;
}

PyObject *text_value_object(PyObject *self, std::string_view text, const TextValue &v) {
    switch (v.kind) {
        case TextKind::Date: return DateObject::wrap(v.date);
        case TextKind::Time: return TimeObject::wrap(v.time);
        case TextKind::DateTime: return DateTimeObject::wrap(DateTime{v.date, v.time});
        default: break;
    }
    const auto value = from_local(v.date, v.time, v.offset);
    if (!value) return instant_refused(self, text);
    return OffsetDateTimeObject::wrap(*value);
}

static PyObject *format_parse(PyObject *self, std::string_view text) {
    const auto value = format_of(self).form.read(text);
    if (MERANDOL_UNLIKELY(!value)) return text_refused(self, text, value.error());
    return text_value_object(self, text, *value);
}
static constexpr auto format_parse_decl =
    format_class.instance_method("parse", format_parse,
                                 "Read a whole text in this form.\n\n"
                                 "Args:\n"
                                 "    text: The text (a str).\n\n"
                                 "Returns:\n"
                                 "    Date | Time | DateTime | OffsetDateTime: The value, of the class that\n"
                                 "    result names (for ISO8601, the class the text has).\n\n"
                                 "Raises:\n"
                                 "    ValueError: For a text that does not match, naming it, the pattern and\n"
                                 "        the position (in characters from 0) and directive where reading\n"
                                 "        stopped; and for a reading whose instant is out of range.",
                                 param<Text>("text"));

// Texts of the usual patterns fit here; a longer one is written to the heap.
inline constexpr std::size_t kStackText = 256;

static PyObject *format_format(PyObject *self, PyObject *value) {
    const FormatObject &f = format_of(self);
    PatternValue v;
    if (!pattern_value_of(value, v, "value")) return nullptr;
    const std::size_t size = f.form.text_max();
    char stack[kStackText];
    char *out = size <= kStackText ? stack : static_cast<char *>(PyMem_Malloc(size));
    if (out == nullptr) return PyErr_NoMemory();
    const auto end = f.form.write(out, v);
    PyObject *result =
        !end
            ? write_refused(self, kClassNames[static_cast<unsigned>(WrittenClasses::find(Py_TYPE(value)))], end.error())
        : f.ascii ? ascii(out, *end)
                  : PyUnicode_DecodeUTF8(out, *end - out, "strict");
    if (out != stack) PyMem_Free(out);
    return result;
}
static constexpr auto format_format_decl =
    format_class.instance_method("format", format_format,
                                 "Write a value in this form.\n\n"
                                 "Args:\n"
                                 "    value: A Date, Time, DateTime or OffsetDateTime instance.\n\n"
                                 "Returns:\n"
                                 "    str: Its text, which parse reads back to the value where the pattern\n"
                                 "    keeps every field of it.\n\n"
                                 "Raises:\n"
                                 "    TypeError: For a value that lacks a field the pattern names, naming its\n"
                                 "        directive (%H of a Date; %z, %:z or %Z of a DateTime, a reading\n"
                                 "        without an offset).",
                                 param<Any>("value"));

static PyObject *format_reduce(PyObject *self) {
    const FormatObject &f = format_of(self);
    // A named form is pickled as the module's object of that name.
    if (f.name != nullptr) return PyUnicode_FromString(f.name);
    return Py_BuildValue("(O(O))", reinterpret_cast<PyObject *>(format_type()), f.pattern);
}
static constexpr auto format_reduce_decl = format_class.reduce(format_reduce);

// A format is immutable: a copy is the format itself.
static PyObject *format_copy(PyObject *self) { return Py_NewRef(self); }
static constexpr auto format_copy_decl =
    format_class.instance_method("__copy__", format_copy, "Return the format itself.");

static PyObject *format_deepcopy(PyObject *self, PyObject *) { return Py_NewRef(self); }
static constexpr auto format_deepcopy_decl =
    format_class.instance_method("__deepcopy__", format_deepcopy,
                                 "Return the format itself.\n\n"
                                 "Args:\n"
                                 "    memo: The memo of the deep copy, which a format does not need.\n\n"
                                 "Returns:\n"
                                 "    Format: The format itself.",
                                 param<Any>("memo"));

static PyObject *format_get_pattern(PyObject *self, void *) {
    PyObject *pattern = format_of(self).pattern;
    return Py_NewRef(pattern != nullptr ? pattern : Py_None);
}

static PyObject *format_get_result(PyObject *self, void *) {
    PyTypeObject *cls = class_of(format_of(self).form.kind());
    return Py_NewRef(cls != nullptr ? reinterpret_cast<PyObject *>(cls) : Py_None);
}

static PyObject *format_repr(PyObject *self) {
    const FormatObject &f = format_of(self);
    if (f.name != nullptr) return PyUnicode_FromFormat("merandol_interop.%s", f.name);
    return PyUnicode_FromFormat("Format(%R)", f.pattern);
}

static PyObject *format_str(PyObject *self) {
    PyObject *pattern = format_of(self).pattern;
    return pattern != nullptr ? Py_NewRef(pattern) : format_repr(self);
}

// Formats of one pattern are equal; a named form only to itself.
static PyObject *format_richcompare(PyObject *self, PyObject *other, int op) {
    if (!is_format(other) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
    PyObject *a = format_of(self).pattern, *b = format_of(other).pattern;
    bool equal = self == other;
    if (!equal && a != nullptr && b != nullptr) {
        equal = PyUnicode_Compare(a, b) == 0;
        if (PyErr_Occurred()) return nullptr;
    }
    return Py_NewRef(equal == (op == Py_EQ) ? Py_True : Py_False);
}

static Py_hash_t format_hash(PyObject *self) {
    PyObject *pattern = format_of(self).pattern;
    return pattern != nullptr ? PyObject_Hash(pattern) : Py_HashPointer(self);
}

static PyMethodDef format_methods[] = {
    row<format_parse_decl>(), row<format_format_decl>(),   row<format_reduce_decl>(),
    row<format_copy_decl>(),  row<format_deepcopy_decl>(), kEndOfMethods,
};

static PyGetSetDef format_getset[] = {
    {"pattern", format_get_pattern, nullptr, "The pattern (a str), or None for a named form.", nullptr},
    {"result", format_get_result, nullptr,
     "The class that parse returns, or None for ISO8601, whose class follows the text.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyType_Slot format_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void *>(format_dealloc)},
    {Py_tp_doc, class_doc<format_new_decl>()},
    {Py_tp_new, reinterpret_cast<void *>(constructor_new<format_new_decl>)},
    {kVectorcallSlot, reinterpret_cast<void *>(constructor_vectorcall<format_new_decl>)},
    {Py_tp_repr, reinterpret_cast<void *>(format_repr)},
    {Py_tp_str, reinterpret_cast<void *>(format_str)},
    {Py_tp_richcompare, reinterpret_cast<void *>(format_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(format_hash)},
    {Py_tp_getset, format_getset},
    {Py_tp_methods, format_methods},
    {0, nullptr},
};

static PyType_Spec format_spec = {
    .name = format_class.qualified_name,
    .basicsize = sizeof(FormatObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = format_slots,
};

// --- The module's objects ---------------------------------------------------------

struct NamedObject {
    NamedForm form;
    const char *name;
};
inline constexpr NamedObject kNamedObjects[] = {
    {NamedForm::Iso8601, "ISO8601"},
    {NamedForm::Rfc2822, "RFC2822"},
    {NamedForm::HttpDate, "HTTP_DATE"},
};
static std::atomic<PyObject *> g_named[std::size(kNamedObjects)];

// The class and the named forms, made once for the process, as Zone is.
static int text_exec(PyObject *module) {
    static PyMutex lock;
    PyMutex_Lock(&lock);
    if (format_type() == nullptr) {
        PyObject *type = type_from_spec(&format_spec);
        if (type != nullptr) g_format_type.store(reinterpret_cast<PyTypeObject *>(type), std::memory_order_release);
    }
    // Each named form once; one that failed is made by the next execution.
    int result = format_type() != nullptr ? 0 : -1;
    for (std::size_t i = 0; result == 0 && i < std::size(kNamedObjects); ++i) {
        if (g_named[i].load(std::memory_order_acquire) != nullptr) continue;
        PyObject *o = format_wrap(TextForm::named_form(kNamedObjects[i].form), nullptr, kNamedObjects[i].name, true);
        if (o == nullptr) result = -1;
        g_named[i].store(o, std::memory_order_release);
    }
    PyMutex_Unlock(&lock);
    if (result < 0) return -1;
    if (PyModule_AddObjectRef(module, "Format", reinterpret_cast<PyObject *>(format_type())) < 0) return -1;
    for (std::size_t i = 0; i < std::size(kNamedObjects); ++i)
        if (PyModule_AddObjectRef(module, kNamedObjects[i].name, g_named[i].load(std::memory_order_acquire)) < 0)
            return -1;
    return 0;
}

static PyMethodDef text_functions[] = {kEndOfMethods};

extern const InteropUnit kTextUnit = {text_functions, text_exec, {"Format", "ISO8601", "RFC2822", "HTTP_DATE"}};

}  // namespace merandol::py
