// An instant, as whole seconds from the Unix epoch and a nanosecond, in
// units of a fraction of a second: the one conversion that the column
// readers (Arrow's and numpy's) share.
#pragma once

#include <cstdint>

#include "core/time.hpp"

namespace merandol {

// The instant in units of NanosPerUnit nanoseconds, the nanosecond's rest
// below the unit dropped (which floors: the nanosecond is never negative);
// false when it does not fit 64 bits or is INT64_MIN, which numpy takes for
// NaT, so that a column reads the same into Arrow and into numpy.
template <std::int64_t NanosPerUnit>
[[gnu::always_inline]] constexpr bool instant_to_units(std::int64_t seconds, std::uint32_t nanosecond,
                                                       std::int64_t &out) noexcept {
    constexpr std::int64_t kPerSecond = kNanosPerSecond / NanosPerUnit;
    static_assert(kPerSecond * NanosPerUnit == kNanosPerSecond);
    // Before the epoch a fraction is taken from the next second up, so that
    // the seconds alone do not overflow near the lower end of the range.
    std::int64_t fraction = nanosecond / NanosPerUnit, units;
    if (seconds < 0 && fraction != 0) seconds += 1, fraction -= kPerSecond;
    if (__builtin_mul_overflow(seconds, kPerSecond, &units) || __builtin_add_overflow(units, fraction, &units) ||
        units == INT64_MIN)
        return false;
    out = units;
    return true;
}

static_assert([] {
    std::int64_t out = 0;
    return instant_to_units<1000>(-1, 999999999, out) && out == -1;  // 1969-12-31T23:59:59.999999999Z in us
}());

}  // namespace merandol
