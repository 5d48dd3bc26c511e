// A fixed offset from UTC in whole seconds, and one instant read under such
// an offset.  There is no time-zone database: an offset never changes.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <type_traits>

#include "core/datetime.hpp"

namespace merandol {

enum class UtcOffsetError : std::uint8_t { OutOfRange };

constexpr std::string_view error_name(UtcOffsetError) noexcept { return "OutOfRange"; }

struct UtcOffset {
    std::int32_t seconds;  // [-86400, 86400], added to UTC to give local time

    static constexpr std::expected<UtcOffset, UtcOffsetError> from_seconds(std::int32_t seconds) noexcept {
        if (seconds < -86400 || seconds > 86400) return std::unexpected(UtcOffsetError::OutOfRange);
        return UtcOffset{seconds};
    }

    static constexpr std::expected<UtcOffset, UtcOffsetError> from_hours_minutes(bool sign_positive, std::uint8_t hours,
                                                                                 std::uint8_t minutes) noexcept {
        return from_fields(sign_positive, hours, minutes);
    }

    // The same from fields of any width, as a text reader has them: hours
    // at most 23, minutes at most 59.
    static constexpr std::expected<UtcOffset, UtcOffsetError> from_fields(bool sign_positive, std::uint64_t hours,
                                                                          std::uint64_t minutes) noexcept {
        if (hours > 23 || minutes > 59) return std::unexpected(UtcOffsetError::OutOfRange);
        const auto magnitude = static_cast<std::int32_t>(hours * 3600 + minutes * 60);
        return UtcOffset{sign_positive ? magnitude : -magnitude};
    }

    friend constexpr bool operator==(UtcOffset, UtcOffset) noexcept = default;
};
static_assert(sizeof(UtcOffset) == 4 && std::is_trivially_copyable_v<UtcOffset>);

constexpr bool is_utc(UtcOffset o) noexcept { return o.seconds == 0; }

// "+HH:MM" or "-HH:MM"; leftover seconds are not shown.
inline constexpr std::size_t kOffsetTextSize = sizeof("+HH:MM") - 1;
inline constexpr std::size_t kOffsetColon = sizeof("+HH") - 1;  // the colon's place in it
char *write_offset(char *out, UtcOffset offset) noexcept;
// That shape, which every writer produces, read at fixed places into `out`;
// false for any other text or hours above 23 or minutes above 59.
bool read_fixed_offset(std::string_view text, UtcOffset &out) noexcept;

struct OffsetDateTime {
    DateTime utc;
    UtcOffset offset;

    // Field by field: the same instant under two offsets is two values.
    friend constexpr bool operator==(OffsetDateTime, OffsetDateTime) noexcept = default;
};
static_assert(sizeof(OffsetDateTime) == 20 && std::is_trivially_copyable_v<OffsetDateTime>);

constexpr OffsetDateTime from_utc(DateTime utc, UtcOffset offset) noexcept { return {utc, offset}; }

// A date-time moved by a whole number of seconds, |seconds| <= 86400: at
// most one day either way, so the date steps to a neighbouring day without
// the round trip through the day number.  This and the two below are
// always inlined: with more callers in one library the compiler would call
// them instead, which costs the scalar conversions 50 instructions each.
[[gnu::always_inline]] constexpr std::expected<DateTime, DateError> shift_seconds(DateTime dt,
                                                                                  std::int32_t seconds) noexcept {
    const std::int32_t sod = static_cast<std::int32_t>(seconds_since_midnight(dt.time)) + seconds;  // [-86400, 172799]
    if (sod >= 0 && sod < kSecondsPerDay)
        return DateTime{dt.date, Time::from_second_of_day(static_cast<std::uint32_t>(sod), dt.time.nanosecond)};
    const bool forward = sod >= kSecondsPerDay;
    const auto date = forward ? day_after(dt.date) : day_before(dt.date);
    if (!date) return std::unexpected(date.error());
    const std::int32_t rest =
        forward ? sod - static_cast<std::int32_t>(kSecondsPerDay) : sod + static_cast<std::int32_t>(kSecondsPerDay);
    return DateTime{*date, Time::from_second_of_day(static_cast<std::uint32_t>(rest), dt.time.nanosecond)};
}

// The local reading moved back by the offset; only whole seconds move.
[[gnu::always_inline]] constexpr std::expected<OffsetDateTime, DateError> from_local(Date date, Time time,
                                                                                     UtcOffset offset) noexcept {
    const auto utc = shift_seconds(DateTime{date, time}, -offset.seconds);
    if (!utc) return std::unexpected(utc.error());
    return OffsetDateTime{*utc, offset};
}

// Not always representable: from_utc and add_duration may build a value
// whose local reading lies beyond either end of the DateTime range.
[[gnu::always_inline]] constexpr std::expected<DateTime, DateError> to_local(OffsetDateTime v) noexcept {
    return shift_seconds(v.utc, v.offset.seconds);
}

constexpr std::expected<OffsetDateTime, DateError> add_duration(OffsetDateTime v, i128 span) noexcept {
    const auto utc = add_duration(v.utc, span);
    if (!utc) return std::unexpected(utc.error());
    return OffsetDateTime{*utc, v.offset};
}

constexpr i128 difference(OffsetDateTime self, OffsetDateTime other) noexcept {
    return difference(self.utc, other.utc);
}

constexpr i64 unix_timestamp(OffsetDateTime v) noexcept { return unix_timestamp(v.utc); }
constexpr i128 unix_timestamp_nanos(OffsetDateTime v) noexcept { return unix_timestamp_nanos(v.utc); }

// Instants only, so values that are unequal may still compare as neither
// less nor greater.
constexpr int compare(OffsetDateTime a, OffsetDateTime b) noexcept { return compare(a.utc, b.utc); }

static_assert(*shift_seconds({{2024, 2, 28}, {23, 0, 0, 5}}, 3600) == DateTime{{2024, 2, 29}, {0, 0, 0, 5}});
static_assert(*shift_seconds({{2024, 3, 1}, {0, 30, 0, 0}}, -3600) == DateTime{{2024, 2, 29}, {23, 30, 0, 0}});
static_assert(*shift_seconds({{2023, 12, 31}, {23, 0, 0, 0}}, 86400) == DateTime{{2024, 1, 1}, {23, 0, 0, 0}});
static_assert(!shift_seconds({{INT32_MAX, 12, 31}, {23, 0, 0, 0}}, 3600));
static_assert(UtcOffset::from_hours_minutes(true, 23, 59)->seconds == 86340);
static_assert(UtcOffset::from_hours_minutes(false, 0, 0)->seconds == 0);
static_assert(!UtcOffset::from_seconds(86401) && UtcOffset::from_seconds(-86400));

}  // namespace merandol
