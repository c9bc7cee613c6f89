// The AVX2 paths of trial division, for x86 CPUs with AVX2 and FMA: blocks of
// four divisors, on the divider alone or mixed with blocks for the FMA units.
// Why their verdicts are exact: the top of src/trial_division.cpp.
#include "trial_division_paths.hpp"

#if defined(X86_VECTOR_PATHS)

#include <immintrin.h>

namespace {

// Lanes of d that divide n, by the plain test: the quotient equals its floor.
__attribute__((target("avx2"))) __m256d dividing_lanes_avx2(__m256d n, __m256d d)
{
    __m256d quotient = _mm256_div_pd(n, d);
    return _mm256_cmp_pd(quotient, _mm256_floor_pd(quotient), _CMP_EQ_OQ);
}

// Lanes of d that divide n, found with the FMA units instead of the divider,
// for the n and d of a trial division. AVX2 has no reciprocal estimate for
// doubles, so the first one comes from the divisor rounded to a float, and two
// Newton steps follow.
__attribute__((target("avx2,fma"))) __m256d dividing_lanes_by_reciprocal_avx2(__m256d n, __m256d d)
{
    const __m256d one = _mm256_set1_pd(1), round_to_whole = _mm256_set1_pd(6755399441055744.0);
    __m256d r = _mm256_cvtps_pd(_mm_rcp_ps(_mm256_cvtpd_ps(d)));
    r = _mm256_fmadd_pd(r, _mm256_fnmadd_pd(d, r, one), r);
    r = _mm256_fmadd_pd(r, _mm256_fnmadd_pd(d, r, one), r);
    __m256d k0 = _mm256_sub_pd(_mm256_fmadd_pd(n, r, round_to_whole), round_to_whole);
    __m256d remainder = _mm256_fnmadd_pd(k0, d, n);
    __m256d k1 = _mm256_sub_pd(_mm256_fmadd_pd(remainder, r, round_to_whole), round_to_whole);
    __m256d rest = _mm256_fnmadd_pd(k1, d, remainder);
    return _mm256_cmp_pd(rest, _mm256_setzero_pd(), _CMP_EQ_OQ);
}

// The divisors of block number block of a step whose first block is base:
// base - 4 * block, lane by lane. Computed from base alone, so that no block
// waits for the one before it.
__attribute__((target("avx2"))) __m256d block_divisors_avx2(__m256d base, int block)
{
    return _mm256_sub_pd(base, _mm256_set1_pd(4.0 * block));
}

// As has_divisor_portable, four divisors at a time. Each step sends
// division_blocks blocks to the divider and fma_blocks blocks to the FMA units,
// which work at the same time; the best proportion depends on the CPU. Only
// the base of each step is computed from the one before it.
template <int division_blocks, int fma_blocks>
__attribute__((target("avx2,fma"))) bool has_divisor_avx2(double n, double top)
{
    const int block_count = division_blocks + fma_blocks;
    const double divisors_per_step = 4.0 * block_count;
    const __m256d numerator = _mm256_set1_pd(n), two = _mm256_set1_pd(2);
    const __m256d step = _mm256_set1_pd(divisors_per_step), four = _mm256_set1_pd(4);
    __m256d base = _mm256_sub_pd(_mm256_set1_pd(top), _mm256_setr_pd(0, 1, 2, 3));
    double next = top;
    for (; next - (divisors_per_step - 1) >= 2; next -= divisors_per_step) {
        __m256d found = _mm256_setzero_pd();
        for (int block = 0; block < division_blocks; block++)
            found = _mm256_or_pd(found, dividing_lanes_avx2(numerator, block_divisors_avx2(base, block)));
        for (int block = division_blocks; block < block_count; block++)
            found = _mm256_or_pd(
                found, dividing_lanes_by_reciprocal_avx2(numerator, block_divisors_avx2(base, block)));
        if (!_mm256_testz_pd(found, found))
            return true;
        base = _mm256_sub_pd(base, step);
    }
    for (; next >= 2; next -= 4) {
        __m256d found = dividing_lanes_avx2(numerator, _mm256_max_pd(base, two));
        if (!_mm256_testz_pd(found, found))
            return true;
        base = _mm256_sub_pd(base, four);
    }
    return false;
}

} // namespace

bool has_divisor_on_avx2(trial_path path, double n, double top)
{
    switch (path) {
    case trial_path::avx2_divider_heavy:
        return has_divisor_avx2<2, 1>(n, top);
    case trial_path::avx2_balanced:
        return has_divisor_avx2<1, 1>(n, top);
    case trial_path::avx2_fma_heavy:
        return has_divisor_avx2<1, 2>(n, top);
    default:
        return has_divisor_avx2<4, 0>(n, top);
    }
}

#endif
