// Stand-alone kernels of trial division near 2^53, outside the program, as
// the ceilings its loops are measured against. Both test the divisors from
// floor(sqrt(2^53)) down, a fixed number of them a round, and never leave
// early, so that they measure the tests alone:
// - shared_*: candidates that share their divisors, held in registers, each
//   divisor's reciprocal computed once for all of them (a vector division
//   gives those of a group of divisors), each test two FMAs and a comparison;
//   kernel_shared_block_avx512 computes them a block ahead, as the cohorts
//   do;
// - one_candidate_*: one candidate whose divisors fill the vectors, in blocks
//   for the divider and blocks for the FMA units (rcp14 and one Newton step,
//   then two exact remainders), the best mixes of the per-candidate paths;
//   on AVX2, where the divider alone is best, blocks for the divider.
// The rate counts the tests, one per candidate and divisor.
#include <cstdint>

#include <benchmark/benchmark.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#if defined(__aarch64__)
#include <arm_neon.h>
#endif

#include "prime_search.hpp"

namespace {

// The top of every candidate from 94906265^2 to 2^53 - 1, and how many of
// its divisors each round tests.
const double kernel_top = 94906265;
const int kernel_divisors = 1 << 16;

// 2^52, which rounds n * r + 2^52 to a whole number; and 1.5 * 2^52, which
// does so for the signed remainders of the FMA blocks.
const double two_pow_52 = 4503599627370496.0, one_and_a_half_two_pow_52 = 6755399441055744.0;

// Candidates: the whole numbers below 2^53, from the top down. The kernels
// only count their tests, so their verdicts do not matter.
struct kernel_candidates {
    double values[128];
    kernel_candidates()
    {
        for (int i = 0; i < 128; i++)
            values[i] = 9007199254740991.0 - i;
    }
};
const kernel_candidates candidates;

// Runs kernel, which tests candidate_count candidates against kernel_divisors
// divisors and returns whether it found a divisor, and reports tests per ns.
template <class run> void report_tests(benchmark::State &state, int candidate_count, run kernel)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(candidates.values);
        benchmark::DoNotOptimize(kernel());
    }
    state.counters["Gdiv"] = benchmark::Counter(1e-9 * candidate_count * kernel_divisors,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

#if defined(__x86_64__) || defined(__i386__)

// GCC 12 warns that the AVX-512 intrinsics' own placeholder for "any value"
// is used uninitialized; it is meant to be, and every lane is overwritten.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The shared test on vectors of eight candidates. The reciprocals, values
// and offsets of ahead divisors at a time are computed into memory, then
// read back for each test: 8, a group, as the walk in registers did; 128, a
// block, as the cohorts do, so that no test waits for a division or for a
// store just made.
template <int vectors, int ahead> __attribute__((target("avx512f"))) bool shared_avx512(void)
{
    __m512d numerators[vectors];
    __mmask8 apart[vectors];
    for (int i = 0; i < vectors; i++) {
        numerators[i] = _mm512_loadu_pd(candidates.values + 8 * i);
        apart[i] = 0xff;
    }
    const __m512d round_to_whole = _mm512_set1_pd(two_pow_52);
    alignas(64) double r[ahead], d[ahead], offset[ahead];
    for (double next = kernel_top; next > kernel_top - kernel_divisors; next -= ahead) {
        for (int group = 0; group < ahead; group += 8) {
            __m512d divisors =
                _mm512_sub_pd(_mm512_set1_pd(next - group), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
            _mm512_store_pd(r + group, _mm512_div_pd(_mm512_set1_pd(1), divisors));
            _mm512_store_pd(d + group, divisors);
            _mm512_store_pd(offset + group, _mm512_mul_pd(divisors, _mm512_set1_pd(-two_pow_52)));
        }
        for (int j = 0; j < ahead; j++)
            for (int i = 0; i < vectors; i++) {
                __m512d m = _mm512_fmadd_pd(numerators[i], _mm512_set1_pd(r[j]), round_to_whole);
                __m512d product = _mm512_fmadd_pd(m, _mm512_set1_pd(d[j]), _mm512_set1_pd(offset[j]));
                apart[i] = _mm512_mask_cmp_pd_mask(apart[i], product, numerators[i], _CMP_NEQ_UQ);
            }
    }
    unsigned all_apart = 0xff;
    for (int i = 0; i < vectors; i++)
        all_apart &= apart[i];
    return all_apart != 0xff;
}

// The shared test on vectors of four candidates.
template <int vectors> __attribute__((target("avx2,fma"))) bool shared_avx2(void)
{
    __m256d numerators[vectors], found[vectors];
    for (int i = 0; i < vectors; i++) {
        numerators[i] = _mm256_loadu_pd(candidates.values + 4 * i);
        found[i] = _mm256_setzero_pd();
    }
    const __m256d round_to_whole = _mm256_set1_pd(two_pow_52);
    for (double next = kernel_top; next > kernel_top - kernel_divisors; next -= 4) {
        __m256d divisors = _mm256_sub_pd(_mm256_set1_pd(next), _mm256_setr_pd(0, 1, 2, 3));
        alignas(32) double r[4], d[4], offset[4];
        _mm256_store_pd(r, _mm256_div_pd(_mm256_set1_pd(1), divisors));
        _mm256_store_pd(d, divisors);
        _mm256_store_pd(offset, _mm256_mul_pd(divisors, _mm256_set1_pd(-two_pow_52)));
        for (int j = 0; j < 4; j++)
            for (int i = 0; i < vectors; i++) {
                __m256d m = _mm256_fmadd_pd(numerators[i], _mm256_set1_pd(r[j]), round_to_whole);
                __m256d product = _mm256_fmadd_pd(m, _mm256_set1_pd(d[j]), _mm256_set1_pd(offset[j]));
                found[i] = _mm256_or_pd(found[i], _mm256_cmp_pd(product, numerators[i], _CMP_EQ_OQ));
            }
    }
    int any = 0;
    for (int i = 0; i < vectors; i++)
        any |= _mm256_movemask_pd(found[i]);
    return any != 0;
}

// One candidate, a step of division_blocks blocks of eight divisors for the
// divider and fma_blocks for the FMA units, all from one base.
template <int division_blocks, int fma_blocks>
__attribute__((target("avx512f"))) bool one_candidate_avx512(void)
{
    const __m512d n = _mm512_set1_pd(candidates.values[110]), one = _mm512_set1_pd(1),
                  round_to_whole = _mm512_set1_pd(one_and_a_half_two_pow_52);
    const int per_step = 8 * (division_blocks + fma_blocks);
    __m512d base = _mm512_sub_pd(_mm512_set1_pd(kernel_top), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    __mmask8 found = 0;
    for (int step = 0; step < kernel_divisors / per_step; step++) {
        for (int block = 0; block < division_blocks + fma_blocks; block++) {
            __m512d d = _mm512_sub_pd(base, _mm512_set1_pd(8.0 * block));
            if (block < division_blocks) {
                __m512d q = _mm512_div_pd(n, d);
                found |= _mm512_cmp_pd_mask(q, _mm512_roundscale_pd(q, _MM_FROUND_TO_NEG_INF), _CMP_EQ_OQ);
            } else {
                __m512d r = _mm512_rcp14_pd(d);
                r = _mm512_fmadd_pd(r, _mm512_fnmadd_pd(d, r, one), r);
                __m512d minus_k = _mm512_sub_pd(round_to_whole, _mm512_fmadd_pd(n, r, round_to_whole));
                __m512d rest = _mm512_fmadd_pd(minus_k, d, n);
                minus_k = _mm512_sub_pd(round_to_whole, _mm512_fmadd_pd(rest, r, round_to_whole));
                found |=
                    _mm512_cmp_pd_mask(_mm512_fmadd_pd(minus_k, d, rest), _mm512_setzero_pd(), _CMP_EQ_OQ);
            }
        }
        base = _mm512_sub_pd(base, _mm512_set1_pd(per_step));
    }
    return found != 0;
}

// One candidate, a step of four blocks of four divisors for the divider.
__attribute__((target("avx2"))) bool one_candidate_avx2(void)
{
    const __m256d n = _mm256_set1_pd(candidates.values[110]);
    __m256d base = _mm256_sub_pd(_mm256_set1_pd(kernel_top), _mm256_setr_pd(0, 1, 2, 3)),
            found = _mm256_setzero_pd();
    for (int step = 0; step < kernel_divisors / 16; step++) {
        for (int block = 0; block < 4; block++) {
            __m256d q = _mm256_div_pd(n, _mm256_sub_pd(base, _mm256_set1_pd(4.0 * block)));
            found = _mm256_or_pd(found, _mm256_cmp_pd(q, _mm256_floor_pd(q), _CMP_EQ_OQ));
        }
        base = _mm256_sub_pd(base, _mm256_set1_pd(16));
    }
    return _mm256_movemask_pd(found) != 0;
}

#pragma GCC diagnostic pop

// The kernels of one instruction set, which the CPU may lack.
template <int candidate_count, class run>
void x86_kernel(benchmark::State &state, trial_path needs, run kernel)
{
    if (!trial_path_supported(needs)) {
        state.SkipWithError("this CPU lacks the instructions");
        return;
    }
    report_tests(state, candidate_count, kernel);
}

// The shared tests with as many vectors of candidates in registers.
template <int vectors> void kernel_shared_avx512(benchmark::State &state)
{
    x86_kernel<8 * vectors>(state, trial_path::avx512_balanced, shared_avx512<vectors, 8>);
}

template <int vectors> void kernel_shared_block_avx512(benchmark::State &state)
{
    x86_kernel<8 * vectors>(state, trial_path::avx512_balanced, shared_avx512<vectors, 128>);
}

template <int vectors> void kernel_shared_avx2(benchmark::State &state)
{
    x86_kernel<4 * vectors>(state, trial_path::avx2, shared_avx2<vectors>);
}

void kernel_one_candidate_avx512_2_1(benchmark::State &state)
{
    x86_kernel<1>(state, trial_path::avx512_balanced, one_candidate_avx512<2, 1>);
}

void kernel_one_candidate_avx512_3_2(benchmark::State &state)
{
    x86_kernel<1>(state, trial_path::avx512_balanced, one_candidate_avx512<3, 2>);
}

void kernel_one_candidate_avx2(benchmark::State &state)
{
    x86_kernel<1>(state, trial_path::avx2, one_candidate_avx2);
}

#endif

} // namespace

#if defined(__x86_64__) || defined(__i386__)
BENCHMARK(kernel_shared_avx512<4>);
BENCHMARK(kernel_shared_avx512<6>);
BENCHMARK(kernel_shared_avx512<7>);
BENCHMARK(kernel_shared_avx512<8>);
BENCHMARK(kernel_shared_block_avx512<4>);
BENCHMARK(kernel_shared_block_avx512<7>);
BENCHMARK(kernel_shared_block_avx512<8>);
BENCHMARK(kernel_shared_avx2<8>);
BENCHMARK(kernel_shared_avx2<10>);
BENCHMARK(kernel_shared_avx2<12>);
BENCHMARK(kernel_shared_avx2<14>);
BENCHMARK(kernel_one_candidate_avx512_2_1);
BENCHMARK(kernel_one_candidate_avx512_3_2);
BENCHMARK(kernel_one_candidate_avx2);
#endif
