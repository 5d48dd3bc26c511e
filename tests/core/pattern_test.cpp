// Compiled patterns: the class a pattern gives and why one is refused; what
// a text reads to, or where and why reading stops; what a value writes;
// round trips over the whole range where the pattern keeps every field.
#include "core/pattern.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace merandol {
namespace {

std::string written(const Pattern &p, const PatternValue &v) {
    std::string out(p.written_size_max(v.zone_abbreviation.size()), '\0');
    const auto end = p.write(out.data(), v);
    if (!end) return "lacks " + std::string(end.error());
    out.resize(static_cast<std::size_t>(*end - out.data()));
    return out;
}

// A reading as text: its RFC 3339-like fields, or the fault and where.
std::string reading(const Pattern &p, std::string_view text) {
    const auto r = p.read(text);
    if (!r) {
        constexpr const char *faults[] = {"mismatch", "out of range", "contradiction", "leftover", "truncated"};
        std::string s = std::string(faults[static_cast<int>(r.error().fault)]) + " at " +
                        std::to_string(r.error().position) + " (" + std::string(r.error().directive) + ")";
        if (!r.error().field.empty()) s += " " + std::string(r.error().field) + " " + std::to_string(r.error().value);
        return s;
    }
    PatternValue v = PatternValue::of(DateTime{r->date, r->time}, r->offset);
    static const Pattern full = *Pattern::compile("%Y-%m-%dT%H:%M:%S%.f%:z");
    std::string s = written(full, v);
    switch (r->kind) {
        case TextKind::Date: return s.substr(0, s.find('T'));
        case TextKind::Time:
            return s.substr(s.find('T') + 1, s.rfind(r->offset.seconds < 0 ? '-' : '+') - s.find('T') - 1);
        case TextKind::DateTime: return s.substr(0, s.rfind(r->offset.seconds < 0 ? '-' : '+'));
        default: return s;
    }
}

TEST(Pattern, Reads) {
    struct Case {
        const char *pattern, *text, *expected;
    };
    const Case cases[] = {
        {"%Y-%m-%d %H:%M:%S", "2026-12-08 14:36:25", "2026-12-08T14:36:25"},
        {"%Y-%m-%d %H:%M:%S.%f", "2026-12-08 14:36:25.123", "2026-12-08T14:36:25.123"},
        {"%d/%b/%Y:%H:%M:%S %z", "08/Dec/2026:14:36:25 +0100", "2026-12-08T14:36:25+01:00"},
        {"%a, %d %b %Y %H:%M:%S %Z", "tue, 08 DECEMBER 2026 14:36:25 gmt", "2026-12-08T14:36:25+00:00"},
        {"%d/%b/%Y:%H:%M:%S %z", "08/dEc/2026:14:36:25 +01", "2026-12-08T14:36:25+01:00"},
        {"%d/%b/%Y:%H:%M:%S %z", "08/Dez/2026:14:36:25 +0100", "mismatch at 3 (%b)"},
        {"%m/%d/%y", "12/08/26", "2026-12-08"},
        {"%D", "1/8/69", "1969-01-08"},
        {"%Y%m%dT%H%M%S%z", "20261208T143625Z", "2026-12-08T14:36:25+00:00"},
        {"%G-W%V-%u", "2026-W50-2", "2026-12-08"},
        {"%G-W%V-%u", "2020-W53-7", "2021-01-03"},
        {"%Y-%j", "2024-366", "2024-12-31"},
        {"%Y %U %a", "2026 49 Tue", "2026-12-08"},
        {"%Y %W %w", "2026 00 5", "2026-01-02"},
        {"%Y-%m-%d", "-001-01-01", "-001-01-01"},
        {"%Y-%m-%d", "+12026-01-01", "12026-01-01"},
        {"%Y-%m-%d", "-2147483648-01-01", "-2147483648-01-01"},
        {"%Y-%m-%d", "2147483648-01-01", "out of range at 0 (%Y) year 2147483648"},
        {"%Y%m%d", "120260101", "out of range at 4 (%m) month 60"},
        {"%I:%M %p", "12:05 am", "00:05:00"},
        {"%c", "Tue Dec  8 14:36:25 2026", "2026-12-08T14:36:25"},
        {"%s", "-1", "1969-12-31T23:59:59"},
        {"%s%z", "0+0100", "1970-01-01T01:00:00+01:00"},
        {"%s %Y", "0 1970", "1970-01-01T00:00:00"},
        {"%F %T%.f", "2026-12-08 14:36:25", "2026-12-08T14:36:25"},
        {"%F %T%.f", "2026-12-08 14:36:25.000000001", "2026-12-08T14:36:25.000000001"},
        {"%F %H %Z", "2026-12-08 14 UTC-05:30:15", "2026-12-08T14:00:00-05:30:15"},
        {"%F %H %z", "2026-12-08 14 -25", "out of range at 14 (%z) offset 25"},
        {"%F %H %z", "2026-12-08 14 +2400", "2026-12-08T14:00:00+24:00"},
        {"%e.%m.%Y", " 8.12.2026", "2026-12-08"},
        {"%F\t%R", "2026-12-08 \n 14:36", "2026-12-08T14:36:00"},
        // Where and why reading stops.
        {"%Y-%m-%d", "2026-13-08", "out of range at 5 (%m) month 13"},
        {"%Y-%m-%d", "2026-02-30", "out of range at 8 (%d) day 30"},
        {"%Y-%j", "2026-366", "out of range at 5 (%j) day of year 366"},
        {"%G-W%V-%u", "2025-W53-1", "out of range at 6 (%V) ISO week 53"},
        {"%a %F", "Mon 2026-12-08", "contradiction at 0 (%a) weekday 8"},
        {"%F %j", "2026-12-08 341", "contradiction at 11 (%j) day of year 341"},
        {"%s %Y", "0 1971", "contradiction at 2 (%Y) year 1971"},
        {"%y %Y-%m-%d", "27 2026-12-08", "contradiction at 0 (%y) year 27"},
        {"%m %b %Y %d", "12 Nov 2026 08", "contradiction at 3 (%b) month 11"},
        {"%H %I %p %F", "13 01 AM 2026-12-08", "contradiction at 6 (%p) AM/PM 0"},
        {"%I %p %F", "13 PM 2026-12-08", "out of range at 0 (%I) hour 13"},
        {"%d %e %m %Y", "08  9 12 2026", "contradiction at 4 (%e) day 9"},
        {"%Y-%m-%d %H:%M:%S %0e", "2000-01-01 00:00:00 02", "contradiction at 20 (%0e) day 2"},
        {"%Y/%m/%d %H.%M.%S", "2024/02/29 23.59.59", "2024-02-29T23:59:59"},
        {"%d.%m.%Y %H:%M:%S", "01.01.0000 00:00:00", "0000-01-01T00:00:00"},
        {"%Y-%m-%d %H:%M:%S", "2026-02-29 00:00:00", "out of range at 8 (%d) day 29"},
        {"%Y-%m-%d %H:%M:%S", "12026-02-28 00:00:00", "12026-02-28T00:00:00"},
        {"%Y-%m-%d", "2026-12-08 ", "leftover at 10 ()"},
        {"%Y-%m-%d", "2026-12-", "truncated at 8 (%d)"},
        {"%Y-%m-%d", "2026-12-\xd9\xa8", "mismatch at 8 (%d)"},
        {"%F %T", "2026-12-08 24:00:00", "out of range at 11 (%T) hour 24"},
        {"%F %T", "2026-12-08 23:59:60", "out of range at 17 (%T) second 60"},
        {"%Y-%m-%d", "99999999999999999999-01-01", "out of range at 0 (%Y) year 9999999999"},
        {"%s", "-99999999999999999999", "out of range at 0 (%s) Unix time -99999999999999999"},
    };
    // The column readers' shortcut, where it takes a text, reads what the
    // reader reads.
    int shortcuts = 0;
    for (const Case &c : cases) {
        const auto p = Pattern::compile(c.pattern);
        ASSERT_TRUE(p.has_value()) << c.pattern;
        EXPECT_EQ(reading(*p, c.text), c.expected) << c.pattern << " " << c.text;
        if (std::int64_t seconds; p->reads_plain_instants() && p->read_plain_instant(c.text, seconds)) {
            const auto r = p->read(c.text);
            EXPECT_TRUE(r && unix_timestamp(DateTime{r->date, r->time}) - r->offset.seconds == seconds)
                << c.pattern << " " << c.text;
            ++shortcuts;
        }
    }
    EXPECT_EQ(shortcuts, 5);
}

TEST(Pattern, Compiles) {
    struct Case {
        const char *pattern;
        TextKind kind;
        bool keeps;
    };
    const Case cases[] = {
        {"%Y-%m-%d", TextKind::Date, true},
        {"%Y%m%d", TextKind::Date, false},
        {"%y-%m-%d", TextKind::Date, false},
        {"%H:%M", TextKind::Time, false},
        {"%H:%M:%S%.f", TextKind::Time, true},
        {"%I:%M:%S%9f %p", TextKind::Time, true},
        {"%F %T%.f", TextKind::DateTime, true},
        {"%F %T%.f %z", TextKind::OffsetDateTime, true},
        {"%F %T.%6f %z", TextKind::OffsetDateTime, false},
        {"%F %T %.f .", TextKind::DateTime, false},
        {"%F %T%.f .", TextKind::DateTime, true},
        {"%s", TextKind::DateTime, false},
        {"%s%.f", TextKind::DateTime, true},
        {"%s %Z", TextKind::OffsetDateTime, false},
        {"%s%Z%z%.f", TextKind::OffsetDateTime, false},
        {"%G-W%V-%u %T%.f", TextKind::DateTime, true},
        {"%-m/%-d/%Y", TextKind::Date, true},
        {"%-m%d%Y", TextKind::Date, false},
    };
    for (const Case &c : cases) {
        const auto p = Pattern::compile(c.pattern);
        ASSERT_TRUE(p.has_value()) << c.pattern;
        EXPECT_EQ(p->kind(), c.kind) << c.pattern;
        EXPECT_EQ(p->keeps_every_field(), c.keeps) << c.pattern;
    }
    struct Refused {
        const char *pattern;
        PatternFault fault;
        std::uint32_t position;
        const char *directive;
    };
    const Refused refused[] = {
        {"%Y-%Q", PatternFault::UnknownDirective, 3, "%Q"},
        {"%Y-%-f", PatternFault::UnknownDirective, 3, "%-f"},
        {"%Y-%4f", PatternFault::UnknownDirective, 3, "%4"},
        {"%F %:H", PatternFault::UnknownDirective, 3, "%:H"},
        {"%F %", PatternFault::LonePercent, 3, "%"},
        {"%F %Y", PatternFault::RepeatedField, 3, "%Y"},
        {"%z %:z %F %T", PatternFault::RepeatedField, 3, "%:z"},
        {"%T %X", PatternFault::RepeatedField, 3, "%X"},
        {"%b %d", PatternFault::PartialDate, 0, ""},
        {"%b %d %H:%M", PatternFault::PartialDate, 0, ""},
        {"%Y-%V-%u", PatternFault::PartialDate, 0, ""},
        {"%F %M:%S", PatternFault::PartialTime, 3, ""},
        {"%F %I:%M", PatternFault::PartialTime, 3, ""},
        {"%F %z", PatternFault::PartialTime, 3, ""},
        {"%T %z", PatternFault::PartialDate, 3, ""},
        {"today", PatternFault::NoDateOrTime, 0, ""},
        {"", PatternFault::NoDateOrTime, 0, ""},
    };
    for (const Refused &c : refused) {
        const auto p = Pattern::compile(c.pattern);
        ASSERT_FALSE(p.has_value()) << c.pattern;
        EXPECT_EQ(p.error().fault, c.fault) << c.pattern;
        EXPECT_EQ(p.error().position, c.position) << c.pattern;
        EXPECT_EQ(p.error().directive, c.directive) << c.pattern;
    }
}

TEST(Pattern, Writes) {
    struct Case {
        const char *pattern;
        PatternValue value;
        const char *expected;
    };
    const DateTime dt{{2026, 12, 8}, {14, 36, 25, 123000000}};
    const Case cases[] = {
        {"%Y-%m-%d %H:%M:%S.%f", PatternValue::of(dt), "2026-12-08 14:36:25.123000"},
        {"%a %A %h %B %e %j %p %I %3f %Y", PatternValue::of(dt), "Tue Tuesday Dec December  8 342 PM 02 123 2026"},
        {"%G-W%V-%u %U %W %w %y %C", PatternValue::of(dt), "lacks %C"},
        {"%G-W%V-%u %U %W %w %y", PatternValue::of(Date{2021, 1, 3}), "2020-W53-7 01 00 0 21"},
        {"%G %Y %y %-m %_d", PatternValue::of(Date{-1, 1, 1}), "-002 -001 01 1  1"},
        {"%-G %_Y %m %d", PatternValue::of(Date{-1, 1, 1}), "-2   -1 01 01"},
        {"%G %F", PatternValue::of(Date{INT32_MAX, 12, 31}), "2147483648 2147483647-12-31"},
        {"%s %z %Z", PatternValue::of(dt, UtcOffset{-(5 * 3600 + 30 * 60 + 15)}), "1796760400 -053015 UTC-05:30:15"},
        {"%Z %Z", PatternValue::at_zone(dt, UtcOffset{3600}, "CET"), "lacks %Z"},
        {"%F %T %Z", PatternValue::at_zone(dt, UtcOffset{3600}, "CET"), "2026-12-08 14:36:25 CET"},
        {"%F %T %Z", PatternValue::of(dt, UtcOffset{0}), "2026-12-08 14:36:25 UTC"},
        {"%F %T%z", PatternValue::of(dt), "lacks %z"},
        {"%F %H", PatternValue::of(dt.date), "lacks %H"},
        {"%c%n%t%%", PatternValue::of(dt), "Tue Dec  8 14:36:25 2026\n\t%"},
    };
    for (const Case &c : cases) {
        const auto p = Pattern::compile(c.pattern);
        if (!p) {
            EXPECT_EQ(std::string("lacks ") + std::string(p.error().directive), c.expected);
            continue;
        }
        EXPECT_EQ(written(*p, c.value), c.expected) << c.pattern;
    }
}

// Every value written by a pattern that keeps every field reads back to
// itself, over the whole range; and every digit run is read in one pass.
TEST(Pattern, RoundTrips) {
    const char *patterns[] = {"%Y-%m-%dT%H:%M:%S%.f%z",
                              "%G-W%V-%u %T.%9f %:z",
                              "%Y %j %I:%M:%S%.f %p %Z",
                              "%a %d %B %Y %T%.f",
                              "%Y %U %A %T%.f",
                              "%Y %W %u %T%.f",
                              "%s.%9f %z"};
    std::mt19937_64 random(20261208);
    for (const char *text : patterns) {
        const auto p = Pattern::compile(text);
        ASSERT_TRUE(p && p->keeps_every_field()) << text;
        for (int i = 0; i < 20000; ++i) {
            const i64 day =
                kMinDayNumber + 1 + static_cast<i64>(random() % static_cast<u64>(kMaxDayNumber - kMinDayNumber - 1));
            const auto date = *from_days_since_unix_epoch(i % 3 == 0 ? day : day % 800000);
            const Time time = Time::from_second_of_day(static_cast<std::uint32_t>(random() % 86400),
                                                       static_cast<std::uint32_t>(random() % 1000000000));
            const UtcOffset offset{static_cast<std::int32_t>(random() % 172801) - 86400};
            const auto value = PatternValue::of(DateTime{date, time}, offset);
            const std::string s = written(*p, value);
            const auto back = p->read(s);
            ASSERT_TRUE(back.has_value()) << text << " " << s << " " << reading(*p, s);
            EXPECT_EQ(back->date, date) << s;
            EXPECT_EQ(back->time, time) << s;
            if (p->kind() == TextKind::OffsetDateTime) {
                EXPECT_EQ(back->offset, offset) << s;
            }
        }
    }
    const auto p = Pattern::compile("%Y %m %d");
    for (const char fill : {' ', '0', '9'}) EXPECT_FALSE(p->read(std::string(1 << 20, fill)).has_value());
}

}  // namespace
}  // namespace merandol
