// RFC 3339 text of an offset date-time: the local date, "T", the local time,
// then "Z" for a zero offset or "+HH:MM" / "-HH:MM".
#pragma once

#include <expected>
#include <string_view>

#include "core/digits.hpp"
#include "core/offset.hpp"

namespace merandol {

inline constexpr std::size_t kRfc3339TextMax = kDateTextMax + 1 + kTimeTextMax + kOffsetTextSize;

// Fails when the local reading is not representable; the value itself is
// valid, so the caller decides how to report it.
std::expected<char *, DateError> write_rfc3339(char *out, OffsetDateTime v) noexcept;
// The same text from the local reading itself, for a caller that has it.
char *write_local_rfc3339(char *out, DateTime local, UtcOffset offset) noexcept;

// Reads the text after trimming Unicode white space (UTF-8) at both ends.
// Also accepts a space for "T", "z" for "Z", and offsets "+HH", "+HHMM",
// "+H:", "+HH:", "+H:M", "+H:MM", "+HH:M".  Fails too when the UTC reading
// lies beyond either end of the DateTime range.
std::expected<OffsetDateTime, ParseError> parse_rfc3339(std::string_view text) noexcept;

// The local reading and the offset of a text, before they are turned into
// UTC: the first step of parse_rfc3339, for readers that want the instant
// alone (it is unix_timestamp(local) - offset, and parse_rfc3339 accepts
// the text exactly when that lies from kMinUnixSeconds to kMaxUnixSeconds).
struct Rfc3339Reading {
    DateTime local;
    UtcOffset offset;
};
std::expected<Rfc3339Reading, ParseError> read_rfc3339(std::string_view text) noexcept;

// The shapes every writer produces, a fixed-place local reading, then "Z"
// or "+HH:MM", into any reading with a `local` and an `offset`; false for
// every other text, which read_rfc3339 reads.  Such a text starts with a
// digit and ends with a letter or a digit, so there is nothing to trim, and
// the general reader would split it at the same places.  A caller reads in
// place with it: a reading returned and copied is loaded whole over the
// separate stores of its fields, a load that waits until they reach the
// cache (some 15 cycles).
template <class Reading>
[[gnu::always_inline]] inline bool read_fixed_rfc3339(std::string_view text, Reading &out) noexcept {
    const std::size_t n = text.size();
    if (n < kFixedDateTimeSize + 1) return false;  // and a "Z" at the least
    if ((text[n - 1] | 0x20) == 'z') {
        out.offset = UtcOffset{0};
        return read_fixed_datetime(digits::slice(text, 0, n - 1), out.local);
    }
    return n >= kFixedDateTimeSize + kOffsetTextSize &&
           read_fixed_offset(digits::tail(text, n - kOffsetTextSize), out.offset) &&
           read_fixed_datetime(digits::slice(text, 0, n - kOffsetTextSize), out.local);
}

// The text with White_Space characters removed from both ends.
std::string_view trim_white_space(std::string_view text) noexcept;

}  // namespace merandol
