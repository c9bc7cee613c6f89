// The AVX-512 paths of trial division: blocks of eight divisors, some to the
// divider and the others to the FMA units, in the mixes timed at start-up.
// Why their verdicts are exact: the top of src/trial_division.cpp.
#include "trial_division_paths.hpp"

#if defined(X86_VECTOR_PATHS)

#include <immintrin.h>

namespace {

// GCC 12 warns that the AVX-512 intrinsics' own placeholder for "any value"
// may be used uninitialized; it is meant to be, and every lane is overwritten.
// Clang does not know that warning, and would warn about its name instead.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Lanes of d that divide n, by the plain test on the divider.
__attribute__((target("avx512f"))) __mmask8 dividing_lanes_by_division(__m512d n, __m512d d)
{
    __m512d quotient = _mm512_div_pd(n, d);
    __m512d floor = _mm512_roundscale_pd(quotient, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    return _mm512_cmp_pd_mask(quotient, floor, _CMP_EQ_OQ);
}

// Lanes of d that divide n, found with the FMA units instead of the divider,
// for the n and d of a trial division: rcp14 and one Newton step.
__attribute__((target("avx512f"))) __mmask8 dividing_lanes_by_reciprocal(__m512d n, __m512d d)
{
    const __m512d one = _mm512_set1_pd(1), round_to_whole = _mm512_set1_pd(6755399441055744.0);
    __m512d r = _mm512_rcp14_pd(d);
    r = _mm512_fmadd_pd(r, _mm512_fnmadd_pd(d, r, one), r);
    __m512d k0 = _mm512_sub_pd(_mm512_fmadd_pd(n, r, round_to_whole), round_to_whole);
    __m512d remainder = _mm512_fnmadd_pd(k0, d, n);
    __m512d k1 = _mm512_sub_pd(_mm512_fmadd_pd(remainder, r, round_to_whole), round_to_whole);
    __m512d rest = _mm512_fnmadd_pd(k1, d, remainder);
    return _mm512_cmp_pd_mask(rest, _mm512_setzero_pd(), _CMP_EQ_OQ);
}

// The divisors of block number block of a step whose first block is base:
// base - 8 * block, lane by lane. Computed from base alone, so that no block
// waits for the one before it.
__attribute__((target("avx512f"))) __m512d block_divisors_avx512(__m512d base, int block)
{
    return _mm512_sub_pd(base, _mm512_set1_pd(8.0 * block));
}

// True when some d with 2 <= d <= top divides n, eight divisors at a time.
// Each step sends division_blocks blocks to the divider and fma_blocks blocks
// to the FMA units, which work at the same time; the best proportion depends
// on the CPU. Only the base of each step is computed from the one before it.
template <int division_blocks, int fma_blocks>
__attribute__((target("avx512f"))) bool has_divisor_avx512(double n, double top)
{
    const int block_count = division_blocks + fma_blocks;
    const double divisors_per_step = 8.0 * block_count;
    const __m512d numerator = _mm512_set1_pd(n), two = _mm512_set1_pd(2);
    const __m512d step = _mm512_set1_pd(divisors_per_step), eight = _mm512_set1_pd(8);
    __m512d base = _mm512_sub_pd(_mm512_set1_pd(top), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    double next = top;
    for (; next - (divisors_per_step - 1) >= 2; next -= divisors_per_step) {
        __mmask8 found = 0;
        for (int block = 0; block < division_blocks; block++)
            found |= dividing_lanes_by_division(numerator, block_divisors_avx512(base, block));
        for (int block = division_blocks; block < block_count; block++)
            found |= dividing_lanes_by_reciprocal(numerator, block_divisors_avx512(base, block));
        if (found)
            return true;
        base = _mm512_sub_pd(base, step);
    }
    for (; next >= 2; next -= 8) {
        if (dividing_lanes_by_reciprocal(numerator, _mm512_max_pd(base, two)))
            return true;
        base = _mm512_sub_pd(base, eight);
    }
    return false;
}

#pragma GCC diagnostic pop

} // namespace

bool has_divisor_on_avx512(trial_path path, double n, double top)
{
    switch (path) {
    case trial_path::avx512_divider_leaning:
        return has_divisor_avx512<3, 2>(n, top);
    case trial_path::avx512_balanced:
        return has_divisor_avx512<1, 1>(n, top);
    case trial_path::avx512_fma_heavy:
        return has_divisor_avx512<1, 2>(n, top);
    default:
        return has_divisor_avx512<2, 1>(n, top);
    }
}

#endif
