#include "core/step_rounding.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <random>

#include "core/calendar_arithmetic.hpp"

namespace merandol {
namespace {

// The kernel's rounding in round_to_multiple's words: its counts round as
// they are, so trunc and expand do not arise; None where it must refuse.
std::optional<std::int64_t> expected(std::int64_t v, const StepRounding &r) {
    if (v == INT64_MIN) return v;
    if (v < r.lowest || v > r.highest) return std::nullopt;
    const auto [quotient, below] = floor_divmod(v, r.step);
    if (!r.directed && r.ties == Ties::ToCaller && below == r.step - below) return std::nullopt;
    const RoundingMode mode = r.directed               ? (r.up ? RoundingMode::Ceil : RoundingMode::Floor)
                              : r.ties == Ties::Up     ? RoundingMode::HalfCeil
                              : r.ties == Ties::ToEven ? RoundingMode::HalfEven
                                                       : RoundingMode::HalfFloor;
    const auto rounded = round_to_multiple(v, r.step, mode);
    if (!rounded || *rounded < r.lowest || *rounded > r.highest) return std::nullopt;
    return *rounded;
}

// Blocks of eight (and shorter) counts of every kind the kernel meets: a
// block it takes must round each as the reference does, and one it refuses
// must hold a count the reference refuses too.
TEST(StepRounding, VectorKernelAgreesWithTheReference) {
    constexpr std::array<StepRounding, 1> probe{{{900'000'000'000, INT64_MIN + 1, INT64_MAX, true, false, Ties::Down}}};
    if (step_rounding_kernel(probe[0]) == nullptr) GTEST_SKIP() << "this processor has no AVX-512 (F and DQ)";
    std::mt19937_64 random(42);
    // 15 minutes and 20 minutes of nanoseconds (even and odd counts to the
    // hour), 12 seconds, a day, 2^13 ns, and seconds within the range.
    constexpr std::int64_t kSecondsMax = (std::int64_t{1} << 35);
    const std::array<std::array<std::int64_t, 3>, 6> ranges{{{900'000'000'000, INT64_MIN + 1, INT64_MAX},
                                                             {1'200'000'000'000, INT64_MIN + 1, INT64_MAX},
                                                             {12'000'000'000, INT64_MIN + 1, INT64_MAX},
                                                             {86'400'000'000'000, INT64_MIN + 1, INT64_MAX},
                                                             {8192, INT64_MIN + 1, INT64_MAX},
                                                             {900, -kSecondsMax, kSecondsMax}}};
    int taken = 0, refused = 0;
    for (const auto &[step, lowest, highest] : ranges)
        for (const bool directed : {true, false})
            for (const bool up : {false, true})
                for (const Ties ties : {Ties::Down, Ties::Up, Ties::ToEven, Ties::ToCaller}) {
                    if (directed && ties != Ties::Down) continue;
                    const StepRounding r{step, lowest, highest, directed, up, ties};
                    const StepRoundingKernel kernel = step_rounding_kernel(r);
                    ASSERT_NE(kernel, nullptr);
                    // Multiples near the epoch, within the counts.
                    const std::int64_t most = std::min<std::int64_t>(1000000, highest / step - 1);
                    auto count = [&]() -> std::int64_t {
                        const std::int64_t multiple =
                            static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(2 * most + 1)) - most;
                        switch (random() % 8) {
                            case 0: return INT64_MIN;
                            case 1: return static_cast<std::int64_t>(random());
                            case 2: return lowest + static_cast<std::int64_t>(random() % 3 * step / 2);
                            case 3: return highest - static_cast<std::int64_t>(random() % 3 * step / 2);
                            case 4: return multiple * step + step / 2;  // a tie where the step is even
                            case 5: return multiple * step + step / 2 + 1;
                            default:
                                return static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(highest)) *
                                       (random() % 2 ? 1 : -1);
                        }
                    };
                    for (int block = 0; block < 400; ++block) {
                        const std::size_t n = 1 + random() % 11;
                        std::array<std::int64_t, 11> in{}, out{};
                        bool any_refused = false;
                        for (std::size_t i = 0; i < n; ++i) {
                            in[i] = count();
                            any_refused |= !expected(in[i], r);
                        }
                        if (!kernel(in.data(), out.data(), n, r)) {
                            EXPECT_TRUE(any_refused)
                                << "a block refused with every count the reference's, step " << step;
                            ++refused;
                            continue;
                        }
                        ++taken;
                        for (std::size_t i = 0; i < n; ++i)
                            ASSERT_EQ(out[i], expected(in[i], r))
                                << "count " << in[i] << ", step " << step << ", ties " << static_cast<int>(ties);
                    }
                }
    EXPECT_GT(taken, 0);
    EXPECT_GT(refused, 0);
}

// Quotients past 2^50 would leave a double's estimate more than a half off.
TEST(StepRounding, NoVectorKernelForStepsTooShortForTheCounts) {
    EXPECT_EQ(step_rounding_kernel({4096, INT64_MIN + 1, INT64_MAX, true, false, Ties::Down}), nullptr);
    EXPECT_EQ(step_rounding_kernel({1, -(std::int64_t{1} << 51), 0, true, false, Ties::Down}), nullptr);
}

}  // namespace
}  // namespace merandol
