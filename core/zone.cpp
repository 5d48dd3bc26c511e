#include "core/zone.hpp"

#include <algorithm>
#include <array>
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
    const std::uint8_t *chars;
    std::size_t time_width;
    std::uint32_t timecnt;
    std::uint32_t typecnt;
    std::uint32_t charcnt;

    i64 time(std::size_t i) const noexcept { return be_time(times + i * time_width, time_width); }
    std::int32_t utoff(std::size_t type) const noexcept {
        return static_cast<std::int32_t>(be32(types + type * kTypeRecordSize));
    }
    // A checked type's designation: its index lies within the designation
    // bytes, whose last is NUL.
    std::string_view designation(std::size_t type) const noexcept {
        const std::size_t at = types[type * kTypeRecordSize + 5];
        const auto *first = reinterpret_cast<const char *>(chars + at);
        return {first,
                static_cast<std::size_t>(static_cast<const char *>(std::memchr(first, 0, charcnt - at)) - first)};
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
    b.chars = chars;
    b.charcnt = h.charcnt;
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
std::expected<std::optional<PosixTz>, TzifError> read_footer(std::span<const std::uint8_t> data, std::size_t &at,
                                                             PosixTzNames &names) noexcept {
    if (at == data.size()) return std::unexpected(TzifError::Truncated);
    if (data[at] != '\n') return std::unexpected(TzifError::BadFooter);
    const auto *text = reinterpret_cast<const char *>(data.data() + at + 1);
    const auto *newline = static_cast<const char *>(std::memchr(text, '\n', data.size() - at - 1));
    if (newline == nullptr) return std::unexpected(TzifError::Truncated);
    at = static_cast<std::size_t>(reinterpret_cast<const std::uint8_t *>(newline) + 1 - data.data());
    if (newline == text) return std::nullopt;
    const auto rule = parse_posix_tz({text, static_cast<std::size_t>(newline - text)}, &names);
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
// offset differs from the one before (and, apart, those where only the
// designation does), then extends them by the footer.
struct ZoneBuilder {
    Zone zone;
    // One allocation: capacity instants, then renaming_capacity instants,
    // capacity offsets, capacity names, renaming_capacity names.
    void *block = nullptr;
    i64 *times = nullptr;
    i64 *renaming_times = nullptr;
    std::int32_t *offsets = nullptr;
    std::uint8_t *names = nullptr;
    std::uint8_t *renaming_names = nullptr;
    std::size_t count = 0, capacity = 0, renamings = 0, renaming_capacity = 0;
    // The changes named one by one: the file's, before the footer's.
    std::size_t named = 0;
    std::int32_t last = 0;
    std::uint8_t last_name = 0;
    // The designations, each ending in NUL, at offsets that fit a byte;
    // offset 0 is the empty name.
    char pool[256] = {};
    std::size_t pool_size = 1;

    ZoneBuilder() = default;
    ZoneBuilder(const ZoneBuilder &) = delete;
    ZoneBuilder &operator=(const ZoneBuilder &) = delete;
    ~ZoneBuilder() { std::free(block); }

    // Room for `changes` before the footer's; false when out of memory.
    bool start(std::int32_t initial, std::size_t changes) noexcept {
        zone.initial_offset_ = last = initial;
        capacity = changes + 1 + kMaxCycleChanges;  // and the hand-over to the footer
        renaming_capacity = changes + 1;
        block =
            std::malloc(capacity * (sizeof(i64) + sizeof(std::int32_t) + 1) + renaming_capacity * (sizeof(i64) + 1));
        times = static_cast<i64 *>(block);
        renaming_times = times + capacity;
        offsets = reinterpret_cast<std::int32_t *>(renaming_times + renaming_capacity);
        names = reinterpret_cast<std::uint8_t *>(offsets + capacity);
        renaming_names = names + capacity;
        return block != nullptr;
    }

    void name_start(std::uint8_t name) noexcept { zone.initial_name_ = last_name = name; }

    // A name's offset in the pool; the empty name when the pool is full
    // (no real zone comes near: designations are three to six letters).
    std::uint8_t intern(std::string_view name) noexcept {
        if (name.empty()) return 0;
        for (std::size_t at = 1; at < pool_size; at += std::strlen(pool + at) + 1)
            if (name == std::string_view(pool + at)) return static_cast<std::uint8_t>(at);
        if (name.size() >= sizeof pool - pool_size) return 0;
        const std::size_t at = pool_size;
        std::memcpy(pool + at, name.data(), name.size());
        pool[at + name.size()] = '\0';
        pool_size += name.size() + 1;
        return static_cast<std::uint8_t>(at);
    }

    void add(i64 at, std::int32_t offset, std::uint8_t name) noexcept {
        if (offset != last) {
            if (count == capacity) return;
            times[count] = at;
            offsets[count] = offset;
            names[count] = name;
            ++count;
        } else if (name != last_name) {
            if (renamings == renaming_capacity) return;
            renaming_times[renamings] = at;
            renaming_names[renamings] = name;
            ++renamings;
        }
        last = offset;
        last_name = name;
    }

    // The footer from `footer_from` on (from the start when the file has
    // no transitions), its changes kept for one cycle and the margins.
    // Its changes are named by their offset.
    void follow_footer(const PosixTz &footer, PosixTzNames footer_names, std::optional<i64> footer_from) noexcept {
        const FooterRule rule(footer);
        zone.footer_ = footer;
        zone.std_name_ = intern(footer_names.std_name);
        zone.dst_name_ = intern(footer_names.dst_name);
        auto name_of = [&](std::int32_t offset) {
            return footer.changes() && offset == footer.dst_offset ? zone.dst_name_ : zone.std_name_;
        };
        named = count;
        if (footer_from) {
            const std::int32_t offset = rule.offset_at(*footer_from);
            add(*footer_from, offset, name_of(offset));
        } else {
            zone.initial_offset_ = last = rule.offset_at(kFooterMinSeconds);
            zone.initial_name_ = last_name = name_of(last);
        }
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
            const std::int32_t offset = rule.offset_at(*at);
            add(*at, offset, name_of(offset));
            in_cycle += *at < cycle_start + kCycleSeconds;
        }
        // A rule whose changes cancel out ("all year daylight time") or a
        // cycle cut short by the end of the range leaves nothing to repeat.
        if (!whole || in_cycle == 0) return;
        zone.cycle_end_ = cycle_start + kCycleMargin + kCycleSeconds;
        zone.cycle_first_ = static_cast<std::uint32_t>(first);
        zone.cycle_changes_ = static_cast<std::uint32_t>(in_cycle);
    }

    // The zone, owning a table of its changes alone.
    std::expected<Zone, TzifError> finish() noexcept {
        Zone &z = zone;
        if (!z.footer_) named = count;
        u64 h = hash_word(hash_word(kHashBasis, static_cast<u64>(z.initial_offset_)), static_cast<u64>(z.cycle_end_));
        for (std::size_t i = 0; i < count; ++i)
            h = hash_word(hash_word(h, static_cast<u64>(times[i])), static_cast<u64>(offsets[i]));
        z.rules_hash_ = h;
        if (count == 0 && pool_size == 1) return std::move(z);
        const std::size_t words = count + renamings;
        // Buckets no more than the changes, each the shortest that allows:
        // a zone's changes, half a year apart, then fall two or three to a
        // bucket, at four bytes of index a change.
        unsigned shift = 0;
        const u64 span = count == 0 ? 0 : static_cast<u64>(times[count - 1]) - static_cast<u64>(times[0]);
        while (count != 0 && (span >> shift) + 1 > count) ++shift;
        const std::size_t buckets = count == 0 ? 0 : (span >> shift) + 1;
        auto *kept = static_cast<std::uint8_t *>(std::malloc(words * sizeof(i64) + count * sizeof(std::int32_t) +
                                                             (buckets + 1) * sizeof(std::uint32_t) + named + renamings +
                                                             pool_size));
        if (kept == nullptr) return std::unexpected(TzifError::OutOfMemory);
        auto copy = [&kept](const void *from, std::size_t bytes) {
            std::memcpy(kept, from, bytes);
            return std::exchange(kept, kept + bytes);
        };
        z.block_ = kept;
        z.times_ = reinterpret_cast<const i64 *>(copy(times, count * sizeof(i64)));
        z.renaming_times_ = reinterpret_cast<const i64 *>(copy(renaming_times, renamings * sizeof(i64)));
        z.offsets_ = reinterpret_cast<const std::int32_t *>(copy(offsets, count * sizeof(std::int32_t)));
        auto *starts = reinterpret_cast<std::uint32_t *>(kept);
        for (std::size_t b = 0, i = 0; b <= buckets; ++b) {
            while (i < count && (static_cast<u64>(times[i]) - static_cast<u64>(times[0])) >> shift < b) ++i;
            starts[b] = static_cast<std::uint32_t>(i);
        }
        z.bucket_starts_ = starts;
        kept += (buckets + 1) * sizeof(std::uint32_t);
        z.buckets_ = static_cast<std::uint32_t>(buckets);
        z.bucket_shift_ = shift;
        z.change_names_ = copy(names, named);
        z.renaming_names_ = copy(renaming_names, renamings);
        z.names_ = reinterpret_cast<const char *>(copy(pool, pool_size));
        z.count_ = static_cast<std::uint32_t>(count);
        z.renamings_ = static_cast<std::uint32_t>(renamings);
        z.named_ = static_cast<std::uint32_t>(named);
        z.names_size_ = static_cast<std::uint16_t>(pool_size);
        return std::move(z);
    }
};

Zone::Zone(Zone &&other) noexcept { *this = std::move(other); }

Zone &Zone::operator=(Zone &&other) noexcept {
    if (this == &other) return *this;
    std::free(block_);
    block_ = std::exchange(other.block_, nullptr);
    times_ = std::exchange(other.times_, nullptr);
    renaming_times_ = std::exchange(other.renaming_times_, nullptr);
    offsets_ = std::exchange(other.offsets_, nullptr);
    change_names_ = std::exchange(other.change_names_, nullptr);
    renaming_names_ = std::exchange(other.renaming_names_, nullptr);
    names_ = std::exchange(other.names_, nullptr);
    bucket_starts_ = std::exchange(other.bucket_starts_, nullptr);
    buckets_ = std::exchange(other.buckets_, 0);
    bucket_shift_ = other.bucket_shift_;
    count_ = std::exchange(other.count_, 0);
    renamings_ = std::exchange(other.renamings_, 0);
    named_ = std::exchange(other.named_, 0);
    names_size_ = std::exchange(other.names_size_, 0);
    initial_name_ = other.initial_name_;
    std_name_ = other.std_name_;
    dst_name_ = other.dst_name_;
    initial_offset_ = other.initial_offset_;
    cycle_end_ = other.cycle_end_;
    cycle_first_ = other.cycle_first_;
    cycle_changes_ = other.cycle_changes_;
    rules_hash_ = other.rules_hash_;
    footer_ = other.footer_;
    recent_changes_.store(other.recent_changes_.exchange(0, std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
}

Zone::~Zone() { std::free(block_); }

std::expected<Zone, TzifError> Zone::from_rule(const PosixTz &rule, PosixTzNames names) noexcept {
    ZoneBuilder b;
    if (!b.start(rule.std_offset, 0)) return std::unexpected(TzifError::OutOfMemory);
    b.follow_footer(rule, names, std::nullopt);
    return b.finish();
}

std::expected<Zone, TzifError> parse_tzif(std::span<const std::uint8_t> data) noexcept {
    auto found = find_data_block(data);
    if (!found) return std::unexpected(found.error());
    std::size_t at = found->at;
    const auto block = read_block(data, at, found->header, found->time_width);
    if (!block) return std::unexpected(block.error());
    std::optional<PosixTz> footer;
    PosixTzNames footer_names{};
    if (found->header.version >= 2) {
        const auto read = read_footer(data, at, footer_names);
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
    // Each type's name interned once: the type indexes are bytes.
    std::array<std::int16_t, 256> type_names;
    type_names.fill(-1);
    auto name_of = [&](std::size_t type) {
        if (type_names[type] < 0) type_names[type] = b.intern(block->designation(type));
        return static_cast<std::uint8_t>(type_names[type]);
    };
    b.name_start(name_of(0));
    for (std::size_t i = 0; i < table_end; ++i) {
        const std::uint8_t type = block->indexes[i];
        b.add(block->time(i), block->utoff(type), name_of(type));
    }
    if (footer) b.follow_footer(*footer, footer_names, n > 0 ? std::optional(block->time(n - 1)) : std::nullopt);
    return b.finish();
}

std::size_t Zone::memory_size() const noexcept {
    return sizeof(Zone) + std::size_t{count_} * (sizeof(i64) + sizeof(std::int32_t)) +
           (bucket_starts_ == nullptr ? 0 : (std::size_t{buckets_} + 1) * sizeof(std::uint32_t)) +
           std::size_t{renamings_} * (sizeof(i64) + 1) + named_ + names_size_;
}

bool Zone::same_rules(const Zone &other) const noexcept {
    if (rules_hash_ != other.rules_hash_ || count_ != other.count_ || initial_offset_ != other.initial_offset_ ||
        cycle_end_ != other.cycle_end_ || cycle_first_ != other.cycle_first_ ||
        cycle_changes_ != other.cycle_changes_ || named_ != other.named_ || renamings_ != other.renamings_)
        return false;
    if (count_ != 0 && (std::memcmp(times_, other.times_, count_ * sizeof(i64)) != 0 ||
                        std::memcmp(offsets_, other.offsets_, count_ * sizeof(std::int32_t)) != 0))
        return false;
    if (renamings_ != 0 && std::memcmp(renaming_times_, other.renaming_times_, renamings_ * sizeof(i64)) != 0)
        return false;
    // The designations, by their text: each zone has its own pool.
    auto name = [](const Zone &z, std::uint8_t at) { return std::string_view(z.names_ ? z.names_ + at : ""); };
    if (name(*this, initial_name_) != name(other, other.initial_name_) ||
        name(*this, std_name_) != name(other, other.std_name_) ||
        name(*this, dst_name_) != name(other, other.dst_name_))
        return false;
    for (std::size_t i = 0; i < named_; ++i)
        if (name(*this, change_names_[i]) != name(other, other.change_names_[i])) return false;
    for (std::size_t i = 0; i < renamings_; ++i)
        if (name(*this, renaming_names_[i]) != name(other, other.renaming_names_[i])) return false;
    return true;
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

// The bucket of the instant gives the changes before it but those of its
// own bucket, which a binary search without a branch on the data (the
// compiler emits a conditional move) counts: the answer stays in
// [base - times_, base - times_ + n].
std::size_t Zone::changes_up_to(i64 seconds) const noexcept {
    if (count_ == 0 || seconds < times_[0]) return 0;
    const u64 bucket = (static_cast<u64>(seconds) - static_cast<u64>(times_[0])) >> bucket_shift_;
    if (bucket >= buckets_) return count_;
    const i64 *base = times_ + bucket_starts_[bucket];
    std::size_t n = bucket_starts_[bucket + 1] - bucket_starts_[bucket];
    if (n == 0) return bucket_starts_[bucket];
    for (; n > 1;) {
        const std::size_t half = n / 2;
        base = base[half] <= seconds ? base + half : base;
        n -= half;
    }
    return static_cast<std::size_t>(base - times_) + (*base <= seconds);
}

// Changes are whole seconds: those before an instant are those up to the
// second before it.
std::size_t Zone::changes_before(i64 seconds) const noexcept {
    return seconds == INT64_MIN ? 0 : changes_up_to(seconds - 1);
}

std::int32_t Zone::offset_at(i64 seconds) const noexcept {
    return offset_before(changes_up_to(into_table(seconds).seconds));
}

std::size_t Zone::changes_searched(i64 seconds) const noexcept {
    const std::size_t i = changes_up_to(seconds);
    recent_changes_.store(static_cast<std::uint32_t>(i), std::memory_order_relaxed);
    return i;
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

std::uint8_t Zone::name_after(std::size_t i) const noexcept {
    if (i < named_) return change_names_[i];
    return footer_ && footer_->changes() && offsets_[i] == footer_->dst_offset ? dst_name_ : std_name_;
}

// The name after the latest change at or before the instant, unless a
// renaming came later.  Renamings lie before the footer's changes, so they
// are searched at the instant itself, and a change moved into the table is
// compared at its own time.
std::string_view Zone::abbreviation_at(i64 seconds) const noexcept {
    if (names_ == nullptr) return {};
    const auto [at, shift] = into_table(seconds);
    const std::size_t i = changes_up_to(at);
    std::uint8_t name = i == 0 ? initial_name_ : name_after(i - 1);
    const i64 *renaming = std::upper_bound(renaming_times_, renaming_times_ + renamings_, seconds);
    if (renaming != renaming_times_ && (i == 0 || renaming[-1] > times_[i - 1] + shift))
        name = renaming_names_[renaming - 1 - renaming_times_];
    return names_ + name;
}

std::size_t Zone::longest_abbreviation() const noexcept {
    std::size_t longest = 0;
    for (std::size_t at = 1; at < names_size_; at += std::strlen(names_ + at) + 1)
        longest = std::max(longest, std::strlen(names_ + at));
    return longest;
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
