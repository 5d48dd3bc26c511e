// Floor division, the one way the core and the modules divide a signed
// count into whole units and a remainder.
#pragma once

namespace merandol {

// The quotient rounded toward negative infinity and the remainder in
// [0, b), for a positive divisor b.  A division by a constant compiles to a
// multiply by its reciprocal and one correction.
template <class T>
struct FloorDivided {
    T quotient, remainder;
};

template <class T>
constexpr FloorDivided<T> floor_divmod(T a, T b) noexcept {
    T quotient = a / b, remainder = a % b;
    if (remainder < 0) {
        quotient -= 1;
        remainder += b;
    }
    return {quotient, remainder};
}

static_assert(floor_divmod(-1, 1000).quotient == -1 && floor_divmod(-1, 1000).remainder == 999);
static_assert(floor_divmod(-1000, 1000).quotient == -1 && floor_divmod(-1000, 1000).remainder == 0);
static_assert(floor_divmod(999, 1000).quotient == 0 && floor_divmod(999, 1000).remainder == 999);

}  // namespace merandol
