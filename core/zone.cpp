#include "core/zone.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace merandol {
namespace {

constexpr std::uint32_t be32(const std::uint8_t *p) noexcept {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
constexpr i64 be_time(const std::uint8_t *p, std::size_t width) noexcept {
    if (width == 4) return static_cast<std::int32_t>(be32(p));
    return static_cast<i64>(u64{be32(p)} << 32 | be32(p + 4));
}

struct Header {
    std::uint8_t version;  // 1 to 4
    std::uint32_t isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt;
};

// "TZif", the version byte, 15 unused bytes, then six 32-bit counts.
constexpr std::size_t kCountsAt = 4 + 1 + 15;
constexpr std::size_t kHeaderSize = kCountsAt + std::size_t{6} * 4;
static_assert(kHeaderSize == 44);
constexpr std::size_t kTypeRecordSize = 6;  // utoff (4), isdst (1), desigidx (1)

std::expected<Header, TzifError> read_header(std::span<const std::uint8_t> data, std::size_t at) noexcept {
    if (data.size() - at < kHeaderSize) return std::unexpected(TzifError::Truncated);
    const std::uint8_t *p = data.data() + at;
    if (std::memcmp(p, "TZif", 4) != 0) return std::unexpected(TzifError::WrongMagic);
    Header h{};
    switch (p[4]) {
        case 0: h.version = 1; break;
        case '2':
        case '3':
        case '4': h.version = static_cast<std::uint8_t>(p[4] - '0'); break;
        default: return std::unexpected(TzifError::UnknownVersion);
    }
    const std::uint8_t *counts = p + kCountsAt;
    h.isutcnt = be32(counts);
    h.isstdcnt = be32(counts + 4);
    h.leapcnt = be32(counts + 8);
    h.timecnt = be32(counts + 12);
    h.typecnt = be32(counts + 16);
    h.charcnt = be32(counts + 20);
    return h;
}

// Bytes of a data block; at most about 2^32 * 25, far inside 64 bits.
constexpr u64 block_size(const Header &h, std::size_t time_width) noexcept {
    return u64{h.timecnt} * (time_width + 1) + u64{h.typecnt} * kTypeRecordSize + h.charcnt +
           u64{h.leapcnt} * (time_width + 4) + h.isstdcnt + h.isutcnt;
}

// The parts of a checked data block.
struct Block {
    const std::uint8_t *times;
    const std::uint8_t *indexes;
    const std::uint8_t *types;
    std::size_t time_width;
    std::uint32_t timecnt;
    std::uint32_t typecnt;

    i64 time(std::size_t i) const noexcept { return be_time(times + i * time_width, time_width); }
    std::int32_t utoff(std::size_t type) const noexcept {
        return static_cast<std::int32_t>(be32(types + type * kTypeRecordSize));
    }
};

// Checks the block at `at` against the header's counts; `at` moves past it.
std::expected<Block, TzifError> read_block(std::span<const std::uint8_t> data, std::size_t &at, const Header &h,
                                           std::size_t time_width) noexcept {
    if (h.typecnt == 0) return std::unexpected(TzifError::NoLocalTimeTypes);
    if (h.charcnt == 0) return std::unexpected(TzifError::NoDesignations);
    if ((h.isstdcnt != 0 && h.isstdcnt != h.typecnt) || (h.isutcnt != 0 && h.isutcnt != h.typecnt))
        return std::unexpected(TzifError::IndicatorCountMismatch);
    if (block_size(h, time_width) > data.size() - at) return std::unexpected(TzifError::Truncated);

    Block b{};
    b.time_width = time_width;
    b.timecnt = h.timecnt;
    b.typecnt = h.typecnt;
    b.times = data.data() + at;
    b.indexes = b.times + std::size_t{h.timecnt} * time_width;
    b.types = b.indexes + h.timecnt;
    const std::uint8_t *chars = b.types + std::size_t{h.typecnt} * kTypeRecordSize;
    const std::uint8_t *leaps = chars + h.charcnt;
    const std::uint8_t *isstd = leaps + std::size_t{h.leapcnt} * (time_width + 4);
    const std::uint8_t *isut = isstd + h.isstdcnt;
    at = static_cast<std::size_t>(isut + h.isutcnt - data.data());

    for (std::size_t i = 1; i < h.timecnt; ++i)
        if (b.time(i) <= b.time(i - 1)) return std::unexpected(TzifError::TransitionsOutOfOrder);
    for (std::size_t i = 0; i < h.timecnt; ++i)
        if (b.indexes[i] >= h.typecnt) return std::unexpected(TzifError::TypeIndexOutOfRange);
    for (std::size_t t = 0; t < h.typecnt; ++t) {
        const std::uint8_t *record = b.types + t * kTypeRecordSize;
        // RFC 8536 allows -89999 to 93599; a UtcOffset holds at most a day
        // either way, and no zone has come near it.
        const std::int32_t utoff = b.utoff(t);
        if (utoff < -kSecondsPerDay || utoff > kSecondsPerDay) return std::unexpected(TzifError::OffsetOutOfRange);
        if (record[4] > 1) return std::unexpected(TzifError::BadDaylightFlag);
        if (record[5] >= h.charcnt) return std::unexpected(TzifError::DesignationIndexOutOfRange);
    }
    if (chars[h.charcnt - 1] != 0) return std::unexpected(TzifError::DesignationUnterminated);
    for (std::size_t t = 0; t < h.isstdcnt; ++t)
        if (isstd[t] > 1) return std::unexpected(TzifError::BadIndicator);
    for (std::size_t t = 0; t < h.isutcnt; ++t)
        if (isut[t] > 1 || (isut[t] == 1 && (h.isstdcnt == 0 || isstd[t] == 0)))
            return std::unexpected(TzifError::BadIndicator);
    return b;
}

// The header of the block to read and where that block starts: version 2
// and later repeat the data with 64-bit times, and the first block, with
// 32-bit times, is skipped as RFC 8536 advises readers to.
struct DataBlock {
    Header header;
    std::size_t at;
    std::size_t time_width;
};

std::expected<DataBlock, TzifError> find_data_block(std::span<const std::uint8_t> data) noexcept {
    const auto first = read_header(data, 0);
    if (!first) return std::unexpected(first.error());
    if (first->version == 1) return DataBlock{*first, kHeaderSize, 4};
    const u64 skip = block_size(*first, 4);
    if (skip > data.size() - kHeaderSize) return std::unexpected(TzifError::Truncated);
    const std::size_t at = kHeaderSize + static_cast<std::size_t>(skip);
    const auto second = read_header(data, at);
    if (!second) return std::unexpected(second.error());
    if (second->version != first->version) return std::unexpected(TzifError::UnknownVersion);
    return DataBlock{*second, at + kHeaderSize, 8};
}

// The footer of a version 2 or later file at `at`: a POSIX TZ string
// between two newlines, or nothing between them; `at` moves past it.
std::expected<std::optional<PosixTz>, TzifError> read_footer(std::span<const std::uint8_t> data,
                                                             std::size_t &at) noexcept {
    if (at == data.size()) return std::unexpected(TzifError::Truncated);
    if (data[at] != '\n') return std::unexpected(TzifError::BadFooter);
    const auto *text = reinterpret_cast<const char *>(data.data() + at + 1);
    const auto *newline = static_cast<const char *>(std::memchr(text, '\n', data.size() - at - 1));
    if (newline == nullptr) return std::unexpected(TzifError::Truncated);
    at = static_cast<std::size_t>(reinterpret_cast<const std::uint8_t *>(newline) + 1 - data.data());
    if (newline == text) return std::nullopt;
    const auto rule = parse_posix_tz({text, static_cast<std::size_t>(newline - text)});
    if (!rule) return std::unexpected(TzifError::BadFooter);
    return *rule;
}

// The footer's changes repeat a cycle later from the second after it takes
// over on; they are kept from there for one cycle and twice this margin: a
// local reading's instants lie within a day of it, so a reading moved into
// the cycle finds every change near it in the table.
constexpr i64 kCycleMargin = 2 * kSecondsPerDay;
// At most two changes a year, over the cycle's 400 years, the margins and
// a year either side, whose changes may fall a few days outside it.
constexpr std::size_t kMaxCycleChanges = std::size_t{2} * (400 + 4);

// FNV-1a over 64-bit words: its offset basis and prime.
constexpr u64 kHashBasis = 14695981039346656037ull;
constexpr u64 kHashPrime = 1099511628211ull;
constexpr u64 hash_word(u64 h, u64 word) noexcept { return (h ^ word) * kHashPrime; }

}  // namespace

// Gathers a zone's changes in time order, keeping only those where the
// offset differs from the one before, then extends them by the footer.
struct ZoneBuilder {
    Zone zone;
    i64 *times = nullptr;
    std::int32_t *offsets = nullptr;
    std::size_t count = 0;
    std::size_t capacity = 0;
    std::int32_t last = 0;

    ZoneBuilder() = default;
    ZoneBuilder(const ZoneBuilder &) = delete;
    ZoneBuilder &operator=(const ZoneBuilder &) = delete;
    ~ZoneBuilder() { std::free(times); }

    // Room for `changes` before the footer's; false when out of memory.
    bool start(std::int32_t initial, std::size_t changes) noexcept {
        zone.initial_offset_ = last = initial;
        capacity = changes + 1 + kMaxCycleChanges;  // and the hand-over to the footer
        times = static_cast<i64 *>(std::malloc(capacity * (sizeof(i64) + sizeof(std::int32_t))));
        offsets = reinterpret_cast<std::int32_t *>(times + capacity);
        return times != nullptr;
    }

    void add(i64 at, std::int32_t offset) noexcept {
        if (offset == last || count == capacity) return;
        times[count] = at;
        offsets[count] = offset;
        ++count;
        last = offset;
    }

    // The footer from `footer_from` on (from the start when the file has
    // no transitions), its changes kept for one cycle and the margins.
    void follow_footer(const PosixTz &footer, std::optional<i64> footer_from) noexcept {
        const FooterRule rule(footer);
        zone.footer_ = footer;
        if (footer_from)
            add(*footer_from, rule.offset_at(*footer_from));
        else
            zone.initial_offset_ = last = rule.offset_at(kFooterMinSeconds);
        // The rule is read at the nearest instant inside its reach, so it
        // changes only inside it, and repeats from where it starts ruling.
        const i64 from = std::max(footer_from.value_or(kFooterMinSeconds), kFooterMinSeconds);
        if (!footer.changes() || from >= kFooterMaxSeconds) return;
        const i64 cycle_start = from + 1;
        const bool whole = kFooterMaxSeconds - cycle_start >= kCycleSeconds + 2 * kCycleMargin;
        const i64 end = whole ? cycle_start + kCycleSeconds + 2 * kCycleMargin : kFooterMaxSeconds + 1;
        const std::size_t first = count;
        std::size_t in_cycle = 0;
        for (auto at = rule.next_change(from); at && *at < end; at = rule.next_change(*at)) {
            add(*at, rule.offset_at(*at));
            in_cycle += *at < cycle_start + kCycleSeconds;
        }
        // A rule whose changes cancel out ("all year daylight time") or a
        // cycle cut short by the end of the range leaves nothing to repeat.
        if (!whole || in_cycle == 0) return;
        zone.cycle_end_ = cycle_start + kCycleMargin + kCycleSeconds;
        zone.cycle_first_ = static_cast<std::uint32_t>(first);
        zone.cycle_changes_ = static_cast<std::uint32_t>(in_cycle);
    }

    // The zone, owning the table shrunk to its changes.
    std::expected<Zone, TzifError> finish() noexcept {
        Zone &z = zone;
        u64 h = hash_word(hash_word(kHashBasis, static_cast<u64>(z.initial_offset_)), static_cast<u64>(z.cycle_end_));
        for (std::size_t i = 0; i < count; ++i)
            h = hash_word(hash_word(h, static_cast<u64>(times[i])), static_cast<u64>(offsets[i]));
        z.rules_hash_ = h;
        if (count == 0) return std::move(z);
        std::memmove(times + count, offsets, count * sizeof(std::int32_t));
        void *block = std::realloc(times, count * (sizeof(i64) + sizeof(std::int32_t)));
        if (block == nullptr) block = times;  // shrinking failed: keep the larger block
        times = nullptr;
        z.block_ = block;
        z.times_ = static_cast<const i64 *>(block);
        z.offsets_ = reinterpret_cast<const std::int32_t *>(z.times_ + count);
        z.count_ = static_cast<std::uint32_t>(count);
        return std::move(z);
    }
};

Zone::Zone(Zone &&other) noexcept { *this = std::move(other); }

Zone &Zone::operator=(Zone &&other) noexcept {
    if (this == &other) return *this;
    std::free(block_);
    block_ = std::exchange(other.block_, nullptr);
    times_ = std::exchange(other.times_, nullptr);
    offsets_ = std::exchange(other.offsets_, nullptr);
    count_ = std::exchange(other.count_, 0);
    initial_offset_ = other.initial_offset_;
    cycle_end_ = other.cycle_end_;
    cycle_first_ = other.cycle_first_;
    cycle_changes_ = other.cycle_changes_;
    rules_hash_ = other.rules_hash_;
    footer_ = other.footer_;
    return *this;
}

Zone::~Zone() { std::free(block_); }

std::expected<Zone, TzifError> Zone::from_rule(const PosixTz &rule) noexcept {
    ZoneBuilder b;
    if (!b.start(rule.std_offset, 0)) return std::unexpected(TzifError::OutOfMemory);
    b.follow_footer(rule, std::nullopt);
    return b.finish();
}

std::expected<Zone, TzifError> parse_tzif(std::span<const std::uint8_t> data) noexcept {
    auto found = find_data_block(data);
    if (!found) return std::unexpected(found.error());
    std::size_t at = found->at;
    const auto block = read_block(data, at, found->header, found->time_width);
    if (!block) return std::unexpected(block.error());
    std::optional<PosixTz> footer;
    if (found->header.version >= 2) {
        const auto read = read_footer(data, at);
        if (!read) return std::unexpected(read.error());
        footer = *read;
    }
    if (at != data.size()) return std::unexpected(TzifError::TrailingBytes);

    // The transitions rule up to the last one when a footer follows it, and
    // throughout otherwise.
    const std::size_t n = block->timecnt;
    const std::size_t table_end = footer && n > 0 ? n - 1 : footer ? 0 : n;
    ZoneBuilder b;
    if (!b.start(block->utoff(0), table_end)) return std::unexpected(TzifError::OutOfMemory);
    for (std::size_t i = 0; i < table_end; ++i) b.add(block->time(i), block->utoff(block->indexes[i]));
    if (footer) b.follow_footer(*footer, n > 0 ? std::optional(block->time(n - 1)) : std::nullopt);
    return b.finish();
}

std::size_t Zone::memory_size() const noexcept {
    return sizeof(Zone) + std::size_t{count_} * (sizeof(i64) + sizeof(std::int32_t));
}

bool Zone::same_rules(const Zone &other) const noexcept {
    if (rules_hash_ != other.rules_hash_ || count_ != other.count_ || initial_offset_ != other.initial_offset_ ||
        cycle_end_ != other.cycle_end_ || cycle_first_ != other.cycle_first_ || cycle_changes_ != other.cycle_changes_)
        return false;
    return count_ == 0 || (std::memcmp(times_, other.times_, count_ * sizeof(i64)) == 0 &&
                           std::memcmp(offsets_, other.offsets_, count_ * sizeof(std::int32_t)) == 0);
}

Zone::TableInstant Zone::into_table(i64 seconds) const noexcept {
    if (seconds < cycle_end_) [[likely]]
        return {seconds, 0};
    // Past the reach of the rule its offset stays as it is there.
    const i64 clamped = std::min(seconds, kFooterMaxSeconds);
    const i64 cycle_from = cycle_end_ - kCycleSeconds;
    const i64 moved = cycle_from + (clamped - cycle_from) % kCycleSeconds;
    return {moved, clamped - moved};
}

// Binary searches without a branch on the data (the compiler emits a
// conditional move), so that their cost does not depend on the instants
// asked for: the answer stays in [base - times_, base - times_ + n].
std::size_t Zone::changes_up_to(i64 seconds) const noexcept {
    if (count_ == 0) return 0;
    const i64 *base = times_;
    for (std::size_t n = count_; n > 1;) {
        const std::size_t half = n / 2;
        base = base[half] <= seconds ? base + half : base;
        n -= half;
    }
    return static_cast<std::size_t>(base - times_) + (*base <= seconds);
}

std::size_t Zone::changes_before(i64 seconds) const noexcept {
    if (count_ == 0) return 0;
    const i64 *base = times_;
    for (std::size_t n = count_; n > 1;) {
        const std::size_t half = n / 2;
        base = base[half] < seconds ? base + half : base;
        n -= half;
    }
    return static_cast<std::size_t>(base - times_) + (*base < seconds);
}

std::int32_t Zone::offset_at(i64 seconds) const noexcept {
    return offset_before(changes_up_to(into_table(seconds).seconds));
}

// Past the table's last change, the cycle's changes come again a cycle
// later: the change after the last is the cycle's (count_ - cycle_changes_)th
// moved by one cycle, and before the cycle's first lies its last, a cycle
// earlier.
std::optional<i64> Zone::next_change(i64 seconds) const noexcept {
    const auto [at, shift] = into_table(seconds);
    const std::size_t i = changes_up_to(at);
    if (i < count_) return times_[i] + shift;
    if (cycle_changes_ == 0) return std::nullopt;
    return times_[count_ - cycle_changes_] + kCycleSeconds + shift;
}

std::optional<i64> Zone::previous_change(i64 seconds) const noexcept {
    const auto [at, shift] = into_table(seconds);
    const std::size_t i = changes_before(at);
    if (shift != 0 && i == cycle_first_) return times_[cycle_first_ + cycle_changes_ - 1] - kCycleSeconds + shift;
    if (i == 0) return std::nullopt;
    return times_[i - 1] + shift;
}

std::optional<ZoneTransition> Zone::transition_at(std::optional<i64> at) const noexcept {
    if (!at || *at < kMinUnixSeconds || *at > kMaxUnixSeconds) return std::nullopt;
    return ZoneTransition{*at, offset_at(*at - 1), offset_at(*at)};
}

std::optional<ZoneTransition> Zone::next_transition(i64 seconds) const noexcept {
    return transition_at(next_change(seconds));
}

std::optional<ZoneTransition> Zone::previous_transition(i64 seconds) const noexcept {
    return transition_at(previous_change(seconds));
}

std::int32_t Zone::offset_at_instant(i128 instant) const noexcept { return offset_at(floor_seconds(instant)); }

// A change at second u lies strictly after the instant exactly when u is
// after its floor, and strictly before it when u is before its ceiling.
std::optional<ZoneTransition> Zone::next_transition_after_instant(i128 instant) const noexcept {
    return next_transition(floor_seconds(instant));
}

std::optional<ZoneTransition> Zone::previous_transition_before_instant(i128 instant) const noexcept {
    return previous_transition(ceil_seconds(instant));
}

// Every offset lies within a day, so every instant of a local reading l
// lies in [l - 1 day, l + 1 day].  The walk goes over the spans of constant
// offset there, in the table: a span [from, to) at offset o holds the
// instant l - o when that falls inside it.  The local reading u + o rises by
// one per second within a span, so when no span holds the reading it
// passes over it at a change: the first change whose local reading jumps
// past it.
LocalCandidates Zone::local_candidates(i64 local_seconds) const noexcept {
    const i64 l = into_table(std::clamp(local_seconds, kFooterMinSeconds, kFooterMaxSeconds)).seconds;
    const i64 lo = l - kSecondsPerDay, hi = l + kSecondsPerDay;
    std::size_t i = changes_up_to(lo);
    i64 from = lo;
    std::int32_t o = offset_before(i);
    int found = 0;
    std::int32_t earliest = 0, latest = 0;
    std::optional<std::pair<std::int32_t, std::int32_t>> gap;  // offsets before and after
    for (;; ++i) {
        const bool last = i == count_ || times_[i] > hi;
        const i64 to = last ? hi + 1 : times_[i];
        const i64 u = l - o;
        if (u >= from && u < to) {
            if (found++ == 0) earliest = o;
            latest = o;
        }
        if (last) break;
        const std::int32_t after = offsets_[i];
        if (!gap && to - 1 + o < l && to + after > l) gap.emplace(o, after);
        from = to;
        o = after;
    }
    if (found == 1) return {LocalKind::Unique, earliest, earliest};
    if (found > 1) return {LocalKind::Fold, earliest, latest};
    if (gap) return {LocalKind::Gap, gap->second, gap->first};
    const std::int32_t fallback = offset_at(l);  // not reached: see above
    return {LocalKind::Unique, fallback, fallback};
}

std::expected<ZonedSeconds, LocalError> Zone::resolve_local(i64 local_seconds, Disambiguate how) const noexcept {
    const LocalCandidates c = local_candidates(local_seconds);
    switch (c.kind) {
        case LocalKind::Unique: return ZonedSeconds{local_seconds - c.earlier_offset, c.earlier_offset};
        case LocalKind::Fold: {
            if (how == Disambiguate::Raise) return std::unexpected(LocalError::Repeated);
            const std::int32_t o = how == Disambiguate::Later ? c.later_offset : c.earlier_offset;
            return ZonedSeconds{local_seconds - o, o};
        }
        case LocalKind::Gap: break;
    }
    if (how == Disambiguate::Raise) return std::unexpected(LocalError::Skipped);
    const i64 instant = local_seconds - (how == Disambiguate::Earlier ? c.earlier_offset : c.later_offset);
    return ZonedSeconds{instant, offset_at(instant)};
}

}  // namespace merandol
