// The vector paths of trial division, one file per instruction set:
// trial_division_avx2.cpp, trial_division_avx512.cpp and
// trial_division_neon.cpp, each the block arithmetic of its family for the
// step loops of trial_division_steps.hpp. Why their verdicts are exact, the
// portable path and the choice among the paths are in trial_division.cpp.
#pragma once

#include <cstddef>

#include "prime_search.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define X86_VECTOR_PATHS
#endif

#if defined(__aarch64__)
#define NEON_VECTOR_PATHS
#endif

// The blocks each step of path gives the divider and the FMA units.
struct block_mix {
    int division_blocks, fma_blocks;
};

// path's mix, as its name in prime_search.hpp says.
constexpr block_mix mix_of(trial_path path) noexcept
{
    switch (path) {
    case trial_path::avx2_divider_heavy:
    case trial_path::avx512_divider_heavy:
        return {2, 1};
    case trial_path::avx2_balanced:
    case trial_path::avx512_balanced:
        return {1, 1};
    case trial_path::avx2_fma_heavy:
    case trial_path::avx512_fma_heavy:
        return {1, 2};
    case trial_path::avx512_divider_leaning:
        return {3, 2};
    case trial_path::neon_divider_heavy:
        return {6, 2};
    case trial_path::neon_fma_only:
        return {0, 8};
    default:
        // The portable path and AVX2 on the divider alone.
        return {4, 0};
    }
}

// The step loops of one path (see trial_division_steps.hpp): whether some d
// with 2 <= d <= top divides n, for 4 <= n < 2^53 and 2 <= top <=
// floor(sqrt(n)); and the primes among a batch of candidates, on a family
// without FMA side by side in lanes, on one with FMA by divisors shared
// among candidates of one top. Of the last two, the one the family lacks is
// null.
struct trial_steps {
    bool (*has_divisor)(double n, double top);
    size_t (*primes_in_lanes)(const double *candidates, const double *tops, size_t count, double *primes);
    size_t (*primes_sharing_divisors)(double first, size_t count, double top, double *primes);
};

// has_trial_divisor_on and primes_among_on, on the step loops steps, which
// this CPU must be able to run: the tests run them on a family of their own.
bool has_trial_divisor_with(const trial_steps &steps, double candidate);
size_t primes_among_with(const trial_steps &steps, double first, size_t count, double *primes);

// The step loops of path on each family's blocks, for a path of that family;
// the CPU must support it to run them.
#if defined(X86_VECTOR_PATHS)
trial_steps steps_on_avx2(trial_path path);
trial_steps steps_on_avx512(trial_path path);
#endif

#if defined(NEON_VECTOR_PATHS)
trial_steps steps_on_neon(trial_path path);
#endif
