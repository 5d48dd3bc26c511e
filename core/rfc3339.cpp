#include "core/rfc3339.hpp"

#include "core/digits.hpp"

namespace merandol {

std::expected<char *, DateError> write_rfc3339(char *out, OffsetDateTime v) noexcept {
    const auto local = to_local(v);
    if (!local) return std::unexpected(local.error());
    return write_local_rfc3339(out, *local, v.offset);
}

char *write_local_rfc3339(char *out, DateTime local, UtcOffset offset) noexcept {
    out = write_date(out, local.date);
    *out++ = 'T';
    out = write_time(out, local.time);
    if (is_utc(offset)) {
        *out++ = 'Z';
        return out;
    }
    return write_offset(out, offset);
}

// Unicode White_Space, by UTF-8 length: ASCII tab to carriage return and
// space; U+0085 and U+00A0 (C2 xx); U+1680, U+2000-U+200A, U+2028, U+2029,
// U+202F, U+205F and U+3000 (three bytes).
static constexpr bool is_white_space(unsigned char c) noexcept { return (c >= 0x09 && c <= 0x0d) || c == ' '; }

static constexpr bool is_white_space(unsigned char a, unsigned char b) noexcept {
    return a == 0xc2 && (b == 0x85 || b == 0xa0);
}

static constexpr bool is_white_space(unsigned char a, unsigned char b, unsigned char c) noexcept {
    switch (a) {
        case 0xe1: return b == 0x9a && c == 0x80;  // U+1680
        case 0xe2:
            if (b == 0x80) return c <= 0x8a || c == 0xa8 || c == 0xa9 || c == 0xaf;  // U+2000-200A, 2028, 2029, 202F
            return b == 0x81 && c == 0x9f;                                           // U+205F
        case 0xe3: return b == 0x80 && c == 0x80;                                    // U+3000
        default: return false;
    }
}

std::string_view trim_white_space(std::string_view text) noexcept {
    auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    // Printable ASCII at both ends, the usual case: nothing to trim.
    if (!text.empty() && byte(0) - 0x21u < 0x5eu && byte(text.size() - 1) - 0x21u < 0x5eu) return text;
    // Leading: a character is recognised by its lead byte, so the bytes
    // that follow it are its own.
    for (;;) {
        const std::size_t n = text.size();
        if (n >= 1 && is_white_space(byte(0)))
            text.remove_prefix(1);
        else if (n >= 2 && is_white_space(byte(0), byte(1)))
            text.remove_prefix(2);
        else if (n >= 3 && is_white_space(byte(0), byte(1), byte(2)))
            text.remove_prefix(3);
        else
            break;
    }
    // Trailing: in valid UTF-8 a lead byte C2 or E1-E3 cannot be a
    // continuation byte, so a match at the end is a whole character.
    for (;;) {
        const std::size_t n = text.size();
        if (n >= 1 && is_white_space(byte(n - 1)))
            text.remove_suffix(1);
        else if (n >= 2 && is_white_space(byte(n - 2), byte(n - 1)))
            text.remove_suffix(2);
        else if (n >= 3 && is_white_space(byte(n - 3), byte(n - 2), byte(n - 1)))
            text.remove_suffix(3);
        else
            break;
    }
    return text;
}

// "+HH", "+HHMM", or "+H[H]:[M[M]]"; hours at most 23, minutes at most 59.
static std::expected<UtcOffset, ParseError> parse_offset(std::string_view text) noexcept {
    const auto fail = std::unexpected(ParseError::Rejected);
    if (UtcOffset offset; read_fixed_offset(text, offset)) return offset;
    if (text.size() < 3 || (text[0] != '+' && text[0] != '-')) return fail;
    const bool negative = text[0] == '-';
    const std::string_view d = digits::tail(text, 1);
    std::string_view hour_digits, minute_digits;
    if (const std::size_t colon = d.find(':'); colon != std::string_view::npos) {
        hour_digits = digits::slice(d, 0, colon);
        minute_digits = digits::tail(d, colon + 1);
        if (hour_digits.empty() || hour_digits.size() > 2 || minute_digits.size() > 2) return fail;
    } else if (d.size() == 2 || d.size() == 4) {
        hour_digits = digits::slice(d, 0, 2);
        minute_digits = digits::tail(d, 2);
    } else {
        return fail;
    }
    // Two digits at most, so anything read fits the offset type's fields,
    // which bound them.
    std::uint64_t hours, minutes = 0;
    if (!digits::read_bounded(hour_digits, 99, hours)) return fail;
    if (!minute_digits.empty() && !digits::read_bounded(minute_digits, 99, minutes)) return fail;
    const auto offset = UtcOffset::from_fields(!negative, hours, minutes);
    if (!offset) return fail;
    return *offset;
}

// Every other text, after trimming white space.
static std::expected<Rfc3339Reading, ParseError> read_general_rfc3339(std::string_view text) noexcept {
    const auto fail = std::unexpected(ParseError::Rejected);
    text = trim_white_space(text);

    std::size_t sep = text.find('T');
    if (sep == std::string_view::npos) sep = text.find(' ');
    if (sep == std::string_view::npos) return fail;
    const auto date = parse_date(digits::slice(text, 0, sep));
    if (!date) return fail;

    // "+" and "-" never occur inside a multi-byte UTF-8 character, so a
    // backward byte search finds the last such character.
    std::string_view rest = digits::tail(text, sep + 1), time_part;
    UtcOffset offset{0};
    const std::size_t n = rest.size();
    if (n != 0 && (rest.back() | 0x20) == 'z') {
        time_part = digits::slice(rest, 0, n - 1);
    } else if (n >= kOffsetTextSize && (rest[n - kOffsetTextSize] == '+' || rest[n - kOffsetTextSize] == '-') &&
               rest[n - kOffsetTextSize + kOffsetColon] == ':') {
        // "+HH:MM" at the end: its sign is the last one in the text, as
        // nothing after it may be a sign.
        time_part = digits::slice(rest, 0, n - kOffsetTextSize);
        const auto parsed = parse_offset(digits::tail(rest, n - kOffsetTextSize));
        if (!parsed) return fail;
        offset = *parsed;
    } else {
        const std::size_t sign = rest.find_last_of("+-");
        if (sign == std::string_view::npos) return fail;
        time_part = digits::slice(rest, 0, sign);
        const auto parsed = parse_offset(digits::tail(rest, sign));
        if (!parsed) return fail;
        offset = *parsed;
    }
    const auto time = parse_time(time_part);
    if (!time) return fail;
    return Rfc3339Reading{{*date, *time}, offset};
}

// Both readers below take this one step, inline: the fixed shapes at
// their places, every other text by the general parser.  (A flag and an
// output keep the reading in registers through the callers.)
[[gnu::always_inline]] static inline bool read_reading(std::string_view text, Rfc3339Reading &out) noexcept {
    if (read_fixed_rfc3339(text, out)) return true;
    const auto general = read_general_rfc3339(text);
    if (!general) return false;
    out = *general;
    return true;
}

std::expected<Rfc3339Reading, ParseError> read_rfc3339(std::string_view text) noexcept {
    if (Rfc3339Reading reading; read_reading(text, reading)) return reading;
    return std::unexpected(ParseError::Rejected);
}

std::expected<OffsetDateTime, ParseError> parse_rfc3339(std::string_view text) noexcept {
    Rfc3339Reading reading;
    if (!read_reading(text, reading)) return std::unexpected(ParseError::Rejected);
    // A zero offset leaves the reading as it is.
    if (reading.offset.seconds == 0) return OffsetDateTime{reading.local, reading.offset};
    const auto value = from_local(reading.local.date, reading.local.time, reading.offset);
    if (!value) return std::unexpected(ParseError::Rejected);
    return *value;
}

}  // namespace merandol
