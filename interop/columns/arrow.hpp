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

    void hold() noexcept { holders.fetch_add(1, std::memory_order_relaxed); }
    void let_go() noexcept;
};

// A new ArrowColumn of `c`, taking the hold on it (which is let go when
// the column cannot be made).
PyObject *wrap_columnar(Columnar *c);

// The instants, in `unit` (s to ns), of the Arrow string column that
// `texts` exports, null rows holding `null_value`; `fn` names the function
// and `target` the result's type in messages.  nullptr with an error set,
// or without one when texts exports no Arrow column at all.
Columnar *read_instants(PyObject *texts, columns::Unit unit, std::int64_t null_value, const char *fn,
                        const char *target);

}  // namespace merandol::py::arrow_columns
