// The named text forms: ISO 8601 as people write it, the Date: form of
// RFC 5322 (email) and the dates of RFC 9110 (HTTP).  Each reads a whole
// text into a TextValue and writes one canonical form.
#pragma once

#include <expected>
#include <string_view>

#include "core/text_form.hpp"

namespace merandol {

// Calendar, week and ordinal dates, in basic and extended form, alone or
// with a time (after "T" or a space) of reduced precision, a fraction after
// "." or "," of up to nine digits, and "Z", "+hh", "+hhmm" or "+hh:mm".
// Gives a Date, a DateTime (no offset) or an OffsetDateTime, as the text
// says.  Written as RFC 3339 (core/rfc3339.hpp).
std::expected<TextValue, TextError> read_iso8601(std::string_view text) noexcept;

// RFC 5322's date-time, obsolete forms included, as an OffsetDateTime.
std::expected<TextValue, TextError> read_rfc2822(std::string_view text) noexcept;

// RFC 9110's IMF-fixdate, RFC 850 date and asctime date, as a DateTime in
// UTC.
std::expected<TextValue, TextError> read_http_date(std::string_view text) noexcept;

// "Tue, 08 Dec 2026 14:36:25 +0000", of the local reading and its offset;
// the year as merandol writes years.
inline constexpr std::size_t kRfc2822TextMax = sizeof("Tue, 08 Dec -2147483648 14:36:25 +0000") - 1;
char *write_rfc2822(char *out, DateTime local, UtcOffset offset) noexcept;

// "Tue, 08 Dec 2026 14:36:25 GMT", of a UTC date-time.
inline constexpr std::size_t kHttpDateTextMax = sizeof("Tue, 08 Dec -2147483648 14:36:25 GMT") - 1;
char *write_http_date(char *out, DateTime utc) noexcept;

}  // namespace merandol
