#include "core/rfc9557.hpp"

#include <gtest/gtest.h>

namespace merandol {
namespace {

TEST(Rfc9557, ReadsTheOffsetAsWrittenAndTheZone) {
    const struct {
        std::string_view text;
        Rfc9557Offset kind;
        std::int32_t offset;
        std::string_view zone;
        bool critical, zone_is_offset;
    } cases[] = {
        {"2026-12-08T15:36:25+01:00[Europe/Paris]", Rfc9557Offset::Minutes, 3600, "Europe/Paris", false, false},
        {"2026-12-08T14:36:25Z[!Europe/Paris][u-ca=iso8601]", Rfc9557Offset::Utc, 0, "Europe/Paris", true, false},
        {"1850-01-01T00:00:00+00:09:21[Europe/Paris][x=y-1]", Rfc9557Offset::Seconds, 561, "Europe/Paris", false,
         false},
        {"2026-12-08T15:36:25[Etc/GMT+5][u-ca=ISO8601][u-ca=hebrew]", Rfc9557Offset::None, 0, "Etc/GMT+5", false,
         false},
        {"2026-12-08 15:36:25-0530[-01:30]", Rfc9557Offset::Minutes, -19800, "-01:30", false, true},
        {"2026-12-08T15:36:25Z[.a/_b.../..c]", Rfc9557Offset::Utc, 0, ".a/_b.../..c", false, false},
    };
    for (const auto &c : cases) {
        const auto r = read_rfc9557(c.text);
        ASSERT_TRUE(r.has_value()) << c.text;
        EXPECT_EQ(r->offset_kind, c.kind) << c.text;
        EXPECT_EQ(r->offset.seconds, c.offset) << c.text;
        EXPECT_EQ(r->zone, c.zone) << c.text;
        EXPECT_EQ(r->zone_critical, c.critical) << c.text;
        EXPECT_EQ(r->zone_is_offset, c.zone_is_offset) << c.text;
    }
    EXPECT_EQ(read_rfc9557("2026-12-08T15:36:25[-01:30]")->zone_offset.seconds, -5400);
}

TEST(Rfc9557, RefusesEachFaultAtItsPlace) {
    const std::pair<std::string_view, Rfc9557Error> cases[] = {
        {" 2026-12-08T15:36:25Z[UTC]", {Rfc9557Fault::DateTime, 0}},
        {"2026-12-08T15:36:25Z", {Rfc9557Fault::NoZone, 20}},
        {"2026-12-08T15:36:25Z[u-ca=iso8601]", {Rfc9557Fault::NoZone, 20}},
        {"2026-12-08T15:36:25Z[Europe/../Paris]", {Rfc9557Fault::BadZone, 21}},
        {"2026-12-08T15:36:25Z[Europe/.]", {Rfc9557Fault::BadZone, 21}},
        {"2026-12-08T15:36:25Z[Europe//Paris]", {Rfc9557Fault::BadZone, 21}},
        {"2026-12-08T15:36:25Z[/Paris]", {Rfc9557Fault::BadZone, 21}},
        {"2026-12-08T15:36:25Z[Europe/]", {Rfc9557Fault::BadZone, 21}},
        {"2026-12-08T15:36:25Z[Europe/-Paris]", {Rfc9557Fault::BadZone, 21}},
        {"2026-12-08T15:36:25Z[1UTC]", {Rfc9557Fault::BadZone, 21}},
        {"2026-12-08T15:36:25Z[+24:00]", {Rfc9557Fault::BadZone, 21}},
        {"2026-12-08T15:36:25Z[UTC", {Rfc9557Fault::BadZone, 20}},
        {"2026-12-08T15:36:25Z[UTC][Key=v]", {Rfc9557Fault::BadAnnotation, 26}},
        {"2026-12-08T15:36:25Z[UTC][k=v--w]", {Rfc9557Fault::BadAnnotation, 26}},
        {"2026-12-08T15:36:25Z[UTC][k=v] ", {Rfc9557Fault::BadAnnotation, 30}},
        {"2026-12-08T15:36:25Z[UTC][!k=v]", {Rfc9557Fault::UnknownCritical, 26}},
        {"2026-12-08T15:36:25Z[UTC][u-ca=hebrew]", {Rfc9557Fault::Calendar, 31}},
        {"2026-12-08T15:36:25Z[UTC][!u-ca=iso8601][u-ca=iso8601]", {Rfc9557Fault::CalendarConflict, 40}},
    };
    for (const auto &[text, error] : cases) {
        const auto r = read_rfc9557(text);
        ASSERT_FALSE(r.has_value()) << text;
        EXPECT_EQ(r.error().fault, error.fault) << text;
        EXPECT_EQ(r.error().position, error.position) << text;
    }
}

}  // namespace
}  // namespace merandol
