// Arrow columns on the Python side: the memory behind an ArrowColumn, and
// the reading of any object that exports an Arrow string column, which
// parse_to_numpy shares with parse_to_arrow.
#pragma once

#include <atomic>
#include <string_view>

#include "core/arrow_strings.hpp"
#include "interop/interop.hpp"

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

// The instants, in `unit` ("s", "ms", "us" or "ns"), of the Arrow string
// column that `texts` exports, null rows holding `null_value`; `fn` names
// the function and `target` the result's type in messages.  nullptr with an
// error set, or without one when texts exports no Arrow column at all.
Columnar *read_instants(PyObject *texts, std::string_view unit, std::int64_t null_value, const char *fn,
                        const char *target);

}  // namespace merandol::py::arrow_columns
