// The named forms' readers (ISO 8601, RFC 5322, HTTP dates) on the same
// bytes: a refusal names a position within the text, and a value written
// in its form's own text reads back to itself (an ISO 8601 value in
// merandol's RFC 3339 text, whose offset shows whole minutes).  Then the
// bytes as a value: both writers' texts read back to it.
#include "core/named_forms.hpp"
#include "core/rfc3339.hpp"
#include "fuzz/check.hpp"

namespace merandol::fuzz {
namespace {

using Reading = std::expected<TextValue, TextError>;

bool same(const TextValue &a, const TextValue &b) {
    return a.kind == b.kind && a.date == b.date && (a.kind == TextKind::Date || a.time == b.time) &&
           (a.kind != TextKind::OffsetDateTime || a.offset == b.offset);
}

void require_position(const Reading &r, std::string_view text) {
    MERANDOL_REQUIRE(r || r.error().position <= text.size(), text);
}

// merandol's own text of an ISO 8601 reading.
std::string_view iso_text(char *buffer, const TextValue &v) {
    char *end = write_date(buffer, v.date);
    if (v.kind != TextKind::Date) {
        *end++ = 'T';
        end = write_time(end, v.time);
    }
    if (v.kind == TextKind::OffsetDateTime) end = write_offset(end, v.offset);
    return {buffer, static_cast<std::size_t>(end - buffer)};
}

}  // namespace
}  // namespace merandol::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    char buffer[kRfc3339TextMax + kRfc2822TextMax];

    const Reading iso = read_iso8601(text);
    require_position(iso, text);
    if (iso) {
        const std::string_view out = iso_text(buffer, *iso);
        const Reading back = read_iso8601(out);
        TextValue shown = *iso;
        shown.offset.seconds -= shown.offset.seconds % 60;  // the writer drops the offset's seconds
        MERANDOL_REQUIRE(back && same(*back, shown), out);
    }
    const Reading email = read_rfc2822(text);
    require_position(email, text);
    if (email) {
        MERANDOL_REQUIRE(email->kind == TextKind::OffsetDateTime && email->offset.seconds % 60 == 0, text);
        const std::string_view out(buffer, write_rfc2822(buffer, {email->date, email->time}, email->offset));
        const Reading back = read_rfc2822(out);
        MERANDOL_REQUIRE(back && same(*back, *email), out);
    }
    const Reading http = read_http_date(text);
    require_position(http, text);
    if (http) {
        MERANDOL_REQUIRE(http->kind == TextKind::DateTime, text);
        const std::string_view out(buffer, write_http_date(buffer, {http->date, http->time}));
        const Reading back = read_http_date(out);
        MERANDOL_REQUIRE(back && same(*back, *http), out);
    }

    // The same bytes as a value: a whole second and an offset in whole
    // minutes within 23:59, which the RFC 5322 form shows.
    Bytes bytes(data, size);
    const i64 span = kMaxUnixSeconds - kMinUnixSeconds + 1;
    const i64 secs = kMinUnixSeconds + static_cast<i64>(bytes.take<std::uint64_t>() % static_cast<std::uint64_t>(span));
    const std::int32_t minutes = static_cast<std::int32_t>(bytes.take<std::uint16_t>() % (2 * 1439 + 1)) - 1439;
    const auto value = from_unix_timestamp(secs, 0);
    MERANDOL_REQUIRE(value, text);
    const TextValue expected{TextKind::OffsetDateTime, value->date, value->time, UtcOffset{minutes * 60}};
    const std::string_view email_out(buffer, write_rfc2822(buffer, *value, expected.offset));
    const Reading email_back = read_rfc2822(email_out);
    MERANDOL_REQUIRE(email_back && same(*email_back, expected), email_out);
    const std::string_view http_out(buffer, write_http_date(buffer, *value));
    const Reading http_back = read_http_date(http_out);
    MERANDOL_REQUIRE(http_back && same(*http_back, {TextKind::DateTime, value->date, value->time, {}}), http_out);
    return 0;
}
