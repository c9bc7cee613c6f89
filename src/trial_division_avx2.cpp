// The AVX2 paths of trial division, for x86 CPUs with AVX2 and FMA: blocks of
// four divisors, on the divider alone or mixed with blocks for the FMA units.
// Why their verdicts are exact: the top of src/trial_division.cpp.
#include "trial_division_paths.hpp"

#if defined(X86_VECTOR_PATHS)

#include <cstdint>
#include <immintrin.h>

// Everything below, to the end of the file and the step loops included, is
// compiled for AVX2 and FMA.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC target("avx2,fma")
#endif

#include "trial_division_steps.hpp"

namespace {

// For each set of lanes, as the four bits of a lane mask, the orders that
// move lanes with _mm256_permutevar8x32_ps, which moves the two halves of
// each double as two 32-bit lanes: gather puts the lanes of the set first,
// in order, and spread puts the first lanes, in order, into those of the set.
struct lane_orders {
    int32_t gather[16][8];
    int32_t spread[16][8];
};

// Builds lane_orders; the lanes it leaves unused take lane 0.
constexpr lane_orders make_lane_orders(void)
{
    lane_orders orders = {};
    for (size_t set = 0; set < 16; set++) {
        size_t taken = 0;
        for (size_t lane = 0; lane < 4; lane++) {
            if ((set >> lane & 1) == 0)
                continue;
            orders.gather[set][2 * taken] = static_cast<int32_t>(2 * lane);
            orders.gather[set][2 * taken + 1] = static_cast<int32_t>(2 * lane + 1);
            orders.spread[set][2 * lane] = static_cast<int32_t>(2 * taken);
            orders.spread[set][2 * lane + 1] = static_cast<int32_t>(2 * taken + 1);
            taken++;
        }
    }
    return orders;
}

constexpr lane_orders orders = make_lane_orders();

// v with its lanes in the order of permutation, from lane_orders.
__m256d permuted(__m256d v, const int32_t *permutation)
{
    __m256i order = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(permutation));
    return _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(v), order));
}

// The lanes set in m, as the four bits of a number.
int lane_set(__m256i m)
{
    return _mm256_movemask_pd(_mm256_castsi256_pd(m));
}

// The family of four-lane blocks, for the step loops (see
// trial_division_steps.hpp). A mask is a vector of whole numbers whose lanes
// are all ones or all zeros.
struct avx2_blocks {
    using vec = __m256d;
    using mask = __m256i;
    static constexpr int width = 4;
    // A tile of a cohort: six vectors, whose six masks, the broadcasts and
    // the constant fit in the sixteen registers with the candidates. On an
    // Intel Xeon, forced onto this path, the searches ran 28 % faster than
    // with twelve, 10 % faster than with eight, and as fast as with four or
    // five.
    static constexpr int shared_vectors = 6;

    static vec broadcast(double x)
    {
        return _mm256_set1_pd(x);
    }

    static vec lane_numbers(void)
    {
        return _mm256_setr_pd(0, 1, 2, 3);
    }

    static vec at_least(vec d, double low)
    {
        return _mm256_max_pd(d, _mm256_set1_pd(low));
    }

    // The plain test: the quotient equals its floor.
    static mask dividing_by_division(vec n, vec d)
    {
        vec quotient = _mm256_div_pd(n, d);
        return _mm256_castpd_si256(_mm256_cmp_pd(quotient, _mm256_floor_pd(quotient), _CMP_EQ_OQ));
    }

    // AVX2 has no reciprocal estimate for doubles, so the first one comes from
    // the divisor rounded to a float, and two Newton steps follow.
    static mask dividing_by_reciprocal(vec n, vec d)
    {
        const vec one = _mm256_set1_pd(1);
        vec r = _mm256_cvtps_pd(_mm_rcp_ps(_mm256_cvtpd_ps(d)));
        r = _mm256_fmadd_pd(r, _mm256_fnmadd_pd(d, r, one), r);
        r = _mm256_fmadd_pd(r, _mm256_fnmadd_pd(d, r, one), r);
        return lanes_dividing_by<avx2_blocks>(n, d, r);
    }

    static mask undivided_by_shared(mask apart, vec n, vec r, vec d, vec offset)
    {
        return lanes_undivided_by_shared<avx2_blocks>(apart, n, r, d, offset);
    }

    static vec multiply_add(vec a, vec b, vec c)
    {
        return _mm256_fmadd_pd(a, b, c);
    }

    static mask zero_lanes(vec v)
    {
        return _mm256_castpd_si256(_mm256_cmp_pd(v, _mm256_setzero_pd(), _CMP_EQ_OQ));
    }

    static mask unequal_lanes_of(mask m, vec a, vec b)
    {
        return _mm256_and_si256(m, _mm256_castpd_si256(_mm256_cmp_pd(a, b, _CMP_NEQ_UQ)));
    }

    static bool any(mask m)
    {
        return _mm256_testz_si256(m, m) == 0;
    }

    static int count(mask m)
    {
        return __builtin_popcount(static_cast<unsigned>(lane_set(m)));
    }

    static mask below_two(vec d)
    {
        return _mm256_castpd_si256(_mm256_cmp_pd(d, _mm256_set1_pd(2), _CMP_LT_OQ));
    }

    static vec load(const double *from)
    {
        return _mm256_loadu_pd(from);
    }

    static void store(double *to, vec v)
    {
        _mm256_storeu_pd(to, v);
    }

    static vec refill(vec v, mask m, const double *from)
    {
        vec spread = permuted(_mm256_loadu_pd(from), orders.spread[lane_set(m)]);
        return _mm256_blendv_pd(v, spread, _mm256_castsi256_pd(m));
    }

    static void append(double *to, mask m, vec v)
    {
        _mm256_storeu_pd(to, permuted(v, orders.gather[lane_set(m)]));
    }
};

} // namespace

trial_steps steps_on_avx2(trial_path path)
{
    return steps_among<avx2_blocks, trial_path::avx2, trial_path::avx2_divider_heavy,
                       trial_path::avx2_balanced, trial_path::avx2_fma_heavy>(path);
}

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
