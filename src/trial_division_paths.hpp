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

// For each family, on path, which must be one of the family's own paths and
// supported by this CPU: has_divisor_on_* is true when some d with
// 2 <= d <= top divides n, for 4 <= n < 2^53 and top = floor(sqrt(n)) >= 2;
// primes_in_lanes_on_* is primes_in_lanes of trial_division_steps.hpp.

#if defined(X86_VECTOR_PATHS)
bool has_divisor_on_avx2(trial_path path, double n, double top);
bool has_divisor_on_avx512(trial_path path, double n, double top);
size_t primes_in_lanes_on_avx2(trial_path path, const double *candidates, const double *tops, size_t count,
                               double *primes);
size_t primes_in_lanes_on_avx512(trial_path path, const double *candidates, const double *tops, size_t count,
                                 double *primes);
#endif

#if defined(NEON_VECTOR_PATHS)
bool has_divisor_on_neon(trial_path path, double n, double top);
size_t primes_in_lanes_on_neon(trial_path path, const double *candidates, const double *tops, size_t count,
                               double *primes);
#endif
