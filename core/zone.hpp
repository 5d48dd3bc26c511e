// A time zone read from a TZif file (RFC 8536, versions 1 to 4): the offset
// in force at any instant, the instants of a local reading, and the nearest
// changes of offset.  Before the first transition the file's type 0
// applies; at and after the last one the footer's rule (an empty footer, or
// a version 1 file, keeps the last transition's type; a file without
// transitions follows its footer throughout).
//
// The file is hostile input: every count and index is checked against the
// bytes before use, and a damaged file yields an error naming what is wrong.
// What is kept is only what the queries need: the instants where the offset
// changes, each with the offset after it, and the designations ("CET",
// "CEST") in force.  Leap-second records and the standard/UT indicators are
// checked and dropped (there are no leap seconds here).
//
// The footer's changes are worked out once, when the zone is built, for the
// 400 years after the last transition: the rule repeats every 400 Gregorian
// years (see kCycleSeconds), so a later instant is moved back by whole
// cycles into those years, and every query is one binary search of the
// same table.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

#include "core/floor.hpp"
#include "core/offset.hpp"
#include "core/posix_tz.hpp"

namespace merandol {

enum class TzifError : std::uint8_t {
    WrongMagic,
    UnknownVersion,
    Truncated,
    NoLocalTimeTypes,
    NoDesignations,
    IndicatorCountMismatch,
    TransitionsOutOfOrder,
    TypeIndexOutOfRange,
    OffsetOutOfRange,
    BadDaylightFlag,
    DesignationIndexOutOfRange,
    DesignationUnterminated,
    BadIndicator,
    BadFooter,
    TrailingBytes,
    OutOfMemory,
};

// What is wrong, for a message such as "Europe/Paris: <text>".
constexpr std::string_view describe(TzifError e) noexcept {
    constexpr std::string_view text[] = {
        "not a TZif file (wrong magic)",
        "unknown TZif version",
        "truncated: the data ends before its counts say",
        "no local time types (typecnt is 0)",
        "no designation bytes (charcnt is 0)",
        "isstdcnt or isutcnt is neither 0 nor typecnt",
        "transition times are not strictly ascending",
        "a transition's type index lies past the type table",
        "a UTC offset is out of range (beyond 24 hours, or -2^31)",
        "an isdst flag is neither 0 nor 1",
        "a designation index lies past the designation bytes",
        "the designation bytes do not end with NUL",
        "a standard/wall or UT/local indicator is not 0 or 1, or UT without standard",
        "the footer is not a newline-framed POSIX TZ string that parses",
        "bytes follow the end of the data",
        "out of memory",
    };
    return text[static_cast<unsigned>(e)];
}

// A change of offset: at `at` (Unix seconds) from `offset_before` to
// `offset_after` (seconds east of UTC).
struct ZoneTransition {
    i64 at;
    std::int32_t offset_before;
    std::int32_t offset_after;

    friend constexpr bool operator==(ZoneTransition, ZoneTransition) noexcept = default;
};

// The instants of a local reading L (local seconds: the reading counted as
// if it were UTC), each written L - offset.
//  - Unique: one instant; both offsets are its offset.
//  - Fold: the reading is repeated; the earliest and latest instants.
//  - Gap: the reading is skipped by a change from offset b to a (a > b);
//    earlier_offset is a (L - a lies before the change) and later_offset b
//    (L - b lies after it, the reading moved forward by the gap's length
//    a - b).
enum class LocalKind : std::uint8_t { Unique, Gap, Fold };

struct LocalCandidates {
    LocalKind kind;
    std::int32_t earlier_offset;
    std::int32_t later_offset;

    friend constexpr bool operator==(LocalCandidates, LocalCandidates) noexcept = default;
};

// How a skipped or repeated reading is settled.  Compatible takes the
// earlier instant of a fold and the later of a gap (the reading moved
// forward by the gap's length).
enum class Disambiguate : std::uint8_t { Compatible, Earlier, Later, Raise };
enum class LocalError : std::uint8_t { Skipped, Repeated };

// An instant with the offset in force at it.
struct ZonedSeconds {
    i64 seconds;
    std::int32_t offset;

    friend constexpr bool operator==(ZonedSeconds, ZonedSeconds) noexcept = default;
};

// An offset and a span of instants [from, until) in Unix seconds over
// which it is in force: the whole span between two changes, or a part of
// one.  A value that keeps it can tell whether a step lands inside without
// a search of the table.
struct OffsetPeriod {
    i64 from;
    i64 until;
    std::int32_t offset;

    friend constexpr bool operator==(OffsetPeriod, OffsetPeriod) noexcept = default;
};

// 400 Gregorian years: 97 leap years among them (every fourth, less the
// three centuries not divisible by 400), 146097 days, a whole number of
// weeks, so every day rule falls on the same day of the cycle again.
inline constexpr i64 kCycleDays = 400 * 365 + 100 - 3;
inline constexpr i64 kCycleSeconds = kCycleDays * kSecondsPerDay;
static_assert(kCycleDays == 146097 && kCycleDays % 7 == 0);

class Zone {
public:
    Zone() noexcept = default;
    Zone(Zone &&other) noexcept;
    Zone &operator=(Zone &&other) noexcept;
    Zone(const Zone &) = delete;
    Zone &operator=(const Zone &) = delete;
    ~Zone();

    // A zone that follows a footer rule at every instant, its names those
    // given (none by default).
    static std::expected<Zone, TzifError> from_rule(const PosixTz &rule, PosixTzNames names = {}) noexcept;

    // Queries on Unix seconds.  The answers are exact over the DateTime
    // range and a few days beyond it; further out the offset stays as it is
    // there, and transitions outside the range are not reported.
    std::int32_t offset_at(i64 seconds) const noexcept;
    // The offset at an instant with the span between the changes around it
    // (empty in the footer's repeated years).  It tries the period it found
    // last before it searches: a value's steps, and a series of instants in
    // order, mostly stay in one.
    OffsetPeriod period_at(i64 seconds) const noexcept;
    std::optional<ZoneTransition> next_transition(i64 seconds) const noexcept;      // strictly after
    std::optional<ZoneTransition> previous_transition(i64 seconds) const noexcept;  // strictly before
    // The designation in force ("CET", "CEST", "LMT"), empty where the zone
    // names none.  It views the zone.
    std::string_view abbreviation_at(i64 seconds) const noexcept;
    // The longest designation's length, which a writer sizes its buffer by.
    std::size_t longest_abbreviation() const noexcept;

    // The same on instants in nanoseconds: a transition strictly after
    // (before) the instant itself, not its second.
    std::int32_t offset_at_instant(i128 instant) const noexcept;
    std::optional<ZoneTransition> next_transition_after_instant(i128 instant) const noexcept;
    std::optional<ZoneTransition> previous_transition_before_instant(i128 instant) const noexcept;

    // Local seconds are whole: a reading's nanoseconds stay with it, since
    // every offset is a whole number of seconds.
    LocalCandidates local_candidates(i64 local_seconds) const noexcept;
    // Flattened: its callers' loops (from_local_numpy, the calendar columns)
    // want local_candidates inlined here, which LTO stopped doing once more
    // units called it (from_local_numpy took 13% more instructions).
    [[gnu::flatten]] std::expected<ZonedSeconds, LocalError> resolve_local(i64 local_seconds,
                                                                           Disambiguate how) const noexcept;

    // Bytes held: the object and its table.
    std::size_t memory_size() const noexcept;
    // Changes of offset kept: the file's, then the footer's for one cycle.
    std::size_t table_size() const noexcept { return count_; }
    std::optional<PosixTz> footer() const noexcept { return footer_; }

    // Whether two zones answer every query alike, and a hash that agrees.
    bool same_rules(const Zone &other) const noexcept;
    u64 rules_hash() const noexcept { return rules_hash_; }

private:
    friend struct ZoneBuilder;

    // An instant moved back into the table by `shift` seconds, whole cycles.
    struct TableInstant {
        i64 seconds;
        i64 shift;
    };
    TableInstant into_table(i64 seconds) const noexcept;
    // The number of kept changes at or before (strictly before) an instant.
    std::size_t changes_up_to(i64 seconds) const noexcept;
    std::size_t changes_before(i64 seconds) const noexcept;
    std::int32_t offset_before(std::size_t i) const noexcept { return i == 0 ? initial_offset_ : offsets_[i - 1]; }
    // The span from kept change i - 1 to change i (i <= count_), the changes
    // past the table's end lying at or after cycle_end_.
    OffsetPeriod period_after(std::size_t i) const noexcept {
        return {i == 0 ? INT64_MIN : times_[i - 1], i < count_ ? times_[i] : cycle_end_, offset_before(i)};
    }
    // changes_up_to(), kept as the recent count for period_at().
    std::size_t changes_searched(i64 seconds) const noexcept;
    std::optional<i64> next_change(i64 seconds) const noexcept;
    std::optional<i64> previous_change(i64 seconds) const noexcept;
    std::optional<ZoneTransition> transition_at(std::optional<i64> at) const noexcept;

    // The designation after kept change i (i < count_), or before the first.
    std::uint8_t name_after(std::size_t i) const noexcept;

    // One allocation: count_ instants (i64), renamings_ instants where
    // only the designation changes (i64), the offset after each change
    // (i32), the designation after each of the file's named_ changes and
    // after each renaming (bytes, offsets into the names), then the names,
    // each ending in NUL.  The footer's changes are named by their offset.
    void *block_ = nullptr;
    const i64 *times_ = nullptr;
    const i64 *renaming_times_ = nullptr;
    const std::int32_t *offsets_ = nullptr;
    const std::uint8_t *change_names_ = nullptr;
    const std::uint8_t *renaming_names_ = nullptr;
    const char *names_ = nullptr;
    // An index of times_ by coarse time, so that a lookup searches the few
    // changes of one bucket rather than the whole table (ten steps for a
    // zone's thousand changes, its cycle's included).  Bucket b spans
    // 2^bucket_shift_ seconds from times_[0] + b * 2^bucket_shift_; its
    // changes are those from index bucket_starts_[b] to bucket_starts_[b + 1].
    const std::uint32_t *bucket_starts_ = nullptr;  // buckets_ + 1 of them
    std::uint32_t buckets_ = 0;
    unsigned bucket_shift_ = 0;
    std::uint32_t count_ = 0;
    std::uint32_t renamings_ = 0;
    std::uint32_t named_ = 0;
    std::uint16_t names_size_ = 0;
    std::uint8_t initial_name_ = 0;
    std::uint8_t std_name_ = 0;
    std::uint8_t dst_name_ = 0;
    std::int32_t initial_offset_ = 0;
    // Instants at or after cycle_end_ are moved back by whole cycles into
    // [cycle_end_ - kCycleSeconds, cycle_end_); INT64_MAX when the offset
    // no longer changes.  The table's changes from index cycle_first_ on
    // repeat, cycle_changes_ of them to a cycle.
    i64 cycle_end_ = INT64_MAX;
    std::uint32_t cycle_first_ = 0;
    std::uint32_t cycle_changes_ = 0;
    u64 rules_hash_ = 0;
    std::optional<PosixTz> footer_;
    // The count of changes up to the instant period_at() last searched for
    // (at most count_).  Any value is safe to read, so threads may race on
    // it: relaxed, one word.
    mutable std::atomic<std::uint32_t> recent_changes_ = 0;
};

// Before cycle_end_ the table holds every change, so the offset found
// lasts from the change before to the change after (to cycle_end_ past
// the last).  Beyond, the changes around are a cycle's moved back, which
// the instants there are too rare to be worth: the span is empty, and
// every step from there searches again.  Inline, as most calls find the
// recent period; the period is made once, from the count of changes found
// either way, as two made apart and merged are copied whole over the
// separate stores of their fields, a load that waits until those reach
// the cache.
inline OffsetPeriod Zone::period_at(i64 seconds) const noexcept {
    if (seconds >= cycle_end_) [[unlikely]]
        return {seconds, seconds, offset_at(seconds)};
    std::size_t i = recent_changes_.load(std::memory_order_relaxed);
    if ((i != 0 && seconds < times_[i - 1]) || (i < count_ && seconds >= times_[i])) [[unlikely]]
        i = changes_searched(seconds);
    return period_after(i);
}

std::expected<Zone, TzifError> parse_tzif(std::span<const std::uint8_t> data) noexcept;

// Floor and ceiling of an instant in whole seconds, saturated to 64 bits.
constexpr i64 saturate_seconds(i128 s) noexcept {
    return s < INT64_MIN ? INT64_MIN : s > INT64_MAX ? INT64_MAX : static_cast<i64>(s);
}
constexpr i64 floor_seconds(i128 instant) noexcept {
    return saturate_seconds(floor_divmod<i128>(instant, kNanosPerSecond).quotient);
}
constexpr i64 ceil_seconds(i128 instant) noexcept {
    const auto [seconds, nanos] = floor_divmod<i128>(instant, kNanosPerSecond);
    return saturate_seconds(seconds + (nanos != 0));
}
// --- The queries on date-times ------------------------------------------------
// What the bindings need, on the value types.  A zone's offsets all lie
// within a day, so each is a valid UtcOffset.

// The instant at the offset in force there.  Always a value; its local
// reading may lie beyond the range, as with any OffsetDateTime.
inline OffsetDateTime to_zone(const Zone &zone, DateTime utc) noexcept {
    return {utc, UtcOffset{zone.offset_at(unix_timestamp(utc))}};
}

enum class ZoneLocalError : std::uint8_t {
    Skipped,     // in a gap, asked to raise
    Repeated,    // in a fold, asked to raise
    OutOfRange,  // the instant lies beyond the DateTime range
};

// A local reading in the zone, settled as `how` says, at the offset in force
// at its instant (in a gap that is the offset after the change, so the
// reading shown moves by the gap's length).  Always inlined, as the column
// readers call it too: Zone.from_local kept whole costs 50 instructions less.
[[gnu::always_inline]] inline std::expected<OffsetDateTime, ZoneLocalError> from_zone_local(const Zone &zone,
                                                                                            DateTime local,
                                                                                            Disambiguate how) noexcept {
    const auto resolved = zone.resolve_local(unix_timestamp(local), how);
    if (!resolved)
        return std::unexpected(resolved.error() == LocalError::Skipped ? ZoneLocalError::Skipped
                                                                       : ZoneLocalError::Repeated);
    const auto utc = from_unix_timestamp(resolved->seconds, static_cast<std::int32_t>(local.time.nanosecond));
    if (!utc) return std::unexpected(ZoneLocalError::OutOfRange);
    return OffsetDateTime{*utc, UtcOffset{resolved->offset}};
}

// The nearest change strictly after (before) the instant, at its new
// offset; none past the last (first) change of the range.
inline std::optional<OffsetDateTime> transition_value(std::optional<ZoneTransition> t) noexcept {
    if (!t) return std::nullopt;
    const auto at = from_unix_timestamp(t->at, 0);  // reported changes lie in the range
    if (!at) return std::nullopt;
    return OffsetDateTime{*at, UtcOffset{t->offset_after}};
}
inline std::optional<OffsetDateTime> next_zone_transition(const Zone &zone, DateTime utc) noexcept {
    return transition_value(zone.next_transition_after_instant(unix_timestamp_nanos(utc)));
}
inline std::optional<OffsetDateTime> previous_zone_transition(const Zone &zone, DateTime utc) noexcept {
    return transition_value(zone.previous_transition_before_instant(unix_timestamp_nanos(utc)));
}

static_assert(floor_seconds(-1) == -1 && ceil_seconds(-1) == 0 && floor_seconds(1) == 0 && ceil_seconds(1) == 1);
static_assert(floor_seconds(-kNanosPerSecond) == -1 && ceil_seconds(kNanosPerSecond) == 1);

}  // namespace merandol
