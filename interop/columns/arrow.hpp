// Arrow columns on the Python side: the memory behind an ArrowColumn, and
// the reading of any object that exports an Arrow string column, which
// texts.cpp's parse_to_numpy and parse_to_arrow share.
#pragma once

#include <atomic>
#include <string_view>

#include "core/arrow_strings.hpp"
#include "interop/columns/columns.hpp"

namespace merandol::py::arrow_columns {

// The buffers of one array that merandol made, shared by the ArrowColumn and
// every struct it has exported: the last of them to let go frees it.  It
// holds no Python object, so it may be let go on any thread, without the
// interpreter, as the interface allows a consumer to.
struct Columnar {
    std::atomic<std::int64_t> holders;
    const char *format;     // a constant, as "tsn:UTC"
    const char *type_name;  // as a repr shows it, "timestamp[ns, tz=UTC]"
    std::int64_t length;
    std::int64_t null_count;
    std::int64_t n_buffers;  // 2 (validity, values) or 3 (validity, offsets, texts)
    const void *buffers[3];
    void *blocks[3];  // what the buffers lie in, for free()

    // A new one of `length` rows with no buffers yet, held once; nullptr
    // with MemoryError set.
    static Columnar *make(const char *format, const char *type_name, std::int64_t length, std::int64_t n_buffers);
    // Memory for `bytes` in block `index`, aligned to 64 bytes as Arrow
    // recommends; nullptr with MemoryError set.
    void *allocate(int index, std::size_t bytes);
    // The same memory, for a buffer filled before its column is made, which
    // the column then takes as a block (and frees with std::free).
    static void *allocate_buffer(std::size_t bytes);

    void hold() noexcept { holders.fetch_add(1, std::memory_order_relaxed); }
    void let_go() noexcept;
};

// A new ArrowColumn of `c`, taking the hold on it (which is let go when
// the column cannot be made).
PyObject *wrap_columnar(Columnar *c);

// The instants, in `unit` (s to ns), of the Arrow string column that
// `texts` exports, null rows holding INT64_MIN (numpy's NaT) and counted in
// null_count, with no validity buffer yet; `fn` names the function and
// `target` the result's type in messages.  nullptr with an error set, or
// without one when texts exports no Arrow column at all.
Columnar *read_instants(PyObject *texts, columns::Unit unit, const char *fn, const char *target);

// Makes the INT64_MIN values of a column of instants its nulls: a validity
// buffer with their bits clear, and 0 in their place.  false with
// MemoryError set.
bool nat_to_nulls(Columnar &c);

// What a reader of texts does with each row of an Arrow string column.
class TextVisitor {
public:
    virtual bool start(std::int64_t rows) = 0;  // before the first row
    virtual bool text(std::int64_t row, std::string_view text) = 0;
    virtual bool null(std::int64_t row) = 0;

protected:
    ~TextVisitor() = default;
};

// Calls `visitor` for every row, in order, of the Arrow string column that
// texts exports, until one of its calls returns false (with an error set):
// 1 when every row was visited, 0 when texts exports no Arrow column, -1
// with an error set.
int visit_texts(PyObject *texts, const char *fn, TextVisitor &visitor);

// What a reader of texts does with each row when it needs no interpreter
// but to start and to raise the error of a row it refuses.
class RowReader {
public:
    virtual bool start(std::int64_t rows) = 0;  // with the interpreter
    // Without the interpreter: false refuses the row.
    virtual bool text(std::int64_t row, std::string_view text) noexcept = 0;
    virtual void null(std::int64_t row) noexcept = 0;
    // With the interpreter, for the row that text() refused: raises its error.
    virtual void refused(std::int64_t row, std::string_view text) = 0;
    // Whether read_run() reads runs of rows at once, as a column reader does.
    virtual bool reads_runs() const noexcept { return false; }
    // Without the interpreter, and on several threads at once for runs
    // apart: the rows `from` to `end` of a chunk (the output's rows from
    // `start`), as far as it reads them at once, adding the nulls among them
    // to `nulls`; returns the first row it leaves to text() or null().
    virtual std::int64_t read_run(const arrow::StringColumn &, std::int64_t /*start*/, std::int64_t from,
                                  std::int64_t /*end*/, std::int64_t & /*nulls*/) const noexcept {
        return from;
    }
    // With the interpreter: the nulls that read_run() counted.
    virtual void add_run_nulls(std::int64_t) noexcept {}

protected:
    ~RowReader() = default;
};

// The same walk as visit_texts, the rows read with the interpreter released.
int read_rows(PyObject *texts, const char *fn, RowReader &reader);

}  // namespace merandol::py::arrow_columns
