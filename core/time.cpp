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

bool read_fixed_time(std::string_view text, Time &out) noexcept {
    const std::size_t n = text.size();
    if (n < 8 || (n > 8 && (n < 10 || n > 18 || text[8] != '.'))) return false;
    constexpr digits::Shape kShape = digits::shape("00:00:00"), kDigits = digits::shape("00000000");
    const std::uint64_t lanes = digits::lanes(digits::load8(text, 0), kShape);
    std::uint64_t off_shape = digits::off_shape(lanes, kShape);
    // The fraction, k = n - 9 digits: the last eight characters as a word,
    // of which the top min(k, 8) lanes are the fraction's last digits; the
    // lanes below them are cleared, which reads them as leading zeros.  A
    // ninth digit is read on its own.
    std::uint32_t nanosecond = 0;
    if (n > 8) {
        const std::size_t k = n - 9;
        const std::size_t in_word = k < 8 ? k : 8;
        const std::uint64_t tail = digits::lanes(digits::load8(text, n - 8), kDigits) & ~std::uint64_t{0}
                                                                                            << (64 - 8 * in_word);
        off_shape |= digits::off_shape(tail, kDigits);
        const std::uint32_t last = digits::eight_digits(tail);
        if (k == 9) {
            const unsigned first = static_cast<unsigned>(static_cast<unsigned char>(text[9])) - '0';
            off_shape |= first > 9;
            nanosecond = first * 100000000 + last;
        } else {
            nanosecond = last * kPow10[9 - k];
        }
    }
    if (off_shape) return false;
    const std::uint64_t pairs = digits::pairs(lanes);
    const unsigned hour = digits::lane(pairs, 0), minute = digits::lane(pairs, 3), second = digits::lane(pairs, 6);
    if (hour > 23 || minute > 59 || second > 59) return false;
    out = Time{static_cast<std::uint8_t>(hour), static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second),
               nanosecond};
    return true;
}

std::expected<Time, TimeError> parse_time(std::string_view text) noexcept {
    const auto fail = std::unexpected(TimeError::InvalidTime);
    if (text.empty()) return fail;

    if (Time time; read_fixed_time(text, time)) return time;

    const std::size_t dot = text.find('.');
    if (dot == 0) return fail;
    const std::string_view main = dot == std::string_view::npos ? text : digits::slice(text, 0, dot);

    const std::size_t first = main.find(':');
    if (first == std::string_view::npos) return fail;
    const std::size_t second = main.find(':', first + 1);
    if (second == std::string_view::npos || main.find(':', second + 1) != std::string_view::npos) return fail;

    std::uint64_t hour, minute, sec;
    if (!digits::read_bounded(digits::slice(main, 0, first), 23, hour) ||
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
