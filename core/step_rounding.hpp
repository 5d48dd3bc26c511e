// A column of counts (a datetime64 column's values as they are) rounded to
// multiples of a step, eight at a time where the processor has AVX-512:
// each count's own remainder decides, against the step's halves, with a
// fixed way for ties.  The column readers keep their element-by-element
// loop for what the vectors leave: NaT passes through, and every other
// element they cannot settle (a count or result beyond the range, a tie
// whose way depends on more than the remainder) sends its block there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace merandol {

// Where a half-way remainder goes.
enum class Ties : std::uint8_t {
    Down,
    Up,
    // To the even multiple: the count's parity within a larger unit, which
    // is the quotient's where that unit holds an even number of steps.
    ToEven,
    // Left to the caller (half_even with an odd number of steps to the
    // larger unit).
    ToCaller,
};

struct StepRounding {
    std::int64_t step;  // > 0
    // The counts that are values, before and after rounding; NaT
    // (INT64_MIN) lies below them.
    std::int64_t lowest, highest;
    // Floor and ceil: only whether a remainder moves the count up.  (A
    // caller rounding readings passes trunc and expand as these, since a
    // reading's count within the larger unit is never negative, even where
    // the count itself is.)  Otherwise a remainder past half the step moves
    // it up, and `ties` says where a half goes.
    bool directed;
    bool up;
    Ties ties;
};

// Rounds the n counts at `in` (which need not be aligned) into out[0, n)
// and returns true; or returns false, out undefined, when an element other
// than NaT is not for it.
using StepRoundingKernel = bool (*)(const void *in, std::int64_t *out, std::size_t n, const StepRounding &r) noexcept;

// The vector kernel, where the processor has AVX-512 (F and DQ) and every
// count of [lowest, highest] is within 2^50 steps of zero, so that a
// double's quotient lies within a half of the true one; nullptr otherwise.
StepRoundingKernel step_rounding_kernel(const StepRounding &r) noexcept;

}  // namespace merandol
