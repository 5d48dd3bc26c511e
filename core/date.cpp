#include "core/date.hpp"

#include <cstring>

#include "core/digits.hpp"

namespace merandol {

char *write_date(char *out, Date d) noexcept {
    std::uint32_t mag = static_cast<std::uint32_t>(d.year);
    if (d.year < 0) {
        *out++ = '-';
        mag = 0u - mag;
        // "-001": the sign counts towards the width of four.
        if (mag < 1000) {
            *out++ = static_cast<char>('0' + mag / 100);
            out = digits::write2(out, mag % 100);
        } else {
            out = digits::write_u64(out, mag);
        }
    } else if (mag < 10000) {
        out = digits::write4(out, mag);
    } else {
        out = digits::write_u64(out, mag);
    }
    *out++ = '-';
    out = digits::write2(out, d.month);
    *out++ = '-';
    return digits::write2(out, d.day);
}

std::expected<Date, DateError> parse_date(std::string_view text) noexcept {
    const auto fail = std::unexpected(DateError::InvalidDate);
    const std::size_t n = text.size();

    // The canonical "YYYY-MM-DD" is read at fixed places without searching;
    // for that shape the general reader below gives the same answer.
    if (n == 10 && text[4] == '-' && text[7] == '-') {
        unsigned d[10];
        for (int i = 0; i < 10; ++i) d[i] = static_cast<unsigned>(static_cast<unsigned char>(text[i])) - '0';
        if (d[0] < 10 && d[1] < 10 && d[2] < 10 && d[3] < 10 && d[5] < 10 && d[6] < 10 && d[8] < 10 && d[9] < 10)
            return Date::make(static_cast<std::int32_t>(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3]),
                              static_cast<std::uint8_t>(d[5] * 10 + d[6]), static_cast<std::uint8_t>(d[8] * 10 + d[9]));
    }

    if (n < 2) return fail;
    const bool signed_year = text[0] == '+' || text[0] == '-';
    if (signed_year && n < 3) return fail;

    // Separators: the first byte may be the year's sign, never a separator.
    const std::size_t first = text.find('-', 1);
    if (first == std::string_view::npos) return fail;
    const std::size_t second = text.find('-', first + 1);
    if (second == std::string_view::npos || text.find('-', second + 1) != std::string_view::npos) return fail;

    // Year: the bound of the magnitude is 2^31 for a negative year and
    // 2^31 - 1 otherwise.
    std::string_view year_digits = text.substr(0, first);
    const bool negative = year_digits[0] == '-';
    if (signed_year) year_digits.remove_prefix(1);
    std::uint64_t year_mag, month, day;
    if (!digits::read_bounded(year_digits, negative ? 2147483648u : 2147483647u, year_mag)) return fail;
    if (!digits::read_bounded(digits::slice(text, first + 1, second), 12, month) || month == 0) return fail;
    const auto year = static_cast<std::int32_t>(negative ? 0 - year_mag : year_mag);
    if (!digits::read_bounded(digits::tail(text, second + 1), days_in_month(year, static_cast<unsigned>(month)), day) ||
        day == 0)
        return fail;
    return Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
}

}  // namespace merandol
