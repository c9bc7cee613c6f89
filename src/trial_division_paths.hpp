// The vector paths of trial division, one file per instruction set:
// trial_division_avx2.cpp, trial_division_avx512.cpp and
// trial_division_neon.cpp. Why their verdicts are exact, the portable path
// and the choice among the paths are in trial_division.cpp.
#pragma once

#include "prime_search.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define X86_VECTOR_PATHS
#endif

#if defined(__aarch64__)
#define NEON_VECTOR_PATHS
#endif

// Each of these is true when some d with 2 <= d <= top divides n, for
// 4 <= n < 2^53 and top = floor(sqrt(n)) >= 2, found on path, which must be
// one of the function's own paths and supported by this CPU.

#if defined(X86_VECTOR_PATHS)
bool has_divisor_on_avx2(trial_path path, double n, double top);
bool has_divisor_on_avx512(trial_path path, double n, double top);
#endif

#if defined(NEON_VECTOR_PATHS)
bool has_divisor_on_neon(trial_path path, double n, double top);
#endif
