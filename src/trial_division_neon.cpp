// The NEON paths of trial division, for every 64-bit ARM CPU: blocks of two
// divisors, for the divider and for the FMA units, which find the verdict
// without it. They are timed at start-up against the portable path, which is
// NEON on the divider alone there. Why their verdicts are exact: the top of
// src/trial_division.cpp.
#include "trial_division_paths.hpp"

#if defined(NEON_VECTOR_PATHS)

#include <arm_neon.h>

#include "trial_division_steps.hpp"

namespace {

// The family of two-lane blocks, for the step loops (see
// trial_division_steps.hpp). A mask is a vector whose lanes are all ones or
// all zeros.
struct neon_blocks {
    using vec = float64x2_t;
    using mask = uint64x2_t;
    static constexpr int width = 2;

    static vec broadcast(double x)
    {
        return vdupq_n_f64(x);
    }

    static vec lane_numbers(void)
    {
        return vsetq_lane_f64(1, vdupq_n_f64(0), 1);
    }

    static vec minus(vec a, vec b)
    {
        return vsubq_f64(a, b);
    }

    static vec at_least(vec d, double low)
    {
        return vmaxq_f64(d, vdupq_n_f64(low));
    }

    // The plain test: the quotient equals its floor.
    static mask dividing_by_division(vec n, vec d)
    {
        vec quotient = vdivq_f64(n, d);
        return vceqq_f64(quotient, vrndmq_f64(quotient));
    }

    // FRECPE's estimate of 1/d, good to about 8 bits, and two Newton steps,
    // each FRECPS (2 - d*r, fused) and a product; then two exact remainders.
    static mask dividing_by_reciprocal(vec n, vec d)
    {
        const vec round_to_whole = vdupq_n_f64(6755399441055744.0);
        vec r = vrecpeq_f64(d);
        r = vmulq_f64(r, vrecpsq_f64(d, r));
        r = vmulq_f64(r, vrecpsq_f64(d, r));
        vec k0 = vsubq_f64(vfmaq_f64(round_to_whole, n, r), round_to_whole);
        vec remainder = vfmsq_f64(n, k0, d);
        vec k1 = vsubq_f64(vfmaq_f64(round_to_whole, remainder, r), round_to_whole);
        vec rest = vfmsq_f64(remainder, k1, d);
        return vceqzq_f64(rest);
    }

    static mask no_lanes(void)
    {
        return vdupq_n_u64(0);
    }

    static mask either(mask a, mask b)
    {
        return vorrq_u64(a, b);
    }

    static mask but_not(mask a, mask b)
    {
        return vbicq_u64(a, b);
    }

    static bool any(mask m)
    {
        return vmaxvq_u32(vreinterpretq_u32_u64(m)) != 0;
    }

    // Each set lane is -1 as a signed number.
    static int count(mask m)
    {
        return static_cast<int>(-vaddvq_s64(vreinterpretq_s64_u64(m)));
    }

    static mask below_two(vec d)
    {
        return vcltq_f64(d, vdupq_n_f64(2));
    }

    static vec load(const double *from)
    {
        return vld1q_f64(from);
    }

    // The first lane of m takes from[0]; the second takes from[1] when the
    // first took from[0], else from[0].
    static vec refill(vec v, mask m, const double *from)
    {
        vec next = vld1q_f64(from);
        vec spread = vbslq_f64(vdupq_laneq_u64(m, 0), next, vdupq_laneq_f64(next, 0));
        return vbslq_f64(m, spread, v);
    }

    // The first lane stored holds v's first lane if m has it, else its second.
    static void append(double *to, mask m, vec v)
    {
        vst1q_f64(to, vbslq_f64(vdupq_laneq_u64(m, 0), v, vdupq_laneq_f64(v, 1)));
    }
};

} // namespace

bool has_divisor_on_neon(trial_path path, double n, double top)
{
    if (path == trial_path::neon_divider_heavy)
        return has_divisor_in_steps<neon_blocks, 6, 2>(n, top);
    return has_divisor_in_steps<neon_blocks, 0, 8>(n, top);
}

size_t primes_in_lanes_on_neon(trial_path path, const double *candidates, const double *tops, size_t count,
                               double *primes)
{
    if (path == trial_path::neon_divider_heavy)
        return primes_in_lanes<neon_blocks, 6, 2>(candidates, tops, count, primes);
    return primes_in_lanes<neon_blocks, 0, 8>(candidates, tops, count, primes);
}

#endif
