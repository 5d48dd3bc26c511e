// RFC 9557 text of a zoned date-time: an RFC 3339 date-time whose offset
// may be left out, then bracketed annotations, the first of which names the
// time zone:
//
//   2026-12-08T15:36:25+01:00[Europe/Paris][u-ca=iso8601]
//
// The zone is an IANA name ("[Europe/Paris]") or a numeric offset
// ("[+01:00]", to the minute), either with the critical flag "!".  Every
// later annotation is a tag "key=value": "u-ca" names the calendar, which
// must be iso8601 (the only one here); any other key is ignored unless it
// is critical.  Two calendars with one of them critical are refused, as the
// reader cannot tell which one the writer meant.
//
// The reader is linear and never looks past the text's end.  It returns the
// reading, the offset as written and the zone's name as a view of the text;
// which instant that is, the zone's rules decide (see the binding).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

#include "core/rfc3339.hpp"

namespace merandol {

// How the offset was written: left out, "Z", "+HH:MM" (any shape RFC 3339
// reading accepts, to the minute), or "+HH:MM:SS".
enum class Rfc9557Offset : std::uint8_t { None, Utc, Minutes, Seconds };

struct Rfc9557Reading {
    DateTime local;
    UtcOffset offset;  // zero for None
    Rfc9557Offset offset_kind;
    bool zone_critical;
    // A numeric zone "[+01:00]": its offset, and `zone` is its text.
    bool zone_is_offset;
    UtcOffset zone_offset;
    std::string_view zone;  // a view of the text given to the reader
};

enum class Rfc9557Fault : std::uint8_t {
    DateTime,          // the part before the annotations is no date-time
    NoZone,            // no annotation, or the first one is a tag
    BadZone,           // the zone annotation is malformed
    BadAnnotation,     // a tag is malformed, or text follows the last one
    UnknownCritical,   // a critical tag of an unknown key
    Calendar,          // a calendar other than iso8601
    CalendarConflict,  // two calendars, one of them critical
};

// A short lowercase phrase, for "... is not an RFC 9557 text: <reason>".
constexpr std::string_view describe(Rfc9557Fault f) noexcept {
    constexpr std::string_view text[] = {
        "expected an RFC 3339 date-time before the annotations",
        "expected a time zone annotation",
        "malformed time zone annotation",
        "malformed annotation",
        "unknown critical annotation",
        "calendar is not iso8601",
        "two calendars, one of them critical",
    };
    return text[static_cast<unsigned>(f)];
}

struct Rfc9557Error {
    Rfc9557Fault fault;
    std::size_t position;  // of the byte where the fault lies, in the text as given
};

std::expected<Rfc9557Reading, Rfc9557Error> read_rfc9557(std::string_view text) noexcept;

// An offset rounded to the whole minute, half away from zero, as a text
// written to the minute shows it (Temporal's rounding of offsets).
constexpr std::int32_t round_offset_to_minute(std::int32_t seconds) noexcept {
    const std::int32_t magnitude = seconds < 0 ? -seconds : seconds;
    const std::int32_t rounded = (magnitude + 30) / 60 * 60;
    return seconds < 0 ? -rounded : rounded;
}
static_assert(round_offset_to_minute(561) == 540 && round_offset_to_minute(-75) == -60);  // Paris LMT +00:09:21
static_assert(round_offset_to_minute(30) == 60 && round_offset_to_minute(-30) == -60);
static_assert(round_offset_to_minute(29) == 0 && round_offset_to_minute(86400) == 86400);

// The local reading, the offset as "+HH:MM" (rounded to the minute, "+00:00"
// for zero) and the "[" that opens the zone's name, which the caller writes
// with the closing "]".
inline constexpr std::size_t kRfc9557HeadMax = kDateTimeTextMax - 1 + kOffsetTextSize + 1;
char *write_rfc9557_head(char *out, DateTime local, UtcOffset offset) noexcept;

}  // namespace merandol
