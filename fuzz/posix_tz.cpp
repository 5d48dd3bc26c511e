// The footer's POSIX TZ reader on its own: any text is refused or read into
// a rule whose zone answers every query as the brute-force reference does,
// around its changes in years drawn from the input, and repeats every 400
// years.
#include "fuzz/check.hpp"
#include "fuzz/zone_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace merandol;
    using namespace merandol::fuzz;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto rule = parse_posix_tz(text);
    if (!rule) {
        MERANDOL_REQUIRE(!describe(rule.error()).empty(), text);
        return 0;
    }
    MERANDOL_REQUIRE(rule->std_offset >= -kSecondsPerDay && rule->std_offset <= kSecondsPerDay, text);
    MERANDOL_REQUIRE(rule->dst_offset >= -kSecondsPerDay && rule->dst_offset <= kSecondsPerDay, text);
    const Zone zone = *Zone::from_rule(*rule);
    RawZone raw;
    raw.footer = *rule;
    raw.type0 = rule->std_offset;
    raw.all_offsets = {rule->std_offset, rule->dst_offset};

    // Years from the input's hash (FNV-1a): near the epoch, anywhere, and
    // the ends of the range.
    u64 h = 14695981039346656037ull;
    for (char c : text) h = (h ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    const i64 years[] = {1970 + static_cast<i64>(h % 200), static_cast<std::int32_t>(h >> 32), INT32_MIN, INT32_MAX};
    for (i64 year : years) {
        const YearChanges c = year_changes(*rule, year);
        for (i64 at : {c.start, c.end, first_day_of_year(year) * kSecondsPerDay})
            for (i64 d : {i64{-1}, i64{0}, i64{1}, i64{rule->std_offset}, i64{rule->dst_offset}}) {
                require_agrees(zone, raw, at + d, text);
                // The 400-year cycle, where both instants are in the range.
                constexpr i64 kCycle = 146097 * kSecondsPerDay;
                const i64 s = std::clamp(at + d, kMinUnixSeconds, kMaxUnixSeconds - kCycle);
                MERANDOL_REQUIRE(zone.offset_at(s) == zone.offset_at(s + kCycle), text);
            }
    }
    return 0;
}
