// Arrow columns through the PyCapsule interface: ArrowColumn, the result
// class that hands merandol's buffers to pyarrow, polars or DuckDB without
// a copy, and parse_to_arrow, which reads the string column any of them
// exports where its buffers lie.  No Arrow library is imported: the structs
// of the C Data Interface are the whole contract.
#include "interop/columns/arrow.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/date.hpp"
#include "core/datetime.hpp"
#include "core/rfc3339.hpp"
#include "interop/columns/columns.hpp"
#include "interop/zones/zones.hpp"

namespace merandol::py {

using namespace arrow_columns;
using arrow::StringColumn;
using arrow::StringLayout;

// --- The memory of a column --------------------------------------------------

inline constexpr std::size_t kArrowAlignment = 64;

Columnar *Columnar::make(const char *format, const char *type_name, std::int64_t length, std::int64_t n_buffers) {
    auto *c = static_cast<Columnar *>(std::malloc(sizeof(Columnar)));
    if (c == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    new (c) Columnar{{1}, format, type_name, length, 0, n_buffers, {}, {}};
    return c;
}

void *Columnar::allocate(int index, std::size_t bytes) {
    // aligned_alloc takes whole multiples of the alignment; an empty buffer
    // is still a real address, as consumers expect.
    const std::size_t rounded = (bytes + kArrowAlignment - 1) / kArrowAlignment * kArrowAlignment;
    void *memory = bytes > SIZE_MAX - kArrowAlignment
                       ? nullptr
                       : std::aligned_alloc(kArrowAlignment, rounded ? rounded : kArrowAlignment);
    if (memory == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    blocks[index] = memory;
    return memory;
}

void Columnar::let_go() noexcept {
    if (holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    for (void *block : blocks) std::free(block);
    this->~Columnar();
    std::free(this);
}

// --- Exports -------------------------------------------------------------------

// The format strings are constants, so a schema owns nothing.
static void release_schema(ArrowSchema *schema) { schema->release = nullptr; }

static void fill_schema(const Columnar &c, ArrowSchema &out) {
    out = {c.format, "", nullptr, ARROW_FLAG_NULLABLE, 0, nullptr, nullptr, release_schema, nullptr};
}

static void release_array(ArrowArray *array) {
    static_cast<Columnar *>(array->private_data)->let_go();
    array->release = nullptr;
}

static void fill_array(Columnar &c, ArrowArray &out) {
    c.hold();
    out = {c.length, c.null_count, 0, c.n_buffers, 0, c.buffers, nullptr, nullptr, release_array, &c};
}

// A stream of one array.
struct OneArrayStream {
    Columnar *columnar;
    bool given;
};

static int stream_schema(ArrowArrayStream *stream, ArrowSchema *out) {
    fill_schema(*static_cast<OneArrayStream *>(stream->private_data)->columnar, *out);
    return 0;
}

static int stream_next(ArrowArrayStream *stream, ArrowArray *out) {
    auto *state = static_cast<OneArrayStream *>(stream->private_data);
    if (state->given) {
        std::memset(out, 0, sizeof *out);  // the end: release is NULL
    } else {
        fill_array(*state->columnar, *out);
        state->given = true;
    }
    return 0;
}

static const char *stream_error(ArrowArrayStream *) { return nullptr; }

static void release_stream(ArrowArrayStream *stream) {
    auto *state = static_cast<OneArrayStream *>(stream->private_data);
    state->columnar->let_go();
    std::free(state);
    stream->release = nullptr;
}

// A capsule owns its struct: it releases what the consumer left unmoved,
// then frees the struct.
template <class Struct>
static void free_capsule(PyObject *capsule) {
    auto *s = static_cast<Struct *>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
    if (s == nullptr) {
        PyErr_Clear();
        return;
    }
    if (s->release != nullptr) s->release(s);
    std::free(s);
}

template <class Struct>
static PyObject *new_capsule(const char *name, Struct *&out) {
    out = static_cast<Struct *>(std::calloc(1, sizeof(Struct)));
    if (out == nullptr) return PyErr_NoMemory();
    PyObject *capsule = PyCapsule_New(out, name, free_capsule<Struct>);
    if (capsule == nullptr) std::free(out);
    return capsule;
}

// --- ArrowColumn -----------------------------------------------------------------

struct ArrowColumnObject {
    PyObject_HEAD
    Columnar *columnar;
};

static PyTypeObject *g_arrow_column_type;

static Columnar &columnar_of(PyObject *self) { return *reinterpret_cast<ArrowColumnObject *>(self)->columnar; }

// Takes the hold on `c`.
static PyObject *wrap_columnar(Columnar *c) {
    auto *self = PyObject_New(ArrowColumnObject, g_arrow_column_type);
    if (self == nullptr) {
        c->let_go();
        return nullptr;
    }
    self->columnar = c;
    return reinterpret_cast<PyObject *>(self);
}

static void arrow_column_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    columnar_of(self).let_go();
    PyObject_Free(self);
    Py_DECREF(type);
}

static PyObject *arrow_column_repr(PyObject *self) {
    const Columnar &c = columnar_of(self);
    return PyUnicode_FromFormat("ArrowColumn(%s, length=%lld)", c.type_name, static_cast<long long>(c.length));
}

static Py_ssize_t arrow_column_length(PyObject *self) { return static_cast<Py_ssize_t>(columnar_of(self).length); }

static constexpr auto arrow_column_class = declare_class("merandol_interop.ArrowColumn");

static PyObject *export_schema(PyObject *self) {
    ArrowSchema *schema;
    PyObject *capsule = new_capsule("arrow_schema", schema);
    if (capsule != nullptr) fill_schema(columnar_of(self), *schema);
    return capsule;
}
static constexpr auto schema_decl = arrow_column_class.instance_method(
    "__arrow_c_schema__", export_schema, "Export the column's type as an Arrow schema capsule.");

static PyObject *export_array(PyObject *self, std::optional<PyObject *>) {
    PyObject *schema = export_schema(self);
    if (schema == nullptr) return nullptr;
    ArrowArray *array;
    PyObject *capsule = new_capsule("arrow_array", array);
    if (capsule == nullptr) {
        Py_DECREF(schema);
        return nullptr;
    }
    fill_array(columnar_of(self), *array);
    PyObject *pair = PyTuple_Pack(2, schema, capsule);
    Py_DECREF(schema);
    Py_DECREF(capsule);
    return pair;
}
static constexpr auto array_decl =
    arrow_column_class.instance_method("__arrow_c_array__", export_array,
                                       "Export the column as a pair of Arrow capsules.\n\n"
                                       "Args:\n"
                                       "    requested_schema: A hint that is not followed (default=None).\n\n"
                                       "Returns:\n"
                                       "    tuple: Its schema and its array, which share the column's buffers.",
                                       param<OrNone<Any>>("requested_schema", {}));

static PyObject *export_stream(PyObject *self, std::optional<PyObject *>) {
    auto *state = static_cast<OneArrayStream *>(std::malloc(sizeof(OneArrayStream)));
    if (state == nullptr) return PyErr_NoMemory();
    ArrowArrayStream *stream;
    PyObject *capsule = new_capsule("arrow_array_stream", stream);
    if (capsule == nullptr) {
        std::free(state);
        return nullptr;
    }
    Columnar &c = columnar_of(self);
    c.hold();
    *state = {&c, false};
    *stream = {stream_schema, stream_next, stream_error, release_stream, state};
    return capsule;
}
static constexpr auto stream_decl =
    arrow_column_class.instance_method("__arrow_c_stream__", export_stream,
                                       "Export the column as an Arrow stream capsule of one array.\n\n"
                                       "Args:\n"
                                       "    requested_schema: A hint that is not followed (default=None).\n\n"
                                       "Returns:\n"
                                       "    object: The capsule, whose array shares the column's buffers.",
                                       param<OrNone<Any>>("requested_schema", {}));

static PyMethodDef arrow_column_methods[] = {
    row<schema_decl>(),
    row<array_decl>(),
    row<stream_decl>(),
    kEndOfMethods,
};

static PyType_Slot arrow_column_slots[] = {
    {Py_tp_doc, const_cast<char *>("An immutable Arrow column whose buffers merandol filled.  It is handed to\n"
                                   "Arrow consumers (pyarrow.array, polars.Series, a DuckDB query) through\n"
                                   "the Arrow PyCapsule interface, without a copy.")},
    {Py_tp_dealloc, reinterpret_cast<void *>(arrow_column_dealloc)},
    {Py_tp_repr, reinterpret_cast<void *>(arrow_column_repr)},
    // A column is compared by identity, and its hash would be its address:
    // as with numpy's arrays, it has none.
    {Py_tp_hash, reinterpret_cast<void *>(PyObject_HashNotImplemented)},
    {Py_tp_methods, arrow_column_methods},
    {Py_sq_length, reinterpret_cast<void *>(arrow_column_length)},
    {0, nullptr},
};

static PyType_Spec arrow_column_spec = {
    .name = arrow_column_class.qualified_name,
    .basicsize = sizeof(ArrowColumnObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = arrow_column_slots,
};

// --- Reading an exported string column -------------------------------------------

namespace {

struct ArrowUnit {
    std::string_view name;
    arrow::TimeUnit unit;
    const char *format;
    const char *type_name;
};

constexpr ArrowUnit kArrowUnits[] = {
    {"s", arrow::TimeUnit::Second, "tss:UTC", "timestamp[s, tz=UTC]"},
    {"ms", arrow::TimeUnit::Milli, "tsm:UTC", "timestamp[ms, tz=UTC]"},
    {"us", arrow::TimeUnit::Micro, "tsu:UTC", "timestamp[us, tz=UTC]"},
    {"ns", arrow::TimeUnit::Nano, "tsn:UTC", "timestamp[ns, tz=UTC]"},
};

const ArrowUnit *find_arrow_unit(std::string_view name) {
    for (const ArrowUnit &u : kArrowUnits)
        if (u.name == name) return &u;
    return nullptr;
}

// A column of numbers: a timestamp's int64 counts of its unit, a date32's
// int32 days, or numpy's int64 with NaT.
struct Numbers {
    const std::uint8_t *validity = nullptr;  // nullptr when no row is null
    std::int64_t bit = 0;                    // the validity bit of row 0
    const void *values = nullptr;            // row 0's value
    std::int64_t size = 0;
    bool int32 = false;
    bool nat_is_null = false;  // INT64_MIN is a null

    bool is_valid(std::int64_t row) const noexcept {
        const std::int64_t b = bit + row;
        return validity == nullptr || (validity[b >> 3] >> (b & 7) & 1) != 0;
    }
    std::int64_t at(std::int64_t row) const noexcept {
        if (int32) {
            std::int32_t v;
            std::memcpy(&v, static_cast<const char *>(values) + row * 4, 4);
            return v;
        }
        std::int64_t v;
        std::memcpy(&v, static_cast<const char *>(values) + row * 8, 8);
        return v;
    }
};

// One array of the column, moved out of its producer's hands, and its texts
// or numbers.
struct Chunk {
    ArrowArray array;
    StringColumn column;
    std::int64_t start;  // the row of the whole column its first row is
    Numbers numbers;
};

// What the producer handed over: released, whatever happens, when reading
// ends.
struct Source {
    ArrowSchema schema{};
    ArrowArrayStream stream{};
    std::vector<Chunk> chunks;
    StringLayout layout{};
    bool in_struct = false;           // each array a table of one string column
    std::int64_t nanos_per_unit = 0;  // of a timestamp column; 0 for date32
    std::int64_t rows = 0;

    Source() = default;
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;
    // A release may run the producer's Python code, which must not find
    // the error being raised.
    ~Source() {
        PyObject *pending = PyErr_GetRaisedException();
        for (Chunk &chunk : chunks)
            if (chunk.array.release != nullptr) chunk.array.release(&chunk.array);
        if (schema.release != nullptr) schema.release(&schema);
        if (stream.release != nullptr) stream.release(&stream);
        if (pending != nullptr) PyErr_SetRaisedException(pending);
    }
};

// How a column is read: the schema's check and each array's.
struct Reading {
    bool (*open_schema)(Source &, const char *fn);
    bool (*add_chunk)(Source &, const ArrowArray &, const char *fn);
};

// Moves the struct out of a capsule named `name`, which is then consumed.
template <class Struct>
bool take_capsule(PyObject *capsule, const char *name, const char *fn, Struct &out) {
    auto *s = static_cast<Struct *>(PyCapsule_GetPointer(capsule, name));
    if (s == nullptr) return false;
    if (s->release == nullptr) {
        PyErr_Format(PyExc_ValueError, "%s: the %s capsule was consumed already", fn, name);
        return false;
    }
    out = *s;
    s->release = nullptr;
    return true;
}

// Calls texts.<method>(); 0 when texts has no such method (or sets it to
// None, as a subclass does to withdraw one).
int call_export(PyObject *texts, const char *method, PyObject *&result) {
    PyObject *bound;
    const int found = PyObject_GetOptionalAttrString(texts, method, &bound);
    if (found <= 0) return found;
    if (bound == Py_None) {
        Py_DECREF(bound);
        return 0;
    }
    result = PyObject_CallNoArgs(bound);
    Py_DECREF(bound);
    return result == nullptr ? -1 : 1;
}

// The column's type: a string layout, alone or as the one field of a table.
bool open_schema(Source &src, const char *fn) {
    const ArrowSchema &s = src.schema;
    if (s.format == nullptr) {
        PyErr_Format(PyExc_ValueError, "%s: the Arrow schema has no format", fn);
        return false;
    }
    if (arrow::string_layout(s.format, src.layout)) return true;
    if (std::string_view(s.format) == "+s") {
        if (s.n_children != 1 || s.children == nullptr || s.children[0] == nullptr ||
            s.children[0]->format == nullptr) {
            PyErr_Format(PyExc_TypeError,
                         "%s texts must be an Arrow column of strings, not a table of %lld columns (format '+s')", fn,
                         static_cast<long long>(s.n_children));
            return false;
        }
        src.in_struct = true;
        if (arrow::string_layout(s.children[0]->format, src.layout)) return true;
        PyErr_Format(PyExc_TypeError,
                     "%s texts must be an Arrow column of strings ('u', 'U' or 'vu'), not a table's column of format "
                     "'%s'",
                     fn, s.children[0]->format);
        return false;
    }
    PyErr_Format(PyExc_TypeError, "%s texts must be an Arrow column of strings ('u', 'U' or 'vu'), not of format '%s'",
                 fn, s.format);
    return false;
}

bool fault(const char *fn, std::string_view what) {
    PyErr_Format(PyExc_ValueError, "%s: the Arrow array's producer declares %.*s", fn, static_cast<int>(what.size()),
                 what.data());
    return false;
}

// Checks a moved-in array and opens its texts.  The array joins the source
// first, so that it is released whatever the checks find.
bool add_chunk(Source &src, const ArrowArray &array, const char *fn) {
    src.chunks.push_back({array, {}, src.rows, {}});
    const ArrowArray *strings = &array;
    ArrowArray field;
    if (src.in_struct) {
        // A table's rows are its field's rows from the table's own offset.
        if (array.length < 0) return fault(fn, wrong_declaration(arrow::ArrayFault::NegativeLength));
        if (array.offset < 0) return fault(fn, wrong_declaration(arrow::ArrayFault::NegativeOffset));
        if (array.n_children != 1 || array.children == nullptr || array.children[0] == nullptr)
            return fault(fn, "a table without its one column");
        if (array.null_count != 0 && array.n_buffers > 0 && array.buffers != nullptr && array.buffers[0] != nullptr)
            return fault(fn, "a table with null rows");
        field = *array.children[0];
        std::int64_t end;
        if (__builtin_add_overflow(field.offset, array.offset, &field.offset) ||
            __builtin_add_overflow(array.offset, array.length, &end) || field.length < end)
            return fault(fn, "a table longer than its column");
        field.length = array.length;
        if (field.null_count > field.length) field.null_count = -1;
        strings = &field;
    }
    const auto column = StringColumn::open(*strings, src.layout);
    if (!column) return fault(fn, wrong_declaration(column.error()));
    if (__builtin_add_overflow(src.rows, column->size, &src.rows)) return fault(fn, "more rows than 64 bits count");
    src.chunks.back().column = *column;
    return true;
}

bool read_stream(PyObject *capsule, Source &src, const char *fn, const Reading &reading) {
    if (!take_capsule(capsule, "arrow_array_stream", fn, src.stream)) return false;
    auto stream_failed = [&](int code) {
        const char *text = src.stream.get_last_error ? src.stream.get_last_error(&src.stream) : nullptr;
        if (text != nullptr)
            PyErr_Format(PyExc_ValueError, "%s: the Arrow stream failed: %s", fn, text);
        else
            PyErr_Format(PyExc_ValueError, "%s: the Arrow stream failed: %s", fn, std::strerror(code));
        return false;
    };
    if (src.stream.get_schema == nullptr || src.stream.get_next == nullptr)
        return fault(fn, "a stream without its calls");
    if (const int code = src.stream.get_schema(&src.stream, &src.schema); code != 0) return stream_failed(code);
    if (!reading.open_schema(src, fn)) return false;
    for (;;) {
        ArrowArray array{};
        if (const int code = src.stream.get_next(&src.stream, &array); code != 0) return stream_failed(code);
        if (array.release == nullptr) return true;
        if (!reading.add_chunk(src, array, fn)) return false;
    }
}

bool read_array(PyObject *pair, Source &src, const char *fn, const Reading &reading) {
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
        PyErr_Format(PyExc_TypeError, "%s: __arrow_c_array__() must give a pair of capsules, not '%T'", fn, pair);
        return false;
    }
    ArrowArray array;
    return take_capsule(PyTuple_GET_ITEM(pair, 0), "arrow_schema", fn, src.schema) && reading.open_schema(src, fn) &&
           take_capsule(PyTuple_GET_ITEM(pair, 1), "arrow_array", fn, array) && reading.add_chunk(src, array, fn);
}

// The error of a row that read_timestamps refused: the reader's own for an
// unreadable text.
void row_error(const Chunk &chunk, arrow::RowFailure failure, const char *target) {
    const std::string_view text = chunk.column.text(failure.row);
    const long long row = chunk.start + failure.row;
    PyObject *str = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
    if (str == nullptr) {
        add_note("at row %lld", row);
        return;
    }
    switch (failure.error) {
        case arrow::RowError::Unreadable:
            if (PyObject *result = PyObject_CallMethod(reinterpret_cast<PyObject *>(OffsetDateTimeObject::type()),
                                                       "parse", "O", str)) {
                PyErr_Format(PyExc_SystemError, "%R was refused in a column but read alone", str);
                Py_DECREF(result);
            }
            add_note("at row %lld", row);
            break;
        case arrow::RowError::OutOfRange:
            PyErr_Format(PyExc_ValueError, "row %lld = %R is outside the range of %s", row, str, target);
            break;
        case arrow::RowError::Finer:
            PyErr_Format(PyExc_ValueError, "row %lld = %R has a fraction of a second that %s cannot hold", row, str,
                         target);
            break;
    }
    Py_DECREF(str);
}

// Reads the column that texts exports into src: 1, or 0 when it exports
// none, or -1 with an error set.
int read_source(PyObject *texts, Source &src, const char *fn, const Reading &reading) {
    PyObject *exported = nullptr;
    int found = call_export(texts, "__arrow_c_stream__", exported);
    bool ok = false;
    if (found > 0) {
        ok = read_stream(exported, src, fn, reading);
    } else if (found == 0) {
        found = call_export(texts, "__arrow_c_array__", exported);
        if (found > 0) ok = read_array(exported, src, fn, reading);
    }
    // The capsules' destructors may be the producer's Python code, which
    // must not find the error being raised.
    PyObject *pending = PyErr_GetRaisedException();
    Py_XDECREF(exported);
    if (pending != nullptr) PyErr_SetRaisedException(pending);
    return found <= 0 ? found : ok ? 1 : -1;
}

}  // namespace

Columnar *arrow_columns::read_instants(PyObject *texts, std::string_view unit_name, std::int64_t null_value,
                                       const char *fn, const char *target) {
    const ArrowUnit *unit = find_arrow_unit(unit_name);
    Source src;
    if (read_source(texts, src, fn, {open_schema, add_chunk}) <= 0) return nullptr;  // an error, or no export

    if (static_cast<std::uint64_t>(src.rows) > PY_SSIZE_T_MAX / sizeof(std::int64_t)) {
        PyErr_NoMemory();
        return nullptr;
    }
    Columnar *c = Columnar::make(unit->format, unit->type_name, src.rows, 2);
    auto *values = c ? static_cast<std::int64_t *>(c->allocate(0, static_cast<std::size_t>(src.rows) * 8)) : nullptr;
    if (values == nullptr) {
        if (c != nullptr) c->let_go();
        return nullptr;
    }
    c->buffers[1] = values;
    std::int64_t nulls = 0;
    for (const Chunk &chunk : src.chunks) {
        std::expected<std::int64_t, arrow::RowFailure> read;
        Py_BEGIN_ALLOW_THREADS;
        read = arrow::read_timestamps(chunk.column, unit->unit, null_value, values + chunk.start);
        Py_END_ALLOW_THREADS;
        if (!read) {
            row_error(chunk, read.error(), target);
            c->let_go();
            return nullptr;
        }
        nulls += *read;
    }
    c->null_count = nulls;
    if (nulls == 0) return c;
    auto *validity = static_cast<std::uint8_t *>(c->allocate(1, static_cast<std::size_t>(src.rows + 7) / 8));
    if (validity == nullptr) {
        c->let_go();
        return nullptr;
    }
    std::memset(validity, 0, static_cast<std::size_t>(src.rows + 7) / 8);
    for (const Chunk &chunk : src.chunks)
        for (std::int64_t row = 0; row < chunk.column.size; ++row)
            if (chunk.column.is_valid(row)) {
                const std::int64_t bit = chunk.start + row;
                validity[bit >> 3] |= static_cast<std::uint8_t>(1u << (bit & 7));
            }
    c->buffers[0] = validity;
    return c;
}

// --- parse_to_arrow ----------------------------------------------------------------

struct ListColumn {
    const ArrowUnit *unit;
    Columnar *columnar = nullptr;
};

static std::int64_t *allocate_for_list(void *context, Py_ssize_t size) {
    auto &out = *static_cast<ListColumn *>(context);
    out.columnar = Columnar::make(out.unit->format, out.unit->type_name, size, 2);
    if (out.columnar == nullptr) return nullptr;
    auto *values = static_cast<std::int64_t *>(out.columnar->allocate(0, static_cast<std::size_t>(size) * 8));
    out.columnar->buffers[1] = values;
    return values;
}

static PyObject *parse_to_arrow(PyObject *, PyObject *texts, Kept<std::string_view> unit_name) {
    const ArrowUnit *unit = find_arrow_unit(unit_name.value);
    if (unit == nullptr)
        return PyErr_Format(PyExc_ValueError, "unit must be 's', 'ms', 'us' or 'ns', not %R", unit_name.object);
    if (Columnar *c = read_instants(texts, unit->name, 0, "parse_to_arrow()", unit->type_name)) return wrap_columnar(c);
    if (PyErr_Occurred()) return nullptr;
    ListColumn list{unit};
    const bool ok = columns::read_text_instants(texts, unit->name, unit->type_name, allocate_for_list, &list);
    if (ok) return wrap_columnar(list.columnar);
    if (list.columnar != nullptr) list.columnar->let_go();
    return nullptr;
}
static constexpr auto parse_to_arrow_decl =
    module_function("parse_to_arrow", parse_to_arrow,
                    "Parse RFC 3339 texts into an Arrow column of their instants.\n\n"
                    "Args:\n"
                    "    texts: An Arrow string column (utf8, large_utf8 or string_view; an\n"
                    "        array, a stream of chunks or a table of one such column), read where\n"
                    "        its buffers lie, with nulls giving nulls; or anything parse_to_numpy\n"
                    "        takes.  Each text is read as OffsetDateTime.parse reads it.\n"
                    "    unit: 's', 'ms', 'us' or 'ns' (default='ns').\n\n"
                    "Returns:\n"
                    "    ArrowColumn: A column of timestamp[unit, tz=UTC] of the instants.\n\n"
                    "Raises:\n"
                    "    ValueError: The error OffsetDateTime.parse raises for the first text it\n"
                    "        refuses, with a note naming its row from the column's start; and\n"
                    "        for an instant outside the unit's range or finer than the unit, and\n"
                    "        for an Arrow array whose producer declares it wrongly.\n"
                    "    TypeError: For another Arrow type.",
                    param<Any>("texts"), param<Keep<Text>>("unit", {"ns", nullptr}));

// --- format_arrow ------------------------------------------------------------------

namespace {

inline constexpr std::size_t kTextMax = std::max({kRfc3339TextMax, kDateTimeTextMax, kDateTextMax});

bool open_numbers_schema(Source &src, const char *fn) {
    const char *format = src.schema.format;
    if (format == nullptr) {
        PyErr_Format(PyExc_ValueError, "%s: the Arrow schema has no format", fn);
        return false;
    }
    const std::string_view f(format);
    if (f == "tdD") return true;  // nanos_per_unit stays 0: days
    if (f.size() >= 4 && f.starts_with("ts") && f[3] == ':') {
        switch (f[2]) {
            case 's': src.nanos_per_unit = kNanosPerSecond; return true;
            case 'm': src.nanos_per_unit = 1000000; return true;
            case 'u': src.nanos_per_unit = 1000; return true;
            case 'n': src.nanos_per_unit = 1; return true;
            default: break;
        }
    }
    PyErr_Format(PyExc_TypeError, "%s instants must be an Arrow timestamp or date32 column, not of format '%s'", fn,
                 format);
    return false;
}

bool add_numbers(Source &src, const ArrowArray &array, const char *fn) {
    using arrow::ArrayFault;
    src.chunks.push_back({array, {}, src.rows, {}});
    if (array.length < 0) return fault(fn, wrong_declaration(ArrayFault::NegativeLength));
    if (array.offset < 0) return fault(fn, wrong_declaration(ArrayFault::NegativeOffset));
    if (std::int64_t end; __builtin_add_overflow(array.offset, array.length, &end))
        return fault(fn, wrong_declaration(ArrayFault::RowsOverflow));
    if (array.null_count < -1 || array.null_count > array.length)
        return fault(fn, wrong_declaration(ArrayFault::NullCount));
    if (array.n_buffers != 2) return fault(fn, wrong_declaration(ArrayFault::BufferCount));
    if (array.buffers == nullptr) return fault(fn, wrong_declaration(ArrayFault::MissingBuffer));
    Numbers &n = src.chunks.back().numbers;
    n.size = array.length;
    n.int32 = src.nanos_per_unit == 0;
    const auto *validity = static_cast<const std::uint8_t *>(array.buffers[0]);
    if (array.null_count != 0 && validity != nullptr) {
        n.validity = validity;
        n.bit = array.offset;
    } else if (array.null_count > 0) {
        return fault(fn, wrong_declaration(ArrayFault::MissingBuffer));
    }
    const auto *values = static_cast<const char *>(array.buffers[1]);
    if (values == nullptr && array.length > 0) return fault(fn, wrong_declaration(ArrayFault::MissingBuffer));
    n.values = values == nullptr ? nullptr : values + array.offset * (n.int32 ? 4 : 8);
    if (__builtin_add_overflow(src.rows, array.length, &src.rows)) return fault(fn, "more rows than 64 bits count");
    return true;
}

// A numpy datetime64 array of seconds to nanoseconds or of days, as int64.
bool open_datetime64(PyObject *array, Source &src, PyObject *&ints, Py_buffer &view, const char *&type) {
    const columns::Numpy *np = columns::numpy();
    if (np == nullptr || !PyObject_TypeCheck(array, np->ndarray)) {
        if (np == nullptr) PyErr_Clear();
        PyErr_Format(PyExc_TypeError,
                     "format_arrow() instants must be an Arrow timestamp or date32 column or a numpy datetime64 "
                     "array, not '%T'",
                     array);
        return false;
    }
    PyObject *dtype = PyObject_GetAttrString(array, "dtype");
    PyObject *data = dtype ? PyObject_CallOneArg(np->datetime_data, dtype) : nullptr;
    std::string_view unit;
    std::int64_t count = 0;
    const bool read = data != nullptr && PyTuple_Check(data) && PyTuple_GET_SIZE(data) == 2 &&
                      to_text(PyTuple_GET_ITEM(data, 0), unit, "unit") &&
                      to_i64(PyTuple_GET_ITEM(data, 1), count, "count");
    static constexpr std::pair<std::string_view, std::int64_t> kUnits[] = {
        {"D", 0}, {"s", kNanosPerSecond}, {"ms", 1000000}, {"us", 1000}, {"ns", 1}};
    static constexpr const char *kTypes[] = {"datetime64[D]", "datetime64[s]", "datetime64[ms]", "datetime64[us]",
                                             "datetime64[ns]"};
    int found = -1;
    for (int i = 0; read && count == 1 && i < 5; ++i)
        if (kUnits[i].first == unit) found = i;
    if (found < 0 && (read || PyErr_ExceptionMatches(PyExc_TypeError))) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError,
                     "format_arrow() instants must be a datetime64 array of unit D, s, ms, us or ns, not of dtype %R",
                     dtype);
    }
    Py_XDECREF(data);
    Py_XDECREF(dtype);
    if (found < 0) return false;
    src.nanos_per_unit = kUnits[found].second;
    type = kTypes[found];
    ints = PyObject_CallMethod(array, "astype", "s", "int64");
    if (ints == nullptr || PyObject_GetBuffer(ints, &view, PyBUF_C_CONTIGUOUS) < 0) return false;
    if (view.ndim != 1) {
        PyErr_Format(PyExc_ValueError, "format_arrow(): the array must be one-dimensional, not of %d dimensions",
                     view.ndim);
        return false;
    }
    Numbers n{};
    n.values = view.buf;
    n.size = view.shape[0];
    n.nat_is_null = true;
    src.chunks.push_back({{}, {}, 0, n});
    src.rows = n.size;
    return true;
}

// The texts of a chunk's rows from output row `start` on; -1, or the chunk's
// row whose instant has no text.  Runs without the interpreter.
template <class Offset>
std::int64_t write_texts(const Numbers &n, std::int64_t nanos_per_unit,
                         const std::optional<OffsetOrZone::Value> &offset, std::int64_t start, Offset *offsets,
                         char *data, std::uint8_t *validity, std::int64_t &nulls) noexcept {
    char *out = data + offsets[start];
    for (std::int64_t row = 0; row < n.size; ++row) {
        const std::int64_t v = n.at(row);
        const std::int64_t bit = start + row;
        if (!n.is_valid(row) || (n.nat_is_null && v == INT64_MIN)) {
            ++nulls;
            validity[bit >> 3] &= static_cast<std::uint8_t>(~(1u << (bit & 7)));
        } else if (nanos_per_unit == 0) {
            const auto date = from_days_since_unix_epoch(v);
            if (!date) return row;
            out = write_date(out, *date);
        } else {
            const std::int64_t per_second = kNanosPerSecond / nanos_per_unit;
            std::int64_t seconds = v / per_second, rest = v % per_second;
            if (rest < 0) seconds -= 1, rest += per_second;
            const auto dt = from_unix_timestamp(seconds, static_cast<std::int32_t>(rest * nanos_per_unit));
            if (!dt) return row;
            if (offset) {
                const auto end = write_rfc3339(out, offset->local(*dt));
                if (!end) return row;
                out = *end;
            } else {
                out = write_datetime(out, *dt);
            }
        }
        offsets[bit + 1] = static_cast<Offset>(out - data);
    }
    return -1;
}

template <class Offset>
Columnar *format_all(const Source &src, const std::optional<OffsetOrZone::Value> &offset, std::int64_t &failed_chunk,
                     std::int64_t &failed_row) {
    constexpr bool large = sizeof(Offset) == 8;
    Columnar *c = Columnar::make(large ? "U" : "u", large ? "large_string" : "string", src.rows, 3);
    if (c == nullptr) return nullptr;
    const auto rows = static_cast<std::size_t>(src.rows);
    auto *offsets = static_cast<Offset *>(c->allocate(0, (rows + 1) * sizeof(Offset)));
    auto *data = offsets ? static_cast<char *>(c->allocate(1, rows * kTextMax)) : nullptr;
    auto *validity = data ? static_cast<std::uint8_t *>(c->allocate(2, (rows + 7) / 8)) : nullptr;
    if (validity == nullptr) {
        c->let_go();
        return nullptr;
    }
    offsets[0] = 0;
    std::memset(validity, 0xff, (rows + 7) / 8);
    std::int64_t nulls = 0;
    failed_row = -1;
    Py_BEGIN_ALLOW_THREADS;
    for (std::size_t i = 0; failed_row < 0 && i < src.chunks.size(); ++i) {
        failed_row = write_texts(src.chunks[i].numbers, src.nanos_per_unit, offset, src.chunks[i].start, offsets, data,
                                 validity, nulls);
        failed_chunk = static_cast<std::int64_t>(i);
    }
    Py_END_ALLOW_THREADS;
    if (failed_row >= 0) {
        c->let_go();
        return nullptr;
    }
    c->buffers[0] = nulls > 0 ? validity : nullptr;
    c->buffers[1] = offsets;
    c->buffers[2] = data;
    c->null_count = nulls;
    return c;
}

}  // namespace

static PyObject *format_arrow(PyObject *, PyObject *instants, Kept<std::optional<OffsetOrZone::Value>> offset) {
    Source src;
    const char *type = nullptr;
    PyObject *ints = nullptr;
    Py_buffer view{};
    PyObject *result = nullptr;
    const int found = read_source(instants, src, "format_arrow()", {open_numbers_schema, add_numbers});
    if (found > 0) type = src.schema.format;
    if (found > 0 || (found == 0 && open_datetime64(instants, src, ints, view, type))) {
        if (src.nanos_per_unit == 0 && offset.value) {
            PyErr_Format(PyExc_ValueError,
                         "format_arrow(): the values of '%s' are dates, to which an offset does not apply", type);
        } else {
            std::int64_t chunk = 0, row = -1;
            const bool large = static_cast<std::uint64_t>(src.rows) > INT32_MAX / kTextMax;
            Columnar *c = large ? format_all<std::int64_t>(src, offset.value, chunk, row)
                                : format_all<std::int32_t>(src, offset.value, chunk, row);
            if (c != nullptr) {
                result = wrap_columnar(c);
            } else if (row >= 0) {
                const Chunk &at = src.chunks[static_cast<std::size_t>(chunk)];
                const long long value = at.numbers.at(row);
                const char *of = found > 0 ? "format " : "";
                if (offset.value)
                    PyErr_Format(PyExc_ValueError,
                                 "row %lld = %lld of %s'%s' has a reading at offset %R outside the range of DateTime",
                                 at.start + row, value, of, type, offset.object);
                else
                    PyErr_Format(PyExc_ValueError, "row %lld = %lld of %s'%s' is outside the range of DateTime",
                                 at.start + row, value, of, type);
            }
        }
    }
    if (view.obj != nullptr) PyBuffer_Release(&view);
    Py_XDECREF(ints);
    return result;
}
static constexpr auto format_arrow_decl =
    module_function("format_arrow", format_arrow,
                    "Format instants as an Arrow column of utf8 texts.\n\n"
                    "Args:\n"
                    "    instants: An Arrow timestamp column (any unit; its zone does not change\n"
                    "        the instants) or a numpy datetime64 array of unit s, ms, us or ns;\n"
                    "        or an Arrow date32 column or a datetime64[D] array, which give date\n"
                    "        texts.\n"
                    "    offset: None for the text of each instant in UTC, ending in \"Z\"; a\n"
                    "        UtcOffset for its RFC 3339 text at that offset; a Zone for its text\n"
                    "        at the offset in force at each instant (default=None).\n\n"
                    "Returns:\n"
                    "    ArrowColumn: The texts.  Nulls and NaT give nulls.\n\n"
                    "Raises:\n"
                    "    ValueError: Naming the row, for an instant outside merandol's range, and\n"
                    "        for an offset given with dates.\n"
                    "    TypeError: For a column of another type.",
                    param<Any>("instants"), param<Keep<OrNone<OffsetOrZone>>>("offset", {}));

static PyMethodDef arrow_functions[] = {
    row<parse_to_arrow_decl>(),
    row<format_arrow_decl>(),
    kEndOfMethods,
};

static int arrow_exec(PyObject *module) {
    auto *type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&arrow_column_spec));
    if (type == nullptr) return -1;
    g_arrow_column_type = type;
    return PyModule_AddObjectRef(module, "ArrowColumn", reinterpret_cast<PyObject *>(type));
}

extern const InteropUnit kArrowUnit = {arrow_functions, arrow_exec, {"ArrowColumn", nullptr}};

}  // namespace merandol::py
