// RFC 3339 text of an offset date-time: the local date, "T", the local time,
// then "Z" for a zero offset or "+HH:MM" / "-HH:MM".
#pragma once

#include <expected>
#include <string_view>

#include "core/offset.hpp"

namespace merandol {

inline constexpr std::size_t kRfc3339TextMax = kDateTextMax + 1 + kTimeTextMax + kOffsetTextSize;

// Fails when the local reading is not representable; the value itself is
// valid, so the caller decides how to report it.
std::expected<char *, DateError> write_rfc3339(char *out, OffsetDateTime v) noexcept;

// Reads the text after trimming Unicode white space (UTF-8) at both ends.
// Also accepts a space for "T", "z" for "Z", and offsets "+HH", "+HHMM",
// "+H:", "+HH:", "+H:M", "+H:MM", "+HH:M".
std::expected<OffsetDateTime, ParseError> parse_rfc3339(std::string_view text) noexcept;

// The text with White_Space characters removed from both ends.
std::string_view trim_white_space(std::string_view text) noexcept;

}  // namespace merandol
