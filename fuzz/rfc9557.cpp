// The RFC 9557 reader: an accepted text's zone is a view inside it, and
// the reading written back (date-time, the offset as it was written, the
// zone annotation) reads back to the same reading; the text that
// write_rfc9557_head starts reads back with the offset rounded to the minute.
#include <string>

#include "core/digits.hpp"
#include "core/rfc9557.hpp"
#include "fuzz/check.hpp"

namespace merandol::fuzz {
namespace {

bool same(const Rfc9557Reading &a, const Rfc9557Reading &b) {
    return a.local == b.local && a.offset == b.offset && a.offset_kind == b.offset_kind &&
           a.zone_critical == b.zone_critical && a.zone_is_offset == b.zone_is_offset &&
           a.zone_offset == b.zone_offset && a.zone == b.zone;
}

// The offset as it was written: "Z", "+HH:MM" or "+HH:MM:SS".
std::string offset_text(const Rfc9557Reading &r) {
    char buffer[kOffsetTextSize];
    switch (r.offset_kind) {
        case Rfc9557Offset::None: return "";
        case Rfc9557Offset::Utc: return "Z";
        case Rfc9557Offset::Minutes: return {buffer, write_offset(buffer, r.offset)};
        case Rfc9557Offset::Seconds: break;
    }
    std::string text(buffer, write_offset(buffer, r.offset));
    const std::int32_t seconds = (r.offset.seconds < 0 ? -r.offset.seconds : r.offset.seconds) % 60;
    char two[2];
    digits::write2(two, static_cast<unsigned>(seconds));
    return text + ":" + std::string(two, 2);
}

}  // namespace
}  // namespace merandol::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto parsed = read_rfc9557(text);
    if (!parsed) {
        MERANDOL_REQUIRE(parsed.error().position <= text.size(), text);
        return 0;
    }
    const Rfc9557Reading &r = *parsed;
    MERANDOL_REQUIRE(r.zone.data() >= text.data() && r.zone.data() + r.zone.size() <= text.data() + text.size(), text);
    if (r.offset_kind == Rfc9557Offset::Minutes) MERANDOL_REQUIRE(r.offset.seconds % 60 == 0, text);

    char local[kDateTimeTextMax];
    const std::string written = std::string(local, write_datetime(local, r.local) - 1) + offset_text(r) + "[" +
                                (r.zone_critical ? "!" : "") + std::string(r.zone) + "]";
    const auto again = read_rfc9557(written);
    MERANDOL_REQUIRE(again.has_value(), written);
    Rfc9557Reading expected = r;
    expected.zone = again->zone;  // a view of the other text
    MERANDOL_REQUIRE(same(*again, expected) && again->zone == r.zone, written);

    char head[kRfc9557HeadMax];
    const std::string zoned = std::string(head, write_rfc9557_head(head, r.local, r.offset)) + "UTC]";
    const auto minutes = read_rfc9557(zoned);
    MERANDOL_REQUIRE(minutes && minutes->local == r.local && minutes->offset_kind == Rfc9557Offset::Minutes &&
                         minutes->offset.seconds == round_offset_to_minute(r.offset.seconds),
                     zoned);
    return 0;
}
