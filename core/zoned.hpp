// The steps of a zoned date-time (an instant in a zone) that look at the
// zone's local readings: which of a reading's offsets a written one names,
// and the first instant of a day.
#pragma once

#include <optional>

#include "core/rfc9557.hpp"
#include "core/zone.hpp"

namespace merandol {

// Two offsets differ by at most two days, each lying within a day of UTC.
inline constexpr i64 kOffsetSpread = 2 * kSecondsPerDay;

// Whether the period's offset is the only one the zone has at a reading:
// every instant within two days of the reading less that offset lies in
// the period, so no other offset names the reading, as the instant it
// would name has the period's offset.
constexpr bool names_reading_alone(const OffsetPeriod &period, i64 local_seconds) noexcept {
    // Readings lie within 2^57 of the epoch: nothing here overflows.
    const i64 instant = local_seconds - period.offset;
    return instant - kOffsetSpread >= period.from && instant + kOffsetSpread < period.until;
}

// The zone's offset at a local reading that equals `offset`, or, with
// `to_minute` (an offset written to the minute), that rounds to it, the
// earlier instant's first, with its period.  None in a gap, or when the
// zone has no such offset there.
inline std::optional<OffsetPeriod> matching_period(const Zone &zone, i64 local_seconds, std::int32_t offset,
                                                   bool to_minute) noexcept {
    // The zone has an offset o at a reading exactly when o is in force at
    // the instant the reading less o names: one lookup, where the reading's
    // candidates walk the changes of two days.  To the minute, an offset
    // found so is the answer when it is the reading's only one.
    const OffsetPeriod period = zone.period_at(local_seconds - offset);
    if (!to_minute) return period.offset == offset ? std::optional{period} : std::nullopt;
    if (period.offset == offset && names_reading_alone(period, local_seconds)) return period;
    const LocalCandidates c = zone.local_candidates(local_seconds);
    if (c.kind == LocalKind::Gap) return std::nullopt;
    for (const std::int32_t candidate : {c.earlier_offset, c.later_offset})
        if (candidate == offset || round_offset_to_minute(candidate) == offset)
            return zone.period_at(local_seconds - candidate);
    return std::nullopt;
}

// The first instant of the day whose midnight is `midnight` (local
// seconds): that midnight, the earlier one where it is repeated; where a
// change skips it, the change itself.
inline ZonedSeconds start_of_day(const Zone &zone, i64 midnight) noexcept {
    const LocalCandidates c = zone.local_candidates(midnight);
    if (c.kind != LocalKind::Gap) return {midnight - c.earlier_offset, c.earlier_offset};
    // midnight - earlier_offset lies before the change and midnight -
    // later_offset after it, so the next change after the first is it.
    const auto change = zone.next_transition(midnight - c.earlier_offset);
    if (change) return {change->at, change->offset_after};
    return {midnight - c.later_offset, c.later_offset};
}

}  // namespace merandol
