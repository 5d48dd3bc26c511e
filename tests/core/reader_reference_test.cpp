// The date and time readers against plain references written straight from
// their grammars, over canonical texts and random mutations of them, so that
// the fixed-position fast paths and the general readers cannot disagree.

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/date.hpp"
#include "core/datetime.hpp"
#include "core/rfc3339.hpp"
#include "core/time.hpp"

namespace merandol {
namespace {

std::optional<std::int64_t> number(const std::string &s) {
    if (s.empty() || s.size() > 30) return std::nullopt;  // long runs are rejected by range anyway
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > 100000000000) return std::nullopt;
    }
    return v;
}

std::optional<Date> reference_date(const std::string &s) {
    if (s.size() < 2) return std::nullopt;
    std::size_t start = 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        start = 1;
    }
    std::vector<std::size_t> dashes;
    for (std::size_t i = 1; i < s.size(); ++i)
        if (s[i] == '-') dashes.push_back(i);
    if (dashes.size() != 2) return std::nullopt;
    const auto y = number(s.substr(start, dashes[0] - start));
    const auto m = number(s.substr(dashes[0] + 1, dashes[1] - dashes[0] - 1));
    const auto d = number(s.substr(dashes[1] + 1));
    if (!y || !m || !d) return std::nullopt;
    const std::int64_t year = negative ? -*y : *y;
    if (year < INT32_MIN || year > INT32_MAX || *m < 1 || *m > 12 || *d < 1) return std::nullopt;
    if (*d > days_in_month(static_cast<std::int32_t>(year), static_cast<unsigned>(*m))) return std::nullopt;
    return Date{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(*m), static_cast<std::uint8_t>(*d)};
}

std::optional<Time> reference_time(const std::string &s) {
    if (s.empty() || s[0] == '.') return std::nullopt;
    const std::size_t dot = s.find('.');
    const std::string main = s.substr(0, dot);
    std::vector<std::size_t> colons;
    for (std::size_t i = 0; i < main.size(); ++i)
        if (main[i] == ':') colons.push_back(i);
    if (colons.size() != 2) return std::nullopt;
    const auto h = number(main.substr(0, colons[0]));
    const auto m = number(main.substr(colons[0] + 1, colons[1] - colons[0] - 1));
    const auto sec = number(main.substr(colons[1] + 1));
    if (!h || !m || !sec || *h > 23 || *m > 59 || *sec > 59) return std::nullopt;
    std::uint32_t ns = 0;
    if (dot != std::string::npos) {
        const std::string fraction = s.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 9) return std::nullopt;
        const auto f = number(fraction);
        if (!f) return std::nullopt;
        ns = static_cast<std::uint32_t>(*f);
        for (std::size_t i = fraction.size(); i < 9; ++i) ns *= 10;
    }
    return Time{static_cast<std::uint8_t>(*h), static_cast<std::uint8_t>(*m), static_cast<std::uint8_t>(*sec), ns};
}

// "…Z" or "…z": the date before the first "T" (else the first space), the
// time after it.
std::optional<DateTime> reference_datetime(const std::string &s) {
    if (s.empty() || (s.back() != 'Z' && s.back() != 'z')) return std::nullopt;
    const std::string body = s.substr(0, s.size() - 1);
    std::size_t sep = body.find('T');
    if (sep == std::string::npos) sep = body.find(' ');
    if (sep == std::string::npos) return std::nullopt;
    const auto date = reference_date(body.substr(0, sep));
    const auto time = reference_time(body.substr(sep + 1));
    if (!date || !time) return std::nullopt;
    return DateTime{*date, *time};
}

// "+HH", "+HHMM" or "+H[H]:[M[M]]", hours at most 23, minutes at most 59;
// the offset in seconds.
std::optional<std::int32_t> reference_offset(const std::string &s) {
    if (s.size() < 2 || (s[0] != '+' && s[0] != '-')) return std::nullopt;
    const std::string body = s.substr(1);
    std::string hours, minutes;
    if (const std::size_t colon = body.find(':'); colon != std::string::npos) {
        hours = body.substr(0, colon);
        minutes = body.substr(colon + 1);
        if (hours.empty() || hours.size() > 2 || minutes.size() > 2) return std::nullopt;
    } else if (body.size() == 2 || body.size() == 4) {
        hours = body.substr(0, 2);
        minutes = body.substr(2);
    } else {
        return std::nullopt;
    }
    const auto h = number(hours);
    const auto m = minutes.empty() ? std::optional<std::int64_t>(0) : number(minutes);
    if (!h || !m || *h > 23 || *m > 59) return std::nullopt;
    const auto magnitude = static_cast<std::int32_t>(*h * 3600 + *m * 60);
    return s[0] == '-' ? -magnitude : magnitude;
}

// Spaces trimmed; the date before the first "T" (else the first space);
// then "Z", "z" or the offset from the last sign; the time in between; the
// local reading moved back by the offset.
std::optional<OffsetDateTime> reference_rfc3339(std::string s) {
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    std::size_t sep = s.find('T');
    if (sep == std::string::npos) sep = s.find(' ');
    if (sep == std::string::npos) return std::nullopt;
    const auto date = reference_date(s.substr(0, sep));
    const std::string rest = s.substr(sep + 1);
    std::string time_text;
    std::optional<std::int32_t> offset = 0;
    if (!rest.empty() && (rest.back() == 'Z' || rest.back() == 'z')) {
        time_text = rest.substr(0, rest.size() - 1);
    } else {
        const std::size_t sign = rest.find_last_of("+-");
        if (sign == std::string::npos) return std::nullopt;
        time_text = rest.substr(0, sign);
        offset = reference_offset(rest.substr(sign));
    }
    const auto time = reference_time(time_text);
    if (!date || !time || !offset) return std::nullopt;
    const auto utc = from_unix_timestamp(unix_timestamp(DateTime{*date, *time}) - *offset,
                                         static_cast<std::int32_t>(time->nanosecond));
    if (!utc) return std::nullopt;
    return OffsetDateTime{*utc, UtcOffset{*offset}};
}

// A canonical date-time text with a fraction of zero to nine digits.
std::string canonical_datetime(std::mt19937_64 &rng) {
    char base[32];
    std::snprintf(base, sizeof base, "%04d-%02d-%02dT%02d:%02d:%02d", static_cast<int>(rng() % 10000),
                  static_cast<int>(rng() % 14), static_cast<int>(rng() % 33), static_cast<int>(rng() % 26),
                  static_cast<int>(rng() % 62), static_cast<int>(rng() % 62));
    std::string s = base;
    if (const int digits = static_cast<int>(rng() % 10); digits > 0) {
        s += '.';
        for (int k = 0; k < digits; ++k) s += static_cast<char>('0' + rng() % 10);
    }
    return s;
}

std::string mutate(std::string s, std::mt19937_64 &rng) {
    static const char alphabet[] = "0123456789-:.+ Tz9";
    const int edits = static_cast<int>(rng() % 3);
    for (int e = 0; e < edits && !s.empty(); ++e) {
        const std::size_t at = rng() % s.size();
        switch (rng() % 3) {
            case 0: s[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
            case 1: s.erase(at, 1); break;
            default: s.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
        }
    }
    return s;
}

TEST(ReaderReference, DatesAgree) {
    std::mt19937_64 rng(5);
    for (int i = 0; i < 400000; ++i) {
        char base[16];
        const int y = static_cast<int>(rng() % 10000), m = static_cast<int>(rng() % 14),
                  d = static_cast<int>(rng() % 33);
        std::snprintf(base, sizeof base, "%04d-%02d-%02d", y, m, d);
        const std::string s = mutate(base, rng);
        const auto ours = parse_date(s);
        const auto theirs = reference_date(s);
        ASSERT_EQ(ours.has_value(), theirs.has_value()) << '"' << s << '"';
        if (theirs) {
            ASSERT_EQ(*ours, *theirs) << s;
        }
    }
}

TEST(ReaderReference, TimesAgree) {
    std::mt19937_64 rng(6);
    for (int i = 0; i < 400000; ++i) {
        char base[32];
        const int h = static_cast<int>(rng() % 26), m = static_cast<int>(rng() % 62),
                  sec = static_cast<int>(rng() % 62);
        const int digits = static_cast<int>(rng() % 11);
        std::snprintf(base, sizeof base, "%02d:%02d:%02d", h, m, sec);
        std::string s = base;
        if (digits > 0) {
            s += '.';
            for (int k = 0; k < digits - 1; ++k) s += static_cast<char>('0' + rng() % 10);
        }
        s = mutate(s, rng);
        const auto ours = parse_time(s);
        const auto theirs = reference_time(s);
        ASSERT_EQ(ours.has_value(), theirs.has_value()) << '"' << s << '"';
        if (theirs) {
            ASSERT_EQ(*ours, *theirs) << s;
        }
    }
}

TEST(ReaderReference, DateTimesAgree) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 400000; ++i) {
        const std::string s = mutate(canonical_datetime(rng) + (i % 2 ? "Z" : "z"), rng);
        const auto ours = parse_datetime(s);
        const auto theirs = reference_datetime(s);
        ASSERT_EQ(ours.has_value(), theirs.has_value()) << '"' << s << '"';
        if (theirs) {
            ASSERT_EQ(*ours, *theirs) << s;
        }
    }
}

TEST(ReaderReference, Rfc3339Agrees) {
    std::mt19937_64 rng(8);
    for (int i = 0; i < 400000; ++i) {
        std::string s = canonical_datetime(rng);
        if (i % 4 == 0) {
            s += "Z";
        } else {
            char offset[8];
            std::snprintf(offset, sizeof offset, "%c%02d:%02d", i % 2 ? '+' : '-', static_cast<int>(rng() % 26),
                          static_cast<int>(rng() % 62));
            s += offset;
        }
        s = mutate(s, rng);
        const auto ours = parse_rfc3339(s);
        const auto theirs = reference_rfc3339(s);
        ASSERT_EQ(ours.has_value(), theirs.has_value()) << '"' << s << '"';
        if (theirs) {
            ASSERT_EQ(*ours, *theirs) << s;
        }
    }
}

}  // namespace
}  // namespace merandol
