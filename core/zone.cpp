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

// "TZif", the version byte, 15 unused bytes, six 32-bit counts.
constexpr std::size_t kHeaderSize = 4 + 1 + 15 + 6 * 4;
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
    const std::uint8_t *counts = p + 20;
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

}  // namespace

Zone::Zone(Zone &&other) noexcept { *this = std::move(other); }

Zone &Zone::operator=(Zone &&other) noexcept {
    if (this == &other) return *this;
    std::free(block_);
    block_ = std::exchange(other.block_, nullptr);
    times_ = std::exchange(other.times_, nullptr);
    index_ = std::exchange(other.index_, nullptr);
    offsets_ = std::exchange(other.offsets_, nullptr);
    count_ = std::exchange(other.count_, 0);
    offset_count_ = std::exchange(other.offset_count_, 0);
    initial_offset_ = other.initial_offset_;
    footer_ = other.footer_;
    has_footer_ = other.has_footer_;
    footer_from_ = other.footer_from_;
    handoff_changes_ = other.handoff_changes_;
    return *this;
}

Zone::~Zone() { std::free(block_); }

Zone Zone::from_rule(const PosixTz &rule) noexcept {
    Zone z;
    z.initial_offset_ = rule.std_offset;
    z.footer_ = FooterRule(rule);
    z.has_footer_ = true;
    return z;
}

std::expected<Zone, TzifError> parse_tzif(std::span<const std::uint8_t> data) noexcept {
    const auto first = read_header(data, 0);
    if (!first) return std::unexpected(first.error());
    std::size_t at = kHeaderSize;
    Header header = *first;
    std::size_t time_width = 4;
    if (header.version >= 2) {
        // Version 2 and later repeat the data with 64-bit times: the first
        // block is skipped, as RFC 8536 advises readers to.
        const u64 skip = block_size(*first, 4);
        if (skip > data.size() - at) return std::unexpected(TzifError::Truncated);
        at += static_cast<std::size_t>(skip);
        const auto second = read_header(data, at);
        if (!second) return std::unexpected(second.error());
        if (second->version != first->version) return std::unexpected(TzifError::UnknownVersion);
        header = *second;
        at += kHeaderSize;
        time_width = 8;
    }
    const auto block = read_block(data, at, header, time_width);
    if (!block) return std::unexpected(block.error());

    std::optional<PosixTz> footer;
    if (header.version >= 2) {
        if (at == data.size()) return std::unexpected(TzifError::Truncated);
        if (data[at] != '\n') return std::unexpected(TzifError::BadFooter);
        const auto *text = reinterpret_cast<const char *>(data.data() + at + 1);
        const auto *newline = static_cast<const char *>(std::memchr(text, '\n', data.size() - at - 1));
        if (newline == nullptr) return std::unexpected(TzifError::Truncated);
        if (newline != text) {
            const auto rule = parse_posix_tz({text, static_cast<std::size_t>(newline - text)});
            if (!rule) return std::unexpected(TzifError::BadFooter);
            footer = *rule;
        }
        at = static_cast<std::size_t>(reinterpret_cast<const std::uint8_t *>(newline) + 1 - data.data());
    }
    if (at != data.size()) return std::unexpected(TzifError::TrailingBytes);

    // The distinct offsets of the types a transition can name (indexes are
    // bytes, so at most 256) and of type 0.
    const std::size_t named_types = std::min<std::size_t>(block->typecnt, 256);
    std::int32_t distinct[256];
    std::uint8_t distinct_of_type[256];
    std::size_t distinct_count = 0;
    for (std::size_t t = 0; t < named_types; ++t) {
        const std::int32_t o = block->utoff(t);
        std::size_t k = 0;
        while (k < distinct_count && distinct[k] != o) ++k;
        if (k == distinct_count) distinct[distinct_count++] = o;
        distinct_of_type[t] = static_cast<std::uint8_t>(k);
    }

    // The table rules up to the last transition when a footer follows it,
    // and throughout otherwise; only changes of offset are kept.
    const std::size_t n = block->timecnt;
    const std::size_t table_end = footer && n > 0 ? n - 1 : footer ? 0 : n;
    const std::int32_t initial = block->utoff(0);
    std::size_t count = 0;
    std::int32_t last = initial;
    for (std::size_t i = 0; i < table_end; ++i) {
        const std::int32_t o = block->utoff(block->indexes[i]);
        count += o != last;
        last = o;
    }

    Zone z;
    z.initial_offset_ = initial;
    if (footer) {
        z.footer_ = FooterRule(*footer);
        z.has_footer_ = true;
        if (n > 0) {
            z.footer_from_ = block->time(n - 1);
            z.handoff_changes_ = z.footer_.offset_at(z.footer_from_) != last;
        }
    }
    if (count == 0) return z;
    // Instants first keeps every part aligned: 8-byte, then 4, then 1.
    const std::size_t bytes = count * sizeof(i64) + distinct_count * sizeof(std::int32_t) + count;
    void *memory = std::malloc(bytes);
    if (memory == nullptr) return std::unexpected(TzifError::OutOfMemory);
    auto *times = static_cast<i64 *>(memory);
    auto *offsets = reinterpret_cast<std::int32_t *>(times + count);
    auto *index = reinterpret_cast<std::uint8_t *>(offsets + distinct_count);
    std::memcpy(offsets, distinct, distinct_count * sizeof(std::int32_t));
    std::size_t k = 0;
    last = initial;
    for (std::size_t i = 0; i < table_end; ++i) {
        const std::uint8_t type = block->indexes[i];
        const std::int32_t o = block->utoff(type);
        if (o != last) {
            times[k] = block->time(i);
            index[k] = distinct_of_type[type];
            ++k;
        }
        last = o;
    }
    z.block_ = memory;
    z.times_ = times;
    z.offsets_ = offsets;
    z.index_ = index;
    z.count_ = static_cast<std::uint32_t>(count);
    z.offset_count_ = static_cast<std::uint16_t>(distinct_count);
    return z;
}

std::size_t Zone::memory_size() const noexcept {
    return sizeof(Zone) + std::size_t{count_} * (sizeof(i64) + 1) + std::size_t{offset_count_} * sizeof(std::int32_t);
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
    return in_footer(seconds) ? footer_.offset_at(seconds) : offset_before(changes_up_to(seconds));
}

std::optional<i64> Zone::next_change(i64 seconds) const noexcept {
    if (in_footer(seconds)) return footer_.next_change(seconds);
    const std::size_t i = changes_up_to(seconds);
    if (i < count_) return times_[i];
    if (!has_footer_) return std::nullopt;
    if (handoff_changes_) return footer_from_;
    // The footer's own changes after its start, which follows `seconds`.
    return footer_.next_change(footer_from_);
}

std::optional<i64> Zone::previous_change(i64 seconds) const noexcept {
    if (has_footer_ && seconds > footer_from_) {
        const auto p = footer_.previous_change(seconds);
        if (p && *p > footer_from_) return p;
        if (handoff_changes_) return footer_from_;
    }
    const std::size_t i = changes_before(seconds);
    if (i == 0) return std::nullopt;
    return times_[i - 1];
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
// lies in [l - 1 day, l + 1 day].  The walk goes over the pieces of constant
// offset there: a piece [from, to) at offset o holds the instant l - o when
// that falls inside it.  The local reading u + o rises by one per second
// within a piece, so when no piece holds the reading it passes over it at a
// change: the first change whose local reading jumps past it.  `next(from)`
// gives the first change after `from` with the offset after it.
template <class Walk>
LocalCandidates Zone::local_walk(i64 local_seconds, Walk &&next) const noexcept {
    const i64 l = local_seconds;
    const i64 lo = l - kSecondsPerDay, hi = l + kSecondsPerDay;
    i64 from = lo;
    std::int32_t o = offset_at(from);
    int found = 0;
    std::int32_t earliest = 0, latest = 0;
    std::optional<std::pair<std::int32_t, std::int32_t>> gap;  // offsets before and after
    for (;;) {
        const std::optional<std::pair<i64, std::int32_t>> change = next(from);
        const bool inside = change && change->first > from && change->first <= hi;
        const i64 to = inside ? change->first : hi + 1;
        const i64 u = l - o;
        if (u >= from && u < to) {
            if (found++ == 0) earliest = o;
            latest = o;
        }
        if (!inside) break;
        const auto [at, after] = *change;
        if (!gap && at - 1 + o < l && at + after > l) gap.emplace(o, after);
        from = at;
        o = after;
    }
    if (found == 1) return {LocalKind::Unique, earliest, earliest};
    if (found > 1) return {LocalKind::Fold, earliest, latest};
    if (gap) return {LocalKind::Gap, gap->second, gap->first};
    const std::int32_t fallback = offset_at(l);  // not reached: see above
    return {LocalKind::Unique, fallback, fallback};
}

LocalCandidates Zone::local_candidates(i64 local_seconds) const noexcept {
    using Change = std::optional<std::pair<i64, std::int32_t>>;
    if (!has_footer_ || local_seconds + kSecondsPerDay < footer_from_) {
        // Within the table: the changes one after the other from a single
        // search.
        std::size_t i = changes_up_to(local_seconds - kSecondsPerDay);
        return local_walk(local_seconds, [this, &i](i64) -> Change {
            if (i == count_) return std::nullopt;
            const Change c{{times_[i], offset_after(i)}};
            ++i;
            return c;
        });
    }
    return local_walk(local_seconds, [this](i64 from) -> Change {
        const auto at = next_change(from);
        if (!at) return std::nullopt;
        return Change{{*at, offset_at(*at)}};
    });
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
