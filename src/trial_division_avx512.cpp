// The AVX-512 paths of trial division: blocks of eight divisors, some to the
// divider and the others to the FMA units, in the mixes timed at start-up.
// Why their verdicts are exact: the top of src/trial_division.cpp.
#include "trial_division_paths.hpp"

#if defined(X86_VECTOR_PATHS)

#include <immintrin.h>

// Everything below, to the end of the file and the step loops included, is
// compiled for AVX-512.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC target("avx512f")
#endif

#include "trial_division_steps.hpp"

namespace {

// GCC 12 warns that the AVX-512 intrinsics' own placeholder for "any value"
// may be used uninitialized; it is meant to be, and every lane is overwritten.
// Clang does not know that warning, and would warn about its name instead.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The family of eight-lane blocks, for the step loops (see
// trial_division_steps.hpp). A mask is the eight bits of a mask register,
// its own type, so that the compilers keep the shared walk's eight masks
// there (Clang's build ran 2 to 5 % behind GCC's with a whole number).
struct avx512_blocks {
    using vec = __m512d;
    using mask = __mmask8;
    static constexpr int width = 8;
    // A tile of a cohort: seven vectors, whose masks fill the seven mask
    // registers that can hold one (k0 cannot). With eight, GCC moved one
    // mask through a general register at every divisor: on an Intel Xeon
    // the searches ran 7 to 15 % slower.
    static constexpr int shared_vectors = 7;

    static vec broadcast(double x)
    {
        return _mm512_set1_pd(x);
    }

    static vec lane_numbers(void)
    {
        return _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
    }

    static vec at_least(vec d, double low)
    {
        return _mm512_max_pd(d, _mm512_set1_pd(low));
    }

    // The plain test: the quotient equals its floor.
    static mask dividing_by_division(vec n, vec d)
    {
        vec quotient = _mm512_div_pd(n, d);
        vec floor = _mm512_roundscale_pd(quotient, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        return _mm512_cmp_pd_mask(quotient, floor, _CMP_EQ_OQ);
    }

    // rcp14 and one Newton step.
    static mask dividing_by_reciprocal(vec n, vec d)
    {
        const vec one = _mm512_set1_pd(1);
        vec r = _mm512_rcp14_pd(d);
        r = _mm512_fmadd_pd(r, _mm512_fnmadd_pd(d, r, one), r);
        return lanes_dividing_by<avx512_blocks>(n, d, r);
    }

    static mask undivided_by_shared(mask apart, vec n, vec r, vec d, vec offset)
    {
        return lanes_undivided_by_shared<avx512_blocks>(apart, n, r, d, offset);
    }

    static vec multiply_add(vec a, vec b, vec c)
    {
        return _mm512_fmadd_pd(a, b, c);
    }

    static mask zero_lanes(vec v)
    {
        return _mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_EQ_OQ);
    }

    static mask unequal_lanes_of(mask m, vec a, vec b)
    {
        return _mm512_mask_cmp_pd_mask(m, a, b, _CMP_NEQ_UQ);
    }

    static bool any(mask m)
    {
        return m != 0;
    }

    static int count(mask m)
    {
        return __builtin_popcount(m);
    }

    static mask below_two(vec d)
    {
        return _mm512_cmp_pd_mask(d, _mm512_set1_pd(2), _CMP_LT_OQ);
    }

    static vec load(const double *from)
    {
        return _mm512_loadu_pd(from);
    }

    static void store(double *to, vec v)
    {
        _mm512_storeu_pd(to, v);
    }

    // The expansion runs in registers: from memory it is microcoded on some
    // CPUs.
    static vec refill(vec v, mask m, const double *from)
    {
        return _mm512_mask_expand_pd(v, m, _mm512_loadu_pd(from));
    }

    // The compression runs in registers, for the same reason.
    static void append(double *to, mask m, vec v)
    {
        _mm512_storeu_pd(to, _mm512_maskz_compress_pd(m, v));
    }
};

} // namespace

trial_steps steps_on_avx512(trial_path path)
{
    return steps_among<avx512_blocks, trial_path::avx512_divider_heavy, trial_path::avx512_divider_leaning,
                       trial_path::avx512_balanced, trial_path::avx512_fma_heavy>(path);
}

// The warning stays off to here: over the family, and the entry that
// instantiates the step loops with it.
#pragma GCC diagnostic pop

#if defined(__clang__)
#pragma clang attribute pop
#endif

#endif
