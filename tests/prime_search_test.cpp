// Checks trial division against an independent integer primality test, and
// every fast path against the plain form.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#if defined(__aarch64__)
#include <arm_neon.h>
#endif

#include "plain_trial_division.hpp"
#include "prime_search.hpp"

namespace {

// (a * b) mod m without overflow, for m below 2^63: by doubling and adding,
// where no sum of two values below m reaches 2^64.
uint64_t mul_mod(uint64_t a, uint64_t b, uint64_t m)
{
    uint64_t result = 0;
    for (a %= m; b > 0; b >>= 1) {
        if (b & 1)
            result = (result + a) % m;
        a = (a + a) % m;
    }
    return result;
}

// base^exponent mod m.
uint64_t pow_mod(uint64_t base, uint64_t exponent, uint64_t m)
{
    uint64_t result = 1;
    for (base %= m; exponent > 0; exponent >>= 1) {
        if (exponent & 1)
            result = mul_mod(result, base, m);
        base = mul_mod(base, base, m);
    }
    return result;
}

// Deterministic Miller-Rabin primality test; exact for every n below 2^63.
bool is_prime(uint64_t n)
{
    static const uint64_t bases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
    if (n < 2)
        return false;
    for (uint64_t p : bases)
        if (n % p == 0)
            return n == p;
    uint64_t odd_part = n - 1;
    int twos = 0;
    for (; odd_part % 2 == 0; odd_part /= 2)
        twos++;
    for (uint64_t a : bases) {
        uint64_t x = pow_mod(a, odd_part, n);
        if (x == 1 || x == n - 1)
            continue;
        bool witness = true;
        for (int i = 1; i < twos && witness; i++) {
            x = mul_mod(x, x, n);
            witness = x != n - 1;
        }
        if (witness)
            return false;
    }
    return true;
}

// What has_trial_divisor must say of n: every n from 1 to 3 has the trial
// divisor 1, and above that it is the opposite of primality.
bool expected_verdict(uint64_t n)
{
    return n <= 3 || !is_prime(n);
}

const uint64_t two_pow_53 = uint64_t{1} << 53;

// Primes n = k*d + 1 within 2^42 of 2^53, with d = 2^26 - e for e from 100 to
// 30000 and k > 2^27: n/d rounded first to 64 bits and then to 53 looks whole
// (see src/trial_division.cpp), so x87 arithmetic left at 64 bits calls them
// composite.
const uint64_t double_rounding_primes[] = {
    uint64_t{134217928} * 67108764 + 1, uint64_t{134219722} * 67107864 + 1,
    uint64_t{134223727} * 67105864 + 1, uint64_t{134237699} * 67098864 + 1,
    uint64_t{134257722} * 67088864 + 1, uint64_t{134277714} * 67078864 + 1,
};

// 2 and 3 times the largest primes that keep the products below 2^53. The only
// trial divisor of each, 2 or 3, leaves an odd whole quotient between 2^51 and
// 2^52, which a whole-number test that rounds through a sum above 2^53 misses.
const uint64_t small_factor_and_prime[][2] = {{2, 4503599627370449}, {3, 3002399751580319}};

// One of each kind of the candidates above, and the largest prime below 2^53.
std::vector<uint64_t> top_of_range(void)
{
    std::vector<uint64_t> candidates = {double_rounding_primes[0], two_pow_53 - 111};
    for (const auto &row : small_factor_and_prime)
        candidates.push_back(row[0] * row[1]);
    return candidates;
}

} // namespace

TEST(HasTrialDivisor, MatchesSieveUpToTwoMillion)
{
    const size_t last = 2000000;
    std::vector<bool> composite(last + 1, false);
    for (size_t p = 2; p * p <= last; p++)
        if (!composite[p])
            for (size_t m = p * p; m <= last; m += p)
                composite[m] = true;
    int mismatches = 0;
    for (size_t n = 1; n <= last; n++) {
        bool expected = n <= 3 || composite[n];
        if (has_trial_divisor(static_cast<double>(n)) != expected && ++mismatches <= 10)
            ADD_FAILURE() << "wrong verdict for " << n;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(HasTrialDivisor, MatchesReferenceInLargeWindows)
{
    struct Window {
        uint64_t first;
        uint64_t count;
    };
    const Window windows[] = {
        {1000000000 - 1000, 2000},  // around 10^9
        {1000000000000 - 150, 300}, // around 10^12
        {999999999999999 - 20, 40}, // around 10^15
    };
    for (const Window &window : windows)
        for (uint64_t n = window.first; n < window.first + window.count; n++)
            EXPECT_EQ(has_trial_divisor(static_cast<double>(n)), expected_verdict(n)) << n;
}

TEST(HasTrialDivisor, MatchesReferenceJustBelowTwoPow53)
{
    // Each candidate here costs up to about 10^8 divisions, so only a sample:
    // the largest prime below 2^53, its neighbours, and 2^53 - 1, whose largest
    // divisor below its square root is 20394401.
    const uint64_t offsets[] = {111, 112, 110, 1, 2, 3};
    for (uint64_t offset : offsets) {
        uint64_t n = two_pow_53 - offset;
        EXPECT_EQ(has_trial_divisor(static_cast<double>(n)), expected_verdict(n)) << n;
    }
}

// The program rounds x87 arithmetic to doubles for the whole process, so even
// the plain form, built apart and free to keep its quotient anywhere, is exact.
// Two of the primes only, as the plain form is slow.
TEST(HasTrialDivisor, PlainFormMatchesReferenceOnDoubleRoundingPrimes)
{
    for (uint64_t n : {double_rounding_primes[0], double_rounding_primes[5]})
        EXPECT_FALSE(plain_has_trial_divisor(static_cast<double>(n))) << n;
}

TEST(HasTrialDivisor, ReferenceAgreesOnKnownValues)
{
    EXPECT_TRUE(is_prime(two_pow_53 - 111));
    EXPECT_FALSE(is_prime(two_pow_53 - 1));
    EXPECT_TRUE(is_prime(1000000007));
    EXPECT_FALSE(is_prime(3215031751)); // strong pseudoprime to bases 2, 3, 5, 7
    for (uint64_t n : double_rounding_primes)
        EXPECT_TRUE(is_prime(n)) << n;
    for (const auto &row : small_factor_and_prime)
        EXPECT_TRUE(is_prime(row[1])) << row[1];
}

// The premise of the ARM path's proof (src/trial_division.cpp), on the CPU
// at hand: FRECPE's estimate r of 1/d is the same at both ends of each
// interval of d that shares its exponent and the first 8 bits of its
// fraction, and |r*d - 1| at the ends of every such interval from 2 to 2^27
// stays within 187 * 2^-16. Each product there has at most 18 significant
// bits, so it and its difference from 1 are exact.
TEST(HasTrialDivisor, ArmReciprocalEstimateIsWithinTheProofsBound)
{
#if defined(__aarch64__)
    double worst = 0;
    for (int exponent = 1; exponent < 27; exponent++)
        for (int leading = 0; leading < 256; leading++) {
            double first = std::ldexp(1 + leading / 256.0, exponent),
                   end = std::ldexp(1 + (leading + 1) / 256.0, exponent);
            double r = vgetq_lane_f64(vrecpeq_f64(vdupq_n_f64(first)), 0);
            EXPECT_EQ(vgetq_lane_f64(vrecpeq_f64(vdupq_n_f64(std::nextafter(end, 0))), 0), r) << first;
            worst = std::max({worst, std::abs(r * first - 1), std::abs(r * end - 1)});
        }
    EXPECT_LE(worst, 187 / 65536.0);
#else
    GTEST_SKIP() << "FRECPE is an instruction of 64-bit ARM";
#endif
}

TEST(FastestTrialPath, IsSupported)
{
    trial_path chosen = fastest_trial_path();
    EXPECT_TRUE(trial_path_supported(chosen));
    // It is one of the AVX-512 paths, which come last, whenever the CPU has them.
    EXPECT_EQ(chosen >= trial_path::avx512_divider_heavy, trial_path_supported(trial_path::avx512_balanced));
}

// Each path the CPU supports must give the plain form's verdict.
class EveryPath : public testing::TestWithParam<trial_path> {
protected:
    void SetUp() override
    {
        if (!trial_path_supported(GetParam()))
            GTEST_SKIP() << "this CPU lacks the path";
    }

    // Adds a failure for each candidate of the list, all from 4 to below 2^53,
    // where the path's verdict is not the plain form's. There the plain form
    // finds a divisor exactly when the candidate is composite, so the
    // primality test stands in for it: near 2^53 the plain form would take
    // minutes on a 32-bit build or under an emulator.
    void expect_plain_verdicts(const std::vector<uint64_t> &candidates)
    {
        for (uint64_t n : candidates)
            EXPECT_EQ(has_trial_divisor_on(GetParam(), static_cast<double>(n)), expected_verdict(n)) << n;
    }
};

TEST_P(EveryPath, AgreesWithPlainFormUpToTwoMillion)
{
    static std::vector<bool> plain_verdicts;
    const size_t last = 2000000;
    for (size_t n = plain_verdicts.size(); n <= last; n++)
        plain_verdicts.push_back(plain_has_trial_divisor(static_cast<double>(n)));
    int mismatches = 0;
    for (size_t n = 0; n <= last; n++)
        if (has_trial_divisor_on(GetParam(), static_cast<double>(n)) != plain_verdicts[n] &&
            ++mismatches <= 10)
            ADD_FAILURE() << "wrong verdict for " << n;
    EXPECT_EQ(mismatches, 0);
}

TEST_P(EveryPath, AgreesWithPlainFormInLargeWindowsAndBelowTwoPow53)
{
    std::vector<uint64_t> candidates;
    const uint64_t window_starts[] = {1000000000 - 500, 1000000000000 - 100, 1000000000000000 - 20};
    const uint64_t window_sizes[] = {1000, 200, 40};
    for (int i = 0; i < 3; i++)
        for (uint64_t n = window_starts[i]; n < window_starts[i] + window_sizes[i]; n++)
            candidates.push_back(n);
    for (uint64_t offset : {111u, 112u, 1u, 2u})
        candidates.push_back(two_pow_53 - offset);
    expect_plain_verdicts(candidates);
}

// Candidates around the ends of blocks and steps: for each top = floor(sqrt(n))
// in a run of 48 from first_top, no shorter than any path's step (8 divisors
// on the portable path; 16, 12 and 8 on the AVX2 paths; 16 on the NEON ones;
// 24, 40 and 16 on the AVX-512 ones), so that every count of divisors left
// over after the last whole step occurs, the squares and their neighbours,
// primes, and twice and three times a prime, whose only trial divisor lies in
// the last block.
std::vector<uint64_t> block_edges(uint64_t first_top)
{
    std::vector<uint64_t> candidates;
    for (uint64_t top = first_top; top < first_top + 48; top++) {
        uint64_t square = top * top;
        for (uint64_t n : {square - 1, square, square + 1, square + 2 * top})
            candidates.push_back(n);
        for (uint64_t factor = 1; factor <= 3; factor++) {
            uint64_t prime = (square + factor - 1) / factor;
            while (!is_prime(prime))
                prime++;
            candidates.push_back(factor * prime);
        }
    }
    return candidates;
}

// Every candidate whose top is below 50, and the block edges for tops from 1000.
TEST_P(EveryPath, AgreesWithPlainFormAtBlockEdges)
{
    std::vector<uint64_t> candidates = block_edges(1000);
    for (uint64_t n = 4; n < 50 * 50; n++)
        candidates.push_back(n);
    expect_plain_verdicts(candidates);
}

// The same edges with tops from a million, where a candidate costs up to a
// million divisions.
TEST_P(EveryPath, AgreesWithPlainFormAtBlockEdgesNearAMillion)
{
    expect_plain_verdicts(block_edges(1000000));
}

TEST_P(EveryPath, MatchesReferenceAtTopOfRange)
{
    expect_plain_verdicts(top_of_range());
}

// The other double-rounding primes, and 2^53 - 1, whose largest divisor below
// its square root, 20394401, takes some 75 million divisions to reach.
TEST_P(EveryPath, MatchesReferenceOnMoreOfTopOfRange)
{
    std::vector<uint64_t> candidates(std::begin(double_rounding_primes) + 1,
                                     std::end(double_rounding_primes));
    candidates.push_back(two_pow_53 - 1);
    expect_plain_verdicts(candidates);
}

// A run of count candidates from first on, tested together.
struct CandidateRun {
    uint64_t first;
    size_t count;
};

// Adds a failure for each run whose primes, as primes_among_on lists them on
// path, are not exactly those of the plain form, in order.
void expect_primes_of_runs(trial_path path, const std::vector<CandidateRun> &runs)
{
    std::vector<double> primes(largest_batch);
    for (const CandidateRun &run : runs) {
        std::vector<double> expected;
        for (uint64_t n = run.first; n < run.first + run.count; n++)
            if (!expected_verdict(n))
                expected.push_back(static_cast<double>(n));
        size_t found = primes_among_on(path, static_cast<double>(run.first), run.count, primes.data());
        EXPECT_EQ(std::vector<double>(primes.begin(), primes.begin() + static_cast<std::ptrdiff_t>(found)),
                  expected)
            << run.first << " + " << run.count;
    }
}

// Runs of candidates tested together, as the search tests them. The runs
// cover candidates 1 to 8, the start of the lanes at 64^2, whole batches
// whose tops run from 63 to 110, so that a lane's last step ends at every
// place in a step of every path, the square 66^2 = 4356, found at its first
// divisor, among the first 24 candidates and the prime 4357 right after it,
// every count of candidates up to more than all lanes in flight hold, and
// around a tile of a cohort (24 and 56) and two, the squares
// around a million, the square of the prime 101, whose only divisor is
// above the top of the candidates before it, the end of the lanes at 2^24,
// and four candidates that share their divisors near 2^53, the last 2 times
// a prime, whose quotient by 2 is near 2^52.
TEST_P(EveryPath, ListsThePrimesOfEachRun)
{
    std::vector<CandidateRun> runs = {{1, 8},
                                      {1, 4096 + 64},
                                      {4089, largest_batch},
                                      {4089 + largest_batch, largest_batch},
                                      {4356 - 23, 24 + 2},
                                      {999000, largest_batch},
                                      {(uint64_t{1} << 24) - largest_batch / 2, largest_batch},
                                      {101 * 101 - 8, 16},
                                      {2 * small_factor_and_prime[0][1] - 3, 4}};
    for (size_t count = 1; count <= 30; count++)
        runs.push_back({10007, count});
    for (size_t count : {size_t{47}, size_t{48}, size_t{49}, size_t{55}, size_t{56}, size_t{57}, size_t{63},
                         size_t{64}, size_t{65}, size_t{111}, size_t{112}, size_t{113}, size_t{129}})
        runs.push_back({10007, count});
    expect_primes_of_runs(GetParam(), runs);
}

// Runs near 2^53, where the candidates that share their divisors have
// quotients up to 2^52: the run that ends at 2^53, which holds 3 and 12
// times a prime; runs that end at 2, 4, 5, 6, 7 and 9 times the largest prime
// that keeps the product below 2^53, whose first divisor is that factor,
// whose reciprocal is the furthest from 1/d in what it costs a quotient near
// 2^53 / d (3, 5, 6, 7 and 9), and the first of whose runs holds the largest
// prime below 2^53; and candidates around the square of the prime 94906249,
// one below which floor(sqrt) is that prime, not one less.
TEST_P(EveryPath, ListsThePrimesOfRunsNearTwoPow53)
{
    std::vector<CandidateRun> runs = {{two_pow_53 - 36, 36}};
    for (uint64_t factor : {uint64_t{7}, uint64_t{2}, uint64_t{4}, uint64_t{5}, uint64_t{6}, uint64_t{9}}) {
        uint64_t prime = (two_pow_53 - 1) / factor;
        while (!is_prime(prime))
            prime--;
        runs.push_back({factor * prime - 7, 8});
    }
    const uint64_t root = 94906249;
    runs.push_back({root * root - 16, 32});
    expect_primes_of_runs(GetParam(), runs);
}

// A batch holds at least one candidate and at most largest_batch, and where
// each candidate is a long search, from 2^32, at most largest_cohort: at
// 10^10 a path alone would take a second for some tens of thousands.
TEST(BatchLength, StaysWithinItsBounds)
{
    const struct {
        double first;
        size_t most;
    } rows[] = {{1, largest_batch},
                {1e6, largest_batch},
                {4294967295.0, largest_batch},
                {4294967296.0, largest_cohort},
                {1e10, largest_cohort},
                {1e12, largest_cohort},
                {1e15, largest_cohort},
                {9007199254740000.0, largest_cohort}};
    for (const auto &row : rows) {
        size_t length = batch_length(row.first);
        EXPECT_GE(length, 1u) << row.first;
        EXPECT_LE(length, row.most) << row.first;
    }
}

// The name of a path in the tests' names.
std::string path_name(const testing::TestParamInfo<trial_path> &info)
{
    switch (info.param) {
    case trial_path::avx2:
        return "avx2";
    case trial_path::avx2_divider_heavy:
        return "avx2_divider_heavy";
    case trial_path::avx2_balanced:
        return "avx2_balanced";
    case trial_path::avx2_fma_heavy:
        return "avx2_fma_heavy";
    case trial_path::neon_divider_heavy:
        return "neon_divider_heavy";
    case trial_path::neon_fma_only:
        return "neon_fma_only";
    case trial_path::avx512_divider_heavy:
        return "avx512_divider_heavy";
    case trial_path::avx512_divider_leaning:
        return "avx512_divider_leaning";
    case trial_path::avx512_balanced:
        return "avx512_balanced";
    case trial_path::avx512_fma_heavy:
        return "avx512_fma_heavy";
    default:
        return "portable";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, EveryPath,
                         testing::Values(trial_path::portable, trial_path::avx2,
                                         trial_path::avx2_divider_heavy, trial_path::avx2_balanced,
                                         trial_path::avx2_fma_heavy, trial_path::neon_divider_heavy,
                                         trial_path::neon_fma_only, trial_path::avx512_divider_heavy,
                                         trial_path::avx512_divider_leaning, trial_path::avx512_balanced,
                                         trial_path::avx512_fma_heavy),
                         path_name);
