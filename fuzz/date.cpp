// The date reader: against a digit-by-digit reference, write-back round
// trips, and the writer's output for a value drawn from the input.
#include <optional>

#include "core/date.hpp"
#include "fuzz/check.hpp"

namespace merandol::fuzz {
namespace {

// The grammar read one byte at a time: [+-]D+ "-" D+ "-" D+ and the end.
// Values saturate, so a long digit run is read without overflow.
struct Cursor {
    std::string_view text;
    std::size_t at = 0;

    bool next_is(char c) const { return at < text.size() && text[at] == c; }

    std::optional<std::int64_t> number() {
        const std::size_t start = at;
        std::int64_t v = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            v = v * 10 + (text[at] - '0');
            if (v > (std::int64_t{1} << 40)) v = std::int64_t{1} << 40;
            ++at;
        }
        if (at == start) return std::nullopt;
        return v;
    }
};

bool leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

std::optional<Date> reference_parse(std::string_view text) {
    Cursor c{text};
    bool negative = false;
    if (c.next_is('+') || c.next_is('-')) negative = text[c.at++] == '-';
    const auto year = c.number();
    if (!year || !c.next_is('-')) return std::nullopt;
    ++c.at;
    const auto month = c.number();
    if (!month || !c.next_is('-')) return std::nullopt;
    ++c.at;
    const auto day = c.number();
    if (!day || c.at != text.size()) return std::nullopt;

    const std::int64_t y = negative ? -*year : *year;
    if (y < INT32_MIN || y > INT32_MAX || *month < 1 || *month > 12 || *day < 1) return std::nullopt;
    constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int length = lengths[*month - 1] + (*month == 2 && leap(y));
    if (*day > length) return std::nullopt;
    return Date{static_cast<std::int32_t>(y), static_cast<std::uint8_t>(*month), static_cast<std::uint8_t>(*day)};
}

}  // namespace
}  // namespace merandol::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    require_reader_agrees<kDateTextMax>(text, parse_date, reference_parse, write_date);

    // The same bytes as a value: any year, a month and a day folded into
    // range.  The writer's text must read back to it.
    Bytes bytes(data, size);
    const auto year = bytes.take<std::int32_t>();
    const auto month = static_cast<std::uint8_t>(bytes.take<std::uint8_t>() % 12 + 1);
    const auto day = static_cast<std::uint8_t>(bytes.take<std::uint8_t>() % days_in_month(year, month) + 1);
    const auto value = Date::make(year, month, day);
    MERANDOL_REQUIRE(value.has_value(), text);
    char buffer[kDateTextMax];
    const std::string_view out = require_round_trip(buffer, *value, parse_date, write_date);
    MERANDOL_REQUIRE(reference_parse(out) == *value, out);
    return 0;
}
