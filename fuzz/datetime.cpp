// The UTC date-time reader: against a reference that splits the text as
// the grammar says and hands the pieces to the date and time readers (each
// fuzzed against its own reference), write-back round trips, and the
// writer's output for an instant drawn from the input.
#include <optional>

#include "core/datetime.hpp"
#include "fuzz/check.hpp"

namespace merandol::fuzz {
namespace {

std::optional<DateTime> reference_parse(std::string_view text) {
    if (text.empty() || (text.back() != 'Z' && text.back() != 'z')) return std::nullopt;
    const std::string_view rest = text.substr(0, text.size() - 1);
    std::size_t separator = rest.find('T');
    if (separator == std::string_view::npos) separator = rest.find(' ');
    if (separator == std::string_view::npos) return std::nullopt;
    const auto date = parse_date(rest.substr(0, separator));
    const auto time = parse_time(rest.substr(separator + 1));
    if (!date || !time) return std::nullopt;
    return DateTime{*date, *time};
}

}  // namespace
}  // namespace merandol::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    require_reader_agrees<kDateTimeTextMax>(text, parse_datetime, reference_parse, write_datetime);

    // The same bytes as an instant anywhere in the range.
    Bytes bytes(data, size);
    const i64 span = kMaxUnixSeconds - kMinUnixSeconds + 1;
    const i64 secs = kMinUnixSeconds + static_cast<i64>(bytes.take<std::uint64_t>() % static_cast<std::uint64_t>(span));
    const auto nanos = static_cast<std::int32_t>(bytes.take<std::uint32_t>() % kNanosPerSecond);
    const auto value = from_unix_timestamp(secs, nanos);
    MERANDOL_REQUIRE(value.has_value(), text);
    char buffer[kDateTimeTextMax];
    const std::string_view out = require_round_trip(buffer, *value, parse_datetime, write_datetime);
    MERANDOL_REQUIRE(unix_timestamp(*value) == secs, out);
    return 0;
}
