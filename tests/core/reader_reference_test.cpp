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

}  // namespace
}  // namespace merandol
