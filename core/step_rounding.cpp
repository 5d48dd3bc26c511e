#include "core/step_rounding.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#define MERANDOL_STEP_ROUNDING_X86 1
#endif

namespace merandol {

// Quotients up to 2^50: the count, the step's inverse and their product are
// each rounded once to 53 bits, so the estimate is off by at most
// 3 * 2^-53 * 2^50 = 0.375 and its nearest integer is the floor of the true
// quotient or one more.
inline constexpr std::int64_t kEstimatedQuotientMax = std::int64_t{1} << 50;

#if MERANDOL_STEP_ROUNDING_X86

// Every step in 64-bit lanes, which wrap: the product of the estimate and
// the step may pass 64 bits at the ends, but the remainder it leaves is
// small and exact modulo 2^64.
[[gnu::target("avx512f,avx512dq")]] static bool round_avx512(const void *in, std::int64_t *out, std::size_t n,
                                                             const StepRounding &r) noexcept {
    const auto *counts = static_cast<const std::int64_t *>(in);
    const __m512i step = _mm512_set1_epi64(r.step);
    const __m512i lowest = _mm512_set1_epi64(r.lowest), highest = _mm512_set1_epi64(r.highest);
    const __m512i nat = _mm512_set1_epi64(INT64_MIN), zero = _mm512_setzero_si512(), one = _mm512_set1_epi64(1);
    const __m512d inverse = _mm512_set1_pd(1.0 / static_cast<double>(r.step));
    __mmask8 refused = 0;
    for (std::size_t i = 0; i < n; i += 8) {
        const __mmask8 lanes = n - i >= 8 ? 0xFF : static_cast<__mmask8>((1u << (n - i)) - 1);
        const __m512i v = _mm512_maskz_loadu_epi64(lanes, counts + i);
        __m512i quotient = _mm512_cvt_roundpd_epi64(_mm512_mul_pd(_mm512_cvtepi64_pd(v), inverse),
                                                    _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        __m512i below = _mm512_sub_epi64(v, _mm512_mullo_epi64(quotient, step));
        const __mmask8 over = _mm512_cmplt_epi64_mask(below, zero);
        below = _mm512_mask_add_epi64(below, over, below, step);
        quotient = _mm512_mask_sub_epi64(quotient, over, quotient, one);
        const __m512i above = _mm512_sub_epi64(step, below);
        __mmask8 up;
        __mmask8 unsettled = _mm512_cmplt_epi64_mask(below, zero) | _mm512_cmpge_epi64_mask(below, step) |
                             _mm512_cmplt_epi64_mask(v, lowest) | _mm512_cmpgt_epi64_mask(v, highest);
        if (r.directed) {
            up = r.up ? _mm512_cmpneq_epi64_mask(below, zero) : 0;
        } else {
            const __mmask8 tie = _mm512_cmpeq_epi64_mask(below, above);
            up = _mm512_cmpgt_epi64_mask(below, above);
            switch (r.ties) {
                case Ties::Down: break;
                case Ties::Up: up |= tie; break;
                // Up from an odd multiple, to the even one above.
                case Ties::ToEven: up |= tie & _mm512_test_epi64_mask(quotient, one); break;
                case Ties::ToCaller: unsettled |= tie; break;
            }
        }
        const __m512i result = _mm512_mask_blend_epi64(up, _mm512_sub_epi64(v, below), _mm512_add_epi64(v, above));
        // A step up that wrapped lies below the count, one down above it.
        unsettled |= (up & _mm512_cmplt_epi64_mask(result, v)) | (~up & _mm512_cmpgt_epi64_mask(result, v)) |
                     _mm512_cmplt_epi64_mask(result, lowest) | _mm512_cmpgt_epi64_mask(result, highest);
        const __mmask8 is_nat = _mm512_cmpeq_epi64_mask(v, nat);
        refused |= lanes & unsettled & ~is_nat;
        _mm512_mask_storeu_epi64(out + i, lanes, _mm512_mask_blend_epi64(is_nat, result, nat));
    }
    return refused == 0;
}

#endif  // MERANDOL_STEP_ROUNDING_X86

StepRoundingKernel step_rounding_kernel(const StepRounding &r) noexcept {
#if MERANDOL_STEP_ROUNDING_X86
    // Beyond 2^50 steps either way the estimate may be more than a half off.
    const bool estimable =
        r.step > 0 && r.highest / r.step <= kEstimatedQuotientMax && r.lowest / r.step >= -kEstimatedQuotientMax;
    __builtin_cpu_init();
    if (estimable && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) return round_avx512;
#endif
    (void)r;
    return nullptr;
}

}  // namespace merandol
