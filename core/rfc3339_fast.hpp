// The instant of an RFC 3339 text, for column readers: a fast path for the
// shape every writer produces, "YYYY-MM-DDTHH:MM:SS", an optional fraction
// of one to nine digits, then "Z" or "+HH:MM" / "-HH:MM", which checks and
// converts many bytes at once; and read_rfc3339 for every other text.
//
// The fast path never refuses: it either gives the instant, exactly as
// parse_rfc3339 would give it, or answers that the text is not of its
// shape.  It also takes the variants of that shape that parse_rfc3339
// reads the same way (a space for "T", "z" for "Z"), so a column from
// another writer does not fall to the full reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace merandol {

// An instant and the offset it was written at: the whole Unix seconds of the
// UTC reading and the nanosecond within that second.
struct Rfc3339Instant {
    std::int64_t seconds;      // [kMinUnixSeconds, kMaxUnixSeconds]
    std::uint32_t nanosecond;  // [0, 999999999]
    std::int32_t offset;       // seconds east of UTC, a whole minute within 23:59

    friend constexpr bool operator==(Rfc3339Instant, Rfc3339Instant) noexcept = default;
};

// The longest text of the fast path: 19 characters of date and time, a dot
// and nine digits, and "+HH:MM".
inline constexpr std::size_t kFastTextMax = 19 + 10 + 6;
// The bytes a kernel loads from the start of a text.  Only the date, time
// and fraction come from that load (at most 29 bytes); the offset, which
// the longest texts carry beyond it, is read from the text's own end.
inline constexpr std::size_t kFastWindow = 32;

// The ways of running the fast path: plain 64-bit words, or SSE4.2 / AVX2
// vectors where the processor has them.  All three accept the same texts.
enum class FastKernel : std::uint8_t { Scalar, Sse42, Avx2 };

// A kernel's reader.  It may load kFastWindow bytes from `text` whatever
// `size` is, so those bytes must be readable; what lies beyond `size` does
// not change the answer.
using FastRead = bool (*)(const char *text, std::size_t size, Rfc3339Instant &out) noexcept;

// Whether this processor (and its operating system) runs the kernel.
bool fast_kernel_supported(FastKernel kernel) noexcept;
// The best kernel this processor runs, chosen on the first call.
FastKernel best_fast_kernel() noexcept;
// The reader of a supported kernel.
FastRead fast_reader(FastKernel kernel) noexcept;
// The same kernel's bounded reader, which loads no byte past `size`, for a text at
// the end of its buffer: it gathers a short text's bytes from loads that
// end at the text's end, a little dearer than one load of the window.
FastRead fast_reader_bounded(FastKernel kernel) noexcept;

// Eight texts at once, for column readers: bit i of the answer is set when
// texts[i] (sizes[i] bytes, of which kFastWindow may be read whatever the
// size) is of the shape, and its instant is then in out at i.  Each answers
// as the kernel's reader does.
inline constexpr std::size_t kFastBatch = 8;
struct FastBatch {
    std::int64_t seconds[kFastBatch];
    std::uint32_t nanosecond[kFastBatch];
    std::int32_t offset[kFastBatch];  // seconds east of UTC
};
using FastReadBatch = unsigned (*)(const char *const *texts, const std::size_t *sizes, FastBatch &out) noexcept;
FastReadBatch fast_batch_reader(FastKernel kernel) noexcept;
// The same batch that reads no byte past any text's end: the texts' sizes
// are all that may be read.
FastReadBatch fast_batch_reader_bounded(FastKernel kernel) noexcept;

// The fast path with the best kernel.  `readable` is how many bytes from
// text.data() may be read (at least text.size()): when fewer than
// kFastWindow, the kernel's bounded reader reads it.
bool read_fast_rfc3339(std::string_view text, std::size_t readable, Rfc3339Instant &out) noexcept;
inline bool read_fast_rfc3339(std::string_view text, Rfc3339Instant &out) noexcept {
    return read_fast_rfc3339(text, text.size(), out);
}

// The instant of any text: the fast path, then read_rfc3339.  False exactly
// when parse_rfc3339 refuses the text (its UTC reading beyond the range
// included); otherwise the instant of the value parse_rfc3339 reads.
bool read_rfc3339_instant(std::string_view text, std::size_t readable, Rfc3339Instant &out) noexcept;
inline bool read_rfc3339_instant(std::string_view text, Rfc3339Instant &out) noexcept {
    return read_rfc3339_instant(text, text.size(), out);
}

// What read_rfc3339_instant does with a text off the fast path, on its own:
// the full reader.
bool read_rfc3339_instant_slowly(std::string_view text, Rfc3339Instant &out) noexcept;

}  // namespace merandol
