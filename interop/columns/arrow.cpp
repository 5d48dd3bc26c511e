// Arrow columns through the PyCapsule interface: ArrowColumn, the result
// class that hands merandol's buffers to pyarrow, polars or DuckDB without
// a copy; the reading of the string column any of them exports, where its
// buffers lie (for texts.cpp's parse_to_numpy and parse_to_arrow); and
// format_arrow.  No Arrow library is imported: the structs of the C Data
// Interface are the whole contract.
#include "interop/columns/arrow.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "binding/compat.hpp"
#include "core/date.hpp"
#include "core/datetime.hpp"
#include "core/rfc3339.hpp"
#include "core/threads.hpp"
#include "interop/zones/zones.hpp"

namespace merandol::py {

using namespace arrow_columns;
using namespace columns;
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

void *Columnar::allocate_buffer(std::size_t bytes) {
    // aligned_alloc takes whole multiples of the alignment; an empty buffer
    // is still a real address, as consumers expect.
    const std::size_t rounded = (bytes + kArrowAlignment - 1) / kArrowAlignment * kArrowAlignment;
    void *memory = bytes > SIZE_MAX - kArrowAlignment
                       ? nullptr
                       : std::aligned_alloc(kArrowAlignment, rounded ? rounded : kArrowAlignment);
    if (memory == nullptr) PyErr_NoMemory();
    return memory;
}

void *Columnar::allocate(int index, std::size_t bytes) {
    void *memory = allocate_buffer(bytes);
    if (memory != nullptr) blocks[index] = memory;
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

static std::atomic<PyTypeObject *> g_arrow_column_type;

static Columnar &columnar_of(PyObject *self) { return *reinterpret_cast<ArrowColumnObject *>(self)->columnar; }

PyObject *arrow_columns::wrap_columnar(Columnar *c) {
    auto *self = PyObject_New(ArrowColumnObject, g_arrow_column_type.load(std::memory_order_acquire));
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

// Arrow's timestamp units, in the order of numpy's from s.
arrow::TimeUnit time_unit(Unit u) noexcept {
    static_assert(static_cast<int>(Unit::ns) - static_cast<int>(Unit::s) == static_cast<int>(arrow::TimeUnit::Nano));
    return static_cast<arrow::TimeUnit>(static_cast<int>(u) - static_cast<int>(Unit::s));
}

// A column of numbers: a timestamp's int64 counts of its unit, a date32's
// int32 days, or numpy's int64 with NaT.
struct Numbers {
    const std::uint8_t *validity = nullptr;  // nullptr when no row is null
    std::int64_t bit = 0;                    // the validity bit of row 0
    const char *values = nullptr;            // row 0's value
    std::int64_t stride = 8;                 // bytes from a row's value to the next
    std::int64_t size = 0;
    bool int32 = false;
    bool swap = false;         // int64 of the other byte order
    bool nat_is_null = false;  // INT64_MIN is a null

    bool is_valid(std::int64_t row) const noexcept { return validity == nullptr || bit_is_set(validity, bit + row); }
    std::int64_t at(std::int64_t row) const noexcept {
        if (int32) {
            std::int32_t v;
            std::memcpy(&v, values + row * 4, 4);
            return v;
        }
        std::uint64_t raw;
        std::memcpy(&raw, values + row * stride, 8);
        return static_cast<std::int64_t>(swap ? __builtin_bswap64(raw) : raw);
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
    bool in_struct = false;       // each array a table of one string column
    ColumnUnit unit{Unit::D, 1};  // of a timestamp or date32 column, or a numpy array
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
struct ColumnReader {
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
// None, as a subclass does to withdraw one), or when the export needs a
// module that is not installed: a pandas 3 Series exports through pyarrow,
// and without it is read through its values like any other array.
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
    if (result != nullptr) return 1;
    if (!PyErr_ExceptionMatches(PyExc_ImportError)) return -1;
    PyErr_Clear();
    return 0;
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

bool read_stream(PyObject *capsule, Source &src, const char *fn, const ColumnReader &reader) {
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
    if (!reader.open_schema(src, fn)) return false;
    for (;;) {
        ArrowArray array{};
        if (const int code = src.stream.get_next(&src.stream, &array); code != 0) return stream_failed(code);
        if (array.release == nullptr) return true;
        if (!reader.add_chunk(src, array, fn)) return false;
    }
}

bool read_array(PyObject *pair, Source &src, const char *fn, const ColumnReader &reader) {
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
        PyErr_Format(PyExc_TypeError, "%s: __arrow_c_array__() must give a pair of capsules, not '%T'", fn, pair);
        return false;
    }
    ArrowArray array;
    return take_capsule(PyTuple_GET_ITEM(pair, 0), "arrow_schema", fn, src.schema) && reader.open_schema(src, fn) &&
           take_capsule(PyTuple_GET_ITEM(pair, 1), "arrow_array", fn, array) && reader.add_chunk(src, array, fn);
}

// The error of a row that read_timestamps refused.
void row_error(const Chunk &chunk, arrow::RowFailure failure, const char *target) {
    const Outcome outcome = failure.error == arrow::RowError::Unreadable   ? Outcome::Unreadable
                            : failure.error == arrow::RowError::OutOfRange ? Outcome::OutOfRange
                                                                           : Outcome::Remainder;
    text_error(OffsetDateTimeObject::type(), chunk.column.text(failure.row), outcome,
               {nullptr, chunk.start + failure.row}, target);
}

// Reads the column that texts exports into src: 1, or 0 when it exports
// none, or -1 with an error set.
int read_source(PyObject *texts, Source &src, const char *fn, const ColumnReader &reader) {
    PyObject *exported = nullptr;
    int found = call_export(texts, "__arrow_c_stream__", exported);
    bool ok = false;
    if (found > 0) {
        ok = read_stream(exported, src, fn, reader);
    } else if (found == 0) {
        found = call_export(texts, "__arrow_c_array__", exported);
        if (found > 0) ok = read_array(exported, src, fn, reader);
    }
    // The capsules' destructors may be the producer's Python code, which
    // must not find the error being raised.
    PyObject *pending = PyErr_GetRaisedException();
    Py_XDECREF(exported);
    if (pending != nullptr) PyErr_SetRaisedException(pending);
    return found <= 0 ? found : ok ? 1 : -1;
}

// The instants of a chunk's texts, NaT for a null, read on every core where
// the chunk is long enough: its nulls, or the first row refused (that of the
// first piece that fails, as each stops at its first).
std::expected<std::int64_t, arrow::RowFailure> read_timestamps_in_pieces(const arrow::StringColumn &column,
                                                                         arrow::TimeUnit unit,
                                                                         std::int64_t *values) noexcept {
    const int threads = thread_count(column.size);
    if (threads == 1) return arrow::read_timestamps(column, unit, INT64_MIN, values);
    const int pieces = piece_count(column.size, threads);
    std::expected<std::int64_t, arrow::RowFailure> read[kPiecesMax];
    auto read_piece = [&](int piece) noexcept {
        read[piece] = arrow::read_timestamps(column, piece_start(column.size, pieces, piece),
                                             piece_start(column.size, pieces, piece + 1), unit, INT64_MIN, values);
    };
    read_pieces(threads, pieces, read_piece);
    std::int64_t nulls = 0;
    for (int piece = 0; piece < pieces; ++piece) {
        if (!read[piece]) return read[piece];
        nulls += *read[piece];
    }
    return nulls;
}

}  // namespace

Columnar *arrow_columns::read_instants(PyObject *texts, Unit unit, const char *fn, const char *target) {
    Source src;
    if (read_source(texts, src, fn, {open_schema, add_chunk}) <= 0) return nullptr;  // an error, or no export

    if (static_cast<std::uint64_t>(src.rows) > PY_SSIZE_T_MAX / sizeof(std::int64_t)) {
        PyErr_NoMemory();
        return nullptr;
    }
    Columnar *c = Columnar::make(info(unit).arrow_format, info(unit).arrow_type, src.rows, 2);
    auto *values = c ? static_cast<std::int64_t *>(c->allocate(0, static_cast<std::size_t>(src.rows) * 8)) : nullptr;
    if (values == nullptr) {
        if (c != nullptr) c->let_go();
        return nullptr;
    }
    c->buffers[1] = values;
    for (const Chunk &chunk : src.chunks) {
        std::expected<std::int64_t, arrow::RowFailure> read;
        Py_BEGIN_ALLOW_THREADS;
        read = read_timestamps_in_pieces(chunk.column, time_unit(unit), values + chunk.start);
        Py_END_ALLOW_THREADS;
        if (!read) {
            row_error(chunk, read.error(), target);
            c->let_go();
            return nullptr;
        }
        c->null_count += *read;
    }
    return c;
}

bool arrow_columns::nat_to_nulls(Columnar &c) {
    const auto bytes = static_cast<std::size_t>(c.length + 7) / 8;
    auto *validity = static_cast<std::uint8_t *>(c.allocate(1, bytes));
    if (validity == nullptr) return false;
    std::memset(validity, 0, bytes);
    auto *values = static_cast<std::int64_t *>(c.blocks[0]);
    for (std::int64_t row = 0; row < c.length; ++row) {
        if (values[row] == INT64_MIN)
            values[row] = 0;
        else
            set_bit(validity, row);
    }
    c.buffers[0] = validity;
    return true;
}

int arrow_columns::visit_texts(PyObject *texts, const char *fn, TextVisitor &visitor) {
    Source src;
    const int found = read_source(texts, src, fn, {open_schema, add_chunk});
    if (found <= 0) return found;
    if (!visitor.start(src.rows)) return -1;
    for (const Chunk &chunk : src.chunks) {
        const bool ok = arrow::for_each_text(
            chunk.column,
            Overload{
                [&](std::int64_t row, std::string_view text) { return visitor.text(chunk.start + row, text); },
                [&](std::int64_t row) { return visitor.null(chunk.start + row); },
            });
        if (!ok) return -1;
    }
    return 1;
}

namespace {

// Rows `row` to `end` of a chunk whose output starts at `start`: in runs of
// read_run() where the reader has them, each row it leaves through text()
// or null().  The first row refused, or -1.
std::int64_t read_rows_from(RowReader &reader, const arrow::StringColumn &column, std::int64_t start, std::int64_t row,
                            std::int64_t end, std::int64_t &run_nulls) noexcept {
    const bool runs = reader.reads_runs();
    for (; row < end; ++row) {
        if (runs) row = reader.read_run(column, start, row, end, run_nulls);
        if (row == end) break;
        if (!column.is_valid(row)) {
            reader.null(start + row);
        } else if (!reader.text(start + row, column.text(row))) {
            return row;
        }
    }
    return -1;
}

// The same for a whole chunk, its runs read on every core where it is long
// enough: each piece's run from its first row, then, in order on this
// thread, what each run left (text() keeps what it refused for refused()).
std::int64_t read_chunk(RowReader &reader, const arrow::StringColumn &column, std::int64_t start,
                        std::int64_t &run_nulls) noexcept {
    const int threads = reader.reads_runs() ? thread_count(column.size) : 1;
    if (threads == 1) return read_rows_from(reader, column, start, 0, column.size, run_nulls);
    const int pieces = piece_count(column.size, threads);
    std::int64_t left[kPiecesMax], nulls[kPiecesMax] = {};
    auto read_run = [&](int piece) noexcept {
        left[piece] = reader.read_run(column, start, piece_start(column.size, pieces, piece),
                                      piece_start(column.size, pieces, piece + 1), nulls[piece]);
    };
    read_pieces(threads, pieces, read_run);
    for (int piece = 0; piece < pieces; ++piece) {
        run_nulls += nulls[piece];
        const std::int64_t refused =
            read_rows_from(reader, column, start, left[piece], piece_start(column.size, pieces, piece + 1), run_nulls);
        if (refused >= 0) return refused;
    }
    return -1;
}

}  // namespace

int arrow_columns::read_rows(PyObject *texts, const char *fn, RowReader &reader) {
    Source src;
    const int found = read_source(texts, src, fn, {open_schema, add_chunk});
    if (found <= 0) return found;
    if (!reader.start(src.rows)) return -1;
    for (const Chunk &chunk : src.chunks) {
        std::int64_t refused, run_nulls = 0;
        Py_BEGIN_ALLOW_THREADS;
        refused = read_chunk(reader, chunk.column, chunk.start, run_nulls);
        Py_END_ALLOW_THREADS;
        reader.add_run_nulls(run_nulls);
        if (refused >= 0) {
            reader.refused(chunk.start + refused, chunk.column.text(refused));
            return -1;
        }
    }
    return 1;
}

// --- format_arrow ------------------------------------------------------------------

namespace {

inline constexpr std::size_t kTextMax = InstantWriter::kTextMax;

bool open_numbers_schema(Source &src, const char *fn) {
    const char *format = src.schema.format;
    if (format == nullptr) {
        PyErr_Format(PyExc_ValueError, "%s: the Arrow schema has no format", fn);
        return false;
    }
    if (find_arrow_unit(format, src.unit.unit)) return true;
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
    n.int32 = src.unit.unit == Unit::D;
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

// A numpy datetime64 array, or what gives one (a pandas Series), read in
// place through `array`; its type in messages in `type`.
bool open_datetime64(PyObject *instants, Source &src, Column &array, PyObject *&type) {
    const Numpy *np = numpy_if_imported("format_arrow()");
    if (np == nullptr && PyErr_Occurred()) return false;
    const int convertible = np == nullptr ? 0 : PyObject_HasAttrStringWithError(instants, "__array__");
    if (convertible < 0) return false;
    if (convertible == 0 && (np == nullptr || !PyObject_TypeCheck(instants, np->ndarray))) {
        PyErr_Format(PyExc_TypeError,
                     "format_arrow() instants must be an Arrow timestamp or date32 column or a numpy datetime64 "
                     "array, not '%T'",
                     instants);
        return false;
    }
    if (!open_column(*np, instants, "format_arrow()", "instants", true, array)) return false;
    type = PyUnicode_FromFormat("'%U'", array.dtype);
    if (type == nullptr) return false;
    src.unit = array.unit;
    Numbers n{};
    n.values = static_cast<const char *>(array.view.buf);
    n.stride = array.view.strides[0];
    n.swap = array.swap;
    n.size = array.size;
    n.nat_is_null = true;
    src.chunks.push_back({{}, {}, 0, n});
    src.rows = n.size;
    return true;
}

// The texts of a chunk's rows from output row `start` on; -1, or the chunk's
// row whose instant has no text, its outcome in `failure`.  Runs without
// the interpreter.
template <class Offset, class Writer>
std::int64_t write_texts(const Numbers &n, const Writer &writer, std::int64_t start, Offset *offsets, char *data,
                         std::uint8_t *validity, std::int64_t &nulls, Outcome &failure) noexcept {
    char *out = data + offsets[start];
    for (std::int64_t row = 0; row < n.size; ++row) {
        const std::int64_t v = n.at(row);
        const std::int64_t bit = start + row;
        if (!n.is_valid(row) || (n.nat_is_null && v == INT64_MIN)) {
            ++nulls;
            clear_bit(validity, bit);
        } else if (failure = writer.write(v, out, out); failure != Outcome::Ok) {
            return row;
        }
        offsets[bit + 1] = static_cast<Offset>(out - data);
    }
    return -1;
}

// Every row's text by `writer`, each at most `text_max` bytes.
template <class Offset, class Writer>
Columnar *format_all(const Source &src, const Writer &writer, std::size_t text_max, std::int64_t &failed_chunk,
                     std::int64_t &failed_row, Outcome &failure) {
    constexpr bool large = sizeof(Offset) == 8;
    Columnar *c = Columnar::make(large ? "U" : "u", large ? "large_string" : "string", src.rows, 3);
    if (c == nullptr) return nullptr;
    const auto rows = static_cast<std::size_t>(src.rows);
    auto *offsets = static_cast<Offset *>(c->allocate(0, (rows + 1) * sizeof(Offset)));
    std::size_t data_size;
    if (__builtin_mul_overflow(rows, text_max, &data_size)) data_size = SIZE_MAX;
    auto *data = offsets ? static_cast<char *>(c->allocate(1, data_size)) : nullptr;
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
        failed_row =
            write_texts(src.chunks[i].numbers, writer, src.chunks[i].start, offsets, data, validity, nulls, failure);
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

// The texts of every row by `writer`, a column of large_string when their
// bytes may pass the 2 GiB that string's 32-bit offsets reach.
template <class Writer>
static Columnar *format_rows(const Source &src, const Writer &writer, std::size_t text_max, std::int64_t &chunk,
                             std::int64_t &row, Outcome &failure) {
    return static_cast<std::uint64_t>(src.rows) > INT32_MAX / std::max<std::size_t>(text_max, 1)
               ? format_all<std::int64_t>(src, writer, text_max, chunk, row, failure)
               : format_all<std::int32_t>(src, writer, text_max, chunk, row, failure);
}

static PyObject *format_arrow(PyObject *, PyObject *instants, Kept<std::optional<OffsetOrZone::Value>> offset,
                              std::optional<PyObject *> format) {
    Source src;
    Column array;
    PyObject *type = nullptr;  // as messages name it: "format 'tsn:UTC'", "'datetime64[s]'"
    const int found = read_source(instants, src, "format_arrow()", {open_numbers_schema, add_numbers});
    if (found > 0) type = PyUnicode_FromFormat("format '%s'", src.schema.format);
    if (found < 0 || (found == 0 && !open_datetime64(instants, src, array, type)) || type == nullptr) return nullptr;
    PyObject *result = nullptr;
    std::int64_t chunk = 0, row = -1;
    Outcome failure = Outcome::Ok;
    if (src.unit.unit == Unit::D && offset.value) {
        PyErr_Format(PyExc_ValueError, "format_arrow(): the values of %U are dates, to which an offset does not apply",
                     type);
    } else if (format) {
        FormatHold held;
        if (!held.hold(format)) {
            Py_DECREF(type);
            return nullptr;
        }
        const FormWriter writer(text_form_of(held.get()), src.unit, offset.value);
        auto *scratch = static_cast<char *>(PyMem_Malloc(writer.text_max()));
        const auto refused = scratch ? writer.refusal(scratch) : std::nullopt;
        PyMem_Free(scratch);
        if (scratch == nullptr)
            PyErr_NoMemory();
        else if (refused)
            write_refused(held.get(), writer.class_name(), *refused);
        else if (Columnar *c = format_rows(src, writer, writer.text_max(), chunk, row, failure))
            result = wrap_columnar(c);
    } else if (Columnar *c = format_rows(src, InstantWriter(src.unit, offset.value), kTextMax, chunk, row, failure)) {
        result = wrap_columnar(c);
    }
    if (result == nullptr && row >= 0) {
        const Chunk &at = src.chunks[static_cast<std::size_t>(chunk)];
        const auto value = static_cast<long long>(at.numbers.at(row));
        const char *target = src.unit.unit == Unit::D ? "Date" : "DateTime";
        if (failure == Outcome::LocalOutOfRange)
            PyErr_Format(PyExc_ValueError,
                         "row %lld = %lld of %U has a local reading at offset %R outside the range of %s",
                         at.start + row, value, type, offset.object, target);
        else if (failure == Outcome::Remainder)
            PyErr_Format(PyExc_ValueError, "row %lld = %lld of %U is not a whole number of nanoseconds", at.start + row,
                         value, type);
        else
            PyErr_Format(PyExc_ValueError, "row %lld = %lld of %U is outside the range of %s", at.start + row, value,
                         type, target);
    }
    Py_DECREF(type);
    return result;
}
static constexpr auto format_arrow_decl =
    module_function("format_arrow", format_arrow,
                    "Format instants as an Arrow column of utf8 texts.\n"
                    "\n"
                    "Args:\n"
                    "    instants: An Arrow timestamp column (any unit; its zone does not change\n"
                    "        the instants) or a numpy datetime64 array of any unit (or a pandas\n"
                    "        Series of one); or an Arrow date32 column or a datetime64[D] array,\n"
                    "        which give date texts.\n"
                    "    offset: None for the text of each instant in UTC, ending in \"Z\"; a\n"
                    "        UtcOffset for its RFC 3339 text at that offset; a Zone for its text\n"
                    "        at the offset in force at each instant (default=None).\n"
                    "    format: A Format, a named form or a pattern (a str) that writes each\n"
                    "        value (a Date of a date column, else a DateTime, or at an offset or\n"
                    "        zone an OffsetDateTime), or None for merandol's own texts\n"
                    "        (default=None).\n"
                    "\n"
                    "Returns:\n"
                    "    ArrowColumn: The texts.  Nulls and NaT give nulls.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: Naming the row, for an instant outside merandol's range, and\n"
                    "        for an offset given with dates.\n"
                    "    TypeError: For a column of another type, and for a format that names a\n"
                    "        field the values lack.",
                    param<Any>("instants"), param<Keep<OrNone<OffsetOrZone>>>("offset", {}),
                    param<OrNone<FormatArg>>("format", {}).keyword_only());

static PyMethodDef arrow_functions[] = {
    row<format_arrow_decl>(),
    kEndOfMethods,
};

// The class, made once for the process as Zone is: the module lives in the
// main interpreter alone, and a column made before the module is executed
// again stays of the one class.
static int arrow_exec(PyObject *module) {
    static PyMutex lock;
    PyMutex_Lock(&lock);
    PyTypeObject *type = g_arrow_column_type.load(std::memory_order_acquire);
    if (type == nullptr) {
        type = reinterpret_cast<PyTypeObject *>(type_from_spec(&arrow_column_spec));
        if (type != nullptr) g_arrow_column_type.store(type, std::memory_order_release);
    }
    PyMutex_Unlock(&lock);
    return type == nullptr ? -1 : PyModule_AddObjectRef(module, "ArrowColumn", reinterpret_cast<PyObject *>(type));
}

extern const InteropUnit kArrowUnit = {arrow_functions, arrow_exec, {"ArrowColumn", nullptr}};

}  // namespace merandol::py
