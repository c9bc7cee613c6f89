// Divisions per nanosecond, shown as Gdiv (10^9 divisions) per second: each
// trial division path (each mix of divider and FMA blocks among the AVX2 and
// AVX-512 ones, and the NEON ones) and the plain form on primes of three
// sizes, the search on the fastest path over the runs users start, and the
// machine's peak rate of vector division; and how long the choice of the
// fastest path takes.
#include <cmath>

#include <benchmark/benchmark.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "plain_trial_division.hpp"
#include "prime_search.hpp"

namespace {

// Primes near 10^6, 10^12 and just below 2^53: each runs every trial divisor.
const double primes[] = {1000003.0, 1000000000039.0, 9007199254740881.0};

// Reports the rate of divisions of a loop that runs divisions_per_iteration
// in each iteration.
void report_rate(benchmark::State &state, double divisions_per_iteration)
{
    state.counters["Gdiv"] =
        benchmark::Counter(divisions_per_iteration / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}

// Trial division of one prime, by the plain form or by a path.
template <bool plain, trial_path path = trial_path::portable> void trial_division(benchmark::State &state)
{
    if (!plain && !trial_path_supported(path)) {
        state.SkipWithError("this CPU lacks the path");
        return;
    }
    double candidate = primes[state.range(0)];
    for (auto _ : state) {
        benchmark::DoNotOptimize(candidate);
        bool verdict = plain ? plain_has_trial_divisor(candidate) : has_trial_divisor_on(path, candidate);
        benchmark::DoNotOptimize(verdict);
    }
    report_rate(state, std::floor(std::sqrt(candidate)) - 1);
}

// The runs users start, from the first candidate after the start value to a
// known last prime, each with the divisions the plain form makes over its
// candidates (for each, its top floor(sqrt(n)) down to its largest divisor not
// above it, or down to 2), counted apart from the program.
struct start_run {
    double first, last, plain_divisions;
};
const start_run start_runs[] = {
    {1, 1299743, 654318785},                    // the first 100,000 primes from 0
    {1000001, 1420109, 308040406},              // 30,000 primes from 10^6
    {1, 15485917, 27657158280},                 // the first 1,000,000 primes from 0
    {1000000001, 1000415519, 9290491960},       // 20,000 primes from 10^9
    {1000000000001, 1000000008673, 6392027416}, // 300 primes from 10^12
};

// The search over a start run, in the batches the program takes, on the
// fastest path or on path; the rate counts the plain form's divisions.
template <bool fastest, trial_path path = trial_path::portable> void search_run(benchmark::State &state)
{
    if (!fastest && !trial_path_supported(path)) {
        state.SkipWithError("this CPU lacks the path");
        return;
    }
    const start_run &run = start_runs[state.range(0)];
    static double primes[largest_batch];
    for (auto _ : state) {
        for (double candidate = run.first; candidate <= run.last;) {
            size_t count = batch_length(candidate);
            if (static_cast<double>(count) > run.last + 1 - candidate)
                count = static_cast<size_t>(run.last + 1 - candidate);
            benchmark::DoNotOptimize(fastest ? primes_among(candidate, count, primes)
                                             : primes_among_on(path, candidate, count, primes));
            benchmark::ClobberMemory();
            candidate += static_cast<double>(count);
        }
    }
    report_rate(state, run.plain_divisions);
}

// Peak rate of vector division: independent divisions, as many as the divider
// can run. Two divisions per instruction, written with the compiler's vector
// extensions as the portable path is, so that it builds for every CPU: SSE2
// on x86-64, NEON on 64-bit ARM. Each round passes the divisors through
// DoNotOptimize, which makes them look new, so that no division is hoisted out
// of the loop; an empty asm as below would have to name each CPU's registers.
// No round waits for the one before: the divisors are only read, from memory,
// and the quotients only stored, so the loop carries nothing but its counter.
void peak_division_128(benchmark::State &state)
{
    using double2 = double __attribute__((vector_size(16)));
    const double2 numerator = {1e12, 1e12};
    double2 divisors[] = {{3, 3}, {5, 5}, {7, 7}, {9, 9}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(divisors);
        double2 q[] = {numerator / divisors[0], numerator / divisors[1], numerator / divisors[2],
                       numerator / divisors[3]};
        benchmark::DoNotOptimize(q);
    }
    report_rate(state, 4 * 2);
}

#if defined(__x86_64__) || defined(__i386__)

// As peak_division_128, four divisions per instruction. The empty asm makes
// the divisors look new each round, so that no division is hoisted out of the
// loop; it is no instruction, so no round waits for the one before.
__attribute__((target("avx2"))) void peak_division_avx2(benchmark::State &state)
{
    if (!trial_path_supported(trial_path::avx2)) {
        state.SkipWithError("this CPU lacks AVX2");
        return;
    }
    __m256d numerator = _mm256_set1_pd(1e12);
    __m256d a = _mm256_set1_pd(3), b = _mm256_set1_pd(5), c = _mm256_set1_pd(7), d = _mm256_set1_pd(9);
    for (auto _ : state) {
        asm volatile("" : "+x"(a), "+x"(b), "+x"(c), "+x"(d));
        __m256d q[] = {_mm256_div_pd(numerator, a), _mm256_div_pd(numerator, b), _mm256_div_pd(numerator, c),
                       _mm256_div_pd(numerator, d)};
        benchmark::DoNotOptimize(q);
    }
    report_rate(state, 4 * 4);
}

// As peak_division_avx2, eight divisions per instruction.
__attribute__((target("avx512f"))) void peak_division_avx512(benchmark::State &state)
{
    if (!trial_path_supported(trial_path::avx512_balanced)) {
        state.SkipWithError("this CPU lacks AVX-512");
        return;
    }
    __m512d numerator = _mm512_set1_pd(1e12);
    __m512d a = _mm512_set1_pd(3), b = _mm512_set1_pd(5), c = _mm512_set1_pd(7), d = _mm512_set1_pd(9);
    for (auto _ : state) {
        asm volatile("" : "+v"(a), "+v"(b), "+v"(c), "+v"(d));
        __m512d q[] = {_mm512_div_pd(numerator, a), _mm512_div_pd(numerator, b), _mm512_div_pd(numerator, c),
                       _mm512_div_pd(numerator, d)};
        benchmark::DoNotOptimize(q);
    }
    report_rate(state, 4 * 8);
}

#endif

// The choice of the fastest path, which times the mixes on this CPU.
void choice_of_path(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(fastest_trial_path());
}

} // namespace

BENCHMARK(trial_division<true>)->Name("plain")->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::portable>)->Name("portable")->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::avx2>)->Name("avx2")->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::avx2_divider_heavy>)
    ->Name("avx2_divider_heavy")
    ->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::avx2_balanced>)->Name("avx2_balanced")->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::avx2_fma_heavy>)->Name("avx2_fma_heavy")->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::neon_divider_heavy>)
    ->Name("neon_divider_heavy")
    ->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::neon_fma_only>)->Name("neon_fma_only")->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::avx512_divider_heavy>)
    ->Name("avx512_divider_heavy")
    ->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::avx512_divider_leaning>)
    ->Name("avx512_divider_leaning")
    ->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::avx512_balanced>)->Name("avx512_balanced")->DenseRange(0, 2);
BENCHMARK(trial_division<false, trial_path::avx512_fma_heavy>)->Name("avx512_fma_heavy")->DenseRange(0, 2);
BENCHMARK(search_run<true>)->Name("search_from_start")->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(search_run<false, trial_path::avx2>)
    ->Name("search_on_avx2")
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(search_run<false, trial_path::neon_fma_only>)
    ->Name("search_on_neon")
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(search_run<false, trial_path::portable>)
    ->Name("search_on_portable")
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(peak_division_128);
#if defined(__x86_64__) || defined(__i386__)
BENCHMARK(peak_division_avx2);
BENCHMARK(peak_division_avx512);
#endif
BENCHMARK(choice_of_path)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
