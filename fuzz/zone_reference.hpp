// A slow reference for the zone queries, written from the definitions over
// the raw parsed data: the offset is that of the latest raw transition at
// or before the instant (type 0 before the first), or the footer's at and
// after the last, the footer's state being the kind of its latest change
// found by brute force over seven years.  A transition is an instant where
// that offset differs from the second before; a local reading's instants
// are the readings minus each offset the zone has that hold at them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "core/zone.hpp"
#include "core/zoned.hpp"
#include "fuzz/check.hpp"

namespace merandol::fuzz {

struct RawZone {
    std::vector<i64> times;
    std::vector<std::int32_t> offset_after;  // of each transition
    std::int32_t type0 = 0;
    std::vector<std::int32_t> all_offsets;  // every type's and the footer's
    std::optional<PosixTz> footer;
};

struct RuleChange {
    i64 at;
    i64 year;
    bool start;
};

inline std::vector<RuleChange> rule_changes(const PosixTz &tz, i64 first_year, i64 last_year) {
    std::vector<RuleChange> out;
    for (i64 y = first_year; y <= last_year; ++y) {
        const YearChanges c = year_changes(tz, y);
        out.push_back({c.end, y, false});
        out.push_back({c.start, y, true});
    }
    std::stable_sort(out.begin(), out.end(), [](const RuleChange &a, const RuleChange &b) { return a.at < b.at; });
    return out;
}

inline i64 year_at(i64 s) { return year_start(floor_divmod<i64>(s, kSecondsPerDay).quotient).year; }

inline std::int32_t reference_rule_offset(const PosixTz &tz, i64 s) {
    if (!tz.has_dst) return tz.std_offset;
    const i64 y = year_at(s);
    std::optional<RuleChange> latest;
    for (const RuleChange &c : rule_changes(tz, y - 3, y + 3))
        if (c.at <= s) latest = c;
    return latest && latest->start ? tz.dst_offset : tz.std_offset;
}

inline std::int32_t reference_offset(const RawZone &z, i64 s) {
    if (z.footer && (z.times.empty() || s >= z.times.back())) return reference_rule_offset(*z.footer, s);
    const auto after = std::upper_bound(z.times.begin(), z.times.end(), s);
    return after == z.times.begin() ? z.type0 : z.offset_after[static_cast<std::size_t>(after - z.times.begin() - 1)];
}

// Every instant where the offset may change near `s`: the raw transitions
// and the footer's changes for `years_back` years before and `years_ahead`
// after both `s` and the footer's start.
inline std::vector<i64> candidate_changes(const RawZone &z, i64 s, i64 years_back, i64 years_ahead) {
    std::vector<i64> out(z.times);
    if (z.footer && z.footer->has_dst) {
        std::vector<i64> around = {s};
        if (!z.times.empty()) around.push_back(std::clamp(z.times.back(), kMinUnixSeconds, kMaxUnixSeconds));
        for (i64 a : around)
            for (const RuleChange &c : rule_changes(*z.footer, year_at(a) - years_back, year_at(a) + years_ahead))
                out.push_back(c.at);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Changes far outside the range are never reported; they are not looked
// at, so that the arithmetic on them cannot overflow.
constexpr i64 kReachable = 8 * kSecondsPerDay;

inline bool changes_at(const RawZone &z, i64 c) {
    if (c < kMinUnixSeconds - kReachable || c > kMaxUnixSeconds + kReachable) return false;
    return reference_offset(z, c) != reference_offset(z, c - 1);
}

inline std::optional<ZoneTransition> reported(const RawZone &z, i64 c) {
    if (c < kMinUnixSeconds || c > kMaxUnixSeconds) return std::nullopt;
    return ZoneTransition{c, reference_offset(z, c - 1), reference_offset(z, c)};
}

inline std::optional<ZoneTransition> reference_next(const RawZone &z, i64 s) {
    for (i64 c : candidate_changes(z, s, 1, 12))
        if (c > s && changes_at(z, c)) return reported(z, c);
    return std::nullopt;
}

inline std::optional<ZoneTransition> reference_previous(const RawZone &z, i64 s) {
    const auto candidates = candidate_changes(z, s, 12, 1);
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it)
        if (*it < s && changes_at(z, *it)) return reported(z, *it);
    return std::nullopt;
}

inline LocalCandidates reference_local(const RawZone &z, i64 local) {
    std::vector<std::int32_t> solutions;  // by instant, earliest first
    const std::set<std::int32_t> offsets(z.all_offsets.begin(), z.all_offsets.end());
    for (auto it = offsets.rbegin(); it != offsets.rend(); ++it)
        if (reference_offset(z, local - *it) == *it) solutions.push_back(*it);
    if (solutions.size() == 1) return {LocalKind::Unique, solutions[0], solutions[0]};
    if (solutions.size() > 1) return {LocalKind::Fold, solutions.front(), solutions.back()};
    // The first change within a day of the reading whose local reading
    // jumps over it.
    for (i64 c : candidate_changes(z, local, 1, 1)) {
        if (c <= local - kSecondsPerDay || c > local + kSecondsPerDay || !changes_at(z, c)) continue;
        const std::int32_t before = reference_offset(z, c - 1), after = reference_offset(z, c);
        if (c - 1 + before < local && c + after > local) return {LocalKind::Gap, after, before};
    }
    return {LocalKind::Unique, 0, 0};  // no answer: a disagreement by construction
}

// Every query of `zone` at `s` (Unix seconds, as an instant and as a local
// reading) against the reference.
inline void require_agrees(const Zone &zone, const RawZone &raw, i64 s, std::string_view input) {
    s = std::clamp(s, kMinUnixSeconds, kMaxUnixSeconds);
    MERANDOL_REQUIRE(zone.offset_at(s) == reference_offset(raw, s), input);
    MERANDOL_REQUIRE(zone.next_transition(s) == reference_next(raw, s), input);
    MERANDOL_REQUIRE(zone.previous_transition(s) == reference_previous(raw, s), input);
    MERANDOL_REQUIRE(zone.local_candidates(s) == reference_local(raw, s), input);
    // The period holds the offset with no change inside, and the reading's
    // short cut answers only where the reading has that offset alone.
    const OffsetPeriod period = zone.period_at(s);
    const auto last = reference_previous(raw, s + 1), next = reference_next(raw, s);
    MERANDOL_REQUIRE(period.offset == reference_offset(raw, s), input);
    MERANDOL_REQUIRE(period.from == period.until || (period.from <= s && s < period.until), input);
    MERANDOL_REQUIRE(!last || last->at <= period.from || period.from == period.until, input);
    MERANDOL_REQUIRE(!next || period.until <= next->at, input);
    if (names_reading_alone(period, s))
        MERANDOL_REQUIRE(zone.local_candidates(s) == (LocalCandidates{LocalKind::Unique, period.offset, period.offset}),
                         input);
}

}  // namespace merandol::fuzz
