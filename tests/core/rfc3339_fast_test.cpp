// The fast path of RFC 3339 instants against the full reader: on a table of
// edge shapes and on many mutations of generated texts, every kernel this
// processor runs either answers with the instant parse_rfc3339 gives or
// leaves the text to it, and the kernels answer alike.

#include "core/rfc3339_fast.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/rfc3339.hpp"

namespace merandol {
namespace {

constexpr FastKernel kKernels[] = {FastKernel::Scalar, FastKernel::Sse42, FastKernel::Avx2};

const char *kernel_name(FastKernel k) {
    return k == FastKernel::Scalar ? "scalar" : k == FastKernel::Sse42 ? "sse4.2" : "avx2";
}

std::optional<Rfc3339Instant> full_reader(std::string_view text) {
    const auto v = parse_rfc3339(text);
    if (!v) return std::nullopt;
    return Rfc3339Instant{unix_timestamp(*v), v->utc.time.nanosecond, v->offset.seconds};
}

// A kernel's answer for `text`, loaded from a window whose bytes past the
// text are `filler`: what lies there must not change the answer.
std::optional<Rfc3339Instant> kernel_reads(FastKernel kernel, std::string_view text, char filler) {
    if (text.size() > kFastTextMax) return std::nullopt;  // refused before any load
    char window[kFastWindow + kFastTextMax];
    std::memset(window, filler, sizeof window);
    std::memcpy(window, text.data(), text.size());
    Rfc3339Instant out;
    if (!fast_reader(kernel)(window, text.size(), out)) return std::nullopt;
    return out;
}

// Every property of the two paths on one text; returns whether the fast
// path answered.
bool check_roads(std::string_view text) {
    const auto expected = full_reader(text);
    std::optional<std::optional<Rfc3339Instant>> first;
    for (FastKernel kernel : kKernels) {
        if (!fast_kernel_supported(kernel)) continue;
        for (char filler : {'0', '\xff'}) {
            const auto fast = kernel_reads(kernel, text, filler);
            if (fast) {
                EXPECT_TRUE(expected.has_value()) << kernel_name(kernel) << " accepts \"" << text << "\"";
                if (expected) {
                    EXPECT_EQ(*fast, *expected) << kernel_name(kernel) << " on \"" << text << "\"";
                }
            }
            if (!first) first = fast;
            EXPECT_EQ(fast.has_value(), first->has_value()) << kernel_name(kernel) << " on \"" << text << "\"";
            if (fast && *first) {
                EXPECT_EQ(*fast, **first) << kernel_name(kernel) << " on \"" << text << "\"";
            }
        }
    }
    // The batch, the text in every lane and then in every other lane beside
    // a text of the shape: each lane answers as the kernel's reader does.
    // Its bounded reader gets the text at the very end of its
    // buffer.
    if (text.size() <= kFastTextMax) {
        char window[kFastWindow + kFastTextMax] = {};
        std::memcpy(window, text.data(), text.size());
        const std::vector<char> alone(text.begin(), text.end());
        static constexpr char kOtherWindow[kFastWindow + 1] = "1987-06-05T04:03:02.1-09:30";
        static constexpr std::string_view kOther(kOtherWindow);
        const auto other = full_reader(kOther);
        const bool fast = first && first->has_value();
        for (FastKernel kernel : kKernels) {
            if (!fast_kernel_supported(kernel)) continue;
            for (bool bounded : {false, true}) {
                for (unsigned every : {1u, 2u}) {
                    const char *texts[kFastBatch];
                    std::size_t sizes[kFastBatch];
                    for (std::size_t i = 0; i < kFastBatch; ++i) {
                        const bool mine = i % every == 0;
                        texts[i] = mine ? (bounded ? alone.data() : window) : kOther.data();
                        sizes[i] = mine ? text.size() : kOther.size();
                    }
                    FastBatch out;
                    const unsigned read =
                        (bounded ? fast_batch_reader_bounded(kernel) : fast_batch_reader(kernel))(texts, sizes, out);
                    for (std::size_t i = 0; i < kFastBatch; ++i) {
                        const bool mine = i % every == 0;
                        const auto &expected_here = mine ? (fast ? **first : Rfc3339Instant{}) : *other;
                        const char *path = bounded ? " batch bounded, lane " : " batch, lane ";
                        EXPECT_EQ((read >> i & 1) != 0, mine ? fast : true)
                            << kernel_name(kernel) << path << i << " \"" << text << "\"";
                        if ((read >> i & 1) != 0) {
                            EXPECT_EQ(out.seconds[i], expected_here.seconds)
                                << kernel_name(kernel) << path << i << " \"" << text << "\"";
                            EXPECT_EQ(out.nanosecond[i], expected_here.nanosecond)
                                << kernel_name(kernel) << path << i << " \"" << text << "\"";
                        }
                    }
                }
            }
        }
    }
    // The whole reader, with the text at the very end of its buffer (a copy)
    // and in a longer one.  At the end of its buffer each kernel's bounded
    // reader answers as the kernel does (and under AddressSanitizer
    // a load past the text would stop the test).
    std::vector<char> exact(text.begin(), text.end());
    Rfc3339Instant out;
    for (FastKernel kernel : kKernels) {
        if (!fast_kernel_supported(kernel) || text.size() > kFastTextMax) continue;
        const bool bounded = fast_reader_bounded(kernel)(exact.data(), exact.size(), out);
        EXPECT_EQ(bounded, first && first->has_value()) << kernel_name(kernel) << " bounded \"" << text << "\"";
        if (bounded && first && *first) {
            EXPECT_EQ(out, **first) << kernel_name(kernel) << " bounded \"" << text << "\"";
        }
    }
    const std::string_view at_end(exact.data(), exact.size());
    const bool read = read_rfc3339_instant(at_end, out);
    EXPECT_EQ(read, expected.has_value()) << "\"" << text << "\"";
    if (read && expected) {
        EXPECT_EQ(out, *expected) << "\"" << text << "\"";
    }
    std::string padded(text);
    padded.resize(text.size() + kFastWindow, 'Z');
    const bool read_padded = read_rfc3339_instant(std::string_view(padded.data(), text.size()), padded.size(), out);
    EXPECT_EQ(read_padded, expected.has_value()) << "\"" << text << "\"";
    if (read_padded && expected) {
        EXPECT_EQ(out, *expected) << "\"" << text << "\"";
    }
    return first && first->has_value();
}

// The kernels rank Scalar < Sse42 < Avx2: the best is the highest this
// processor runs.
TEST(FastRfc3339, ChoosesTheBestSupportedKernel) {
    const FastKernel best = best_fast_kernel();
    EXPECT_TRUE(fast_kernel_supported(best)) << kernel_name(best);
    for (FastKernel k : kKernels) EXPECT_FALSE(k > best && fast_kernel_supported(k)) << kernel_name(k) << " runs";
}

TEST(FastRfc3339, EdgeShapes) {
    struct Case {
        const char *text;
        bool fast;  // the fast path answers (the full reader then agrees)
    };
    const Case cases[] = {
        // The writers' shapes, every fraction width and both zones.
        {"2024-03-10T12:00:00Z", true},
        {"2024-03-10T12:00:00.1Z", true},
        {"2024-03-10T12:00:00.12Z", true},
        {"2024-03-10T12:00:00.123Z", true},
        {"2024-03-10T12:00:00.1234Z", true},
        {"2024-03-10T12:00:00.12345Z", true},
        {"2024-03-10T12:00:00.123456Z", true},
        {"2024-03-10T12:00:00.1234567Z", true},
        {"2024-03-10T12:00:00.12345678Z", true},
        {"2024-03-10T12:00:00.123456789Z", true},
        {"2024-03-10T12:00:00+05:30", true},
        {"2024-03-10T12:00:00.5-08:00", true},
        {"2024-03-10T12:00:00.999999999+23:59", true},
        {"2024-03-10T12:00:00.000000001-23:59", true},
        {"2024-03-10T12:00:00-00:00", true},
        // Variants the full reader reads alike.
        {"2024-03-10 12:00:00Z", true},
        {"2024-03-10T12:00:00z", true},
        {"2024-03-10 12:00:00.25+01:00", true},
        // The ends of the fields.
        {"0000-01-01T00:00:00Z", true},
        {"9999-12-31T23:59:59.999999999Z", true},
        {"0000-01-01T00:00:00+23:59", true},
        {"9999-12-31T23:59:59-23:59", true},
        {"2024-02-29T00:00:00Z", true},
        {"2000-02-29T00:00:00Z", true},
        {"1900-02-28T00:00:00Z", true},
        {"2024-04-30T00:00:00Z", true},
        {"2024-12-31T00:00:00Z", true},
        {"1969-12-31T23:59:59.999999999Z", true},
        // Fields out of range: left to the full reader, which refuses them.
        {"2023-02-29T00:00:00Z", false},
        {"1900-02-29T00:00:00Z", false},
        {"2024-04-31T00:00:00Z", false},
        {"2024-00-10T00:00:00Z", false},
        {"2024-13-10T00:00:00Z", false},
        {"2024-01-00T00:00:00Z", false},
        {"2024-01-32T00:00:00Z", false},
        {"2024-01-01T24:00:00Z", false},
        {"2024-01-01T00:60:00Z", false},
        {"2024-01-01T00:00:60Z", false},
        {"2024-01-01T00:00:00+24:00", false},
        {"2024-01-01T00:00:00+00:60", false},
        // Near misses of the shape, read or refused by the full reader.
        {"2024-01-01T00:00:00.Z", false},
        {"2024-01-01T00:00:00.1234567890Z", false},
        {"2024-01-01T00:00:00,5Z", false},
        {"2024-01-01t00:00:00Z", false},
        {"2024-01-01T00:00:00", false},
        {"2024-01-01T00:00:00+0530", false},
        {"2024-01-01T00:00:00+05", false},
        {"2024-01-01T00:00:00+5:30", false},
        {"2024-01-01T00:00:00*05:30", false},
        {"2024-01-01T00:00:00+05-30", false},
        {"2024-01-01T0:00:00Z", false},
        {"24-01-01T00:00:00Z", false},
        {"+2024-01-01T00:00:00Z", false},
        {"12024-01-01T00:00:00Z", false},
        {"-0001-01-01T00:00:00Z", false},
        {" 2024-01-01T00:00:00Z", false},
        {"2024-01-01T00:00:00Z ", false},
        {"2024-01-01T00:00:00Z\n", false},
        {"2024-01-01T00:00:00ZZ", false},
        {"2024-01-01T00:00:00.1+05:30Z", false},
        {"2024-01-01T00:00:00\xef\xbc\x90Z", false},
        {"2024-01-01T00:00:0\xb0Z", false},
        {"2024/01/01T00:00:00Z", false},
        {"2024-01-01T00:00:00.12345678901+05:30", false},
        {"", false},
        {"Z", false},
    };
    for (const auto &c : cases) EXPECT_EQ(check_roads(c.text), c.fast) << "\"" << c.text << "\"";
    // The instant itself, against the arithmetic of a known text: 1 March
    // 2000 is day 11017, and the offset moves it back.
    Rfc3339Instant out;
    ASSERT_TRUE(read_fast_rfc3339("2000-03-01T01:02:03.5+01:30", out));
    EXPECT_EQ(out, (Rfc3339Instant{11017 * 86400 + 3723 - 5400, 500000000, 5400}));
}

// Texts near the shape: random fields around the ends of their ranges, every
// fraction width from none to ten, either separator and zone.
std::string near_shape(std::mt19937_64 &rng) {
    auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    char buffer[64];
    const int year = pick(0, 3) == 0 ? pick(0, 9999) : pick(1890, 2110);
    int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d%c%02d:%02d:%02d", year, pick(0, 13), pick(0, 32),
                          pick(0, 5) == 0 ? ' ' : 'T', pick(0, 24), pick(0, 60), pick(0, 60));
    const int digits = pick(0, 10);
    if (digits > 0) {
        buffer[n++] = '.';
        for (int i = 0; i < digits; ++i) buffer[n++] = static_cast<char>('0' + pick(0, 9));
    }
    if (pick(0, 2) == 0)
        buffer[n++] = pick(0, 3) == 0 ? 'z' : 'Z';
    else
        n += std::snprintf(buffer + n, sizeof buffer - static_cast<std::size_t>(n), "%c%02d:%02d",
                           pick(0, 1) ? '+' : '-', pick(0, 24), pick(0, 60));
    return std::string(buffer, static_cast<std::size_t>(n));
}

// One to three random edits: a byte replaced (from bytes that matter to the
// shape, or any byte), inserted or removed.
void mutate(std::string &s, std::mt19937_64 &rng) {
    static constexpr char kBytes[] = "0123456789-:.T tZz+,\xc2\xa0\xff";
    auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    auto byte = [&] { return pick(2) == 0 ? static_cast<char>(pick(256)) : kBytes[pick(sizeof kBytes - 1)]; };
    const std::size_t edits = 1 + pick(3);
    for (std::size_t e = 0; e < edits; ++e) {
        switch (pick(3)) {
            case 0:
                if (!s.empty()) s[pick(s.size())] = byte();
                break;
            case 1: s.insert(s.begin() + static_cast<std::ptrdiff_t>(pick(s.size() + 1)), byte()); break;
            default:
                if (!s.empty()) s.erase(s.begin() + static_cast<std::ptrdiff_t>(pick(s.size())));
                break;
        }
    }
}

TEST(FastRfc3339, AgreesWithTheFullReaderOnMutatedTexts) {
    std::mt19937_64 rng(20241208);
    std::size_t fast = 0, total = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string text = near_shape(rng);
        fast += check_roads(text);
        mutate(text, rng);
        fast += check_roads(text);
        total += 2;
        if (::testing::Test::HasFailure()) break;
    }
    // Most texts near the shape must take the fast path, or the comparison
    // says little.
    EXPECT_GT(fast, total / 10) << fast << " of " << total;
}

}  // namespace
}  // namespace merandol
