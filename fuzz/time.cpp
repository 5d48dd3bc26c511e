// The time reader: against a digit-by-digit reference, write-back round
// trips, and the writer's output for a value drawn from the input.
#include <optional>

#include "core/time.hpp"
#include "fuzz/check.hpp"

namespace merandol::fuzz {
namespace {

// The grammar read one byte at a time: D+ ":" D+ ":" D+ ("." D{1,9})? and
// the end.  Field values saturate; the fraction keeps its digit count.
struct Cursor {
    std::string_view text;
    std::size_t at = 0;
    std::size_t digits = 0;

    bool next_is(char c) const { return at < text.size() && text[at] == c; }

    std::optional<std::uint64_t> number() {
        const std::size_t start = at;
        std::uint64_t v = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (v < (std::uint64_t{1} << 40)) v = v * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
        }
        digits = at - start;
        if (digits == 0) return std::nullopt;
        return v;
    }
};

std::optional<Time> reference_parse(std::string_view text) {
    Cursor c{text};
    const auto hour = c.number();
    if (!hour || !c.next_is(':')) return std::nullopt;
    ++c.at;
    const auto minute = c.number();
    if (!minute || !c.next_is(':')) return std::nullopt;
    ++c.at;
    const auto second = c.number();
    if (!second) return std::nullopt;
    std::uint64_t nanosecond = 0;
    if (c.next_is('.')) {
        ++c.at;
        const auto fraction = c.number();
        if (!fraction || c.digits > 9) return std::nullopt;
        nanosecond = *fraction;
        for (std::size_t i = c.digits; i < 9; ++i) nanosecond *= 10;
    }
    if (c.at != text.size() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
    return Time{static_cast<std::uint8_t>(*hour), static_cast<std::uint8_t>(*minute),
                static_cast<std::uint8_t>(*second), static_cast<std::uint32_t>(nanosecond)};
}

}  // namespace
}  // namespace merandol::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    require_reader_agrees<kTimeTextMax>(text, parse_time, reference_parse, write_time);

    // The same bytes as a value, each field folded into range.
    Bytes bytes(data, size);
    const auto hour = static_cast<std::uint8_t>(bytes.take<std::uint8_t>() % 24);
    const auto minute = static_cast<std::uint8_t>(bytes.take<std::uint8_t>() % 60);
    const auto second = static_cast<std::uint8_t>(bytes.take<std::uint8_t>() % 60);
    const auto nanosecond = static_cast<std::uint32_t>(bytes.take<std::uint32_t>() % kNanosPerSecond);
    const Time value{hour, minute, second, nanosecond};
    char buffer[kTimeTextMax];
    const std::string_view out = require_round_trip(buffer, value, parse_time, write_time);
    MERANDOL_REQUIRE(reference_parse(out) == value, out);
    return 0;
}
