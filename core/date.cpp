#include "core/date.hpp"

#include <cstring>

#include "core/digits.hpp"

namespace merandol {

char *write_year(char *out, std::int32_t year) noexcept {
    std::uint32_t mag = static_cast<std::uint32_t>(year);
    if (year < 0) {
        *out++ = '-';
        mag = 0u - mag;
        // "-001": the sign counts towards the width of four.
        if (mag < 1000) {
            *out++ = static_cast<char>('0' + mag / 100);
            return digits::write2(out, mag % 100);
        }
        return digits::write_u64(out, mag);
    }
    return mag < 10000 ? digits::write4(out, mag) : digits::write_u64(out, mag);
}

char *write_date(char *out, Date d) noexcept {
    out = write_year(out, d.year);
    *out++ = '-';
    out = digits::write2(out, d.month);
    *out++ = '-';
    return digits::write2(out, d.day);
}

bool read_fixed_date(std::string_view text, Date &out) noexcept {
    if (text.size() != kFixedDateSize) return false;
    // Two overlapping words: "YYYY-MM-" and "YY-MM-DD".
    constexpr digits::Shape kHead = digits::shape("0000-00-"), kTail = digits::shape("00-00-00");
    const std::uint64_t head = digits::lanes(digits::load8(text, 0), kHead);
    const std::uint64_t tail = digits::lanes(digits::load8(text, 2), kTail);
    if (digits::off_shape(head, kHead) | digits::off_shape(tail, kTail)) return false;
    const std::uint64_t head_pairs = digits::pairs(head);
    const auto year = static_cast<std::int32_t>(digits::lane(head_pairs, 0) * 100 + digits::lane(head_pairs, 2));
    const unsigned month = digits::lane(head_pairs, 5), day = digits::lane(digits::pairs(tail), 6);
    if (month - 1 >= 12 || day - 1 >= days_in_month(year, month)) return false;
    out = Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
    return true;
}

std::expected<Date, DateError> parse_date(std::string_view text) noexcept {
    const auto fail = std::unexpected(DateError::InvalidDate);
    const std::size_t n = text.size();

    if (Date date; read_fixed_date(text, date)) return date;

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
    std::string_view year_digits = digits::slice(text, 0, first);
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
