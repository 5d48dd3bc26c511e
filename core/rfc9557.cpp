#include "core/rfc9557.hpp"

#include <array>

#include "core/digits.hpp"

namespace merandol {

char *write_rfc9557_head(char *out, DateTime local, UtcOffset offset) noexcept {
    out = write_date(out, local.date);
    *out++ = 'T';
    out = write_time(out, local.time);
    out = write_offset(out, UtcOffset{round_offset_to_minute(offset.seconds)});
    *out++ = '[';
    return out;
}

namespace {

constexpr bool is_alpha(char c) noexcept { return static_cast<unsigned>((c | 0x20) - 'a') < 26u; }
constexpr bool is_lower(char c) noexcept { return static_cast<unsigned>(c - 'a') < 26u; }

// "+HH:MM:SS" at the end of the part before the annotations: the offset
// of a zone's local mean time, to the second.
inline constexpr std::size_t kOffsetSecondsSize = sizeof("+HH:MM:SS") - 1;

bool read_offset_seconds(std::string_view text, UtcOffset &out) noexcept {
    if (text.size() != kOffsetSecondsSize || (text[0] != '+' && text[0] != '-') || text[3] != ':' || text[6] != ':')
        return false;
    std::uint64_t hours, minutes, seconds;
    if (!digits::read_bounded(digits::slice(text, 1, 3), 23, hours) ||
        !digits::read_bounded(digits::slice(text, 4, 6), 59, minutes) ||
        !digits::read_bounded(digits::slice(text, 7, 9), 59, seconds))
        return false;
    const auto magnitude = static_cast<std::int32_t>(hours * 3600 + minutes * 60 + seconds);
    out = UtcOffset{text[0] == '-' ? -magnitude : magnitude};
    return true;
}

// The date-time before the annotations: its local reading and its offset,
// if any.  The RFC 3339 reader takes every offset to the minute (its fixed
// shape first, the usual text, read in place); what it refuses may end in
// "+HH:MM:SS" or have no offset at all, which no time of day holds a sign
// or a "Z" in.
bool read_head(std::string_view head, Rfc9557Reading &out) noexcept {
    // No white space around it, which the RFC 3339 reader would trim: the
    // text starts with the year and ends with a digit or the "Z".
    if (head.empty() || !(digits::is_digit(head[0]) || head[0] == '+' || head[0] == '-') ||
        !(digits::is_digit(head.back()) || (head.back() | 0x20) == 'z'))
        return false;
    if (read_fixed_rfc3339(head, out)) {
        out.offset_kind = (head.back() | 0x20) == 'z' ? Rfc9557Offset::Utc : Rfc9557Offset::Minutes;
        return true;
    }
    if (const auto reading = read_rfc3339(head)) {
        out.local = reading->local;
        out.offset = reading->offset;
        out.offset_kind = (head.back() | 0x20) == 'z' ? Rfc9557Offset::Utc : Rfc9557Offset::Minutes;
        return true;
    }
    const std::size_t n = head.size();
    out.offset = UtcOffset{0};
    out.offset_kind = Rfc9557Offset::None;
    if (n > kOffsetSecondsSize && read_offset_seconds(digits::tail(head, n - kOffsetSecondsSize), out.offset)) {
        out.offset_kind = Rfc9557Offset::Seconds;
        head = digits::slice(head, 0, n - kOffsetSecondsSize);
    }
    std::size_t sep = head.find('T');
    if (sep == std::string_view::npos) sep = head.find(' ');
    if (sep == std::string_view::npos) return false;
    const auto date = parse_date(digits::slice(head, 0, sep));
    if (!date) return false;
    const auto time = parse_time(digits::tail(head, sep + 1));
    if (!time) return false;
    out.local = {*date, *time};
    return true;
}

// What a byte may be in a zone name: first in a part (a letter or "_"; a
// "." too, which needs a look at its part), later in one (those, a digit,
// "-" or "+"), or the "/" between parts.  A table, so that a byte costs one
// load and a test against what the byte before allows.
enum : std::uint8_t { kFirstInPart = 1, kDotFirstInPart = 2, kLaterInPart = 4, kSeparator = 8 };
inline constexpr auto kZoneNameBytes = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        const char b = static_cast<char>(c);
        if (is_alpha(b) || b == '_')
            table[c] = kFirstInPart | kLaterInPart;
        else if (b == '.')
            table[c] = kDotFirstInPart | kLaterInPart;
        else if (digits::is_digit(b) || b == '-' || b == '+')
            table[c] = kLaterInPart;
        else if (b == '/')
            table[c] = kSeparator;
    }
    return table;
}();
static_assert(kZoneNameBytes['E'] == 5 && kZoneNameBytes['5'] == kLaterInPart && kZoneNameBytes['/'] == kSeparator);

// "Europe/Paris": parts of a leading letter, "." or "_", then letters,
// digits, ".", "_", "-" or "+", split by "/"; no part is "." or "..".
bool is_zone_name(std::string_view name) noexcept {
    constexpr std::uint8_t kPartStart = kFirstInPart | kDotFirstInPart;
    std::uint8_t allowed = kPartStart;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const std::uint8_t kind = kZoneNameBytes[static_cast<unsigned char>(name[i])];
        const std::uint8_t matched = kind & allowed;
        if (matched == 0) return false;
        if (matched == kDotFirstInPart) [[unlikely]] {
            const std::string_view part = digits::tail(name, i).substr(0, digits::tail(name, i).find('/'));
            if (part == "." || part == "..") return false;
        }
        allowed = kind == kSeparator ? kPartStart : kLaterInPart | kSeparator;
    }
    // Neither empty nor ending in "/".
    return allowed != kPartStart;
}

// "+HH", "+HHMM" or "+HH:MM": a zone that keeps one offset, to the minute.
bool read_zone_offset(std::string_view text, UtcOffset &out) noexcept {
    if (text.size() < 3 || (text[0] != '+' && text[0] != '-')) return false;
    std::string_view minutes_text;
    if (text.size() == 6 && text[3] == ':')
        minutes_text = digits::tail(text, 4);
    else if (text.size() == 5)
        minutes_text = digits::tail(text, 3);
    else if (text.size() != 3)
        return false;
    std::uint64_t hours, minutes = 0;
    if (!digits::read_bounded(digits::slice(text, 1, 3), 23, hours) ||
        (!minutes_text.empty() && !digits::read_bounded(minutes_text, 59, minutes)))
        return false;
    const auto magnitude = static_cast<std::int32_t>(hours * 3600 + minutes * 60);
    out = UtcOffset{text[0] == '-' ? -magnitude : magnitude};
    return true;
}

// A tag's key: a lowercase letter or "_", then those, digits and "-".
bool is_tag_key(std::string_view key) noexcept {
    if (key.empty() || !(is_lower(key[0]) || key[0] == '_')) return false;
    for (const char c : key)
        if (!(is_lower(c) || c == '_' || c == '-' || digits::is_digit(c))) return false;
    return true;
}

// A tag's value: runs of letters and digits joined by single "-".
bool is_tag_value(std::string_view value) noexcept {
    bool run = false;
    for (const char c : value) {
        if (c == '-') {
            if (!run) return false;
            run = false;
        } else if (is_alpha(c) || digits::is_digit(c)) {
            run = true;
        } else {
            return false;
        }
    }
    return run;
}

// Calendar names compare without regard to ASCII case.
bool is_iso_calendar(std::string_view value) noexcept {
    constexpr std::string_view kIso = "iso8601";
    if (value.size() != kIso.size()) return false;
    for (std::size_t i = 0; i < kIso.size(); ++i)
        if ((value[i] | 0x20) != kIso[i]) return false;
    return true;
}

// read_rfc9557() into `out`, or false with the `error`.
bool read_annotated(std::string_view text, Rfc9557Reading &out, Rfc9557Error &error) noexcept {
    auto fail = [&](Rfc9557Fault fault, std::size_t at) {
        error = {fault, at};
        return false;
    };
    const std::size_t open = text.find('[');
    if (open == std::string_view::npos) {
        // A text without annotations: its date-time may still be wrong.
        Rfc9557Reading ignored{};
        if (!read_head(text, ignored)) return fail(Rfc9557Fault::DateTime, 0);
        return fail(Rfc9557Fault::NoZone, text.size());
    }
    if (!read_head(digits::slice(text, 0, open), out)) return fail(Rfc9557Fault::DateTime, 0);

    bool calendar_seen = false, calendar_critical = false;
    std::size_t at = open;
    for (bool first = true; at < text.size(); first = false) {
        if (text[at] != '[') return fail(Rfc9557Fault::BadAnnotation, at);
        const std::size_t close = text.find(']', at + 1);
        if (close == std::string_view::npos)
            return fail(first ? Rfc9557Fault::BadZone : Rfc9557Fault::BadAnnotation, at);
        std::string_view body = digits::slice(text, at + 1, close);
        const bool critical = !body.empty() && body[0] == '!';
        if (critical) body.remove_prefix(1);
        const std::size_t equals = body.find('=');
        if (first) {
            if (equals != std::string_view::npos) return fail(Rfc9557Fault::NoZone, at);
            out.zone = body;
            out.zone_critical = critical;
            out.zone_is_offset = !body.empty() && (body[0] == '+' || body[0] == '-');
            const bool ok = out.zone_is_offset ? read_zone_offset(body, out.zone_offset) : is_zone_name(body);
            if (!ok) return fail(Rfc9557Fault::BadZone, at + 1);
        } else {
            if (equals == std::string_view::npos) return fail(Rfc9557Fault::BadAnnotation, at + 1);
            const std::string_view key = digits::slice(body, 0, equals);
            const std::string_view value = digits::tail(body, equals + 1);
            if (!is_tag_key(key) || !is_tag_value(value)) return fail(Rfc9557Fault::BadAnnotation, at + 1);
            if (key == "u-ca") {
                // The first calendar counts; another is an error when either is critical.
                if (calendar_seen && (critical || calendar_critical)) return fail(Rfc9557Fault::CalendarConflict, at);
                if (!calendar_seen && !is_iso_calendar(value))
                    return fail(Rfc9557Fault::Calendar, at + 1 + critical + equals + 1);
                calendar_critical = calendar_critical || critical;
                calendar_seen = true;
            } else if (critical) {
                return fail(Rfc9557Fault::UnknownCritical, at + 1);
            }
        }
        at = close + 1;
    }
    return true;
}

}  // namespace

// One reading, filled in place and returned as itself: a reading made
// apart and returned is copied whole right after its last fields were
// stored, a load that waits until those stores reach the cache.
std::expected<Rfc9557Reading, Rfc9557Error> read_rfc9557(std::string_view text) noexcept {
    std::expected<Rfc9557Reading, Rfc9557Error> result{std::in_place};
    if (Rfc9557Error error; !read_annotated(text, *result, error)) result = std::unexpected(error);
    return result;
}

}  // namespace merandol
