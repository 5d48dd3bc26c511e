// A UTC date-time with nanosecond precision, its instant (nanoseconds since
// 1970-01-01T00:00:00Z) and the conversions to and from Unix time.  This is
// the only way from an instant back to calendar fields; the offset types
// reuse it.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <type_traits>

#include "core/date.hpp"
#include "core/floor.hpp"
#include "core/time.hpp"

namespace merandol {

// The text readers report one undifferentiated failure.
enum class ParseError : std::uint8_t { Rejected };

struct DateTime {
    Date date;
    Time time;

    friend constexpr bool operator==(DateTime, DateTime) noexcept = default;
};
static_assert(sizeof(DateTime) == 16 && std::is_trivially_copyable_v<DateTime>);

// Unix seconds of -2147483648-01-01T00:00:00Z and 2147483647-12-31T23:59:59Z.
inline constexpr i64 kMinUnixSeconds = kMinDayNumber * kSecondsPerDay;
inline constexpr i64 kMaxUnixSeconds = kMaxDayNumber * kSecondsPerDay + kSecondsPerDay - 1;
static_assert(kMinUnixSeconds == -67768100567971200 && kMaxUnixSeconds == 67767976233532799);

// Whole seconds since the epoch; the floor of the instant, as the nanosecond
// is never negative.  At most 2^56 in magnitude, so it cannot overflow.
constexpr i64 unix_timestamp(DateTime dt) noexcept {
    return days_since_unix_epoch(dt.date) * kSecondsPerDay + seconds_since_midnight(dt.time);
}

// The instant: about 87 bits at the ends of the range.
constexpr i128 unix_timestamp_nanos(DateTime dt) noexcept {
    return i128{unix_timestamp(dt)} * kNanosPerSecond + dt.time.nanosecond;
}

// `nanos` must lie strictly between -10^9 and 10^9; a negative count
// borrows one second.
constexpr std::expected<DateTime, DateError> from_unix_timestamp(i64 secs, std::int32_t nanos) noexcept {
    if (nanos < 0) {
        if (__builtin_sub_overflow(secs, 1, &secs)) return std::unexpected(DateError::OutOfRange);
        nanos += static_cast<std::int32_t>(kNanosPerSecond);
    }
    const auto [days, sod] = floor_divmod(secs, kSecondsPerDay);
    const auto date = from_days_since_unix_epoch(days);
    if (!date) return std::unexpected(date.error());
    return DateTime{*date,
                    Time::from_second_of_day(static_cast<std::uint32_t>(sod), static_cast<std::uint32_t>(nanos))};
}

// The date-time of an instant: floor division by 10^9, then the seconds must
// fit in 64 bits.
constexpr std::expected<DateTime, DateError> from_unix_nanos(i128 instant) noexcept {
    if (instant >= INT64_MIN && instant <= INT64_MAX) {
        // Years 1677 to 2262: a 64-bit division is enough and nothing can
        // overflow.
        const auto [secs, nanos] = floor_divmod(static_cast<i64>(instant), kNanosPerSecond);
        return from_unix_timestamp(secs, static_cast<std::int32_t>(nanos));
    }
    const auto [secs, nanos] = floor_divmod(instant, i128{kNanosPerSecond});
    if (secs < INT64_MIN || secs > INT64_MAX) return std::unexpected(DateError::OutOfRange);
    return from_unix_timestamp(static_cast<i64>(secs), static_cast<std::int32_t>(nanos));
}

constexpr std::expected<DateTime, DateError> add_duration(DateTime dt, i128 span) noexcept {
    // Within the day only the time of day moves.
    constexpr i64 kNanosPerDay = kSecondsPerDay * kNanosPerSecond;
    if (span > -kNanosPerDay && span < kNanosPerDay) {
        const i64 nanos = static_cast<i64>(nanos_since_midnight(dt.time)) + static_cast<i64>(span);
        if (nanos >= 0 && nanos < kNanosPerDay)
            return DateTime{dt.date, Time::from_second_of_day(static_cast<std::uint32_t>(nanos / kNanosPerSecond),
                                                              static_cast<std::uint32_t>(nanos % kNanosPerSecond))};
    }
    i128 instant;
    if (__builtin_add_overflow(unix_timestamp_nanos(dt), span, &instant)) return std::unexpected(DateError::OutOfRange);
    return from_unix_nanos(instant);
}

// An instant as Unix seconds and the nanoseconds within the second.
struct UnixInstant {
    i64 seconds;
    std::uint32_t nanos;

    friend constexpr bool operator==(UnixInstant, UnixInstant) noexcept = default;
};

// An instant of the range moved by a span; an error beyond the range.
constexpr std::expected<UnixInstant, DateError> add_duration(UnixInstant at, i128 span) noexcept {
    i64 seconds, nanos;
    if (span >= INT64_MIN && span <= INT64_MAX) {
        // 292 years either way: a 64-bit division by a constant, where a
        // 128-bit one is a library call.
        const auto [q, r] = floor_divmod<i64>(static_cast<i64>(span), kNanosPerSecond);
        seconds = q, nanos = r;
    } else {
        const auto [q, r] = floor_divmod<i128>(span, kNanosPerSecond);
        // Past 2^62 seconds the sum leaves the range, and below it the sum
        // with an instant of the range (under 2^57) cannot overflow.
        if (q < -(i128{1} << 62) || q > (i128{1} << 62)) return std::unexpected(DateError::OutOfRange);
        seconds = static_cast<i64>(q), nanos = static_cast<i64>(r);
    }
    nanos += at.nanos;
    seconds += at.seconds;
    if (nanos >= kNanosPerSecond) nanos -= kNanosPerSecond, ++seconds;
    if (seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds) return std::unexpected(DateError::OutOfRange);
    return UnixInstant{seconds, static_cast<std::uint32_t>(nanos)};
}

// self - other in nanoseconds; at most about 1.4 * 10^26, far inside 128 bits.
constexpr i128 difference(DateTime self, DateTime other) noexcept {
    if (self.date == other.date)
        return static_cast<i64>(nanos_since_midnight(self.time)) - static_cast<i64>(nanos_since_midnight(other.time));
    return i128{unix_timestamp(self) - unix_timestamp(other)} * kNanosPerSecond +
           (i64{self.time.nanosecond} - i64{other.time.nanosecond});
}

// Chronological order.  Comparing the fields lexicographically is the same
// as comparing instants; here they are packed into two words (the year's
// sign bit flipped so that unsigned order is signed order).
constexpr int compare(DateTime a, DateTime b) noexcept {
    auto high = [](DateTime v) {
        return (u64{static_cast<std::uint32_t>(v.date.year) ^ 0x80000000u} << 32) | (u64{v.date.month} << 24) |
               (u64{v.date.day} << 16) | (u64{v.time.hour} << 8) | v.time.minute;
    };
    auto low = [](DateTime v) { return (u64{v.time.second} << 32) | v.time.nanosecond; };
    const u64 ha = high(a), hb = high(b);
    if (ha != hb) return ha < hb ? -1 : 1;
    const u64 la = low(a), lb = low(b);
    return (la > lb) - (la < lb);
}

// The current UTC date-time.  The outer error means the real-time clock could
// not be read at all, an internal failure rather than a DateError.
struct ClockUnreadable {};
std::expected<std::expected<DateTime, DateError>, ClockUnreadable> now_utc() noexcept;

// Text form "YYYY-MM-DDTHH:MM:SS[.fffffffff]Z".
inline constexpr std::size_t kDateTimeTextMax = kDateTextMax + 1 + kTimeTextMax + 1;

char *write_datetime(char *out, DateTime dt) noexcept;
std::expected<DateTime, ParseError> parse_datetime(std::string_view text) noexcept;

// Exactly "YYYY-MM-DDTHH:MM:SS" with an optional fraction of one to nine
// digits (no zone designator), the shape every writer produces, read at
// fixed places into `out`.  False for any other text or a field out of
// range, which the general readers then decide.
bool read_fixed_datetime(std::string_view text, DateTime &out) noexcept;
inline constexpr std::size_t kFixedDateTimeSize = kFixedDateSize + 1 + kFixedTimeSize;  // the "T" between

static_assert(*add_duration(UnixInstant{0, 999999999}, 1) == UnixInstant{1, 0});
static_assert(*add_duration(UnixInstant{0, 0}, -1) == UnixInstant{-1, 999999999});
static_assert(*add_duration(UnixInstant{0, 0}, i128{INT64_MAX} * 4) == UnixInstant{36893488147, 419103228});
static_assert(!add_duration(UnixInstant{kMaxUnixSeconds, 999999999}, 1) &&
              !add_duration(UnixInstant{0, 0}, -(i128{1} << 100)));
static_assert(*from_unix_timestamp(0, 0) == DateTime{{1970, 1, 1}, {0, 0, 0, 0}});
static_assert(*from_unix_timestamp(0, -1) == DateTime{{1969, 12, 31}, {23, 59, 59, 999999999}});
static_assert(*from_unix_timestamp(951782400, 0) == DateTime{{2000, 2, 29}, {0, 0, 0, 0}});
static_assert(*from_unix_timestamp(kMaxUnixSeconds, 999999999) ==
              DateTime{{INT32_MAX, 12, 31}, {23, 59, 59, 999999999}});
static_assert(*from_unix_timestamp(kMinUnixSeconds, 0) == DateTime{{INT32_MIN, 1, 1}, {0, 0, 0, 0}});
static_assert(!from_unix_timestamp(kMaxUnixSeconds + 1, 0) && !from_unix_timestamp(kMinUnixSeconds, -1));
static_assert(!from_unix_timestamp(INT64_MIN, -1) && !from_unix_timestamp(INT64_MAX, 0));

}  // namespace merandol
