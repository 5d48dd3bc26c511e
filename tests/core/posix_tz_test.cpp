// The footer's POSIX TZ rule: the reader's grammar, hand-worked changes of
// M, J and zero-based day rules with negative and beyond-24-hour times, and
// the fast per-year answer and the change search against a brute-force
// reference over random rules, up to both ends of the range.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/posix_tz.hpp"
#include "core/zone.hpp"

namespace merandol {
namespace {

constexpr i64 kHour = 3600;
constexpr i64 kDay = kSecondsPerDay;

PosixTz rule(std::string_view text) {
    const auto r = parse_posix_tz(text);
    EXPECT_TRUE(r.has_value()) << text;
    return r.value_or(PosixTz{});
}

i64 day_of(std::int32_t y, std::uint8_t m, std::uint8_t d) { return days_since_unix_epoch(Date{y, m, d}); }

TEST(PosixTzReader, Accepts) {
    struct Case {
        const char *text;
        std::int32_t std_offset, dst_offset;
        bool has_dst;
    };
    const Case cases[] = {
        {"UTC0", 0, 0, false},
        {"EST5", -5 * 3600, -5 * 3600, false},
        {"<+0330>-3:30", 12600, 12600, false},
        {"<-03>3", -3 * 3600, -3 * 3600, false},
        {"<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45", 45900, 49500, true},
        {"EST5EDT,M3.2.0,M11.1.0", -5 * 3600, -4 * 3600, true},
        {"IST-1GMT0,M10.5.0,M3.5.0/1", 3600, 0, true},  // negative daylight saving
        {"XXX+24:00:00", -86400, -86400, false},
        {"XXX-24", 86400, 86400, false},
        {"AAA1:02:03BBB-0:30,J1/-167,J365/167:59:59", -3723, 1800, true},
    };
    for (const auto &c : cases) {
        const auto r = parse_posix_tz(c.text);
        ASSERT_TRUE(r.has_value()) << c.text;
        EXPECT_EQ(r->std_offset, c.std_offset) << c.text;
        EXPECT_EQ(r->dst_offset, c.dst_offset) << c.text;
        EXPECT_EQ(r->has_dst, c.has_dst) << c.text;
    }
    const PosixTz us = rule("EST5EDT,M3.2.0,M11.1.0/-1:30");
    EXPECT_EQ(us.start, (DayRule{DayRule::Kind::MonthWeekDay, 3, 2, 0, 0}));
    EXPECT_EQ(us.start_time, 7200);  // the default 02:00
    EXPECT_EQ(us.end_time, -5400);
    const PosixTz days = rule("AAA3BBB,J60/0,59/167");
    EXPECT_EQ(days.start, (DayRule{DayRule::Kind::Julian, 0, 0, 0, 60}));
    EXPECT_EQ(days.end, (DayRule{DayRule::Kind::ZeroBased, 0, 0, 0, 59}));
    EXPECT_EQ(days.end_time, 167 * 3600);
}

TEST(PosixTzReader, Rejects) {
    const std::pair<const char *, PosixTzError> cases[] = {
        // Names
        {"", PosixTzError::BadName},
        {"ES5", PosixTzError::BadName},
        {"<+1>-1", PosixTzError::BadName},
        {"<+01-1", PosixTzError::BadName},
        {"<+0_1>-1", PosixTzError::BadName},
        {"EST5ED,M3.2.0,M11.1.0", PosixTzError::BadName},
        {"EST5<ED>,M3.2.0,M11.1.0", PosixTzError::BadName},
        // Offsets
        {"EST", PosixTzError::BadOffset},
        {"EST25", PosixTzError::BadOffset},
        {"EST5:60", PosixTzError::BadOffset},
        {"EST5:30:60", PosixTzError::BadOffset},
        {"EST+", PosixTzError::BadOffset},
        {"EST5EDT:00,M3.2.0,M11.1.0", PosixTzError::BadOffset},
        {"EST24:00:01", PosixTzError::OffsetOutOfRange},
        {"EST-24EDT,M3.2.0,M11.1.0", PosixTzError::OffsetOutOfRange},  // daylight 25 hours east
        // Rules
        {"EST5EDT", PosixTzError::MissingRule},
        {"EST5EDT4", PosixTzError::MissingRule},
        {"EST5EDT,M3.2.0", PosixTzError::MissingRule},
        {"EST5EDT,M13.2.0,M11.1.0", PosixTzError::BadRule},
        {"EST5EDT,M3.6.0,M11.1.0", PosixTzError::BadRule},
        {"EST5EDT,M3.2.7,M11.1.0", PosixTzError::BadRule},
        {"EST5EDT,M3.0.0,M11.1.0", PosixTzError::BadRule},
        {"EST5EDT,J0,J365", PosixTzError::BadRule},
        {"EST5EDT,J366,J365", PosixTzError::BadRule},
        {"EST5EDT,366,0", PosixTzError::BadRule},
        {"EST5EDT,X,0", PosixTzError::BadRule},
        {"EST5EDT,M3.2,M11.1.0", PosixTzError::BadRule},
        // Times
        {"EST5EDT,M3.2.0/168,M11.1.0", PosixTzError::BadTime},
        {"EST5EDT,M3.2.0/-168,M11.1.0", PosixTzError::BadTime},
        {"EST5EDT,M3.2.0/,M11.1.0", PosixTzError::BadTime},
        {"EST5EDT,M3.2.0/2:60,M11.1.0", PosixTzError::BadTime},
        // Trailing text
        {"EST5EDT,M3.2.0,M11.1.0,", PosixTzError::TrailingText},
        {"EST5 ", PosixTzError::BadName},
        {"EST5EDT,M3.2.0,M11.1.0 ", PosixTzError::TrailingText},
    };
    for (const auto &[text, error] : cases) {
        const auto r = parse_posix_tz(text);
        ASSERT_FALSE(r.has_value()) << text;
        EXPECT_EQ(r.error(), error) << text;
    }
}

// Changes worked out by hand from the calendar: each rule's next changes
// from the start of 2023 (or 2024), in UTC.
TEST(PosixTzRule, HandWorkedChanges) {
    struct Case {
        const char *text;
        std::int32_t year;
        std::vector<ZoneTransition> changes;
    };
    const i64 h = kHour;
    const Case cases[] = {
        // Last Sunday of March at 01:00 UTC, of October at 01:00 UTC.
        {"CET-1CEST,M3.5.0,M10.5.0/3",
         2024,
         {{day_of(2024, 3, 31) * kDay + 1 * h, 3600, 7200}, {day_of(2024, 10, 27) * kDay + 1 * h, 7200, 3600}}},
        // A negative time: 23:00 on the Saturday before, local standard
        // time -2, is 01:00 UTC on the Sunday.
        {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0",
         2024,
         {{day_of(2024, 3, 31) * kDay + 1 * h, -7200, -3600}, {day_of(2024, 10, 27) * kDay + 1 * h, -3600, -7200}}},
        // Beyond a day: second Sunday of March (the 10th) at 26:00 is 11
        // March 02:00 EST; first Sunday of November (the 3rd) at -25:00 is 1
        // November 23:00 EDT.
        {"EST5EDT,M3.2.0/26,M11.1.0/-25",
         2024,
         {{day_of(2024, 3, 11) * kDay + 7 * h, -18000, -14400}, {day_of(2024, 11, 2) * kDay + 3 * h, -14400, -18000}}},
        // The extremes: J1 at -167 h is 25 December of the year before at
        // 01:00 local, J365 at 167 h is 6 January of the next at 23:00
        // local: each year's daylight time runs from before its start to
        // after its end.
        {"AAA0BBB-1,J1/-167,J365/167",
         2024,
         {{day_of(2024, 1, 6) * kDay + 22 * h, 3600, 0}, {day_of(2024, 12, 25) * kDay + 1 * h, 0, 3600}}},
        // J60 is 1 March in every year; J300 is 27 October in both.
        {"AAA3BBB,J60/0,J300/0",
         2024,
         {{day_of(2024, 3, 1) * kDay + 3 * h, -10800, -7200}, {day_of(2024, 10, 27) * kDay + 2 * h, -7200, -10800}}},
        // Zero-based: 59 is 29 February in a leap year and 1 March in a
        // common one; 299 is 26 and 27 October.
        {"AAA3BBB,59/0,299/0",
         2024,
         {{day_of(2024, 2, 29) * kDay + 3 * h, -10800, -7200}, {day_of(2024, 10, 26) * kDay + 2 * h, -7200, -10800}}},
        {"AAA3BBB,59/0,299/0",
         2023,
         {{day_of(2023, 3, 1) * kDay + 3 * h, -10800, -7200}, {day_of(2023, 10, 27) * kDay + 2 * h, -7200, -10800}}},
        // Southern hemisphere: daylight time across the new year, from the
        // third Sunday of February (the 18th) to the second of October (the
        // 13th).
        {"<-03>3<-02>,M10.2.0/0,M2.3.0/0",
         2024,
         {{day_of(2024, 2, 18) * kDay + 2 * h, -7200, -10800}, {day_of(2024, 10, 13) * kDay + 3 * h, -10800, -7200}}},
        // Negative daylight saving: "daylight" time is the winter.
        {"IST-1GMT0,M10.5.0,M3.5.0/1",
         2024,
         {{day_of(2024, 3, 31) * kDay + 1 * h, 0, 3600}, {day_of(2024, 10, 27) * kDay + 1 * h, 3600, 0}}},
    };
    for (const auto &c : cases) {
        const Zone zone = *Zone::from_rule(rule(c.text));
        i64 at = day_of(c.year, 1, 1) * kDay;
        for (const ZoneTransition &expected : c.changes) {
            const auto next = zone.next_transition(at);
            ASSERT_TRUE(next.has_value()) << c.text;
            EXPECT_EQ(*next, expected) << c.text << " from " << at;
            EXPECT_EQ(zone.offset_at(expected.at - 1), expected.offset_before) << c.text;
            EXPECT_EQ(zone.offset_at(expected.at), expected.offset_after) << c.text;
            EXPECT_EQ(zone.previous_transition(expected.at + 1), expected) << c.text;
            at = expected.at;
        }
    }
}

TEST(PosixTzRule, AllYearDaylightTimeNeverChanges) {
    // RFC 8536 section 3.3.1: daylight time from 1 January 00:00 to 31
    // December 24:00 plus the one-hour step is daylight time all year.
    const Zone zone = *Zone::from_rule(rule("EST5EDT,0/0,J365/25"));
    for (std::int32_t year : {1, 1970, 2024, 2100, 10000, INT32_MAX})
        for (i64 second : {i64{0}, kDay * 59 + 3600, kDay * 364})
            EXPECT_EQ(zone.offset_at(day_of(year, 1, 1) * kDay + second), -4 * 3600) << year;
    EXPECT_FALSE(zone.next_transition(0).has_value());
    EXPECT_FALSE(zone.previous_transition(0).has_value());
    // Both changes of a year at one instant (10 April 00:00 UTC): the start
    // is the later, so daylight time never ends, as zoneinfo reads it too.
    const Zone same = *Zone::from_rule(rule("AAA0BBB-1,J100/0,J100/1"));
    for (i64 s : {day_of(2024, 4, 10) * kDay - 1, day_of(2024, 4, 10) * kDay, i64{0}})
        EXPECT_EQ(same.offset_at(s), 3600) << s;
    EXPECT_FALSE(same.next_transition(0).has_value());
}

// --- A brute-force reference -------------------------------------------------

struct Event {
    i64 at;
    i64 year;
    bool start;
};

std::vector<Event> events(const PosixTz &tz, i64 first_year, i64 last_year) {
    std::vector<Event> out;
    for (i64 y = first_year; y <= last_year; ++y) {
        const YearChanges c = year_changes(tz, y);
        out.push_back({c.end, y, false});
        out.push_back({c.start, y, true});
    }
    std::stable_sort(out.begin(), out.end(), [](const Event &a, const Event &b) { return a.at < b.at; });
    return out;
}

i64 year_at(i64 s) { return year_start(floor_divmod<i64>(s, kDay).quotient).year; }

bool reference_daylight(const PosixTz &tz, i64 s) {
    const i64 y = year_at(s);
    std::optional<Event> latest;
    for (const Event &e : events(tz, y - 3, y + 3))
        if (e.at <= s) latest = e;
    return latest && latest->start;
}

// The state after each instant of a change, walking forward over 20 years.
std::optional<i64> reference_next(const PosixTz &tz, i64 s) {
    if (!tz.changes()) return std::nullopt;
    const i64 y = year_at(s);
    const auto ev = events(tz, y - 3, y + 20);
    for (std::size_t i = 0; i < ev.size(); ++i) {
        if (ev[i].at <= s || (i + 1 < ev.size() && ev[i + 1].at == ev[i].at)) continue;
        if (reference_daylight(tz, ev[i].at) != reference_daylight(tz, ev[i].at - 1)) return ev[i].at;
    }
    return std::nullopt;
}

std::optional<i64> reference_previous(const PosixTz &tz, i64 s) {
    if (!tz.changes()) return std::nullopt;
    const i64 y = year_at(s);
    const auto ev = events(tz, y - 20, y + 3);
    for (std::size_t i = ev.size(); i-- > 0;) {
        if (ev[i].at >= s) continue;
        if (reference_daylight(tz, ev[i].at) != reference_daylight(tz, ev[i].at - 1)) return ev[i].at;
    }
    return std::nullopt;
}

DayRule random_day_rule(std::mt19937_64 &rng) {
    switch (rng() % 3) {
        case 0: return {DayRule::Kind::Julian, 0, 0, 0, static_cast<std::uint16_t>(1 + rng() % 365)};
        case 1: return {DayRule::Kind::ZeroBased, 0, 0, 0, static_cast<std::uint16_t>(rng() % 366)};
        default:
            return {DayRule::Kind::MonthWeekDay, static_cast<std::uint8_t>(1 + rng() % 12),
                    static_cast<std::uint8_t>(1 + rng() % 5), static_cast<std::uint8_t>(rng() % 7), 0};
    }
}

// Rules of every shape: any day rules, times anywhere within 167 hours
// (often at the extremes or near midnight), offsets within 15 hours.
PosixTz random_rule(std::mt19937_64 &rng) {
    auto time = [&rng]() -> std::int32_t {
        switch (rng() % 4) {
            case 0: return rng() % 2 ? 167 * 3600 : -167 * 3600;
            case 1: return static_cast<std::int32_t>(rng() % 7200) - 3600;
            default: return static_cast<std::int32_t>(rng() % (2 * 167 * 3600 + 1)) - 167 * 3600;
        }
    };
    PosixTz tz{};
    tz.std_offset = static_cast<std::int32_t>(rng() % 121) * 900 - 15 * 3600;
    tz.dst_offset = tz.std_offset + (rng() % 4 == 0 ? -3600 : static_cast<std::int32_t>(rng() % 3) * 1800 + 1800);
    tz.has_dst = true;
    tz.start = random_day_rule(rng);
    tz.end = random_day_rule(rng);
    tz.start_time = time();
    tz.end_time = time();
    return tz;
}

// Instants near where the answers are hard: the year's ends, the changes
// themselves, and anywhere in the range.
i64 random_instant(std::mt19937_64 &rng, const PosixTz &tz) {
    const i64 year = static_cast<i64>(rng() % 5 == 0 ? static_cast<std::int32_t>(rng())
                                                     : static_cast<std::int32_t>(1900 + rng() % 300));
    const i64 jitter = static_cast<i64>(rng() % (20 * kDay)) - 10 * kDay;
    switch (rng() % 3) {
        case 0: return first_day_of_year(year) * kDay + jitter;
        case 1: {
            const YearChanges c = year_changes(tz, year);
            return (rng() % 2 ? c.start : c.end) + static_cast<i64>(rng() % 5) - 2;
        }
        default: return first_day_of_year(year) * kDay + static_cast<i64>(rng() % (366 * kDay));
    }
}

TEST(PosixTzRule, AgreesWithBruteForceOnRandomRules) {
    std::mt19937_64 rng(18);
    for (int r = 0; r < 3000; ++r) {
        const PosixTz tz = random_rule(rng);
        const FooterRule footer(tz);
        for (int k = 0; k < 20; ++k) {
            const i64 s = std::clamp(random_instant(rng, tz), kMinUnixSeconds, kMaxUnixSeconds);
            const i64 year = year_at(s);
            ASSERT_EQ(footer.changes(year).start, year_changes(tz, year).start) << r << " in " << year;
            ASSERT_EQ(footer.changes(year).end, year_changes(tz, year).end) << r << " in " << year;
            ASSERT_EQ(footer.daylight_at(s), reference_daylight(tz, s)) << r << " at " << s;
            ASSERT_EQ(footer.next_change(s), reference_next(tz, s)) << r << " at " << s;
            ASSERT_EQ(footer.previous_change(s), reference_previous(tz, s)) << r << " at " << s;
        }
    }
}

}  // namespace
}  // namespace merandol
