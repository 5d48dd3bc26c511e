#include "core/time.hpp"

#include "core/digits.hpp"

namespace merandol {

char *write_time(char *out, Time t) noexcept {
    out = digits::write2(out, t.hour);
    *out++ = ':';
    out = digits::write2(out, t.minute);
    *out++ = ':';
    out = digits::write2(out, t.second);
    std::uint32_t ns = t.nanosecond;
    if (ns == 0) return out;
    *out++ = '.';
    // All nine digits, two at a time, by constant divisions.
    const std::uint32_t top = ns / 10000000;   // digits 1-2
    const std::uint32_t rest = ns % 10000000;  // digits 3-9
    digits::write2(out, top);
    digits::write2(out + 2, rest / 100000);
    digits::write2(out + 4, rest / 1000 % 100);
    digits::write2(out + 6, rest / 10 % 100);
    out[8] = static_cast<char>('0' + rest % 10);
    // Trailing zeros (at most 8, as ns > 0), found from the least
    // significant end by four tests rather than by scanning the text.
    unsigned length = 9;
    // clang-format off
    if (ns % 10000 == 0) { ns /= 10000; length -= 4; }
    if (ns % 10000 == 0) { ns /= 10000; length -= 4; }
    if (ns % 100 == 0) { ns /= 100; length -= 2; }
    if (ns % 10 == 0) { length -= 1; }
    // clang-format on
    return out + length;
}

static constexpr std::uint32_t kPow10[10] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

std::expected<Time, TimeError> parse_time(std::string_view text) noexcept {
    const auto fail = std::unexpected(TimeError::InvalidTime);
    if (text.empty()) return fail;

    // The canonical "HH:MM:SS" with an optional fraction is read at fixed
    // places; for that shape the general reader below gives the same answer.
    if (text.size() >= 8 && text[2] == ':' && text[5] == ':' && (text.size() == 8 || text[8] == '.')) {
        unsigned d[8];
        for (int i = 0; i < 8; ++i) d[i] = static_cast<unsigned>(static_cast<unsigned char>(text[i])) - '0';
        const std::size_t fraction_length = text.size() > 8 ? text.size() - 9 : 0;
        if (d[0] < 10 && d[1] < 10 && d[3] < 10 && d[4] < 10 && d[6] < 10 && d[7] < 10 && fraction_length <= 9) {
            std::uint32_t fraction = 0;
            bool digits_only = true;
            for (std::size_t i = 9; i < text.size(); ++i) {
                const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(text[i])) - '0';
                digits_only &= digit < 10;
                fraction = fraction * 10 + digit;
            }
            if (digits_only && (text.size() == 8 || fraction_length > 0))
                return Time::make(static_cast<std::uint8_t>(d[0] * 10 + d[1]),
                                  static_cast<std::uint8_t>(d[3] * 10 + d[4]),
                                  static_cast<std::uint8_t>(d[6] * 10 + d[7]), fraction * kPow10[9 - fraction_length]);
        }
    }

    const std::size_t dot = text.find('.');
    if (dot == 0) return fail;
    const std::string_view main = text.substr(0, dot);  // all of it when there is no "."

    const std::size_t first = main.find(':');
    if (first == std::string_view::npos) return fail;
    const std::size_t second = main.find(':', first + 1);
    if (second == std::string_view::npos || main.find(':', second + 1) != std::string_view::npos) return fail;

    std::uint64_t hour, minute, sec;
    if (!digits::read_bounded(main.substr(0, first), 23, hour) ||
        !digits::read_bounded(digits::slice(main, first + 1, second), 59, minute) ||
        !digits::read_bounded(digits::tail(main, second + 1), 59, sec))
        return fail;

    std::uint64_t nanosecond = 0;
    if (dot != std::string_view::npos) {
        const std::string_view fraction = digits::tail(text, dot + 1);
        if (fraction.empty() || fraction.size() > 9) return fail;
        std::uint64_t value;
        if (!digits::read_bounded(fraction, 999999999, value)) return fail;
        nanosecond = value * kPow10[9 - fraction.size()];
    }
    return Time::make(static_cast<std::uint8_t>(hour), static_cast<std::uint8_t>(minute),
                      static_cast<std::uint8_t>(sec), static_cast<std::uint32_t>(nanosecond));
}

}  // namespace merandol
