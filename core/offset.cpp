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

}  // namespace merandol
