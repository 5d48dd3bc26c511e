// Time of day with nanosecond precision: no date, no offset, no leap second.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>
#include <type_traits>

namespace merandol {

enum class TimeError : std::uint8_t { InvalidTime };

constexpr std::string_view error_name(TimeError) noexcept { return "InvalidTime"; }

inline constexpr std::int64_t kNanosPerSecond = 1000000000;
inline constexpr std::int64_t kSecondsPerDay = 86400;

struct Time {
    std::uint8_t hour;         // [0, 23]
    std::uint8_t minute;       // [0, 59]
    std::uint8_t second;       // [0, 59]
    std::uint32_t nanosecond;  // [0, 999999999]

    static constexpr std::expected<Time, TimeError> make(std::uint8_t hour, std::uint8_t minute, std::uint8_t second,
                                                         std::uint32_t nanosecond) noexcept {
        if (hour > 23 || minute > 59 || second > 59 || nanosecond >= kNanosPerSecond)
            return std::unexpected(TimeError::InvalidTime);
        return Time{hour, minute, second, nanosecond};
    }

    // From fields known to be valid, made as one 64-bit word where it can
    // be: made field by field, the compiler stores the fields to memory one
    // by one and copies the whole from there, and a load over several
    // narrower stores waits until they reach the cache (some 15 cycles)
    // where one over a single store is answered from it.
    static constexpr Time from_fields(unsigned hour, unsigned minute, unsigned second,
                                      std::uint32_t nanosecond) noexcept {
        if !consteval {
            if constexpr (std::endian::native == std::endian::little)
                return std::bit_cast<Time>(std::uint64_t{hour} | std::uint64_t{minute} << 8 |
                                           std::uint64_t{second} << 16 | std::uint64_t{nanosecond} << 32);
        }
        return Time{static_cast<std::uint8_t>(hour), static_cast<std::uint8_t>(minute),
                    static_cast<std::uint8_t>(second), nanosecond};
    }

    // From a second of the day in [0, 86399] and a nanosecond in range.
    static constexpr Time from_second_of_day(std::uint32_t sod, std::uint32_t nanosecond) noexcept {
        return from_fields(sod / 3600, sod % 3600 / 60, sod % 60, nanosecond);
    }

    friend constexpr bool operator==(Time, Time) noexcept = default;
};
static_assert(sizeof(Time) == 8 && std::is_trivially_copyable_v<Time>);
// The fields' places that from_fields() packs them at.
static_assert(offsetof(Time, minute) == 1 && offsetof(Time, second) == 2 && offsetof(Time, nanosecond) == 4);

constexpr std::uint32_t seconds_since_midnight(Time t) noexcept {
    return t.hour * 3600u + t.minute * 60u + t.second;  // [0, 86399]
}

constexpr std::uint64_t nanos_since_midnight(Time t) noexcept {
    return std::uint64_t{seconds_since_midnight(t)} * kNanosPerSecond + t.nanosecond;  // [0, 86399999999999]
}

constexpr int compare(Time a, Time b) noexcept {
    const std::uint64_t x = nanos_since_midnight(a), y = nanos_since_midnight(b);
    return (x > y) - (x < y);
}

// Text form "HH:MM:SS[.fffffffff]"; the longest is "23:59:59.999999999".
inline constexpr std::size_t kTimeTextMax = sizeof("23:59:59.999999999") - 1;

char *write_time(char *out, Time t) noexcept;
std::expected<Time, TimeError> parse_time(std::string_view text) noexcept;

// Exactly "HH:MM:SS" with an optional fraction of one to nine digits, the
// shape every writer produces, read at fixed places into `out`.  False for
// any other text or a field out of range, which parse_time then decides.
bool read_fixed_time(std::string_view text, Time &out) noexcept;
inline constexpr std::size_t kFixedTimeSize = sizeof("HH:MM:SS") - 1;

static_assert(seconds_since_midnight({23, 59, 59, 999999999}) == 86399);
static_assert(nanos_since_midnight({23, 59, 59, 999999999}) == 86399999999999);
static_assert(Time::from_second_of_day(86399, 5) == Time{23, 59, 59, 5});

}  // namespace merandol
