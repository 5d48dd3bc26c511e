// Arrow string arrays read where they lie: utf8 ("u", 32-bit offsets),
// large_utf8 ("U", 64-bit offsets) and utf8 views ("vu"), with their offset
// and nulls.  The producer of an array is not trusted: before any text is
// read, every number that places a text (lengths, offsets, buffer indexes)
// is checked against what the array itself declares, so that reading stays
// inside the buffers wherever the interface lets a consumer know their
// extent.  (It gives no sizes for the list of buffers, nor for the validity,
// offsets and views buffers: those hold what n_buffers, length and offset
// declare; and a utf8 data buffer holds what its last offset declares.)
//
// Plain C++: the Python binding opens the capsules and hands over the
// structs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

#include "core/arrow_abi.h"
#include "core/pattern.hpp"

namespace merandol::arrow {

enum class StringLayout : std::uint8_t { Utf8, LargeUtf8, Utf8View };

// The layout of an Arrow format string: "u", "U" or "vu"; false for any
// other format.
bool string_layout(std::string_view format, StringLayout &out) noexcept;

// What a producer's array declares wrongly.
enum class ArrayFault : std::uint8_t {
    NegativeLength,     // length < 0
    NegativeOffset,     // offset < 0
    RowsOverflow,       // offset + length beyond 64 bits
    BufferCount,        // n_buffers not what the layout has
    MissingBuffer,      // a buffer the rows need is NULL
    NullCount,          // null_count below -1 or above length
    NegativeTextStart,  // the first offset is negative
    OffsetsDecrease,    // an offset below the one before it
    ViewLength,         // a view with a negative length
    ViewBuffer,         // a view naming a data buffer that does not exist
    ViewRange,          // a view reaching outside its data buffer
    BufferSize,         // a data buffer with a negative size
};

// What the producer declares wrongly, in a few words that complete "the
// producer declares ...": "text offsets that decrease".
std::string_view wrong_declaration(ArrayFault fault) noexcept;

// One string array, checked.  Rows count from 0 at the array's offset.
struct StringColumn {
    StringLayout layout;
    std::int64_t size;
    // The array's validity bitmap: bit validity_bit + row (least significant
    // first) is set when the row holds a text.  nullptr when no row is null.
    const std::uint8_t *validity;
    std::int64_t validity_bit;  // the array's offset
    // utf8 and large_utf8: size + 1 offsets from row 0's; texts at
    // data + (offset - base).  Views: size views of 16 bytes from row 0's,
    // the data buffers and their sizes.
    const void *offsets;
    std::int64_t base;
    const char *data;
    std::int64_t data_size;  // bytes from data to the end of the last text
    const char *const *buffers;
    const std::int64_t *buffer_sizes;
    std::int64_t buffer_count;

    // Checks every row's place; the array must stay alive and unchanged
    // while the column is read.
    static std::expected<StringColumn, ArrayFault> open(const ArrowArray &array, StringLayout layout) noexcept;

    bool is_valid(std::int64_t row) const noexcept {
        const std::int64_t bit = validity_bit + row;
        return validity == nullptr || (validity[bit >> 3] >> (bit & 7) & 1) != 0;
    }

    // The text of a row that is not null, and how many bytes from its start
    // may be read: up to the end of what holds it.  (A null row's view is
    // not checked, so its text is not to be asked for.)
    std::string_view text(std::int64_t row, std::size_t &readable) const noexcept;
    std::string_view text(std::int64_t row) const noexcept {
        std::size_t readable;
        return text(row, readable);
    }
};

// Calls visit(row, text) for each row holding a text and visit(row) for each
// null, in order, while visit returns true; false when it stopped.
template <class Visit>
bool for_each_text(const StringColumn &column, Visit &&visit) {
    for (std::int64_t row = 0; row < column.size; ++row) {
        if (!(column.is_valid(row) ? visit(row, column.text(row)) : visit(row))) return false;
    }
    return true;
}

// --- Timestamps ---------------------------------------------------------------

// Arrow's timestamp units.
enum class TimeUnit : std::uint8_t { Second, Milli, Micro, Nano };

enum class RowError : std::uint8_t {
    Unreadable,  // parse_rfc3339 refuses the text
    OutOfRange,  // the instant does not fit 64 bits of the unit (the lowest value included)
    Finer,       // a fraction the unit cannot hold, which parse_to_numpy refuses too
};

struct RowFailure {
    std::int64_t row;
    RowError error;
};

// The instant of each row's text (read as parse_rfc3339 reads it) in `unit`
// into values[row], null rows getting `null_value`.  Returns the number of
// nulls, or the first row that fails; the output is then partly written.
// Of rows `first` to `end` (not included) alone, where calls on rows apart
// may run at once.
std::expected<std::int64_t, RowFailure> read_timestamps(const StringColumn &column, std::int64_t first,
                                                        std::int64_t end, TimeUnit unit, std::int64_t null_value,
                                                        std::int64_t *values) noexcept;
inline std::expected<std::int64_t, RowFailure> read_timestamps(const StringColumn &column, TimeUnit unit,
                                                               std::int64_t null_value, std::int64_t *values) noexcept {
    return read_timestamps(column, 0, column.size, unit, null_value, values);
}

// The instants of a plain pattern's usual texts (Pattern::read_plain_instant)
// of rows `from` to `end` (not included), each `shift_seconds` earlier
// (where a reading without an offset was made) in `unit` into values[row],
// null rows getting `null_value` (counted in `nulls`).  Returns the first
// row it leaves: a text of another shape or an instant beyond the unit's 64
// bits, which the pattern's full reader then reads or refuses; `end` when it
// took every row.  Calls on rows apart may run at once.
std::int64_t read_plain_readings(const StringColumn &column, const Pattern &pattern, TimeUnit unit,
                                 std::int64_t shift_seconds, std::int64_t from, std::int64_t end,
                                 std::int64_t null_value, std::int64_t *values, std::int64_t &nulls) noexcept;

}  // namespace merandol::arrow
