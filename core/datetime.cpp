#include "core/datetime.hpp"

#include <ctime>

#include "core/digits.hpp"

namespace merandol {

std::expected<std::expected<DateTime, DateError>, ClockUnreadable> now_utc() noexcept {
    timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return std::unexpected(ClockUnreadable{});
    // tv_nsec is in [0, 999999999] on either side of the epoch: a reading
    // 0.25 s before it is tv_sec -1 and tv_nsec 750000000.
    static_assert(sizeof ts.tv_sec == sizeof(i64));
    return from_unix_timestamp(ts.tv_sec, static_cast<std::int32_t>(ts.tv_nsec));
}

char *write_datetime(char *out, DateTime dt) noexcept {
    out = write_date(out, dt.date);
    *out++ = 'T';
    out = write_time(out, dt.time);
    *out++ = 'Z';
    return out;
}

bool read_fixed_datetime(std::string_view text, DateTime &out) noexcept {
    return text.size() >= kFixedDateTimeSize && text[kFixedDateSize] == 'T' &&
           read_fixed_date(digits::slice(text, 0, kFixedDateSize), out.date) &&
           read_fixed_time(digits::tail(text, kFixedDateSize + 1), out.time);
}

std::expected<DateTime, ParseError> parse_datetime(std::string_view text) noexcept {
    const auto fail = std::unexpected(ParseError::Rejected);
    if (text.empty() || (text.back() | 0x20) != 'z') return fail;
    text.remove_suffix(1);
    // With "T" at its place the date holds no other "T", so this is the
    // split the search below would make.
    if (DateTime dt; read_fixed_datetime(text, dt)) return dt;
    std::size_t sep = text.find('T');
    if (sep == std::string_view::npos) sep = text.find(' ');
    if (sep == std::string_view::npos) return fail;
    const auto date = parse_date(digits::slice(text, 0, sep));
    if (!date) return fail;
    const auto time = parse_time(digits::tail(text, sep + 1));
    if (!time) return fail;
    return DateTime{*date, *time};
}

}  // namespace merandol
