#include "core/named_forms.hpp"

#include <gtest/gtest.h>

#include <string>

namespace merandol {
namespace {

using Reader = std::expected<TextValue, TextError> (*)(std::string_view) noexcept;

// A reading as one line: the value in merandol's text with its kind's
// letter, or the fault, its position and what it names.
std::string reading(Reader read, std::string_view text) {
    const auto r = read(text);
    char buffer[64];
    if (!r) {
        constexpr const char *kFaults[] = {"mismatch", "range", "contradiction", "leftover", "ended"};
        const TextError &e = r.error();
        std::string out = std::string(kFaults[static_cast<unsigned>(e.fault)]) + "@" + std::to_string(e.position);
        if (!e.field.empty()) out += " " + std::string(e.field);
        if (e.fault == TextFault::OutOfRange) out += " " + std::to_string(e.value);
        return out;
    }
    std::string out(buffer, write_date(buffer, r->date));
    if (r->kind == TextKind::Date) return out;
    out += "T" + std::string(buffer, write_time(buffer, r->time));
    if (r->kind == TextKind::DateTime) return out;
    return out + std::string(buffer, write_offset(buffer, r->offset)) + "/" + std::to_string(r->offset.seconds);
}

struct Case {
    Reader read;
    std::string_view text;
    std::string_view expected;
};

TEST(NamedForms, Readings) {
    const Reader iso = read_iso8601, email = read_rfc2822, http = read_http_date;
    const Case cases[] = {
        {iso, "2020-W53-7", "2021-01-03"},
        {iso, "2026-342", "2026-12-08"},
        {iso, "2024366", "2024-12-31"},
        {iso, "-001-03-01", "-001-03-01"},
        {iso, "+12026-12-08", "12026-12-08"},
        {iso, "20261208t143625,5", "2026-12-08T14:36:25.5"},
        {iso, "2026-12-08T14:36:25.123456789Z", "2026-12-08T14:36:25.123456789+00:00/0"},
        {iso, "2026-12-08T14:36+01:30:15.000", "2026-12-08T14:36:00+01:30/5415"},
        {iso, "2026-12-32", "range@8 day 32"},
        {iso, "2026-13-08", "range@5 month 13"},
        {iso, "2027-W53-1", "range@6 week 53"},
        {iso, "2026-W50-8", "range@9 weekday 8"},
        {iso, "2026-366", "range@5 day of the year 366"},
        {iso, "2147483648-01-01", "range@0 year 2147483648"},
        {iso, "2147483647-W53", "range@12 week 53"},
        {iso, "2147483647-12-31T24:00", "range@17 hour 24"},
        {iso, "2026-12-08T24:00:01", "range@11 hour 24"},
        {iso, "2026-12-08T14:36:60", "range@17 second 60"},
        {iso, "2026-12-08T14:36:25.1234567890", "mismatch@29 at most nine digits"},
        {iso, "2026-12-08T14:36.5", "mismatch@16 'Z', '+' or '-'"},
        {iso, "2026-12-08T14:36+01:30:15.5", "mismatch@26 an offset of whole seconds"},
        {iso, "2026-12-08T14:36+01:60", "range@20 offset minute 60"},
        {iso, "2026-12-08T14:36+01:3015", "leftover@22"},
        {iso, "2026-12-08x14", "mismatch@10 'T' or a space"},
        {iso, "202612", "ended@6"},
        {iso, "202612081", "mismatch@8 'T' or a space"},
        {iso, "26-12-08", "mismatch@2 a digit"},
        {iso, std::string_view("2026-12-08T14:36Z\0", 18), "leftover@17"},
        {email, " (c) Tue (\\) (x)),8 dec 26 14 : 36 (y) GMT (z) ", "2026-12-08T14:36:00+00:00/0"},
        {email, "8 Dec 50 14:36 EDT", "1950-12-08T14:36:00-04:00/-14400"},
        {email, "8 Dec 126 14:36 Z", "2026-12-08T14:36:00+00:00/0"},
        {email, "Wed, 08 Dec -001 14:36 pst", "-001-12-08T14:36:00-08:00/-28800"},
        {email, "Mon, 08 Dec 2026 14:36:25 +0100", "contradiction@0 weekday"},
        {email, "Tue, 08 Dec 2026 14:36:25 J", "mismatch@26 a zone"},
        {email, "Tue, 08 Dec 2026 14:36:25 +2400", "range@27 offset hour 24"},
        {email, "Tue, 08 Dec 2026 14:36:25 +0100 (open", "ended@37"},
        {email, "Tue, 32 Dec 2026 14:36:25 +0100", "range@5 day 32"},
        {http, "Thursday, 01-Jan-70 00:00:00 GMT", "1970-01-01T00:00:00"},
        {http, "Wed, 08 Dec 12026 14:36:25 GMT", "contradiction@0 weekday"},
        {http, "Tue, 08 Dec 2026 14:36:25 UTC", "mismatch@26 'GMT'"},
        {http, "Tue, 08 Dec 2026 14:36 GMT", "mismatch@22 ':'"},
        {http, "Tue Dec  8 14:36:25 2026 ", "leftover@24"},
        {http, "Tue, 08 Dec 2026 14:36:60 GMT", "range@23 second 60"},
    };
    for (const auto &[read, text, expected] : cases) EXPECT_EQ(reading(read, text), expected) << text;
}

// The ends of what the writers are given (the fuzz target and the
// standard library's writers check the rest).
TEST(NamedForms, Writers) {
    char buffer[kRfc2822TextMax];
    const DateTime dt{{2026, 12, 8}, {14, 36, 25, 5}};
    EXPECT_EQ(std::string_view(buffer, write_rfc2822(buffer, dt, UtcOffset{-5430})), "Tue, 08 Dec 2026 14:36:25 -0130");
    EXPECT_EQ(std::string_view(buffer, write_http_date(buffer, {{-2147483648, 1, 1}, {}})),
              "Tue, 01 Jan -2147483648 00:00:00 GMT");
}

}  // namespace
}  // namespace merandol
