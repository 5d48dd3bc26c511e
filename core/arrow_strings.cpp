#include "core/arrow_strings.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "core/datetime.hpp"
#include "core/instant_units.hpp"
#include "core/rfc3339_fast.hpp"

namespace merandol::arrow {

bool string_layout(std::string_view format, StringLayout &out) noexcept {
    if (format == "u")
        out = StringLayout::Utf8;
    else if (format == "U")
        out = StringLayout::LargeUtf8;
    else if (format == "vu")
        out = StringLayout::Utf8View;
    else
        return false;
    return true;
}

std::string_view wrong_declaration(ArrayFault fault) noexcept {
    switch (fault) {
        case ArrayFault::NegativeLength: return "a negative length";
        case ArrayFault::NegativeOffset: return "a negative offset";
        case ArrayFault::RowsOverflow: return "an offset and length beyond 64 bits";
        case ArrayFault::BufferCount: return "a number of buffers its type does not have";
        case ArrayFault::MissingBuffer: return "a missing buffer";
        case ArrayFault::NullCount: return "a null count outside its length";
        case ArrayFault::NegativeTextStart: return "a negative first text offset";
        case ArrayFault::OffsetsDecrease: return "text offsets that decrease";
        case ArrayFault::ViewLength: return "a string view of negative length";
        case ArrayFault::ViewBuffer: return "a string view naming a data buffer it does not have";
        case ArrayFault::ViewRange: return "a string view reaching outside its data buffer";
        case ArrayFault::BufferSize: return "a data buffer of negative size";
    }
    return "an unknown fault";
}

// --- Layouts ------------------------------------------------------------------

// A utf8 view: the length, then either the text itself (in the 12 bytes
// after the length) or its first four bytes, the index of its data buffer
// and its offset there.
struct View {
    std::int32_t length, prefix, buffer, offset;
};
inline constexpr std::size_t kViewSize = sizeof(View);
static_assert(kViewSize == 16);
inline constexpr std::size_t kViewInlineAt = offsetof(View, prefix);
inline constexpr std::int32_t kViewInlineMax = kViewSize - kViewInlineAt;
static_assert(kViewInlineMax == 12);

static inline const char *view_bytes(const void *views, std::int64_t row) noexcept {
    return static_cast<const char *>(views) + row * static_cast<std::int64_t>(kViewSize);
}

static inline View view_at(const void *views, std::int64_t row) noexcept {
    View v;
    std::memcpy(&v, view_bytes(views, row), sizeof v);
    return v;
}

// The buffers of a string array: the validity bitmap, then the offsets (or
// the views), then utf8's one data buffer, or the views' data buffers and a
// last buffer of their sizes.
inline constexpr std::size_t kValidityBuffer = 0, kPlacesBuffer = 1, kDataBuffer = 2;
inline constexpr std::int64_t kUtf8Buffers = 3;
inline constexpr std::int64_t kViewsOtherBuffers = 3;  // validity, views, sizes

// Where no text has a byte: the data of a column whose texts are all empty,
// when its producer gives no data buffer.
static constexpr char kNoBytes[1] = {};

template <class Offset>
static std::expected<void, ArrayFault> open_offsets(const ArrowArray &array, StringColumn &c) noexcept {
    const auto *offsets = static_cast<const Offset *>(array.buffers[kPlacesBuffer]);
    if (offsets == nullptr) return std::unexpected(ArrayFault::MissingBuffer);
    offsets += array.offset;
    if (offsets[0] < 0) return std::unexpected(ArrayFault::NegativeTextStart);
    // One pass without branches before any text is read.
    bool decrease = false;
    for (std::int64_t row = 0; row < array.length; ++row) decrease |= offsets[row + 1] < offsets[row];
    if (decrease) return std::unexpected(ArrayFault::OffsetsDecrease);
    const auto *data = static_cast<const char *>(array.buffers[kDataBuffer]);
    c.offsets = offsets;
    c.base = offsets[0];
    c.data_size = offsets[array.length] - c.base;
    if (data == nullptr) {
        if (c.data_size != 0) return std::unexpected(ArrayFault::MissingBuffer);
        c.data = kNoBytes;
    } else {
        c.data = data + c.base;
    }
    return {};
}

static std::expected<void, ArrayFault> open_views(const ArrowArray &array, StringColumn &c) noexcept {
    const void *views = array.buffers[kPlacesBuffer];
    if (views == nullptr) return std::unexpected(ArrayFault::MissingBuffer);
    c.offsets = view_bytes(views, array.offset);
    c.buffer_count = array.n_buffers - kViewsOtherBuffers;
    c.buffers = reinterpret_cast<const char *const *>(array.buffers + kDataBuffer);
    c.buffer_sizes = static_cast<const std::int64_t *>(array.buffers[array.n_buffers - 1]);
    if (c.buffer_count > 0 && c.buffer_sizes == nullptr) return std::unexpected(ArrayFault::MissingBuffer);
    for (std::int64_t row = 0; row < c.size; ++row) {
        if (!c.is_valid(row)) continue;
        const View v = view_at(c.offsets, row);
        if (v.length < 0) return std::unexpected(ArrayFault::ViewLength);
        if (v.length <= kViewInlineMax) continue;
        if (v.buffer < 0 || v.buffer >= c.buffer_count) return std::unexpected(ArrayFault::ViewBuffer);
        if (c.buffers[v.buffer] == nullptr) return std::unexpected(ArrayFault::MissingBuffer);
        const std::int64_t size = c.buffer_sizes[v.buffer];
        if (size < 0) return std::unexpected(ArrayFault::BufferSize);
        if (v.offset < 0 || v.offset > size - v.length) return std::unexpected(ArrayFault::ViewRange);
    }
    return {};
}

std::expected<StringColumn, ArrayFault> StringColumn::open(const ArrowArray &array, StringLayout layout) noexcept {
    if (array.length < 0) return std::unexpected(ArrayFault::NegativeLength);
    if (array.offset < 0) return std::unexpected(ArrayFault::NegativeOffset);
    if (std::int64_t end; __builtin_add_overflow(array.offset, array.length, &end))
        return std::unexpected(ArrayFault::RowsOverflow);
    if (array.null_count < -1 || array.null_count > array.length) return std::unexpected(ArrayFault::NullCount);
    const bool views = layout == StringLayout::Utf8View;
    if (views ? array.n_buffers < kViewsOtherBuffers : array.n_buffers != kUtf8Buffers)
        return std::unexpected(ArrayFault::BufferCount);
    if (array.buffers == nullptr) return std::unexpected(ArrayFault::MissingBuffer);

    StringColumn c{};
    c.layout = layout;
    c.size = array.length;
    c.data = kNoBytes;
    // A null count of zero makes the bitmap moot, as Arrow's own importer
    // takes it.
    const auto *validity = static_cast<const std::uint8_t *>(array.buffers[kValidityBuffer]);
    if (array.null_count != 0 && validity != nullptr) {
        c.validity = validity;
        c.validity_bit = array.offset;
    } else if (array.null_count > 0) {
        return std::unexpected(ArrayFault::MissingBuffer);
    }
    if (array.length == 0) return c;

    std::expected<void, ArrayFault> opened;
    switch (layout) {
        case StringLayout::Utf8: opened = open_offsets<std::int32_t>(array, c); break;
        case StringLayout::LargeUtf8: opened = open_offsets<std::int64_t>(array, c); break;
        case StringLayout::Utf8View: opened = open_views(array, c); break;
    }
    if (!opened) return std::unexpected(opened.error());
    return c;
}

template <StringLayout Layout>
[[gnu::always_inline]] static inline std::string_view text_of(const StringColumn &c, std::int64_t row,
                                                              std::size_t &readable) noexcept {
    if constexpr (Layout == StringLayout::Utf8View) {
        const View v = view_at(c.offsets, row);
        const auto length = static_cast<std::size_t>(v.length);
        if (v.length <= kViewInlineMax) {
            readable = kViewInlineMax;
            return {view_bytes(c.offsets, row) + kViewInlineAt, length};
        }
        readable = static_cast<std::size_t>(c.buffer_sizes[v.buffer] - v.offset);
        return {c.buffers[v.buffer] + v.offset, length};
    } else {
        using Offset = std::conditional_t<Layout == StringLayout::Utf8, std::int32_t, std::int64_t>;
        const auto *offsets = static_cast<const Offset *>(c.offsets);
        const std::int64_t start = offsets[row] - c.base, end = offsets[row + 1] - c.base;
        readable = static_cast<std::size_t>(c.data_size - start);
        return {c.data + start, static_cast<std::size_t>(end - start)};
    }
}

std::string_view StringColumn::text(std::int64_t row, std::size_t &readable) const noexcept {
    switch (layout) {
        case StringLayout::Utf8: return text_of<StringLayout::Utf8>(*this, row, readable);
        case StringLayout::LargeUtf8: return text_of<StringLayout::LargeUtf8>(*this, row, readable);
        case StringLayout::Utf8View: return text_of<StringLayout::Utf8View>(*this, row, readable);
    }
    return {};
}

// --- Timestamps ---------------------------------------------------------------

// The instant in the unit, or the row's error.
template <std::int64_t NanosPerUnit>
[[gnu::always_inline]] static inline bool to_units(std::int64_t instant_seconds, std::uint32_t nanosecond,
                                                   std::int64_t &out, RowError &error) noexcept {
    if (NanosPerUnit > 1 && nanosecond % NanosPerUnit != 0) {
        error = RowError::Finer;
        return false;
    }
    if (instant_to_units<NanosPerUnit>(instant_seconds, nanosecond, out)) return true;
    error = RowError::OutOfRange;
    return false;
}

// How far ahead of the batch being read its texts' bytes are fetched.  On
// 10^6 texts of 29 bytes, 15.8 ns a text without, 9.4 with 256 bytes, 8.4
// with 1024 and 8.5 with 4096: the processor's own prefetch falls behind
// here.
inline constexpr std::int64_t kPrefetchBytes = 1024;
// The same for views, in rows: 1024 bytes of 29-byte texts.
inline constexpr std::int64_t kPrefetchRows = 32;
// A fetch brings a cache line.
inline constexpr std::int64_t kCacheLine = 64;

// Fetches the texts of the rows ahead of a batch.  The offsets' texts lie in
// one buffer in row order; views may place each anywhere, and their own
// views tell where the texts of rows as far ahead lie.
template <StringLayout Layout>
[[gnu::always_inline]] static inline void prefetch_ahead(const StringColumn &c, std::int64_t row,
                                                         const char *const (&texts)[kFastBatch],
                                                         const std::size_t (&sizes)[kFastBatch]) noexcept {
    if constexpr (Layout != StringLayout::Utf8View) {
        const std::int64_t first = texts[0] - c.data + kPrefetchBytes;
        const std::int64_t end =
            std::min(texts[kFastBatch - 1] + sizes[kFastBatch - 1] - c.data + kPrefetchBytes, c.data_size);
        for (std::int64_t at = first; at < end; at += kCacheLine) __builtin_prefetch(c.data + at);
    } else if (const std::int64_t ahead = row + kPrefetchRows; c.size - ahead >= std::int64_t{kFastBatch}) {
        for (std::int64_t k = 0; k < std::int64_t{kFastBatch}; ++k) {
            std::size_t readable;
            if (c.is_valid(ahead + k)) __builtin_prefetch(text_of<Layout>(c, ahead + k, readable).data());
        }
    }
}

// The texts of the batch of rows from `row`: false unless all eight hold a
// text with a whole window readable.
template <StringLayout Layout>
[[gnu::always_inline]] static inline bool batch_texts(const StringColumn &c, std::int64_t row,
                                                      const char *(&texts)[kFastBatch],
                                                      std::size_t (&sizes)[kFastBatch]) noexcept {
    bool whole = true;
    if (c.validity != nullptr)
        for (std::size_t i = 0; i < kFastBatch; ++i) whole &= c.is_valid(row + static_cast<std::int64_t>(i));
    if (!whole) return false;
    for (std::size_t i = 0; i < kFastBatch; ++i) {
        std::size_t readable;
        const std::string_view text = text_of<Layout>(c, row + static_cast<std::int64_t>(i), readable);
        texts[i] = text.data();
        sizes[i] = text.size();
        whole &= readable >= kFastWindow;
    }
    return whole;
}

// Rows go eight at a time through the fast path's batch where all eight
// hold a text with a whole window readable, which is every row of a column
// without nulls but its last few; the rest, and any text the batch leaves,
// one at a time.
template <StringLayout Layout, std::int64_t NanosPerUnit>
static std::expected<std::int64_t, RowFailure> fill(const StringColumn &c, std::int64_t first, std::int64_t end,
                                                    std::int64_t null_value, std::int64_t *values) noexcept {
    const FastReadBatch read_batch = fast_batch_reader(best_fast_kernel());
    std::int64_t nulls = 0;
    RowFailure failure{};
    auto fail = [&failure](std::int64_t row, RowError error) {
        failure = {row, error};
        return false;
    };
    auto read_one = [&](std::int64_t row) {
        if (!c.is_valid(row)) {
            values[row] = null_value;
            ++nulls;
            return true;
        }
        std::size_t readable;
        const std::string_view text = text_of<Layout>(c, row, readable);
        Rfc3339Instant instant;
        if (!read_fast_rfc3339(text, readable, instant) && !read_rfc3339_instant_slowly(text, instant))
            return fail(row, RowError::Unreadable);
        RowError error;
        return to_units<NanosPerUnit>(instant.seconds, instant.nanosecond, values[row], error) || fail(row, error);
    };
    std::int64_t row = first;
    for (; end - row >= static_cast<std::int64_t>(kFastBatch); row += kFastBatch) {
        unsigned read = 0;
        FastBatch batch;
        const char *texts[kFastBatch];
        std::size_t sizes[kFastBatch];
        if (batch_texts<Layout>(c, row, texts, sizes)) {
            prefetch_ahead<Layout>(c, row, texts, sizes);
            read = read_batch(texts, sizes, batch);
        }
        for (std::size_t i = 0; i < kFastBatch; ++i) {
            const std::int64_t at = row + static_cast<std::int64_t>(i);
            RowError error;
            if (read >> i & 1 ? !to_units<NanosPerUnit>(batch.seconds[i], batch.nanosecond[i], values[at], error) &&
                                    !fail(at, error)
                              : !read_one(at))
                return std::unexpected(failure);
        }
    }
    for (; row < end; ++row)
        if (!read_one(row)) return std::unexpected(failure);
    return nulls;
}

template <StringLayout Layout>
static std::expected<std::int64_t, RowFailure> fill_in(const StringColumn &c, std::int64_t first, std::int64_t end,
                                                       TimeUnit unit, std::int64_t null_value,
                                                       std::int64_t *values) noexcept {
    switch (unit) {
        case TimeUnit::Second: return fill<Layout, 1000000000>(c, first, end, null_value, values);
        case TimeUnit::Milli: return fill<Layout, 1000000>(c, first, end, null_value, values);
        case TimeUnit::Micro: return fill<Layout, 1000>(c, first, end, null_value, values);
        case TimeUnit::Nano: return fill<Layout, 1>(c, first, end, null_value, values);
    }
    return 0;
}

std::expected<std::int64_t, RowFailure> read_timestamps(const StringColumn &column, std::int64_t first,
                                                        std::int64_t end, TimeUnit unit, std::int64_t null_value,
                                                        std::int64_t *values) noexcept {
    switch (column.layout) {
        case StringLayout::Utf8: return fill_in<StringLayout::Utf8>(column, first, end, unit, null_value, values);
        case StringLayout::LargeUtf8:
            return fill_in<StringLayout::LargeUtf8>(column, first, end, unit, null_value, values);
        case StringLayout::Utf8View:
            return fill_in<StringLayout::Utf8View>(column, first, end, unit, null_value, values);
    }
    return 0;
}

template <StringLayout Layout, std::int64_t NanosPerUnit>
static std::int64_t plain_rows(const StringColumn &c, const Pattern &pattern, std::int64_t shift, std::int64_t row,
                               std::int64_t end, std::int64_t null_value, std::int64_t *values,
                               std::int64_t &nulls) noexcept {
    for (; row < end; ++row) {
        if (!c.is_valid(row)) {
            values[row] = null_value;
            ++nulls;
            continue;
        }
        std::size_t readable;
        const std::string_view text = text_of<Layout>(c, row, readable);
        // The processor's own prefetch falls behind here too (see
        // kPrefetchBytes); a fetch past the buffer's end does not fault.
        if constexpr (Layout != StringLayout::Utf8View) __builtin_prefetch(text.data() + kPrefetchBytes);
        std::int64_t seconds;
        if (!pattern.read_plain_instant(text, seconds) ||
            !instant_to_units<NanosPerUnit>(seconds - shift, 0, values[row]))
            break;
    }
    return row;
}

template <StringLayout Layout>
static std::int64_t plain_rows_in(const StringColumn &c, const Pattern &pattern, TimeUnit unit, std::int64_t shift,
                                  std::int64_t from, std::int64_t end, std::int64_t null_value, std::int64_t *values,
                                  std::int64_t &nulls) noexcept {
    switch (unit) {
        case TimeUnit::Second:
            return plain_rows<Layout, 1000000000>(c, pattern, shift, from, end, null_value, values, nulls);
        case TimeUnit::Milli:
            return plain_rows<Layout, 1000000>(c, pattern, shift, from, end, null_value, values, nulls);
        case TimeUnit::Micro: return plain_rows<Layout, 1000>(c, pattern, shift, from, end, null_value, values, nulls);
        case TimeUnit::Nano: return plain_rows<Layout, 1>(c, pattern, shift, from, end, null_value, values, nulls);
    }
    return from;
}

std::int64_t read_plain_readings(const StringColumn &column, const Pattern &pattern, TimeUnit unit,
                                 std::int64_t shift_seconds, std::int64_t from, std::int64_t end,
                                 std::int64_t null_value, std::int64_t *values, std::int64_t &nulls) noexcept {
    switch (column.layout) {
        case StringLayout::Utf8:
            return plain_rows_in<StringLayout::Utf8>(column, pattern, unit, shift_seconds, from, end, null_value,
                                                     values, nulls);
        case StringLayout::LargeUtf8:
            return plain_rows_in<StringLayout::LargeUtf8>(column, pattern, unit, shift_seconds, from, end, null_value,
                                                          values, nulls);
        case StringLayout::Utf8View:
            return plain_rows_in<StringLayout::Utf8View>(column, pattern, unit, shift_seconds, from, end, null_value,
                                                         values, nulls);
    }
    return from;
}

}  // namespace merandol::arrow
