// The NEON path of trial division, for every 64-bit ARM CPU: blocks of two
// divisors for the FMA units, which find the verdict without the divider. It
// is timed at start-up against the portable path, which is NEON on the
// divider alone there. Why its verdicts are exact: the top of
// src/trial_division.cpp.
#include "trial_division_paths.hpp"

#if defined(NEON_VECTOR_PATHS)

#include <arm_neon.h>

namespace {

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

} // namespace

// As the AVX-512 path with FMA blocks alone: each step tests block_count
// blocks of two, all taken from the step's one base, and the divisors left
// over go in blocks of two, the last one raised to 2.
bool has_divisor_neon(double n, double top)
{
    const int block_count = 8;
    const double divisors_per_step = 2.0 * block_count;
    const float64x2_t numerator = vdupq_n_f64(n), two = vdupq_n_f64(2);
    const float64x2_t step = vdupq_n_f64(divisors_per_step);
    float64x2_t base = {top, top - 1};
    double next = top;
    for (; next - (divisors_per_step - 1) >= 2; next -= divisors_per_step) {
        uint64x2_t found = vdupq_n_u64(0);
        for (int block = 0; block < block_count; block++)
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

#endif
