// The TZif reader: any bytes are either refused with an error or read into
// a zone whose every query answers as a slow reference over the same raw
// data does, at the transitions themselves, a second either side, the
// local readings there, the ends of the range, and instants drawn from the
// input.
#include <algorithm>
#include <set>
#include <span>

#include "fuzz/check.hpp"
#include "fuzz/zone_reference.hpp"

namespace merandol::fuzz {
namespace {

std::uint32_t be32(const std::uint8_t *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The designations of a file the reader accepted: of type 0, after each
// transition, and the footer's.
struct RawNames {
    std::string_view type0;
    std::vector<std::string_view> after;
    PosixTzNames footer;
};

// The raw data of a file the reader accepted, read again without checks.
RawZone raw_zone(const std::uint8_t *data, std::size_t size, RawNames &names) {
    auto counts = [](const std::uint8_t *header, std::size_t i) { return be32(header + 20 + 4 * i); };
    const std::uint8_t *header = data;
    std::size_t width = 4;
    if (data[4] != 0) {
        const u64 first = u64{counts(data, 3)} * 5 + u64{counts(data, 4)} * 6 + counts(data, 5) +
                          u64{counts(data, 2)} * 8 + counts(data, 1) + counts(data, 0);
        header = data + 44 + first;
        width = 8;
    }
    const std::uint32_t timecnt = counts(header, 3), typecnt = counts(header, 4);
    const std::uint8_t *times = header + 44, *indexes = times + std::size_t{timecnt} * width;
    const std::uint8_t *types = indexes + timecnt;
    auto utoff = [types](std::size_t t) { return static_cast<std::int32_t>(be32(types + 6 * t)); };
    auto designation = [types, typecnt](std::size_t t) {
        return std::string_view(reinterpret_cast<const char *>(types + 6 * std::size_t{typecnt} + types[6 * t + 5]));
    };
    names.type0 = designation(0);
    RawZone z;
    for (std::size_t i = 0; i < timecnt; ++i) {
        const std::uint8_t *p = times + i * width;
        z.times.push_back(width == 4 ? static_cast<std::int32_t>(be32(p))
                                     : static_cast<i64>(u64{be32(p)} << 32 | be32(p + 4)));
        z.offset_after.push_back(utoff(indexes[i]));
        names.after.push_back(designation(indexes[i]));
    }
    z.type0 = utoff(0);
    for (std::size_t t = 0; t < typecnt && t < 256; ++t) z.all_offsets.push_back(utoff(t));
    if (width == 8) {
        // The footer is the last line: from the second-to-last newline.
        const char *end = reinterpret_cast<const char *>(data + size) - 1;
        const char *begin = end;
        while (begin[-1] != '\n') --begin;
        if (begin != end) {
            z.footer = *parse_posix_tz({begin, static_cast<std::size_t>(end - begin)}, &names.footer);
            z.all_offsets.push_back(z.footer->std_offset);
            z.all_offsets.push_back(z.footer->dst_offset);
        }
    }
    return z;
}

}  // namespace
}  // namespace merandol::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const auto zone = parse_tzif(std::span(data, size));
    if (!zone) {
        MERANDOL_REQUIRE(!describe(zone.error()).empty(), input);
        return 0;
    }
    RawNames names;
    const RawZone raw = raw_zone(data, size, names);
    MERANDOL_REQUIRE(zone->footer() == raw.footer, input);
    MERANDOL_REQUIRE(zone->table_size() <= raw.times.size() + 1 + 808, input);

    std::vector<i64> points = {0, kMinUnixSeconds, kMaxUnixSeconds, kMinUnixSeconds + kSecondsPerDay,
                               kMaxUnixSeconds - kSecondsPerDay};
    // The first and last transitions, a second either side, and their
    // local readings at every offset.
    for (std::size_t i = 0; i < raw.times.size(); ++i) {
        if (i == 4 && raw.times.size() > 8) i = raw.times.size() - 4;
        for (i64 d : {-1, 0, 1}) points.push_back(std::clamp(raw.times[i], kMinUnixSeconds, kMaxUnixSeconds) + d);
        for (std::size_t k = 0; k < raw.all_offsets.size() && k < 4; ++k)
            points.push_back(std::clamp(raw.times[i], kMinUnixSeconds, kMaxUnixSeconds) + raw.all_offsets[k]);
    }
    // The footer's changes in a recent year, far out, and at the end.
    if (raw.footer && raw.footer->has_dst)
        for (i64 year : {i64{2024}, i64{1234567}, i64{INT32_MAX}}) {
            const YearChanges c = year_changes(*raw.footer, year);
            for (i64 at : {c.start, c.end})
                for (i64 d : {i64{-1}, i64{0}, i64{raw.footer->std_offset}, i64{raw.footer->dst_offset}})
                    points.push_back(at + d);
        }
    // Instants drawn from the input (FNV-1a of the bytes, then a
    // multiplicative sequence).
    u64 h = 14695981039346656037ull;
    for (std::uint8_t b : input) h = (h ^ b) * 1099511628211ull;
    const u64 span = static_cast<u64>(kMaxUnixSeconds - kMinUnixSeconds);
    for (int k = 0; k < 4; ++k) {
        h = h * 6364136223846793005ull + 1442695040888963407ull;
        points.push_back(kMinUnixSeconds + static_cast<i64>(h % span));
    }
    for (i64 s : points) require_agrees(*zone, raw, s, input);

    // The designation in force: the latest transition's type's, the
    // footer's after the last transition (by the offset), type 0's before
    // the first.  The zone keeps up to 255 bytes of names (no real zone
    // has a tenth of that) and names the rest with the empty name.
    std::set<std::string_view> distinct(names.after.begin(), names.after.end());
    distinct.insert({names.type0, names.footer.std_name, names.footer.dst_name});
    std::size_t pool = 1;
    for (std::string_view name : distinct) pool += name.empty() ? 0 : name.size() + 1;
    for (i64 s : points) {
        const auto later = std::upper_bound(raw.times.begin(), raw.times.end(), s);
        std::string_view expected =
            later == raw.times.begin() ? names.type0 : names.after[later - raw.times.begin() - 1];
        if (raw.footer && (raw.times.empty() || s >= raw.times.back())) {
            const bool daylight = raw.footer->changes() && zone->offset_at(s) == raw.footer->dst_offset;
            expected = daylight ? names.footer.dst_name : names.footer.std_name;
        }
        const std::string_view named = zone->abbreviation_at(s);
        MERANDOL_REQUIRE(named == expected || (pool > 256 && named.empty()), input);
    }
    return 0;
}
