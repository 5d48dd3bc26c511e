#include "core/offset.hpp"

#include "core/digits.hpp"

namespace merandol {

char *write_offset(char *out, UtcOffset offset) noexcept {
    *out = offset.seconds < 0 ? '-' : '+';
    const std::uint32_t magnitude = offset.seconds < 0 ? 0u - static_cast<std::uint32_t>(offset.seconds)
                                                       : static_cast<std::uint32_t>(offset.seconds);
    digits::write2(out + 1, magnitude / 3600);  // at most 24
    out[3] = ':';
    digits::write2(out + 4, magnitude % 3600 / 60);
    return out + kOffsetTextSize;
}

bool read_fixed_offset(std::string_view text, UtcOffset &out) noexcept {
    if (text.size() != kOffsetTextSize || (text[0] != '+' && text[0] != '-') || text[kOffsetColon] != ':') return false;
    auto digit = [&text](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(text[i])) - '0'; };
    const unsigned h1 = digit(1), h2 = digit(2), m1 = digit(4), m2 = digit(5);
    if ((h1 > 9) | (h2 > 9) | (m1 > 9) | (m2 > 9)) return false;
    const auto offset = UtcOffset::from_fields(text[0] == '+', h1 * 10 + h2, m1 * 10 + m2);
    if (!offset) return false;
    out = *offset;
    return true;
}

}  // namespace merandol
