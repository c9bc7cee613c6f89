// The NEON paths of trial division, for every 64-bit ARM CPU: blocks of two
// divisors, for the divider and for the FMA units, which find the verdict
// without it. They are timed at start-up against the portable path, which is
// NEON on the divider alone there. Why their verdicts are exact: the top of
// src/trial_division.cpp.
#include "trial_division_paths.hpp"

#if defined(NEON_VECTOR_PATHS)

#include <arm_neon.h>

namespace {

// Lanes of d that divide n, by the plain test: the quotient equals its floor.
uint64x2_t dividing_lanes_neon(float64x2_t n, float64x2_t d)
{
    float64x2_t quotient = vdivq_f64(n, d);
    return vceqq_f64(quotient, vrndmq_f64(quotient));
}

// Lanes of d that divide n, found with the FMA units instead of the divider,
// for the n and d of a trial division: FRECPE's estimate of 1/d, good to
// about 8 bits, and two Newton steps, each FRECPS (2 - d*r, fused) and a
// product.
uint64x2_t dividing_lanes_by_reciprocal_neon(float64x2_t n, float64x2_t d)
{
    const float64x2_t round_to_whole = vdupq_n_f64(6755399441055744.0);
    float64x2_t r = vrecpeq_f64(d);
    r = vmulq_f64(r, vrecpsq_f64(d, r));
    r = vmulq_f64(r, vrecpsq_f64(d, r));
    float64x2_t k0 = vsubq_f64(vfmaq_f64(round_to_whole, n, r), round_to_whole);
    float64x2_t remainder = vfmsq_f64(n, k0, d);
    float64x2_t k1 = vsubq_f64(vfmaq_f64(round_to_whole, remainder, r), round_to_whole);
    float64x2_t rest = vfmsq_f64(remainder, k1, d);
    return vceqzq_f64(rest);
}

// The divisors of block number block of a step whose first block is base:
// base - 2 * block, lane by lane. Computed from base alone, so that no block
// waits for the one before it.
float64x2_t block_divisors_neon(float64x2_t base, int block)
{
    return vsubq_f64(base, vdupq_n_f64(2.0 * block));
}

// True when any lane is set.
bool any_lane(uint64x2_t lanes)
{
    return vmaxvq_u32(vreinterpretq_u32_u64(lanes)) != 0;
}

// As the AVX2 and AVX-512 paths: each step sends division_blocks blocks of
// two to the divider and fma_blocks blocks to the FMA units, all taken from
// the step's one base, and the divisors left over go in blocks of two to the
// FMA units, the last one raised to 2.
template <int division_blocks, int fma_blocks> bool has_divisor_neon(double n, double top)
{
    const int block_count = division_blocks + fma_blocks;
    const double divisors_per_step = 2.0 * block_count;
    const float64x2_t numerator = vdupq_n_f64(n), two = vdupq_n_f64(2);
    const float64x2_t step = vdupq_n_f64(divisors_per_step);
    float64x2_t base = {top, top - 1};
    double next = top;
    for (; next - (divisors_per_step - 1) >= 2; next -= divisors_per_step) {
        uint64x2_t found = vdupq_n_u64(0);
        for (int block = 0; block < division_blocks; block++)
            found = vorrq_u64(found, dividing_lanes_neon(numerator, block_divisors_neon(base, block)));
        for (int block = division_blocks; block < block_count; block++)
            found = vorrq_u64(found,
                              dividing_lanes_by_reciprocal_neon(numerator, block_divisors_neon(base, block)));
        if (any_lane(found))
            return true;
        base = vsubq_f64(base, step);
    }
    for (; next >= 2; next -= 2) {
        if (any_lane(dividing_lanes_by_reciprocal_neon(numerator, vmaxq_f64(base, two))))
            return true;
        base = vsubq_f64(base, two);
    }
    return false;
}

} // namespace

bool has_divisor_on_neon(trial_path path, double n, double top)
{
    if (path == trial_path::neon_divider_heavy)
        return has_divisor_neon<6, 2>(n, top);
    return has_divisor_neon<0, 8>(n, top);
}

#endif
