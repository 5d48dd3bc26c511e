// Text in the forms people write, for the units that read or write
// columns of it: the Format class (a compiled pattern) and the named forms
// ISO8601, RFC2822 and HTTP_DATE, which are Format objects too.  A column
// function takes one as its format= and reads or writes every element
// through its TextForm, without the interpreter and without allocating.
#pragma once

#include <expected>
#include <optional>
#include <string_view>

#include "binding/frame.hpp"
#include "core/pattern.hpp"
#include "core/text_form.hpp"

namespace merandol::py {

enum class NamedForm : std::uint8_t { None, Iso8601, Rfc2822, HttpDate };

// Why a value could not be written: the directive that names a field the
// value lacks, or for a named form the class it writes.
struct WriteRefusal {
    std::string_view needed;
};

// A pattern compiled once, or one of the named forms.  Read and written
// without the interpreter; it lives as long as its Format object.
class TextForm {
public:
    static TextForm named_form(NamedForm named) noexcept;
    static TextForm of_pattern(Pattern &&pattern) noexcept;

    NamedForm named() const noexcept { return named_; }
    // The pattern when it is a plain date and time (Pattern's
    // is_plain_date_time()), which a column writes without a PatternValue.
    const Pattern *plain_date_time() const noexcept {
        return named_ == NamedForm::None && pattern_.is_plain_date_time() ? &pattern_ : nullptr;
    }
    // The pattern when its usual texts give their instants at once
    // (Pattern's reads_plain_instants()), as a column reads them.
    const Pattern *plain_instants() const noexcept {
        return named_ == NamedForm::None && pattern_.reads_plain_instants() ? &pattern_ : nullptr;
    }
    // The class every text gives, or ByText for ISO8601.
    TextKind kind() const noexcept { return kind_; }
    // The most bytes `write` writes for any value, with a zone
    // abbreviation of at most `abbreviation_size` bytes.
    std::size_t text_max(std::size_t abbreviation_size = 0) const noexcept;

    std::expected<TextValue, TextError> read(std::string_view text) const noexcept;
    // Writes the value from `out` (text_max() bytes, with the value's
    // abbreviation) and returns the end.
    std::expected<char *, WriteRefusal> write(char *out, const PatternValue &v) const noexcept;

private:
    NamedForm named_ = NamedForm::None;
    TextKind kind_ = TextKind::ByText;
    Pattern pattern_;  // empty for a named form
};

// The value of an object of Date, Time, DateTime or OffsetDateTime (its
// local reading and offset), or false with TypeError set (naming `name`).
bool pattern_value_of(PyObject *o, PatternValue &out, const char *name);

// The class, made when the module is executed.
PyTypeObject *format_type() noexcept;
bool is_format(PyObject *o) noexcept;
const TextForm &text_form_of(PyObject *format) noexcept;

// The merandol class of a kind (Date, Time, DateTime, OffsetDateTime).
PyTypeObject *class_of(TextKind kind) noexcept;

// Raises the ValueError of `text` (UTF-8) refused by the form of `format`
// with `error`: "'2026-13-08' does not match '%Y-%m-%d': month 13 at
// position 5 (%m)".  Always nullptr.
PyObject *text_refused(PyObject *format, std::string_view text, const TextError &error);

// The same for a reading whose instant lies beyond merandol's range.
PyObject *instant_refused(PyObject *format, std::string_view text);

// Raises the TypeError of a value of class `class_name` that lacks what
// the form writes.
PyObject *write_refused(PyObject *format, const char *class_name, const WriteRefusal &refusal);

// Whether every text the form writes is ASCII.
bool writes_ascii(PyObject *format) noexcept;

// The object of a value that `format` read from `text`: an
// OffsetDateTime's reading is turned into UTC here, and one whose instant
// lies beyond the range raises instant_refused's error.
PyObject *text_value_object(PyObject *format, std::string_view text, const TextValue &v);

// What format= takes, with OrNone: a Format (or a named form), or a
// pattern, which FormatHold compiles for the call.
struct FormatArg {
    using type = PyObject *;
    static bool convert(PyObject *o, type &out, const char *name) {
        if (is_format(o) || PyUnicode_Check(o)) {
            out = o;
            return true;
        }
        PyErr_Format(PyExc_TypeError, "format must be a merandol_interop.Format, a named form or a str, not '%T'", o);
        note_argument(name);
        return false;
    }
};

// The Format of a format= argument for the length of a call: the object
// given, or the pattern given compiled.
class FormatHold {
public:
    FormatHold() = default;
    FormatHold(const FormatHold &) = delete;
    FormatHold &operator=(const FormatHold &) = delete;
    ~FormatHold() { Py_XDECREF(format_); }

    // false with the pattern's error set.
    bool hold(std::optional<PyObject *> given);
    // The Format, or nullptr when none was given.
    PyObject *get() const noexcept { return format_; }

private:
    PyObject *format_ = nullptr;
};

}  // namespace merandol::py
