// The prime search: trial division in double precision, and the endless
// listing of every prime above a start value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

// Every whole number below this bound (2^53) is exact in a double; the search
// stops before its candidate would reach it.
constexpr double exact_limit = 9007199254740992.0;

// The ways of running the trial divisions of one candidate. All give the same
// verdicts; they differ in speed and in the CPUs they need. The mixes keep
// the divider and the FMA units busy at once, and differ in how many blocks of
// divisors each step gives to each (divider : FMA): blocks of four on AVX2,
// of two on 64-bit ARM, of eight on AVX-512, which come last.
enum class trial_path {
    portable,               // plain C++, any CPU
    avx2,                   // x86 with AVX2 and FMA: four divisions at a time, on the divider alone
    avx2_divider_heavy,     // x86 with AVX2 and FMA, 2 : 1
    avx2_balanced,          // x86 with AVX2 and FMA, 1 : 1
    avx2_fma_heavy,         // x86 with AVX2 and FMA, 1 : 2
    neon_divider_heavy,     // 64-bit ARM, 6 : 2
    neon_fma_only,          // 64-bit ARM, 0 : 8
    avx512_divider_heavy,   // x86 with AVX-512, 2 : 1
    avx512_divider_leaning, // x86 with AVX-512, 3 : 2
    avx512_balanced,        // x86 with AVX-512, 1 : 1
    avx512_fma_heavy,       // x86 with AVX-512, 1 : 2
};

// True when this CPU can run path.
bool trial_path_supported(trial_path path) noexcept;

// The fastest path this CPU supports. It times the AVX-512 paths, or where
// the CPU lacks AVX-512 the AVX2 ones, or on 64-bit ARM the NEON one and the
// portable path, on the same short run: a tenth of a millisecond on a fast
// CPU, a few on a slow one.
trial_path fastest_trial_path(void) noexcept;

// True when some whole number from floor(sqrt(candidate)) down to 2 divides
// candidate, trying them in that order and always trying the first one, even
// when it is below 2: so 1, 2 and 3 report true, while 0, whose first trial
// divisor is 0 and whose quotient 0/0 is not a number, reports false. From 4
// on, false means candidate is prime. Exact for every candidate from 0 below
// 2^53. Runs on path, which this CPU must support.
bool has_trial_divisor_on(trial_path path, double candidate);

// has_trial_divisor_on the fastest path this CPU supports.
bool has_trial_divisor(double candidate);

// The most candidates primes_among takes in one call.
constexpr size_t largest_batch = 4096;

// The most candidates batch_length gives above 2^32, where each candidate is
// a long search. From 10^12 they walk their divisors as one cohort: on an
// Intel Xeon 300 primes from 10^12 came as fast with batches of 256 as with
// 512 to 4096 (13.2 against 12.7 to 12.9 divisions per ns, best of 5), and
// their lines every 15 ms or so instead of every 0.2 s.
constexpr size_t largest_cohort = 256;

// How many candidates, from first on, a call of primes_among should take:
// largest_batch where each candidate takes at most some tens of thousands of
// divisions, so that they are tested together and the batch still takes a
// few milliseconds at most. Where each is a long search, on a CPU whose
// candidates share their divisors, as many as the chosen path would test
// alone in 2.5 s, some tens near 2^53, which shared take about half a
// second, and at most largest_cohort; otherwise one, so that every prime is
// written as soon as it is found.
size_t batch_length(double first);

// Stores at primes, in ascending order, each of the count candidates from
// first on for which has_trial_divisor_on(path, candidate) is false, and
// returns how many it stored. For 1 <= first, first + count <= 2^53 and
// count <= largest_batch; primes has room for count. Runs on path, which this
// CPU must support.
size_t primes_among_on(trial_path path, double first, size_t count, double *primes);

// primes_among_on the fastest path this CPU supports.
size_t primes_among(double first, size_t count, double *primes);

// The time of clock (CLOCK_MONOTONIC, say), in nanoseconds.
int64_t clock_ns(clockid_t clock) noexcept;

// Writes to standard output, one per line and in ascending order, every prime
// greater than start_value, which must be zero or a positive whole number.
// Returns once every prime below 2^53 above the start has been written.
void list_primes_after(double start_value);
