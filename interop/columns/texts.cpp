// Columns of texts: parse_many reads them into merandol values with the
// class's own reader; parse_to_numpy and parse_to_arrow read RFC 3339 texts
// straight into a datetime64 array or an Arrow timestamp column of their
// instants.  Each returns everything or raises at the first element that
// fails, naming its index (its row, in an Arrow column).
#include <algorithm>
#include <type_traits>
#include <utility>

#include "core/date.hpp"
#include "core/datetime.hpp"
#include "core/instant_units.hpp"
#include "core/rfc3339.hpp"
#include "core/rfc3339_fast.hpp"
#include "core/time.hpp"
#include "interop/columns/arrow.hpp"
#include "interop/columns/columns.hpp"
#include "interop/text/text.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/offset.hpp"
#include "module/time.hpp"

namespace merandol::py {

using namespace columns;

// --- The texts of a column --------------------------------------------------

// An element of a numpy str array longer than this is made into a str and
// read like one; every valid text without padding is shorter (a date-time
// with offset has at most 42 characters).
inline constexpr std::size_t kShortText = 64;
static_assert(kRfc3339TextMax <= kShortText);

// A list or tuple is read in place; a one-dimensional numpy array of str
// (dtype U: UCS4 code points, padded with NUL) straight from its buffer; any
// other iterable is first copied to a list.
struct Texts {
    PyObject *seq = nullptr;  // the list or tuple, or nullptr for an array
    Py_buffer view{};
    Py_ssize_t size = 0;
    Py_ssize_t chars = 0;  // code points per array element

    Texts() = default;
    Texts(const Texts &) = delete;
    Texts &operator=(const Texts &) = delete;
    ~Texts() {
        if (seq != nullptr)
            Py_DECREF(seq);
        else if (view.obj != nullptr)
            PyBuffer_Release(&view);
    }

    // An array element as ASCII in `out` (kShortText bytes), without the
    // interpreter; false when it is longer or holds a code point beyond
    // ASCII.
    bool ascii(Py_ssize_t i, char *out, std::size_t &n) const noexcept;

    // A new reference to element i as an exact str, from either kind.
    PyObject *str(Py_ssize_t i) const;

    // Calls visit(i, text) with the UTF-8 text of element i: an array's
    // short ASCII element straight from the buffer, any other through str;
    // or visit(i) for a missing value.
    template <class Visit>
    bool visit_one(Py_ssize_t i, Visit &&visit) const;

private:
    const char *array_item(Py_ssize_t i) const noexcept {
        return static_cast<const char *>(view.buf) + i * view.strides[0];
    }
};

// "Nw" with an optional native or little-endian prefix: UCS4 of N code
// points in this machine's order.  Big-endian arrays are read through str.
static bool ucs4_format(const char *format, Py_ssize_t &chars) {
    if (format == nullptr) return false;
    if (*format == '<' || *format == '=' || *format == '@') ++format;
    Py_ssize_t n = 0;
    bool counted = false;
    for (; *format >= '0' && *format <= '9'; ++format, counted = true) n = n * 10 + (*format - '0');
    if (format[0] != 'w' || format[1] != '\0') return false;
    chars = counted ? n : 1;
    return true;
}

static bool open_texts(PyObject *texts, Texts &out) {
    if (PyUnicode_Check(texts) || PyBytes_Check(texts)) {
        PyErr_Format(PyExc_TypeError, "texts must be an iterable of str, not a single '%T'", texts);
        return false;
    }
    if (!PyList_Check(texts) && !PyTuple_Check(texts) && PyObject_CheckBuffer(texts)) {
        if (PyObject_GetBuffer(texts, &out.view, PyBUF_RECORDS_RO) == 0) {
            const bool aligned = reinterpret_cast<std::uintptr_t>(out.view.buf) % 4 == 0 &&
                                 (out.view.ndim != 1 || out.view.strides[0] % 4 == 0);
            if (aligned && ucs4_format(out.view.format, out.chars) && out.view.itemsize == 4 * out.chars) {
                if (out.view.ndim != 1) {
                    PyErr_Format(PyExc_ValueError, "texts must be one-dimensional, not an array of %d dimensions",
                                 out.view.ndim);
                    return false;
                }
                out.size = out.view.shape[0];
                return true;
            }
            PyBuffer_Release(&out.view);
        } else if (PyErr_ExceptionMatches(PyExc_BufferError) || PyErr_ExceptionMatches(PyExc_ValueError)) {
            PyErr_Clear();  // no buffer of this kind (numpy refuses with ValueError): iterated like any other object
        } else {
            return false;  // out of memory, say: no refusal
        }
    }
    out.seq = PySequence_Fast(texts, "texts must be an iterable of str");
    if (out.seq == nullptr) return false;
    out.size = PySequence_Fast_GET_SIZE(out.seq);
    return true;
}

static inline std::uint32_t code_point(const char *item, Py_ssize_t i) noexcept {
    std::uint32_t c;
    std::memcpy(&c, item + 4 * i, 4);
    return c;
}

// The code points of an array element before its NUL padding.
static inline Py_ssize_t unpadded_length(const char *item, Py_ssize_t chars) noexcept {
    while (chars > 0 && code_point(item, chars - 1) == 0) --chars;
    return chars;
}

// open_texts reads an array's buffer only when its elements are aligned to
// 4 bytes, so that the code points are read as such and the narrowing loop is
// vectorised.
bool Texts::ascii(Py_ssize_t i, char *out, std::size_t &n) const noexcept {
    const char *item = array_item(i);
    Py_ssize_t count = chars;
    if (static_cast<std::size_t>(count) > kShortText) {
        // A wide dtype: only the element's own length must be short.
        count = unpadded_length(item, count);
        if (static_cast<std::size_t>(count) > kShortText) return false;
    }
    // Every code point of the element, padding included, in one loop of a
    // fixed count for the whole array; the padding's NULs are then cut off.
    const auto *codes = static_cast<const std::uint32_t *>(__builtin_assume_aligned(item, 4));
    std::uint32_t seen = 0;
    for (Py_ssize_t k = 0; k < count; ++k) {
        seen |= codes[k];
        out[k] = static_cast<char>(codes[k]);
    }
    std::size_t length = static_cast<std::size_t>(count);
    while (length > 0 && out[length - 1] == 0) --length;
    n = length;
    return seen < 0x80;
}

// numpy.str_ shows its class in its repr, so an element is made an exact
// str for messages.
PyObject *Texts::str(Py_ssize_t i) const {
    if (seq != nullptr) {
        PyObject *item = PySequence_Fast_ITEMS(seq)[i];
        return PyUnicode_CheckExact(item) ? Py_NewRef(item) : PyUnicode_FromObject(item);
    }
    const char *item = array_item(i);
    const Py_ssize_t length = unpadded_length(item, chars);
    std::uint32_t max = 0;
    for (Py_ssize_t k = 0; k < length; ++k) max = std::max(max, code_point(item, k));
    if (max > 0x10ffff)
        return PyErr_Format(PyExc_ValueError, "texts[%zd] holds U+%X, which is not a code point", i, max);
    PyObject *s = PyUnicode_New(length, static_cast<Py_UCS4>(max));
    if (s == nullptr) return nullptr;
    const int kind = PyUnicode_KIND(s);
    void *data = PyUnicode_DATA(s);
    for (Py_ssize_t k = 0; k < length; ++k) PyUnicode_WRITE(kind, data, k, code_point(item, k));
    return s;
}

// None, a float NaN and pandas' NA and NaT: what pandas' and polars' own
// readers take for a missing value among texts.  pandas is not imported
// for this: its classes are known by their qualified names.
static bool is_missing(PyObject *item) {
    if (item == Py_None) return true;
    if (PyFloat_Check(item)) return std::isnan(PyFloat_AS_DOUBLE(item));
    const std::string_view short_name = Py_TYPE(item)->tp_name;
    if (!short_name.ends_with("NAType") && !short_name.ends_with("NaTType")) return false;
    PyObject *name = PyType_GetFullyQualifiedName(Py_TYPE(item));
    const bool missing = name != nullptr && (PyUnicode_EqualToUTF8(name, "pandas._libs.missing.NAType") ||
                                             PyUnicode_EqualToUTF8(name, "pandas._libs.tslibs.nattype.NaTType"));
    if (name == nullptr) PyErr_Clear();
    Py_XDECREF(name);
    return missing;
}

// utf8_of() for any element but an ASCII str.
[[gnu::noinline]] static bool utf8_of_slow(PyObject *item, Py_ssize_t i, std::string_view &out) {
    if (MERANDOL_UNLIKELY(!PyUnicode_Check(item))) {
        PyErr_Format(PyExc_TypeError, "texts[%zd] is '%T', not str or a missing value", i, item);
        return false;
    }
    Py_ssize_t size;
    const char *utf8 = PyUnicode_AsUTF8AndSize(item, &size);
    if (utf8 == nullptr) {
        note_index(i);
        return false;
    }
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

// The UTF-8 text of an element that must be a str.  Always inlined into
// the loops over elements, which link-time optimization stopped doing as
// the module grew (parse_to_numpy with a pattern took 5% longer).
[[gnu::always_inline]] static inline bool utf8_of(PyObject *item, Py_ssize_t i, std::string_view &out) {
    if (PyUnicode_Check(item) && PyUnicode_IS_COMPACT_ASCII(item)) [[likely]] {
        out = std::string_view(static_cast<const char *>(PyUnicode_DATA(item)),
                               static_cast<std::size_t>(PyUnicode_GET_LENGTH(item)));
        return true;
    }
    return utf8_of_slow(item, i, out);
}

template <class Visit>
bool Texts::visit_one(Py_ssize_t i, Visit &&visit) const {
    if (seq != nullptr) {
        PyObject *item = PySequence_Fast_ITEMS(seq)[i];
        if (MERANDOL_UNLIKELY(!PyUnicode_Check(item)) && is_missing(item)) return visit(i);
        std::string_view text;
        return utf8_of(item, i, text) && visit(i, text);
    }
    char buffer[kShortText];
    std::size_t n;
    if (ascii(i, buffer, n)) return visit(i, std::string_view(buffer, n));
    PyObject *s = str(i);
    if (s == nullptr) return false;
    std::string_view text;
    const bool ok = utf8_of(s, i, text) && visit(i, text);
    Py_DECREF(s);
    return ok;
}

// How many items ahead of the one read a list's str is fetched; 8, 16 and
// 32 measured alike on 10^6 texts.
inline constexpr Py_ssize_t kPrefetchAhead = 16;

// Calls visit(i, text), or visit(i) for a missing value, for every element
// in order until it returns false.
// A list is held in a critical section and read afresh at every step, since
// an allocation in `visit` may run a collection, and with it code that
// changes the list.  Where eight items from a multiple of eight on are
// there, batch(i, items) may read items[0] to items[7] (the list's, from
// i) at once: it answers kBatchRead, or kBatchLeft when they are to be
// visited one by one, or kBatchFailed with an error set.
struct NoBatch {};
enum BatchOutcome : std::uint8_t { kBatchLeft, kBatchRead, kBatchFailed };

template <class Visit, class Batch = NoBatch>
static bool each_text(const Texts &t, Visit &&visit, Batch &&batch = {}) {
    if (t.seq == nullptr) {
        for (Py_ssize_t i = 0; i < t.size; ++i)
            if (!t.visit_one(i, visit)) return false;
        return true;
    }
    bool ok = true;
    Py_BEGIN_CRITICAL_SECTION(t.seq);
    for (Py_ssize_t i = 0; ok && i < t.size; ++i) {
        const Py_ssize_t now = PySequence_Fast_GET_SIZE(t.seq);
        if (MERANDOL_UNLIKELY(i >= now)) {
            PyErr_SetString(PyExc_RuntimeError, "texts changed size while it was read");
            ok = false;
            break;
        }
        // The items lie apart on the heap; fetching later ones while these
        // are read hides most of the wait for memory.
        PyObject **items = PySequence_Fast_ITEMS(t.seq);
        if constexpr (!std::is_same_v<std::remove_cvref_t<Batch>, NoBatch>) {
            if (i % kFastBatch == 0 && std::min(t.size, now) - i >= static_cast<Py_ssize_t>(kFastBatch)) {
                for (Py_ssize_t ahead = i + kPrefetchAhead;
                     ahead < std::min(i + kPrefetchAhead + static_cast<Py_ssize_t>(kFastBatch), now); ++ahead) {
                    __builtin_prefetch(items[ahead]);
                    __builtin_prefetch(reinterpret_cast<const char *>(items[ahead]) + 64);
                }
                const BatchOutcome outcome = batch(i, items + i);
                if (outcome == kBatchFailed) {
                    ok = false;
                    break;
                }
                if (outcome == kBatchRead) {
                    i += kFastBatch - 1;
                    continue;
                }
            }
        }
        if (i + kPrefetchAhead < now) {
            const char *ahead = reinterpret_cast<const char *>(items[i + kPrefetchAhead]);
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + 64);
        }
        ok = t.visit_one(i, visit);
    }
    Py_END_CRITICAL_SECTION();
    return ok;
}

// Eight list items through the fast path's batch: true when all are ASCII
// str of its shape, their instants and offsets then in `batch`.
[[gnu::always_inline]] static inline bool read_eight(PyObject *const *items, FastReadBatch read_batch,
                                                     FastBatch &batch) noexcept {
    const char *texts[kFastBatch];
    std::size_t sizes[kFastBatch];
    for (std::size_t k = 0; k < kFastBatch; ++k) {
        PyObject *item = items[k];
        if (!PyUnicode_Check(item) || !PyUnicode_IS_COMPACT_ASCII(item)) return false;
        texts[k] = static_cast<const char *>(PyUnicode_DATA(item));
        sizes[k] = static_cast<std::size_t>(PyUnicode_GET_LENGTH(item));
    }
    return read_batch(texts, sizes, batch) == (1u << kFastBatch) - 1;
}

// Raises the error of element i, refused with `outcome`.
static bool element_error(PyTypeObject *cls, const Texts &t, Py_ssize_t i, Outcome outcome, const char *target) {
    PyObject *text = t.str(i);
    if (text == nullptr) return false;
    text_error(cls, text, outcome, {"texts", i}, target);
    Py_DECREF(text);
    return false;
}

// --- parse_many -------------------------------------------------------------

// Eight list items that are all ASCII str of the fast path's shape, read
// by its batch into OffsetDateTime values at result[i] to result[i + 7].
static BatchOutcome wrap_eight(PyObject *const *items, FastReadBatch read_batch, PyObject *result, Py_ssize_t i) {
    FastBatch batch;
    if (!read_eight(items, read_batch, batch)) return kBatchLeft;
    // Every value before any object: the items are not read again.
    OffsetDateTime values[kFastBatch];
    for (std::size_t k = 0; k < kFastBatch; ++k) {
        const auto utc = from_unix_timestamp(batch.seconds[k], static_cast<std::int32_t>(batch.nanosecond[k]));
        if (!utc) return kBatchLeft;
        values[k] = from_utc(*utc, UtcOffset{batch.offset[k]});
    }
    for (std::size_t k = 0; k < kFastBatch; ++k) {
        PyObject *o = OffsetDateTimeObject::wrap(values[k]);
        if (o == nullptr) return kBatchFailed;
        PyList_SET_ITEM(result, i + static_cast<Py_ssize_t>(k), o);
    }
    return kBatchRead;
}

template <class Object, auto reader>
static PyObject *parse_column(const Texts &t) {
    PyObject *result = PyList_New(t.size);
    if (result == nullptr) return nullptr;
    auto visit = Overload{
        [&](Py_ssize_t i, std::string_view text) {
            const auto value = reader(text);
            if (MERANDOL_UNLIKELY(!value)) return element_error(Object::type(), t, i, Outcome::Unreadable, nullptr);
            PyObject *o = Object::wrap(*value);
            if (o == nullptr) return false;
            PyList_SET_ITEM(result, i, o);
            return true;
        },
        [&](Py_ssize_t i) {
            PyList_SET_ITEM(result, i, Py_NewRef(Py_None));
            return true;
        },
    };
    bool ok;
    // RFC 3339 texts of a list eight at a time through the fast path.
    if constexpr (std::is_same_v<Object, OffsetDateTimeObject>) {
        const FastReadBatch read_batch = fast_batch_reader_bounded(best_fast_kernel());
        ok = each_text(t, visit,
                       [&](Py_ssize_t i, PyObject *const *items) { return wrap_eight(items, read_batch, result, i); });
    } else {
        ok = each_text(t, visit);
    }
    if (ok) return result;
    Py_DECREF(result);
    return nullptr;
}

using ParsedClasses = ClassSet<ClassId::Date, ClassId::Time, ClassId::DateTime, ClassId::OffsetDateTime>;

// The rows of an Arrow string column as a list, each text made an object
// by `make(row, text)` (a new reference, or nullptr with the error set);
// nulls give None.
template <class Make>
class RowObjects final : public arrow_columns::TextVisitor {
public:
    PyObject *result = nullptr;

    explicit RowObjects(Make make) noexcept : make_(make) {}
    RowObjects(const RowObjects &) = delete;
    RowObjects &operator=(const RowObjects &) = delete;
    ~RowObjects() { Py_XDECREF(result); }

    bool start(std::int64_t rows) override {
        result = PyList_New(static_cast<Py_ssize_t>(rows));
        return result != nullptr;
    }
    bool text(std::int64_t row, std::string_view text) override {
        PyObject *o = make_(row, text);
        if (o == nullptr) return false;
        PyList_SET_ITEM(result, static_cast<Py_ssize_t>(row), o);
        return true;
    }
    bool null(std::int64_t row) override {
        PyList_SET_ITEM(result, static_cast<Py_ssize_t>(row), Py_NewRef(Py_None));
        return true;
    }

private:
    Make make_;
};

// parse_many() of an Arrow column where `texts` exports one: 1 with the
// list in `result`, -1 with the error set, 0 when `texts` is a list, a
// tuple or another object without Arrow's interface.
template <class Make>
static int parse_arrow_rows(PyObject *texts, Make make, PyObject *&result) {
    if (PyList_CheckExact(texts) || PyTuple_CheckExact(texts)) return 0;
    RowObjects<Make> rows(make);
    const int found = arrow_columns::visit_texts(texts, "parse_many()", rows);
    if (found > 0) result = std::exchange(rows.result, nullptr);
    return found;
}

// An Arrow column where texts exports one, else the texts read in place.
template <class Object, auto reader>
static PyObject *parse_texts(PyObject *texts_object) {
    const auto read = [](std::int64_t row, std::string_view text) -> PyObject * {
        const auto value = reader(text);
        if (MERANDOL_UNLIKELY(!value)) {
            text_error(Object::type(), text, Outcome::Unreadable, {nullptr, row}, nullptr);
            return nullptr;
        }
        return Object::wrap(*value);
    };
    PyObject *rows = nullptr;
    if (const int found = parse_arrow_rows(texts_object, read, rows); found != 0) return found > 0 ? rows : nullptr;
    Texts texts;
    if (!open_texts(texts_object, texts)) return nullptr;
    return parse_column<Object, reader>(texts);
}

static PyObject *parse_many_formatted(PyObject *cls, ClassId id, PyObject *texts_object, PyObject *format);

static PyObject *parse_many(PyObject *, PyObject *cls, PyObject *texts_object, std::optional<PyObject *> format) {
    FormatHold held;
    if (!held.hold(format)) return nullptr;
    if (held.get() != nullptr) {
        const ClassId id = ParsedClasses::find(cls);
        if (id != ClassId::Count) return parse_many_formatted(cls, id, texts_object, held.get());
    }
    switch (ParsedClasses::find(cls)) {
        case ClassId::OffsetDateTime: return parse_texts<OffsetDateTimeObject, parse_rfc3339>(texts_object);
        case ClassId::DateTime: return parse_texts<DateTimeObject, parse_datetime>(texts_object);
        case ClassId::Date: return parse_texts<DateObject, parse_date>(texts_object);
        case ClassId::Time: return parse_texts<TimeObject, parse_time>(texts_object);
        default:
            return PyErr_Format(PyExc_TypeError, "parse_many() cls must be merandol's %s, not %R",
                                ParsedClasses::kNames.data(), cls);
    }
}
static constexpr auto parse_many_decl =
    module_function("parse_many", parse_many,
                    "Parse many texts with exactly cls.parse, or with a format.\n"
                    "\n"
                    "Args:\n"
                    "    cls: Date, Time, DateTime or OffsetDateTime.\n"
                    "    texts: What parse_to_numpy takes: an iterable of str (lists, tuples and\n"
                    "        numpy str arrays are read in place) or an Arrow string column.\n"
                    "    format: A Format, a named form (ISO8601, RFC2822, HTTP_DATE) or a\n"
                    "        pattern (a str) that reads each text in place of cls.parse, or\n"
                    "        None (default=None).\n"
                    "\n"
                    "Returns:\n"
                    "    list: The cls values read from the texts; None for a missing value\n"
                    "    (None, a float NaN, pandas' NA or NaT, an Arrow null).\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: The error cls.parse (or format.parse) raises for the first\n"
                    "        text it refuses, with a note naming its index.\n"
                    "    TypeError: For an element that is not a str, and for a text the format\n"
                    "        reads into another class than cls, naming its index.",
                    param<Any>("cls"), param<Any>("texts"), param<OrNone<FormatArg>>("format", {}).keyword_only());

// --- parse_to_numpy ---------------------------------------------------------

// The instant of an RFC 3339 text in units of NanosPerUnit nanoseconds;
// `readable` bytes from the text's start may be read.
template <std::int64_t NanosPerUnit>
static inline Outcome read_instant(std::string_view text, std::size_t readable, std::int64_t &out) noexcept {
    // The instant straight from the text, without the fields that
    // OffsetDateTime.parse makes; the text is refused exactly when that
    // reader refuses it, its UTC reading leaving the range included.
    Rfc3339Instant instant;
    if (MERANDOL_UNLIKELY(!read_rfc3339_instant(text, readable, instant))) return Outcome::Unreadable;
    if (MERANDOL_UNLIKELY(instant.nanosecond % NanosPerUnit != 0)) return Outcome::Remainder;
    return instant_to_units<NanosPerUnit>(instant.seconds, instant.nanosecond, out) ? Outcome::Ok : Outcome::OutOfRange;
}

// Array elements from `i` on, up to the first that is not short ASCII or
// not a valid instant in range; returns its index (the size when none).
// Runs without the interpreter: it reads only the array's buffer, which the
// view keeps alive, and writes only the new array.
template <std::int64_t NanosPerUnit>
static Py_ssize_t fill_from_array(const Texts &t, Py_ssize_t i, std::int64_t *out) noexcept {
    for (; i < t.size; ++i) {
        char buffer[kShortText];
        std::size_t n;
        if (!t.ascii(i, buffer, n) ||
            read_instant<NanosPerUnit>(std::string_view(buffer, n), sizeof buffer, out[i]) != Outcome::Ok)
            break;
    }
    return i;
}

// Eight list items that are all ASCII str of the fast path's shape, with
// instants the unit holds exactly, into out[0] to out[7]; false otherwise
// (some of out may then be written).
template <std::int64_t NanosPerUnit>
static bool fill_eight(PyObject *const *items, FastReadBatch read_batch, std::int64_t *out) noexcept {
    FastBatch batch;
    if (!read_eight(items, read_batch, batch)) return false;
    bool held = true;
    for (std::size_t k = 0; k < kFastBatch; ++k)
        held &= batch.nanosecond[k] % NanosPerUnit == 0 &&
                instant_to_units<NanosPerUnit>(batch.seconds[k], batch.nanosecond[k], out[k]);
    return held;
}

template <std::int64_t NanosPerUnit>
static bool fill_instants(const Texts &t, std::int64_t *out, const char *target, Py_ssize_t &missing) {
    auto fill = Overload{
        [&](Py_ssize_t i, std::string_view text) {
            const Outcome outcome = read_instant<NanosPerUnit>(text, text.size(), out[i]);
            return outcome == Outcome::Ok || element_error(OffsetDateTimeObject::type(), t, i, outcome, target);
        },
        [&](Py_ssize_t i) {
            out[i] = INT64_MIN;
            ++missing;
            return true;
        },
    };
    if (t.seq != nullptr) {
        const FastReadBatch read_batch = fast_batch_reader_bounded(best_fast_kernel());
        return each_text(t, fill, [&](Py_ssize_t i, PyObject *const *items) {
            return fill_eight<NanosPerUnit>(items, read_batch, out + i) ? kBatchRead : kBatchLeft;
        });
    }
    // An array's element that is long or not ASCII, and every error, is
    // read again with the interpreter.
    for (Py_ssize_t i = 0;; ++i) {
        Py_BEGIN_ALLOW_THREADS;
        i = fill_from_array<NanosPerUnit>(t, i, out);
        Py_END_ALLOW_THREADS;
        if (i == t.size) return true;
        if (!t.visit_one(i, fill)) return false;
    }
}

// The unit that texts are read in, s to ns; false with ValueError set for
// any other.
static bool text_unit(Kept<std::string_view> name, Unit &out) {
    if (find_unit(name.value, out) && is_second_fraction(out)) return true;
    PyErr_Format(PyExc_ValueError, "unit must be 's', 'ms', 'us' or 'ns', not %R", name.object);
    return false;
}

// Reads every text into its instant in `unit` at out[i], a missing value
// into INT64_MIN (NaT, which no text reads to), counted in `missing`;
// `target` names the result's type in messages.
static bool fill_instants_in(Unit unit, const Texts &t, std::int64_t *out, const char *target, Py_ssize_t &missing) {
    switch (unit) {
        case Unit::s: return fill_instants<info(Unit::s).num>(t, out, target, missing);
        case Unit::ms: return fill_instants<info(Unit::ms).num>(t, out, target, missing);
        case Unit::us: return fill_instants<info(Unit::us).num>(t, out, target, missing);
        default: return fill_instants<info(Unit::ns).num>(t, out, target, missing);
    }
}

// --- Texts in a format --------------------------------------------------------

// How reading a text in a format ended, beyond Outcome's own ways.
enum class FormFault : std::uint8_t {
    Ok,
    Refused,     // the form refuses the text (the TextError says why)
    Beyond,      // its instant lies beyond merandol's range
    OutOfRange,  // the value does not fit the column's unit
    Remainder,   // a fraction finer than the unit
    OtherKind,   // the form gives another class than the column's
    Skipped,     // a reading that a change of the zone's offset skips, with disambiguate='raise'
    Repeated,    // ... or repeats
};

// The texts of a column read in one form, each into the number its column
// holds: an instant (or a reading without a zone) in units of NanosPerUnit
// nanoseconds, a Date's days from 1970-01-01, a Time's units from
// midnight.  The column's class is the form's, or, for a form whose class
// follows the text, the first text's.  Runs without the interpreter.
struct FormColumn {
    const TextForm *form;
    TextKind kind;                             // ByText until the first text of ISO8601
    std::optional<OffsetOrZone::Value> place;  // where readings without an offset were made
    Disambiguate how;
    // Of the last text refused: the form's error, or the class it gave.
    TextError error{};
    TextKind read_kind = TextKind::ByText;
    DateTime reading{};

    // The form when its usual texts give their instants at once (a plain
    // pattern with its offset, or without one and read without a zone),
    // and how far before them the reading was made.
    const Pattern *plain;
    std::int64_t plain_shift;

    FormColumn(const TextForm &f, std::optional<OffsetOrZone::Value> at, Disambiguate disambiguate) noexcept
        : form(&f),
          kind(f.kind()),
          place(at),
          how(disambiguate),
          plain(kind == TextKind::DateTime && at && at->zone ? nullptr : f.plain_instants()),
          plain_shift(kind == TextKind::DateTime && at ? at->offset.seconds : 0) {}

    template <std::int64_t NanosPerUnit>
    [[gnu::always_inline]] FormFault read(std::string_view text, std::int64_t &out) noexcept {
        if (std::int64_t seconds; plain != nullptr && plain->read_plain_instant(text, seconds)) {
            // Years 0 to 9999, far inside the range of seconds at any offset.
            return instant_to_units<NanosPerUnit>(seconds - plain_shift, 0, out) ? FormFault::Ok
                                                                                 : FormFault::OutOfRange;
        }
        const auto value = form->read(text);
        if (MERANDOL_UNLIKELY(!value)) {
            error = value.error();
            return FormFault::Refused;
        }
        const TextValue &v = *value;
        if (MERANDOL_UNLIKELY(v.kind != kind)) {
            read_kind = v.kind;
            if (kind != TextKind::ByText) return FormFault::OtherKind;
            kind = v.kind;
        }
        std::int64_t seconds;
        switch (v.kind) {
            case TextKind::Date: out = days_since_unix_epoch(v.date); return FormFault::Ok;
            case TextKind::Time: {
                const std::uint64_t nanos = nanos_since_midnight(v.time);
                if (nanos % NanosPerUnit != 0) return FormFault::Remainder;
                out = static_cast<std::int64_t>(nanos / NanosPerUnit);
                return FormFault::Ok;
            }
            case TextKind::OffsetDateTime:
                seconds = unix_timestamp(DateTime{v.date, v.time}) - v.offset.seconds;
                if (seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds) return FormFault::Beyond;
                break;
            default: {
                seconds = unix_timestamp(DateTime{v.date, v.time});
                if (!place) break;
                if (place->zone == nullptr) {
                    seconds -= place->offset.seconds;
                    if (seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds) return FormFault::Beyond;
                    break;
                }
                const auto placed = from_zone_local(*place->zone, DateTime{v.date, v.time}, how);
                if (MERANDOL_UNLIKELY(!placed)) {
                    reading = DateTime{v.date, v.time};
                    return placed.error() == ZoneLocalError::Skipped    ? FormFault::Skipped
                           : placed.error() == ZoneLocalError::Repeated ? FormFault::Repeated
                                                                        : FormFault::Beyond;
                }
                seconds = unix_timestamp(placed->utc);
            }
        }
        if (v.time.nanosecond % NanosPerUnit != 0) return FormFault::Remainder;
        return instant_to_units<NanosPerUnit>(seconds, v.time.nanosecond, out) ? FormFault::Ok : FormFault::OutOfRange;
    }
};

static const char *kind_name(TextKind kind) {
    static constexpr const char *kNames[] = {"Date", "Time", "DateTime", "OffsetDateTime", "text"};
    return kNames[static_cast<unsigned>(kind)];
}

// The name of the column a kind gives in `unit`, for messages: numpy's
// dtype, or Arrow's type.
static const char *column_type_name(TextKind kind, Unit unit, bool arrow) {
    static constexpr const char *kTimes[] = {"time32[s]", "time32[ms]", "time64[us]", "time64[ns]"};
    static constexpr const char *kDeltas[] = {"timedelta64[s]", "timedelta64[ms]", "timedelta64[us]",
                                              "timedelta64[ns]"};
    const auto at = static_cast<std::size_t>(unit) - static_cast<std::size_t>(Unit::s);
    switch (kind) {
        case TextKind::Date: return arrow ? "date32[day]" : "datetime64[D]";
        case TextKind::Time: return arrow ? kTimes[at] : kDeltas[at];
        default: return arrow ? info(unit).arrow_type : info(unit).datetime64;
    }
}

// Raises the error of a text refused with `fault`, at `place`.
static bool form_error(PyObject *format, PyObject *zone, const FormColumn &c, FormFault fault, std::string_view text,
                       Place place, Unit unit, bool arrow) {
    auto note = [&] {
        if (place.sequence != nullptr)
            add_note("at index %lld", place.index);
        else
            add_note("at row %lld", place.index);
    };
    switch (fault) {
        case FormFault::Refused: text_refused(format, text, c.error), note(); return false;
        case FormFault::Beyond: instant_refused(format, text), note(); return false;
        case FormFault::OutOfRange:
        case FormFault::Remainder:
            return text_error(OffsetDateTimeObject::type(), text,
                              fault == FormFault::OutOfRange ? Outcome::OutOfRange : Outcome::Remainder, place,
                              column_type_name(c.kind, unit, arrow));
        case FormFault::OtherKind:
            PyErr_Format(PyExc_TypeError, "the %s reads as %s, but those before it read as %s",
                         place.sequence ? "text" : "row", kind_name(c.read_kind), kind_name(c.kind));
            note();
            return false;
        default: {
            char shown[kDateTimeTextMax];
            char *end = write_datetime(shown, c.reading) - 1;  // without the "Z"
            PyErr_Format(PyExc_ValueError, "%.*s is %s in %S: a change of offset %s it (disambiguate='raise')",
                         static_cast<int>(end - shown), shown, fault == FormFault::Skipped ? "skipped" : "repeated",
                         zone, fault == FormFault::Skipped ? "skips" : "repeats");
            note();
            return false;
        }
    }
}

// The arguments that say how texts in a format become a column.
struct FormArgs {
    PyObject *format;
    Kept<std::optional<OffsetOrZone::Value>> zone;
    Disambiguate how;
};

// Every text of `t` into out[i] through `c`, a missing value into
// INT64_MIN, counted in `missing`.
template <std::int64_t NanosPerUnit>
static bool fill_in_form(const Texts &t, FormColumn &c, const FormArgs &args, Unit unit, bool arrow, std::int64_t *out,
                         Py_ssize_t &missing) {
    auto fill = Overload{
        [&](Py_ssize_t i, std::string_view text) {
            const FormFault fault = c.read<NanosPerUnit>(text, out[i]);
            return fault == FormFault::Ok ||
                   form_error(args.format, args.zone.object, c, fault, text, {"texts", i}, unit, arrow);
        },
        [&](Py_ssize_t i) {
            out[i] = INT64_MIN;
            ++missing;
            return true;
        },
    };
    return each_text(t, fill);
}

// The rows of an Arrow string column through `c`, without the interpreter.
template <std::int64_t NanosPerUnit>
class FormRows final : public arrow_columns::RowReader {
public:
    FormRows(FormColumn &c, const FormArgs &args, Unit unit, bool arrow) noexcept
        : c_(c), args_(args), unit_(unit), arrow_(arrow) {}
    FormRows(const FormRows &) = delete;
    FormRows &operator=(const FormRows &) = delete;
    ~FormRows() { std::free(values); }

    std::int64_t *values = nullptr;
    std::int64_t rows = 0, missing = 0;

    bool start(std::int64_t n) override {
        rows = n;
        if (static_cast<std::uint64_t>(n) > PY_SSIZE_T_MAX / sizeof(std::int64_t)) {
            PyErr_NoMemory();
            return false;
        }
        values = static_cast<std::int64_t *>(arrow_columns::Columnar::allocate_buffer(static_cast<std::size_t>(n) * 8));
        return values != nullptr;
    }
    bool text(std::int64_t row, std::string_view text) noexcept override {
        fault_ = c_.read<NanosPerUnit>(text, values[row]);
        return fault_ == FormFault::Ok;
    }
    void null(std::int64_t row) noexcept override {
        values[row] = INT64_MIN;
        ++missing;
    }
    void refused(std::int64_t row, std::string_view text) override {
        form_error(args_.format, args_.zone.object, c_, fault_, text, {nullptr, row}, unit_, arrow_);
    }
    bool reads_runs() const noexcept override { return c_.plain != nullptr; }
    std::int64_t read_run(const arrow::StringColumn &column, std::int64_t start, std::int64_t from, std::int64_t end,
                          std::int64_t &nulls) const noexcept override {
        constexpr arrow::TimeUnit kUnit = NanosPerUnit == 1         ? arrow::TimeUnit::Nano
                                          : NanosPerUnit == 1000    ? arrow::TimeUnit::Micro
                                          : NanosPerUnit == 1000000 ? arrow::TimeUnit::Milli
                                                                    : arrow::TimeUnit::Second;
        return arrow::read_plain_readings(column, *c_.plain, kUnit, c_.plain_shift, from, end, INT64_MIN,
                                          values + start, nulls);
    }
    void add_run_nulls(std::int64_t nulls) noexcept override { missing += nulls; }

private:
    FormColumn &c_;
    const FormArgs &args_;
    Unit unit_;
    bool arrow_;
    FormFault fault_ = FormFault::Ok;
};

// The numbers of a column of texts in a format: an Arrow column's rows or
// the texts read in place; `values` (`rows` of them, in memory that a
// Columnar may take as its block) hold INT64_MIN for a missing value.
// false with an error set.
struct FormNumbers {
    std::int64_t *values = nullptr;
    std::int64_t rows = 0, missing = 0;

    FormNumbers() = default;
    FormNumbers(const FormNumbers &) = delete;
    FormNumbers &operator=(const FormNumbers &) = delete;
    ~FormNumbers() { std::free(values); }
};

template <std::int64_t NanosPerUnit>
static bool read_in_form(PyObject *texts_object, FormColumn &c, const FormArgs &args, Unit unit, bool arrow,
                         const char *fn, FormNumbers &out) {
    FormRows<NanosPerUnit> rows(c, args, unit, arrow);
    const int found = arrow_columns::read_rows(texts_object, fn, rows);
    if (found < 0) return false;
    if (found > 0) {
        out.values = std::exchange(rows.values, nullptr);
        out.rows = rows.rows;
        out.missing = rows.missing;
        return true;
    }
    Texts texts;
    if (!open_texts(texts_object, texts)) return false;
    out.values =
        static_cast<std::int64_t *>(arrow_columns::Columnar::allocate_buffer(static_cast<std::size_t>(texts.size) * 8));
    if (out.values == nullptr) return false;
    out.rows = texts.size;
    Py_ssize_t missing = 0;
    const bool ok = fill_in_form<NanosPerUnit>(texts, c, args, unit, arrow, out.values, missing);
    out.missing = missing;
    return ok;
}

static bool read_formatted(PyObject *texts_object, FormColumn &c, const FormArgs &args, Unit unit, bool arrow,
                           const char *fn, FormNumbers &out) {
    switch (unit) {
        case Unit::s: return read_in_form<info(Unit::s).num>(texts_object, c, args, unit, arrow, fn, out);
        case Unit::ms: return read_in_form<info(Unit::ms).num>(texts_object, c, args, unit, arrow, fn, out);
        case Unit::us: return read_in_form<info(Unit::us).num>(texts_object, c, args, unit, arrow, fn, out);
        default: return read_in_form<info(Unit::ns).num>(texts_object, c, args, unit, arrow, fn, out);
    }
}

// zone= places readings without an offset, which only a format gives.
static bool check_form_args(const FormArgs &args, const char *fn) {
    if (args.format == nullptr && args.zone.value) {
        PyErr_Format(PyExc_ValueError, "%s: zone= places the readings of a format, and no format= was given", fn);
        return false;
    }
    return true;
}

static PyObject *parse_to_numpy_formatted(PyObject *texts_object, Unit unit, const FormArgs &args) {
    const Numpy *np = numpy("parse_to_numpy()");
    if (np == nullptr) return nullptr;
    FormColumn c(text_form_of(args.format), args.zone.value, args.how);
    FormNumbers numbers;
    if (!read_formatted(texts_object, c, args, unit, false, "parse_to_numpy()", numbers)) return nullptr;
    Py_buffer view;
    PyObject *array = new_int64_array(*np, static_cast<Py_ssize_t>(numbers.rows), view);
    if (array == nullptr) return nullptr;
    std::memcpy(view.buf, numbers.values, static_cast<std::size_t>(numbers.rows) * sizeof(std::int64_t));
    PyBuffer_Release(&view);
    // A column of no text has the class the form would give, or instants.
    const TextKind kind = c.kind == TextKind::ByText ? TextKind::OffsetDateTime : c.kind;
    return view_as(array, column_type_name(kind, unit, false));
}

// The type names of the columns parse_to_arrow makes that numpy has none
// of, by unit from s.
static constexpr const char *kArrowReadingTypes[] = {"timestamp[s]", "timestamp[ms]", "timestamp[us]", "timestamp[ns]"};

// Text that lives as long as the column: the format and the type name of a
// timestamp at a zone, in the block a column of two buffers leaves free.
static bool zone_texts(arrow_columns::Columnar &col, Unit unit, PyObject *key) {
    Py_ssize_t size;
    const char *key_text = PyUnicode_AsUTF8AndSize(key, &size);
    if (key_text == nullptr) return false;
    const std::string_view name = info(unit).name;
    const auto n = static_cast<std::size_t>(size);
    // "tsn:" key NUL, then "timestamp[" unit ", tz=" key "]" NUL.
    auto *text = static_cast<char *>(col.allocate(2, 4 + n + 1 + 10 + name.size() + 5 + n + 2));
    if (text == nullptr) return false;
    char *type = put(text, std::string_view(info(unit).arrow_format, 4));
    type = put(type, {key_text, n});
    *type++ = '\0';
    char *end = put(type, "timestamp[");
    end = put(end, name);
    end = put(end, ", tz=");
    end = put(end, {key_text, n});
    end = put(end, "]");
    *end = '\0';
    col.format = text;
    col.type_name = type;
    return true;
}

static PyObject *parse_to_arrow_formatted(PyObject *texts_object, Unit unit, const FormArgs &args) {
    using arrow_columns::Columnar;
    FormColumn c(text_form_of(args.format), args.zone.value, args.how);
    FormNumbers numbers;
    if (!read_formatted(texts_object, c, args, unit, true, "parse_to_arrow()", numbers)) return nullptr;
    const TextKind kind = c.kind == TextKind::ByText ? TextKind::OffsetDateTime : c.kind;
    const auto at = static_cast<std::size_t>(unit) - static_cast<std::size_t>(Unit::s);
    static constexpr const char *kTimeFormats[] = {"tts", "ttm", "ttu", "ttn"};
    const char *format = info(unit).arrow_format;
    PyObject *key = nullptr;
    if (kind == TextKind::Date) format = "tdD";
    if (kind == TextKind::Time) format = kTimeFormats[at];
    if (kind == TextKind::DateTime && !args.zone.value) format = "tsn:";
    if (kind == TextKind::DateTime && args.zone.value && args.zone.value->zone != nullptr)
        key = zone_key(args.zone.object);
    const char *type = column_type_name(kind, unit, true);
    if (kind == TextKind::DateTime && !args.zone.value) {
        static constexpr const char *kReadingFormats[] = {"tss:", "tsm:", "tsu:", "tsn:"};
        format = kReadingFormats[at];
        type = kArrowReadingTypes[at];
    }
    const bool narrow = kind == TextKind::Date || (kind == TextKind::Time && unit <= Unit::ms);
    Columnar *col = Columnar::make(format, type, numbers.rows, 2);
    if (col == nullptr) return nullptr;
    const auto rows = static_cast<std::size_t>(numbers.rows);
    // 64-bit values stay where they were read, the nulls' made 0 below.
    const std::int64_t *read = numbers.values;
    void *values = narrow ? col->allocate(0, rows * 4) : (col->blocks[0] = std::exchange(numbers.values, nullptr));
    auto *validity =
        values && numbers.missing > 0 ? static_cast<std::uint8_t *>(col->allocate(1, (rows + 7) / 8)) : nullptr;
    if (values == nullptr || (numbers.missing > 0 && validity == nullptr) ||
        (key != nullptr && !zone_texts(*col, unit, key))) {
        col->let_go();
        return nullptr;
    }
    if (validity != nullptr) std::memset(validity, 0, (rows + 7) / 8);
    for (std::size_t row = 0; (narrow || validity != nullptr) && row < rows; ++row) {
        std::int64_t v = read[row];
        if (v == INT64_MIN)
            v = 0;
        else if (validity != nullptr)
            set_bit(validity, static_cast<std::int64_t>(row));
        if (!narrow) {
            static_cast<std::int64_t *>(values)[row] = v;
        } else if (v >= INT32_MIN && v <= INT32_MAX) {
            static_cast<std::int32_t *>(values)[row] = static_cast<std::int32_t>(v);
        } else {
            col->let_go();
            return PyErr_Format(PyExc_ValueError, "row %lld holds a date outside the range of date32[day]",
                                static_cast<long long>(row));
        }
    }
    col->buffers[0] = validity;
    col->buffers[1] = values;
    col->null_count = numbers.missing;
    return arrow_columns::wrap_columnar(col);
}

static TextKind kind_of(ClassId id) {
    switch (id) {
        case ClassId::Date: return TextKind::Date;
        case ClassId::Time: return TextKind::Time;
        case ClassId::DateTime: return TextKind::DateTime;
        default: return TextKind::OffsetDateTime;
    }
}

// The object of one text read in a format, which must give `kind`; nullptr
// with the error, noted at `place`, otherwise.
static PyObject *formatted_object(PyObject *format, TextKind kind, std::string_view text, Place place) {
    const auto value = text_form_of(format).read(text);
    PyObject *o = nullptr;
    if (!value)
        text_refused(format, text, value.error());
    else if (value->kind != kind)
        PyErr_Format(PyExc_TypeError, "the text reads as %s, not %s", kind_name(value->kind), kind_name(kind));
    else
        o = text_value_object(format, text, *value);
    if (o == nullptr) {
        if (place.sequence != nullptr)
            add_note("at index %lld", place.index);
        else
            add_note("at row %lld", place.index);
    }
    return o;
}

static PyObject *parse_many_formatted(PyObject *, ClassId id, PyObject *texts_object, PyObject *format) {
    const TextKind kind = kind_of(id);
    const auto read = [format, kind](std::int64_t row, std::string_view text) {
        return formatted_object(format, kind, text, {nullptr, row});
    };
    PyObject *rows = nullptr;
    if (const int found = parse_arrow_rows(texts_object, read, rows); found != 0) return found > 0 ? rows : nullptr;
    Texts t;
    if (!open_texts(texts_object, t)) return nullptr;
    PyObject *result = PyList_New(t.size);
    if (result == nullptr) return nullptr;
    const bool ok = each_text(t, Overload{
                                     [&](Py_ssize_t i, std::string_view text) {
                                         PyObject *o = formatted_object(format, kind, text, {"texts", i});
                                         if (o == nullptr) return false;
                                         PyList_SET_ITEM(result, i, o);
                                         return true;
                                     },
                                     [&](Py_ssize_t i) {
                                         PyList_SET_ITEM(result, i, Py_NewRef(Py_None));
                                         return true;
                                     },
                                 });
    if (ok) return result;
    Py_DECREF(result);
    return nullptr;
}

static PyObject *parse_to_numpy(PyObject *, PyObject *texts_object, Kept<std::string_view> unit_name,
                                std::optional<PyObject *> format, Kept<std::optional<OffsetOrZone::Value>> zone,
                                Disambiguate how) {
    Unit unit;
    FormatHold held;
    if (!held.hold(format)) return nullptr;
    const FormArgs args{held.get(), zone, how};
    if (!text_unit(unit_name, unit) || !check_form_args(args, "parse_to_numpy()")) return nullptr;
    if (args.format != nullptr) return parse_to_numpy_formatted(texts_object, unit, args);
    const Numpy *np = numpy("parse_to_numpy()");
    if (np == nullptr) return nullptr;
    const char *dtype = info(unit).datetime64;
    Py_buffer view;
    // An Arrow column is read into its own buffers, then copied: the copy
    // costs a fraction of a nanosecond per element.
    if (arrow_columns::Columnar *c = arrow_columns::read_instants(texts_object, unit, "parse_to_numpy()", dtype)) {
        PyObject *array = new_int64_array(*np, static_cast<Py_ssize_t>(c->length), view);
        if (array != nullptr) {
            std::memcpy(view.buf, c->buffers[1], static_cast<std::size_t>(c->length) * sizeof(std::int64_t));
            PyBuffer_Release(&view);
        }
        c->let_go();
        return array ? view_as(array, dtype) : nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    Texts texts;
    if (!open_texts(texts_object, texts)) return nullptr;
    PyObject *array = new_int64_array(*np, texts.size, view);
    if (array == nullptr) return nullptr;
    Py_ssize_t missing = 0;
    const bool ok = fill_instants_in(unit, texts, static_cast<std::int64_t *>(view.buf), dtype, missing);
    PyBuffer_Release(&view);
    if (!ok) {
        Py_DECREF(array);
        return nullptr;
    }
    return view_as(array, dtype);
}
static constexpr auto parse_to_numpy_decl = module_function(
    "parse_to_numpy", parse_to_numpy,
    "Parse RFC 3339 texts, or texts in a format, into a numpy array.\n"
    "\n"
    "Args:\n"
    "    texts: An iterable of str, each read as OffsetDateTime.parse reads it;\n"
    "        lists, tuples and numpy str arrays are read in place, and so is an\n"
    "        Arrow string column.  A missing value (None, a float NaN, pandas' NA\n"
    "        or NaT, an Arrow null) gives NaT.\n"
    "    unit: 's', 'ms', 'us' or 'ns' (default='ns').\n"
    "    format: A Format, a named form or a pattern (a str) that reads each\n"
    "        text in place of OffsetDateTime.parse, or None (default=None).  Its\n"
    "        class gives the column: OffsetDateTime its instants; DateTime its\n"
    "        readings without a zone, or their instants where zone= says where\n"
    "        they were made; Date datetime64[D]; Time timedelta64[unit].\n"
    "        ISO8601's class is the first text's.\n"
    "    zone: A UtcOffset or a Zone where the readings of a DateTime format were\n"
    "        made, or None (default=None).\n"
    "    disambiguate: How a reading that the zone's changes skip or repeat is\n"
    "        settled, as in Zone.from_local (default='compatible').\n"
    "\n"
    "Returns:\n"
    "    numpy.ndarray: A datetime64[unit] array of the instants (with format=,\n"
    "    the column its class gives).\n"
    "\n"
    "Raises:\n"
    "    ValueError: The error OffsetDateTime.parse raises for the first text it\n"
    "        refuses, with a note naming its index; and for an instant outside\n"
    "        the unit's range or with a fraction of a second finer than the unit.",
    param<Any>("texts"), param<Keep<Text>>("unit", {"ns", nullptr}),
    param<OrNone<FormatArg>>("format", {}).keyword_only(), param<Keep<OrNone<OffsetOrZone>>>("zone", {}).keyword_only(),
    param<DisambiguateWord>("disambiguate", Disambiguate::Compatible).keyword_only());

// --- parse_to_arrow ----------------------------------------------------------------

static PyObject *parse_to_arrow(PyObject *, PyObject *texts_object, Kept<std::string_view> unit_name,
                                std::optional<PyObject *> format, Kept<std::optional<OffsetOrZone::Value>> zone,
                                Disambiguate how) {
    using arrow_columns::Columnar;
    Unit unit;
    FormatHold held;
    if (!held.hold(format)) return nullptr;
    const FormArgs args{held.get(), zone, how};
    if (!text_unit(unit_name, unit) || !check_form_args(args, "parse_to_arrow()")) return nullptr;
    if (args.format != nullptr) return parse_to_arrow_formatted(texts_object, unit, args);
    const UnitInfo &u = info(unit);
    Columnar *c = arrow_columns::read_instants(texts_object, unit, "parse_to_arrow()", u.arrow_type);
    if (c == nullptr) {
        if (PyErr_Occurred()) return nullptr;
        Texts texts;
        if (!open_texts(texts_object, texts)) return nullptr;
        c = Columnar::make(u.arrow_format, u.arrow_type, texts.size, 2);
        if (c == nullptr) return nullptr;
        auto *values = static_cast<std::int64_t *>(c->allocate(0, static_cast<std::size_t>(texts.size) * 8));
        c->buffers[1] = values;
        Py_ssize_t missing = 0;
        if (values == nullptr || !fill_instants_in(unit, texts, values, u.arrow_type, missing)) {
            c->let_go();
            return nullptr;
        }
        c->null_count = missing;
    }
    // NaT, a null's or a missing value's, becomes a null of Arrow's own.
    if (c->null_count > 0 && !arrow_columns::nat_to_nulls(*c)) {
        c->let_go();
        return nullptr;
    }
    return arrow_columns::wrap_columnar(c);
}
static constexpr auto parse_to_arrow_decl = module_function(
    "parse_to_arrow", parse_to_arrow,
    "Parse RFC 3339 texts, or texts in a format, into an Arrow column.\n"
    "\n"
    "Args:\n"
    "    texts: An Arrow string column (utf8, large_utf8 or string_view; an\n"
    "        array, a stream of chunks or a table of one such column), read where\n"
    "        its buffers lie, with nulls giving nulls; or anything parse_to_numpy\n"
    "        takes.  Each text is read as OffsetDateTime.parse reads it.\n"
    "    unit: 's', 'ms', 'us' or 'ns' (default='ns').\n"
    "    format: A Format, a named form or a pattern (a str) that reads each\n"
    "        text in place of OffsetDateTime.parse, or None (default=None).  Its\n"
    "        class gives the column: OffsetDateTime its instants; DateTime its\n"
    "        readings without a zone (timestamp[unit]), or their instants where\n"
    "        zone= says where they were made; Date date32; Time time32 (s, ms)\n"
    "        or time64 (us, ns).  ISO8601's class is the first text's.\n"
    "    zone: A UtcOffset or a Zone where the readings of a DateTime format were\n"
    "        made, or None (default=None).\n"
    "    disambiguate: How a reading that the zone's changes skip or repeat is\n"
    "        settled, as in Zone.from_local (default='compatible').\n"
    "\n"
    "Returns:\n"
    "    ArrowColumn: A column of timestamp[unit, tz=UTC] of the instants (tz the\n"
    "    zone's key for readings placed in a Zone).\n"
    "\n"
    "Raises:\n"
    "    ValueError: The error OffsetDateTime.parse raises for the first text it\n"
    "        refuses, with a note naming its row from the column's start; and\n"
    "        for an instant outside the unit's range or finer than the unit, and\n"
    "        for an Arrow array whose producer declares it wrongly.\n"
    "    TypeError: For another Arrow type.",
    param<Any>("texts"), param<Keep<Text>>("unit", {"ns", nullptr}),
    param<OrNone<FormatArg>>("format", {}).keyword_only(), param<Keep<OrNone<OffsetOrZone>>>("zone", {}).keyword_only(),
    param<DisambiguateWord>("disambiguate", Disambiguate::Compatible).keyword_only());

static PyMethodDef columns_functions[] = {
    row<parse_many_decl>(),
    row<parse_to_numpy_decl>(),
    row<parse_to_arrow_decl>(),
    kEndOfMethods,
};

extern const InteropUnit kColumnsUnit = {columns_functions, nullptr, {}};

}  // namespace merandol::py
