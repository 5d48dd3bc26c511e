// The Arrow string reader on arrays whose producer says anything: the input
// gives the layout, the rows, the offset, the null count and the bytes of
// every buffer.  The buffers whose extent the interface leaves to the
// declared rows (validity, offsets, views) get exactly that extent; the data
// buffers get the input's sizes, which the views' size buffer may misstate.
// Whatever the array says, opening it either refuses it or makes every text
// readable inside its buffers (each buffer is its own allocation, so the
// address sanitizer sees a read past one), and the timestamps of the texts
// are those the one-text reader gives; so are a plain pattern's readings.
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "core/arrow_strings.hpp"
#include "core/rfc3339_fast.hpp"
#include "fuzz/check.hpp"

namespace {

using merandol::fuzz::Bytes;

// A buffer of exactly `size` bytes taken from the input (zeros once it runs
// out); nullptr for none.
struct Buffers {
    std::vector<std::unique_ptr<std::uint8_t[]>> owned;
    std::vector<const void *> pointers;

    void add(Bytes &bytes, std::size_t size, bool present = true) {
        if (!present) {
            pointers.push_back(nullptr);
            return;
        }
        owned.push_back(std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size));
        for (std::size_t i = 0; i < size; ++i) owned.back()[i] = bytes.take<std::uint8_t>();
        pointers.push_back(owned.back().get());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::arrow;
    Bytes bytes(data, size);
    const auto shape = bytes.take<std::uint8_t>();
    const auto layout = static_cast<StringLayout>(shape % 3);
    // Up to 16 rows: a batch of eight reads the first eight when texts follow.
    const std::int64_t length = bytes.take<std::uint8_t>() % 17, offset = bytes.take<std::uint8_t>() % 5;
    const std::int64_t null_count = static_cast<std::int8_t>(bytes.take<std::uint8_t>()) % 11;
    const std::int64_t rows = length + offset;
    const std::size_t variadic = bytes.take<std::uint8_t>() % 3;  // data buffers of views
    const auto missing = bytes.take<std::uint8_t>();              // a bit per buffer: left out

    Buffers b;
    b.add(bytes, static_cast<std::size_t>((rows + 7) / 8), (missing & 1) == 0);
    if (layout == StringLayout::Utf8View) {
        b.add(bytes, static_cast<std::size_t>(rows) * 16, (missing & 2) == 0);
        // Each data buffer as long as the size buffer says (the interface
        // gives no other measure); a negative size gets no bytes.
        std::int64_t sizes[2] = {};
        for (std::size_t i = 0; i < variadic; ++i) sizes[i] = static_cast<std::int8_t>(bytes.take<std::uint8_t>());
        for (std::size_t i = 0; i < variadic; ++i)
            b.add(bytes, static_cast<std::size_t>(sizes[i] < 0 ? 0 : sizes[i]), (missing & 4 << i) == 0);
        b.add(bytes, variadic * sizeof(std::int64_t), (missing & 32) == 0 && variadic > 0);
        if (b.pointers.back() != nullptr) std::memcpy(b.owned.back().get(), sizes, variadic * sizeof(std::int64_t));
    } else {
        // The data buffer is as long as the last offset says: how long it
        // really is, the interface does not tell.
        const std::size_t width = layout == StringLayout::Utf8 ? 4 : 8;
        b.add(bytes, static_cast<std::size_t>(rows + 1) * width, (missing & 2) == 0);
        std::int64_t last = 0;
        if ((missing & 2) == 0) {
            const auto *offsets = static_cast<const std::uint8_t *>(b.pointers.back()) + rows * width;
            if (width == 4) {
                std::int32_t v;
                std::memcpy(&v, offsets, 4);
                last = v;
            } else {
                std::memcpy(&last, offsets, 8);
            }
        }
        if (last < 0 || last > 4096) return 0;
        b.add(bytes, static_cast<std::size_t>(last), (missing & 4) == 0);
    }
    ArrowArray array{};
    array.length = length;
    array.offset = offset;
    array.null_count = null_count;
    array.n_buffers = static_cast<std::int64_t>(b.pointers.size());
    array.buffers = b.pointers.data();

    const auto column = StringColumn::open(array, layout);
    if (!column) return 0;
    std::vector<std::int64_t> values(static_cast<std::size_t>(length));
    const auto read = read_timestamps(*column, TimeUnit::Nano, 0, values.data());
    std::int64_t nulls = 0, row_failed = read ? -1 : read.error().row;
    for (std::int64_t row = 0; row < column->size; ++row) {
        if (!column->is_valid(row)) {
            ++nulls;
            continue;
        }
        const std::string_view text = column->text(row);
        Rfc3339Instant instant;
        const bool ok = read_rfc3339_instant(text, instant);
        const __int128 nanos = static_cast<__int128>(instant.seconds) * 1000000000 + instant.nanosecond;
        if (row_failed < 0 || row < row_failed) {
            MERANDOL_REQUIRE(ok && values[static_cast<std::size_t>(row)] == nanos, text);
        } else if (row == row_failed) {
            const bool beyond = nanos <= INT64_MIN || nanos > INT64_MAX;
            MERANDOL_REQUIRE(read.error().error == RowError::Unreadable ? !ok : ok && beyond, text);
        }
    }
    if (read) MERANDOL_REQUIRE(*read == nulls, "null count");

    // Plain patterns' runs over the same rows: each row a run takes is what
    // the pattern reads, and a run stops only at a row of a text.
    static const Pattern plain[] = {*Pattern::compile("%Y-%m-%d %H:%M:%S"), *Pattern::compile("%d/%b/%Y:%H:%M:%S %z")};
    for (const Pattern &pattern : plain) {
        std::int64_t plain_nulls = 0;
        const std::int64_t left = read_plain_readings(*column, pattern, TimeUnit::Second, 0, 0, column->size, INT64_MIN,
                                                      values.data(), plain_nulls);
        MERANDOL_REQUIRE(left == column->size || column->is_valid(left), "run's end");
        for (std::int64_t row = 0; row < left; ++row) {
            const auto value = values[static_cast<std::size_t>(row)];
            if (!column->is_valid(row)) {
                MERANDOL_REQUIRE(value == INT64_MIN, "null");
                continue;
            }
            const auto r = pattern.read(column->text(row));
            MERANDOL_REQUIRE(r && unix_timestamp(DateTime{r->date, r->time}) - r->offset.seconds == value,
                             column->text(row));
        }
    }
    return 0;
}
