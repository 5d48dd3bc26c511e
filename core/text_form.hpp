// What a text in one of the forms people write gives, and why a reading of
// one stopped: the common ground of the pattern reader (core/pattern.hpp)
// and the named forms (core/named_forms.hpp: ISO 8601, RFC 5322 dates,
// HTTP dates), so that one binding and one column layer serve them all.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/offset.hpp"

namespace merandol {

// The class a text gives.  A pattern fixes it when compiled; a named form
// whose class follows the text (ISO 8601) reports `ByText` as its kind and
// the class of each text in the value it reads.
enum class TextKind : std::uint8_t { Date, Time, DateTime, OffsetDateTime, ByText };

// A value read from a text.  Only the fields its kind names are meaningful:
// `date` for Date, `time` for Time, both for DateTime (the reading as
// written), all three for OffsetDateTime (the local reading and its offset,
// not yet turned into UTC: the caller does that, as it may lie beyond the
// range in UTC while the reading does not).
struct TextValue {
    TextKind kind;
    Date date;
    Time time;
    UtcOffset offset;
};

// Why a reading stopped.  Each names one fault; `TextError` carries what a
// message needs to say where.
enum class TextFault : std::uint8_t {
    Mismatch,       // the text does not have what the pattern asks for here
    OutOfRange,     // a field's number is too large or small (`value` holds it)
    Contradiction,  // two fields disagree (a weekday that is not the date's)
    Leftover,       // text remains after the pattern's end
    Truncated,      // the text ended before the pattern did
};

struct TextError {
    TextFault fault;
    // Position in the text, in bytes from 0, where reading stopped.  The
    // binding turns it into code points.
    std::uint32_t position;
    // The directive that was being read, as written in the pattern ("%m",
    // "%-d"), or empty for literal text, a named form, or a fault of the
    // whole text.  It views the pattern (or a static string), so it lives as
    // long as the compiled form does.
    std::string_view directive;
    // The field's name for OutOfRange and Contradiction ("month",
    // "weekday"); for a Mismatch, what was expected there ("a digit", "a
    // month name"), or empty when the directive says it.  A static string.
    std::string_view field;
    // The number read, for OutOfRange; for a weekday's Contradiction, both
    // weekdays (weekday_contradiction).
    std::int64_t value;
};

// A weekday named in the text that is not the date's, in one number: the
// weekday read, and eight times the date's.
constexpr std::int64_t weekday_contradiction(Weekday read, Weekday date) noexcept {
    return static_cast<std::int64_t>(read) + 8 * static_cast<std::int64_t>(date);
}
constexpr Weekday weekday_read(std::int64_t contradiction) noexcept { return static_cast<Weekday>(contradiction % 8); }
constexpr Weekday weekday_of_date(std::int64_t contradiction) noexcept {
    return static_cast<Weekday>(contradiction / 8);
}
static_assert(weekday_of_date(weekday_contradiction(Weekday::Monday, Weekday::Sunday)) == Weekday::Sunday &&
              weekday_read(weekday_contradiction(Weekday::Sunday, Weekday::Monday)) == Weekday::Sunday);

}  // namespace merandol
