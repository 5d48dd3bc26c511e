// The RFC 3339 reader: every accepted text carries an offset in whole
// minutes within 23:59, so it writes back to text that reads back to the
// same value; trimming ignores any White_Space around the text; and the
// writer's output for a value drawn from the input (an offset in whole
// minutes within 23:59) is accepted and reads back to that value.
#include <string>

#include "core/rfc3339.hpp"
#include "fuzz/check.hpp"

namespace merandol::fuzz {
namespace {

// Every White_Space character, in UTF-8.
constexpr std::string_view kWhiteSpace[] = {"\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085",
                                            "\u00a0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004",
                                            "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200a", "\u2028",
                                            "\u2029", "\u202f", "\u205f", "\u3000"};
constexpr std::size_t kWhiteSpaceCount = sizeof kWhiteSpace / sizeof kWhiteSpace[0];

std::string_view written(char *buffer, OffsetDateTime v, std::string_view input) {
    const auto end = write_rfc3339(buffer, v);
    MERANDOL_REQUIRE(end.has_value(), input);
    return {buffer, static_cast<std::size_t>(*end - buffer)};
}

}  // namespace
}  // namespace merandol::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    Bytes bytes(data, size);

    const auto parsed = parse_rfc3339(text);
    if (parsed) {
        const std::int32_t offset = parsed->offset.seconds;
        MERANDOL_REQUIRE(offset % 60 == 0 && offset >= -86340 && offset <= 86340, text);
        char buffer[kRfc3339TextMax];
        const std::string_view out = written(buffer, *parsed, text);
        const auto again = parse_rfc3339(out);
        MERANDOL_REQUIRE(again && *again == *parsed, out);
        // Surrounded by white space drawn from the input, it reads the same.
        const std::string_view before = kWhiteSpace[bytes.take<std::uint8_t>() % kWhiteSpaceCount];
        const std::string_view after = kWhiteSpace[bytes.take<std::uint8_t>() % kWhiteSpaceCount];
        const std::string padded = std::string(before) + std::string(text) + std::string(after);
        const auto trimmed = parse_rfc3339(padded);
        MERANDOL_REQUIRE(trimmed && *trimmed == *parsed, padded);
    }
    // Trimming only ever removes from the ends.
    const std::string_view inner = trim_white_space(text);
    MERANDOL_REQUIRE(inner.data() >= text.data() && inner.data() + inner.size() <= text.data() + text.size(), text);
    MERANDOL_REQUIRE(parse_rfc3339(inner).has_value() == parsed.has_value(), text);

    // The same bytes as a value: an instant and an offset in whole minutes.
    const i64 span = kMaxUnixSeconds - kMinUnixSeconds + 1;
    const i64 secs = kMinUnixSeconds + static_cast<i64>(bytes.take<std::uint64_t>() % static_cast<std::uint64_t>(span));
    const auto nanos = static_cast<std::int32_t>(bytes.take<std::uint32_t>() % kNanosPerSecond);
    const std::int32_t minutes = static_cast<std::int32_t>(bytes.take<std::uint16_t>() % (2 * 1439 + 1)) - 1439;
    const auto utc = from_unix_timestamp(secs, nanos);
    const auto offset = UtcOffset::from_seconds(minutes * 60);
    MERANDOL_REQUIRE(utc && offset, text);
    const OffsetDateTime value = from_utc(*utc, *offset);
    char buffer[kRfc3339TextMax];
    const auto end = write_rfc3339(buffer, value);
    if (!end) {
        // Only a local reading outside the range cannot be written.
        MERANDOL_REQUIRE(!to_local(value).has_value(), text);
        return 0;
    }
    const std::string_view out(buffer, static_cast<std::size_t>(*end - buffer));
    const auto back = parse_rfc3339(out);
    MERANDOL_REQUIRE(back && *back == value, out);
    return 0;
}
