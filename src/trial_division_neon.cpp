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
    static constexpr int shared_vectors = 12;

    static vec broadcast(double x)
    {
        return vdupq_n_f64(x);
    }

    static vec lane_numbers(void)
    {
        return vsetq_lane_f64(1, vdupq_n_f64(0), 1);
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
    // each FRECPS (2 - d*r, fused) and a product.
    static mask dividing_by_reciprocal(vec n, vec d)
    {
        vec r = vrecpeq_f64(d);
        r = vmulq_f64(r, vrecpsq_f64(d, r));
        r = vmulq_f64(r, vrecpsq_f64(d, r));
        return lanes_dividing_by<neon_blocks>(n, d, r);
    }

    static mask undivided_by_shared(mask apart, vec n, vec r, vec d, vec offset)
    {
        return lanes_undivided_by_shared<neon_blocks>(apart, n, r, d, offset);
    }

    static vec multiply_add(vec a, vec b, vec c)
    {
        return vfmaq_f64(c, a, b);
    }

    static mask zero_lanes(vec v)
    {
        return vceqzq_f64(v);
    }

    static mask unequal_lanes_of(mask m, vec a, vec b)
    {
        return vbicq_u64(m, vceqq_f64(a, b));
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

    static void store(double *to, vec v)
    {
        vst1q_f64(to, v);
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

trial_steps steps_on_neon(trial_path path)
{
    return steps_among<neon_blocks, trial_path::neon_divider_heavy, trial_path::neon_fma_only>(path);
}

#endif
