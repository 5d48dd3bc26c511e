// The TZif reader and the zone queries: every kind of damaged file once,
// the table's hand-over to the footer, the footer's cycle against the rule
// evaluated directly, local readings in gaps and folds, and every zone file
// of the system, walked transition by transition against the queries' own
// definitions.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/zone.hpp"
#include "core/zoned.hpp"

namespace merandol {
namespace {

constexpr i64 kHour = 3600;
constexpr i64 kDay = kSecondsPerDay;

i64 seconds_at(std::int32_t y, std::uint8_t mo, std::uint8_t d, std::uint8_t h = 0, std::uint8_t mi = 0) {
    return unix_timestamp(DateTime{{y, mo, d}, {h, mi, 0, 0}});
}

// --- Building TZif files ----------------------------------------------------

struct Type {
    std::int64_t utoff;  // wide, so that a test can write -2^31
    std::uint8_t isdst;
    std::uint8_t desigidx;
};

struct Spec {
    char version = '2';  // '\0' for version 1
    std::vector<i64> times;
    std::vector<std::uint8_t> indexes;
    std::vector<Type> types = {{3600, 0, 0}, {7200, 1, 4}};
    std::string chars{"AAA\0BBB\0", 8};
    std::uint32_t leapcnt = 0;
    std::string isstd, isut;
    std::string footer;
};

void put32(std::string &out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift);
}
void put64(std::string &out, i64 v) {
    put32(out, static_cast<std::uint32_t>(static_cast<u64>(v) >> 32));
    put32(out, static_cast<std::uint32_t>(v));
}

std::string header(char version, const Spec &s) {
    std::string out = "TZif";
    out += version;
    out.append(15, '\0');
    for (std::size_t count :
         {s.isut.size(), s.isstd.size(), std::size_t{s.leapcnt}, s.times.size(), s.types.size(), s.chars.size()})
        put32(out, static_cast<std::uint32_t>(count));
    return out;
}

std::string block(const Spec &s, int width) {
    std::string out;
    for (i64 t : s.times) width == 4 ? put32(out, static_cast<std::uint32_t>(t)) : put64(out, t);
    for (std::uint8_t i : s.indexes) out += static_cast<char>(i);
    for (const Type &t : s.types) {
        put32(out, static_cast<std::uint32_t>(t.utoff));
        out += static_cast<char>(t.isdst);
        out += static_cast<char>(t.desigidx);
    }
    out += s.chars;
    for (std::uint32_t i = 0; i < s.leapcnt; ++i) {
        width == 4 ? put32(out, i * 100000000u) : put64(out, i64{i} * 100000000);
        put32(out, i + 1);
    }
    return out + s.isstd + s.isut;
}

// Version 2 and later carry a minimal first block (one type, one byte of
// designations), as a slim zone file does.
Spec minimal_first_block() {
    Spec m;
    m.types = {{0, 0, 0}};
    m.chars = std::string(1, '\0');
    return m;
}

std::string build(const Spec &s) {
    if (s.version == '\0') return header('\0', s) + block(s, 4);
    const Spec m = minimal_first_block();
    return header(s.version, m) + block(m, 4) + header(s.version, s) + block(s, 8) + "\n" + s.footer + "\n";
}

// Where the second header starts in a file from build().
constexpr std::size_t kSecondHeader = 44 + 6 + 1;
constexpr std::size_t kSecondCounts = kSecondHeader + 20;

std::expected<Zone, TzifError> parse(const std::string &bytes) {
    return parse_tzif({reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()});
}

Spec valid() {
    Spec s;
    s.times = {-1000, 1000};
    s.indexes = {1, 0};
    s.footer = "AAA-1";
    return s;
}

// --- Damaged files -----------------------------------------------------------

TEST(TzifReader, DamagedFilesNameTheirFault) {
    struct Case {
        const char *what;
        std::function<void(Spec &)> spec;
        std::function<void(std::string &)> bytes;
        TzifError error;
    };
    const auto none = [](Spec &) {};
    const auto same = [](std::string &) {};
    const auto set_count = [](std::size_t which, std::uint32_t v) {
        return [which, v](std::string &b) {
            std::string n;
            put32(n, v);
            b.replace(kSecondCounts + 4 * which, 4, n);
        };
    };
    const Case cases[] = {
        // Magic and version
        {"empty", none, [](std::string &b) { b.clear(); }, TzifError::Truncated},
        {"first magic", none, [](std::string &b) { b[0] = 'X'; }, TzifError::WrongMagic},
        {"second magic", none, [](std::string &b) { b[kSecondHeader + 3] = 'F'; }, TzifError::WrongMagic},
        {"version '1'", none, [](std::string &b) { b[4] = '1'; }, TzifError::UnknownVersion},
        {"version '5'", none, [](std::string &b) { b[4] = b[kSecondHeader + 4] = '5'; }, TzifError::UnknownVersion},
        {"versions differ", none, [](std::string &b) { b[kSecondHeader + 4] = '3'; }, TzifError::UnknownVersion},
        // Truncated: the counts ask for more than there is
        {"inside the header", none, [](std::string &b) { b.resize(30); }, TzifError::Truncated},
        {"inside the first block", none, [](std::string &b) { b.resize(48); }, TzifError::Truncated},
        {"inside the second header", none, [](std::string &b) { b.resize(kSecondHeader + 10); }, TzifError::Truncated},
        {"inside the second block", none, [](std::string &b) { b.resize(kSecondHeader + 44 + 9); },
         TzifError::Truncated},
        {"before the footer", none, [](std::string &b) { b.resize(b.size() - 7); }, TzifError::Truncated},
        {"footer unclosed", none, [](std::string &b) { b.pop_back(); }, TzifError::Truncated},
        {"charcnt too large", none, set_count(5, 100), TzifError::Truncated},
        {"leapcnt 2^32 - 1", none, set_count(2, 0xffffffff), TzifError::Truncated},
        {"timecnt 2^32 - 1", none, set_count(3, 0xffffffff), TzifError::Truncated},
        // Counts that break the format's rules
        {"typecnt 0", [](Spec &s) { s = Spec{}, s.types.clear(); }, same, TzifError::NoLocalTimeTypes},
        {"charcnt 0", [](Spec &s) { s.chars.clear(); }, same, TzifError::NoDesignations},
        {"isstdcnt 1 of 2", [](Spec &s) { s.isstd = std::string(1, '\0'); }, same, TzifError::IndicatorCountMismatch},
        {"isutcnt 3 of 2", [](Spec &s) { s.isstd = s.isut = std::string(3, '\0'); }, same,
         TzifError::IndicatorCountMismatch},
        // Transitions
        {"equal times", [](Spec &s) { s.times = {1000, 1000}; }, same, TzifError::TransitionsOutOfOrder},
        {"descending times", [](Spec &s) { s.times = {1000, -1000}; }, same, TzifError::TransitionsOutOfOrder},
        {"index past the types", [](Spec &s) { s.indexes = {2, 0}; }, same, TzifError::TypeIndexOutOfRange},
        // Local time types
        {"utoff 86401", [](Spec &s) { s.types[1].utoff = 86401; }, same, TzifError::OffsetOutOfRange},
        {"utoff -86401", [](Spec &s) { s.types[0].utoff = -86401; }, same, TzifError::OffsetOutOfRange},
        {"utoff -2^31", [](Spec &s) { s.types[1].utoff = INT32_MIN; }, same, TzifError::OffsetOutOfRange},
        {"isdst 2", [](Spec &s) { s.types[1].isdst = 2; }, same, TzifError::BadDaylightFlag},
        {"desigidx past the bytes", [](Spec &s) { s.types[1].desigidx = 8; }, same,
         TzifError::DesignationIndexOutOfRange},
        {"designations unterminated", [](Spec &s) { s.chars.pop_back(); }, same, TzifError::DesignationUnterminated},
        // Indicators
        {"isstd 2", [](Spec &s) { s.isstd = std::string("\2\0", 2); }, same, TzifError::BadIndicator},
        {"isut without isstd", [](Spec &s) { s.isstd = std::string(2, '\0'), s.isut = std::string("\0\1", 2); }, same,
         TzifError::BadIndicator},
        {"isut with no isstd at all", [](Spec &s) { s.isut = std::string("\1\1", 2); }, same, TzifError::BadIndicator},
        // Footer
        {"footer not framed", none, [](std::string &b) { b[b.size() - 7] = ' '; }, TzifError::BadFooter},
        {"footer does not parse", [](Spec &s) { s.footer = "AAA"; }, same, TzifError::BadFooter},
        {"footer without a rule", [](Spec &s) { s.footer = "AAA-1BBB"; }, same, TzifError::BadFooter},
        {"footer with a NUL", [](Spec &s) { s.footer = std::string("AAA-1\0", 6); }, same, TzifError::BadFooter},
        // Trailing bytes
        {"after the footer", none, [](std::string &b) { b += "x"; }, TzifError::TrailingBytes},
        {"after a version 1 block", [](Spec &s) { s.version = '\0'; }, [](std::string &b) { b += '\n'; },
         TzifError::TrailingBytes},
        {"counts short of the data", [](Spec &s) { s.leapcnt = 1; }, set_count(2, 0), TzifError::BadFooter},
    };
    for (const Case &c : cases) {
        Spec s = valid();
        c.spec(s);
        std::string bytes = build(s);
        c.bytes(bytes);
        const auto z = parse(bytes);
        ASSERT_FALSE(z.has_value()) << c.what;
        EXPECT_EQ(z.error(), c.error) << c.what << ": " << describe(z.error());
    }
    // Every prefix of a valid file is truncated, and none is read past its
    // end (a copy of exactly that size, under the sanitizers).
    const std::string whole = build(valid());
    ASSERT_TRUE(parse(whole).has_value());
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<std::uint8_t> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(parse_tzif(prefix).error(), TzifError::Truncated) << n;
    }
}

TEST(TzifReader, AcceptsEveryVersionAndLeapRecords) {
    for (char version : {'\0', '2', '3', '4'}) {
        Spec s = valid();
        s.version = version;
        s.leapcnt = 3;
        s.isstd = std::string("\1\0", 2);
        s.isut = std::string("\1\0", 2);
        const auto z = parse(build(s));
        ASSERT_TRUE(z.has_value()) << int{version} << ": " << describe(z.error());
        EXPECT_EQ(z->offset_at(-1001), 3600);
        EXPECT_EQ(z->offset_at(-1000), 7200);
        EXPECT_EQ(z->offset_at(999), 7200);
        EXPECT_EQ(z->footer().has_value(), version != '\0');
    }
}

// --- The table and the footer -------------------------------------------------

TEST(Zone, TableThenFooter) {
    // Type 0 before the first transition; changes of designation or isdst
    // alone are no transitions; the footer from the last transition on.
    Spec s;
    s.types = {{561, 0, 0}, {3600, 0, 4}, {3600, 1, 0}, {7200, 1, 4}};
    s.times = {-1000000, -500000, -100000, 1000};
    s.indexes = {1, 2, 3, 1};
    s.footer = "CET-1CEST,M3.5.0,M10.5.0/3";
    const auto z = parse(build(s));
    ASSERT_TRUE(z.has_value());
    EXPECT_EQ(z->table_size(), 3u + 800u);  // -1000000, -100000, the hand-over at 1000, the footer's 400 years
    EXPECT_EQ(z->offset_at(-1000001), 561);
    EXPECT_EQ(z->offset_at(-1000000), 3600);
    EXPECT_EQ(z->offset_at(-100000), 7200);
    EXPECT_EQ(z->offset_at(1000), 3600);
    const std::vector<ZoneTransition> walk = {
        {-1000000, 561, 3600},
        {-100000, 3600, 7200},
        {1000, 7200, 3600},
        {seconds_at(1970, 3, 29, 1), 3600, 7200},
    };
    i64 at = kMinUnixSeconds;
    for (const ZoneTransition &t : walk) {
        const auto next = z->next_transition(at);
        ASSERT_TRUE(next.has_value());
        EXPECT_EQ(*next, t);
        EXPECT_EQ(z->previous_transition(t.at + 1), t);
        at = t.at;
    }
    EXPECT_FALSE(z->previous_transition(-1000000).has_value());
    EXPECT_EQ(z->previous_transition(seconds_at(1970, 3, 1))->at, 1000);
}

TEST(Zone, WithoutFooterTheLastTypeStays) {
    for (const bool version1 : {false, true}) {
        Spec s = valid();
        s.footer.clear();
        if (version1) s.version = '\0';
        const auto z = parse(build(s));
        ASSERT_TRUE(z.has_value());
        EXPECT_FALSE(z->footer().has_value());
        EXPECT_EQ(z->offset_at(kMaxUnixSeconds), 3600);
        EXPECT_EQ(z->next_transition(1000), std::nullopt);
        EXPECT_EQ(z->previous_transition(kMaxUnixSeconds)->at, 1000);
    }
    // No transitions and no footer: type 0 throughout.
    Spec s;
    s.footer.clear();
    const auto z = parse(build(s));
    ASSERT_TRUE(z.has_value());
    EXPECT_EQ(z->offset_at(kMinUnixSeconds), 3600);
    EXPECT_EQ(z->offset_at(kMaxUnixSeconds), 3600);
    EXPECT_EQ(z->next_transition(kMinUnixSeconds), std::nullopt);
}

TEST(Zone, InstantsInNanoseconds) {
    const Zone z = *Zone::from_rule(*parse_posix_tz("CET-1CEST,M3.5.0,M10.5.0/3"));
    const i128 change = i128{seconds_at(2024, 3, 31, 1)} * kNanosPerSecond;
    EXPECT_EQ(z.offset_at_instant(change - 1), 3600);
    EXPECT_EQ(z.offset_at_instant(change), 7200);
    EXPECT_EQ(z.next_transition_after_instant(change - 1)->at, seconds_at(2024, 3, 31, 1));
    EXPECT_EQ(z.next_transition_after_instant(change)->at, seconds_at(2024, 10, 27, 1));
    EXPECT_EQ(z.previous_transition_before_instant(change + 1)->at, seconds_at(2024, 3, 31, 1));
    EXPECT_EQ(z.previous_transition_before_instant(change)->at, seconds_at(2023, 10, 29, 1));
    // The ends of the range, and beyond them.
    const i128 top = i128{kMaxUnixSeconds} * kNanosPerSecond + 999999999;
    EXPECT_EQ(z.offset_at_instant(top), 3600);
    EXPECT_FALSE(z.next_transition_after_instant(top).has_value());
    EXPECT_FALSE(z.previous_transition_before_instant(i128{kMinUnixSeconds} * kNanosPerSecond).has_value());
    EXPECT_EQ(z.offset_at_instant(i128{INT64_MAX} * kNanosPerSecond), 3600);
}

// --- The footer's cycle ---------------------------------------------------------

// The offset, the nearest changes and the local reading at `s`, from the
// rule evaluated directly; the zone hands over to it at `last`.
void expect_follows_rule(const Zone &z, const FooterRule &rule, i64 s, std::optional<i64> last) {
    ASSERT_EQ(z.offset_at(s), rule.offset_at(s)) << s;
    const auto in_range = [](auto t) { return t >= kMinUnixSeconds && t <= kMaxUnixSeconds ? t : std::nullopt; };
    const auto at_of = [](std::optional<ZoneTransition> t) { return t ? std::optional(t->at) : std::nullopt; };
    const auto previous = rule.previous_change(s);
    ASSERT_EQ(at_of(z.next_transition(s)), in_range(rule.next_change(s))) << s;
    ASSERT_EQ(at_of(z.previous_transition(s)), last && previous <= last ? last : in_range(previous)) << s;
    const std::int32_t high = std::max(rule.rule().std_offset, rule.rule().dst_offset);
    const std::int32_t low = std::min(rule.rule().std_offset, rule.rule().dst_offset);
    const bool at_high = rule.offset_at(s - high) == high, at_low = rule.offset_at(s - low) == low;
    const LocalKind kind = at_high && at_low ? LocalKind::Fold : at_high || at_low ? LocalKind::Unique : LocalKind::Gap;
    const std::int32_t only = at_high ? high : low;
    const LocalCandidates expected = {kind, kind == LocalKind::Unique ? only : high,
                                      kind == LocalKind::Unique ? only : low};
    ASSERT_EQ(z.local_candidates(s), expected) << s;
}

TEST(Zone, FooterCycleAgreesWithTheRule) {
    // After its last transition a zone serves the footer's changes of the
    // next 400 years from its table, moving later instants back by whole
    // cycles.  Every query agrees with the rule evaluated directly: at the
    // edges of the kept cycle, around the changes of far years and at the
    // ends of the range (the first and last changes reported, none beyond),
    // with the hand-over in recent, far and no years (the footer ruling
    // throughout).
    const char *rules[] = {"CET-1CEST,M3.5.0,M10.5.0/3",    "<-03>3<-02>,M10.2.0/0,M2.3.0/0",
                           "EST5EDT,M3.2.0/26,M11.1.0/-25", "AAA3BBB,59/0,299/0",
                           "AAA0BBB-1,J1/-167,J365/167",    "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0"};
    std::mt19937_64 rng(kCycleDays);
    for (const char *text : rules) {
        const PosixTz tz = *parse_posix_tz(text);
        const FooterRule rule(tz);
        for (const std::optional<i64> last : {std::optional(seconds_at(2037, 10, 25, 1)),
                                              std::optional(seconds_at(123456, 7, 1)), std::optional<i64>()}) {
            Spec s;
            s.types[0].utoff = tz.std_offset + 60, s.footer = text;  // an offset the rule never has
            if (last) s.times = {*last}, s.indexes = {1};
            const auto z = parse(build(s));
            ASSERT_TRUE(z.has_value()) << text;
            const i64 from = last.value_or(kMinUnixSeconds) + 2 * kDay;
            const i64 first_year = year_start(floor_divmod<i64>(from, kDay).quotient).year;
            for (int k = 0; k < 3000; ++k) {
                const i64 jitter = static_cast<i64>(rng() % (10 * kDay)) - 5 * kDay;
                const YearChanges c = year_changes(
                    tz, first_year + static_cast<i64>(rng() % static_cast<u64>(INT32_MAX - first_year + 1)));
                const i64 near_change = (k % 2 ? c.start : c.end) + static_cast<i64>(rng() % 7200) - 3600;
                const i64 cases[] = {from + (k % 3) * kCycleSeconds + jitter, near_change, kMaxUnixSeconds + jitter,
                                     from + static_cast<i64>(rng() % static_cast<u64>(kMaxUnixSeconds - from))};
                const i64 at = std::clamp(cases[k % 4], from, kMaxUnixSeconds);
                ASSERT_NO_FATAL_FAILURE(expect_follows_rule(*z, rule, at, last)) << text << " after " << from;
            }
        }
    }
}

// --- Local readings -------------------------------------------------------------

TEST(Zone, LocalReadingsInGapsAndFolds) {
    const Zone z = *Zone::from_rule(*parse_posix_tz("CET-1CEST,M3.5.0,M10.5.0/3"));
    const i64 gap = seconds_at(2024, 3, 31, 2, 30), fold = seconds_at(2024, 10, 27, 2, 30);
    EXPECT_EQ(z.local_candidates(gap), (LocalCandidates{LocalKind::Gap, 7200, 3600}));
    EXPECT_EQ(z.local_candidates(fold), (LocalCandidates{LocalKind::Fold, 7200, 3600}));
    EXPECT_EQ(z.local_candidates(seconds_at(2024, 3, 31, 1, 59)), (LocalCandidates{LocalKind::Unique, 3600, 3600}));
    EXPECT_EQ(z.local_candidates(seconds_at(2024, 3, 31, 3)), (LocalCandidates{LocalKind::Unique, 7200, 7200}));
    EXPECT_EQ(z.local_candidates(seconds_at(2024, 10, 27, 2)).kind, LocalKind::Fold);
    EXPECT_EQ(z.local_candidates(seconds_at(2024, 10, 27, 3)).kind, LocalKind::Unique);

    struct Case {
        i64 local;
        Disambiguate how;
        std::expected<ZonedSeconds, LocalError> expected;
    };
    const Case cases[] = {
        // Gap: compatible and later move the reading forward by an hour
        // (03:30 at +02:00); earlier moves it back (01:30 at +01:00).
        {gap, Disambiguate::Compatible, ZonedSeconds{gap - 3600, 7200}},
        {gap, Disambiguate::Later, ZonedSeconds{gap - 3600, 7200}},
        {gap, Disambiguate::Earlier, ZonedSeconds{gap - 7200, 3600}},
        {gap, Disambiguate::Raise, std::unexpected(LocalError::Skipped)},
        // Fold: the first 02:30 at +02:00, the second at +01:00.
        {fold, Disambiguate::Compatible, ZonedSeconds{fold - 7200, 7200}},
        {fold, Disambiguate::Earlier, ZonedSeconds{fold - 7200, 7200}},
        {fold, Disambiguate::Later, ZonedSeconds{fold - 3600, 3600}},
        {fold, Disambiguate::Raise, std::unexpected(LocalError::Repeated)},
        // Neither: every way gives the one instant.
        {gap + kDay, Disambiguate::Raise, ZonedSeconds{gap + kDay - 7200, 7200}},
        {fold + kDay, Disambiguate::Later, ZonedSeconds{fold + kDay - 3600, 3600}},
    };
    for (const Case &c : cases) EXPECT_EQ(z.resolve_local(c.local, c.how), c.expected) << c.local;

    // At the ends of the range the candidates still answer.
    EXPECT_EQ(z.local_candidates(kMaxUnixSeconds).kind, LocalKind::Unique);
    EXPECT_EQ(z.local_candidates(kMinUnixSeconds).kind, LocalKind::Unique);
}

TEST(Zone, QueriesOnDateTimes) {
    const Zone z = *Zone::from_rule(*parse_posix_tz("CET-1CEST,M3.5.0,M10.5.0/3"));
    const auto dt = [](std::int32_t y, std::uint8_t mo, std::uint8_t d, std::uint8_t h, std::uint8_t mi,
                       std::uint32_t ns = 0) { return DateTime{{y, mo, d}, {h, mi, 0, ns}}; };
    EXPECT_EQ(to_zone(z, dt(2024, 7, 1, 12, 0)), (OffsetDateTime{dt(2024, 7, 1, 12, 0), UtcOffset{7200}}));
    EXPECT_EQ(to_zone(z, dt(INT32_MAX, 12, 31, 23, 30)).offset.seconds, 3600);

    struct Case {
        DateTime local;
        Disambiguate how;
        std::expected<OffsetDateTime, ZoneLocalError> expected;
    };
    const Case cases[] = {
        // 02:30 skipped: forward to 03:30 at +02:00, or back to 01:30 at +01:00.
        {dt(2024, 3, 31, 2, 30, 5), Disambiguate::Compatible, OffsetDateTime{dt(2024, 3, 31, 1, 30, 5), {7200}}},
        {dt(2024, 3, 31, 2, 30, 5), Disambiguate::Earlier, OffsetDateTime{dt(2024, 3, 31, 0, 30, 5), {3600}}},
        {dt(2024, 3, 31, 2, 30), Disambiguate::Raise, std::unexpected(ZoneLocalError::Skipped)},
        // 02:30 repeated.
        {dt(2024, 10, 27, 2, 30), Disambiguate::Compatible, OffsetDateTime{dt(2024, 10, 27, 0, 30), {7200}}},
        {dt(2024, 10, 27, 2, 30), Disambiguate::Later, OffsetDateTime{dt(2024, 10, 27, 1, 30), {3600}}},
        {dt(2024, 10, 27, 2, 30), Disambiguate::Raise, std::unexpected(ZoneLocalError::Repeated)},
        // The first reading of the range is an hour before its first instant.
        {dt(INT32_MIN, 1, 1, 0, 30), Disambiguate::Compatible, std::unexpected(ZoneLocalError::OutOfRange)},
        {dt(INT32_MIN, 1, 1, 1, 30), Disambiguate::Compatible, OffsetDateTime{dt(INT32_MIN, 1, 1, 0, 30), {3600}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(from_zone_local(z, c.local, c.how), c.expected) << c.local.date.year << " " << int{c.local.time.hour};

    EXPECT_EQ(next_zone_transition(z, dt(2024, 3, 31, 0, 59, 999999999)),
              (OffsetDateTime{dt(2024, 3, 31, 1, 0), UtcOffset{7200}}));
    EXPECT_EQ(next_zone_transition(z, dt(2024, 3, 31, 1, 0)),
              (OffsetDateTime{dt(2024, 10, 27, 1, 0), UtcOffset{3600}}));
    EXPECT_EQ(previous_zone_transition(z, dt(2024, 3, 31, 1, 0, 1)),
              (OffsetDateTime{dt(2024, 3, 31, 1, 0), UtcOffset{7200}}));
    EXPECT_FALSE(next_zone_transition(z, dt(INT32_MAX, 11, 1, 0, 0)).has_value());
    EXPECT_FALSE(previous_zone_transition(z, dt(INT32_MIN, 3, 1, 0, 0)).has_value());
}

// --- The system's zone files ------------------------------------------------------

constexpr const char *kZoneFolder = "/usr/share/zoneinfo";

std::string read_file(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The local readings brute-forced: the offsets of a transition and every
// offset the zone takes within a day of the reading (sampled every three
// hours), each tried as the reading's own.
std::vector<std::int32_t> brute_force_offsets(const Zone &z, i64 local, const ZoneTransition &t) {
    std::set<std::int32_t> offsets = {t.offset_before, t.offset_after};
    for (i64 u = local - kDay; u <= local + kDay; u += 3 * kHour) offsets.insert(z.offset_at(u));
    std::vector<std::int32_t> solutions;
    for (auto it = offsets.rbegin(); it != offsets.rend(); ++it)
        if (z.offset_at(local - *it) == *it) solutions.push_back(*it);  // earliest instant first
    return solutions;
}

void check_local(const Zone &z, i64 local, const ZoneTransition &t, const std::string &key) {
    const auto solutions = brute_force_offsets(z, local, t);
    const LocalCandidates c = z.local_candidates(local);
    // The short cut a value takes may only ever answer Unique.
    if (const OffsetPeriod near = z.period_at(local); names_reading_alone(near, local)) {
        ASSERT_EQ(c, (LocalCandidates{LocalKind::Unique, near.offset, near.offset})) << key << " " << local;
    }
    if (solutions.empty()) {
        ASSERT_EQ(c.kind, LocalKind::Gap) << key << " " << local;
        EXPECT_GT(c.earlier_offset, c.later_offset) << key << " " << local;
        EXPECT_NE(z.offset_at(local - c.later_offset), c.later_offset) << key << " " << local;
    } else if (solutions.size() == 1) {
        ASSERT_EQ(c, (LocalCandidates{LocalKind::Unique, solutions[0], solutions[0]})) << key << " " << local;
    } else {
        ASSERT_EQ(c, (LocalCandidates{LocalKind::Fold, solutions.front(), solutions.back()})) << key << " " << local;
    }
}

TEST(SystemZones, EveryFileReadsAndWalks) {
    if (!std::filesystem::is_directory(kZoneFolder)) GTEST_SKIP() << kZoneFolder << " is absent: no tzdata installed";
    std::size_t files = 0, transitions = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(kZoneFolder)) {
        if (!entry.is_regular_file()) continue;
        const std::string bytes = read_file(entry.path());
        if (bytes.compare(0, 4, "TZif") != 0) continue;  // zone.tab, leap-seconds.list, ...
        const std::string key = entry.path().lexically_relative(kZoneFolder).string();
        if (key.starts_with("right/")) continue;  // leap-second variants: not for a calendar without them
        ++files;
        const auto z = parse(bytes);
        ASSERT_TRUE(z.has_value()) << key << ": " << describe(z.error());
        // Every transition from 1800 to 2100, each a change, found both
        // ways, with the local readings around it settled as brute force
        // settles them.
        i64 at = seconds_at(1800, 1, 1);
        std::optional<ZoneTransition> previous = z->previous_transition(at);
        for (;;) {
            const auto t = z->next_transition(at);
            if (!t || t->at > seconds_at(2100, 1, 1)) break;
            ++transitions;
            ASSERT_GT(t->at, at) << key;
            ASSERT_NE(t->offset_before, t->offset_after) << key << " " << t->at;
            ASSERT_EQ(z->offset_at(t->at - 1), t->offset_before) << key;
            ASSERT_EQ(z->offset_at(t->at), t->offset_after) << key;
            ASSERT_EQ(z->period_at(t->at - 1).until, t->at) << key;
            ASSERT_EQ(z->period_at(t->at), (OffsetPeriod{t->at, z->period_at(t->at).until, t->offset_after})) << key;
            ASSERT_EQ(z->previous_transition(t->at + 1), t) << key;
            ASSERT_EQ(z->previous_transition(t->at), previous) << key;
            for (i64 local : {t->at + t->offset_before, t->at + t->offset_after})
                for (i64 d : {-1, 0}) check_local(*z, local + d, *t, key);
            previous = t;
            at = t->at;
        }
    }
    EXPECT_GT(files, 300u);
    std::printf("%zu zone files, %zu transitions walked\n", files, transitions);
}

TEST(SystemZones, KnownOffsetsAndSizes) {
    if (!std::filesystem::is_directory(kZoneFolder)) GTEST_SKIP() << kZoneFolder << " is absent: no tzdata installed";
    // The designations as the standard zoneinfo names them.
    struct Case {
        const char *key;
        i64 at;
        std::int32_t offset;
        std::string_view abbreviation;
    };
    const Case cases[] = {
        {"Europe/Paris", seconds_at(1800, 1, 1), 561, "LMT"},  // local mean time, 0:09:21
        {"Europe/Paris", seconds_at(1900, 1, 1), 561, "PMT"},
        {"Europe/Paris", seconds_at(2024, 1, 1), 3600, "CET"},
        {"Europe/Paris", seconds_at(2024, 7, 1), 7200, "CEST"},
        {"Europe/Paris", seconds_at(3000, 7, 1), 7200, "CEST"},
        {"Europe/Paris", seconds_at(INT32_MAX, 7, 1), 7200, "CEST"},
        {"Europe/Paris", seconds_at(INT32_MAX, 12, 31, 23, 59), 3600, "CET"},
        {"Europe/Moscow", seconds_at(1991, 1, 1), 10800, "MSK"},
        {"Europe/Moscow", seconds_at(1991, 7, 1), 10800, "EEST"},  // a new name at the same offset
        {"America/New_York", seconds_at(2024, 3, 10, 7) - 1, -18000, "EST"},
        {"America/New_York", seconds_at(2024, 3, 10, 7), -14400, "EDT"},
        {"Australia/Sydney", seconds_at(2024, 4, 6, 16) - 1, 39600, "AEDT"},
        {"Australia/Sydney", seconds_at(2024, 4, 6, 16), 36000, "AEST"},
        {"Asia/Kolkata", seconds_at(2024, 1, 1), 19800, "IST"},
        {"America/Sao_Paulo", seconds_at(2024, 1, 1), -10800, "-03"},
        {"UTC", seconds_at(INT32_MIN, 1, 1), 0, "UTC"},
    };
    for (const Case &c : cases) {
        const std::string bytes = read_file(std::filesystem::path(kZoneFolder) / c.key);
        const auto z = parse(bytes);
        ASSERT_TRUE(z.has_value()) << c.key;
        EXPECT_EQ(z->offset_at(c.at), c.offset) << c.key << " at " << c.at;
        EXPECT_EQ(z->abbreviation_at(c.at), c.abbreviation) << c.key << " at " << c.at;
    }
    const auto paris = parse(read_file(std::filesystem::path(kZoneFolder) / "Europe/Paris"));
    ASSERT_TRUE(paris.has_value());
    EXPECT_EQ(paris->local_candidates(seconds_at(2024, 3, 31, 2, 30)).kind, LocalKind::Gap);
    EXPECT_EQ(paris->local_candidates(seconds_at(2024, 10, 27, 2, 30)).kind, LocalKind::Fold);
    EXPECT_EQ(paris->local_candidates(seconds_at(2099, 10, 25, 2, 30)).kind, LocalKind::Fold);

    // A loaded zone's memory beside its file's size.
    for (const char *key : {"UTC", "Asia/Kolkata", "Europe/Paris", "America/New_York", "Australia/Sydney",
                            "America/Sao_Paulo", "Europe/London"}) {
        const std::string bytes = read_file(std::filesystem::path(kZoneFolder) / key);
        const auto z = parse(bytes);
        ASSERT_TRUE(z.has_value()) << key;
        // At most the file and the footer's changes of 400 years, two a year at 12 bytes each
        // and 4 of index.
        EXPECT_LT(z->memory_size(), bytes.size() + sizeof(Zone) + 800 * 16) << key;
        std::printf("%-20s file %5zu bytes, loaded %5zu bytes (%zu changes kept)\n", key, bytes.size(),
                    z->memory_size(), z->table_size());
    }
}

}  // namespace
}  // namespace merandol
