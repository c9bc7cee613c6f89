// Trial division: why every path's verdict is exact, the portable family of
// blocks, the choice of path at run time, and the search of many candidates
// at once. The step loops that every path runs are in
// trial_division_steps.hpp; the blocks of the vector paths, for 32-bit and
// 64-bit x86 and for 64-bit ARM, are in a file per instruction set (see
// trial_division_paths.hpp).
//
// Each path answers one question: does some whole number d with 2 <= d <= top
// divide the candidate n, where top = floor(sqrt(n)) and 4 <= n < 2^53?
// Below 2^53 the plain test "n / d has no fractional part" is exact: when d
// does not divide n, n/d lies at least 1/d from every whole number, while
// rounding moves it by at most half an ulp, less than (n/d) * 2^-53 < 1/d.
// So the verdict does not depend on the order of the divisors, nor on a
// divisor tested twice, and a path may test several at once. Each still walks
// them downward from top in blocks and stops at the first step that holds a
// divisor.
//
// The portable path tells whether the computed quotient q is whole without a
// conversion to an integer, which SSE2 lacks for pairs of doubles: it rounds q
// to a whole number by adding 2^52 and subtracting it again, and compares the
// result with q. This is exact for every quotient that occurs. As n < 2^53 and
// d >= 2, n/d < 2^52, and so q <= 2^52, since rounding never passes a double
// and 2^52 is one; and q > 0. So q + 2^52 lies between 2^52 and 2^53, where
// the doubles are the whole numbers and nothing else: the sum rounds to a
// whole number, and when q is whole it is exact. Subtracting 2^52 from that
// whole number of at most 2^53 leaves a whole number of at most 2^52, itself
// a double, so the subtraction is exact. The result is whole, and equals q
// exactly when q is whole. The constant matters: with 1.5 * 2^52, as in the
// FMA blocks below, which need room for negative remainders there, a q
// from 2^51 to 2^52 (the divisors 2 and 3 near 2^53) would give a sum above
// 2^53, where only even numbers are doubles, so an odd whole quotient such as
// 9007199254740898 / 2 = 4503599627370449 would be rounded away and the
// divisor missed.
//
// A block's divisors are consecutive and descending. When one candidate
// fills the block, the last block's lanes below 2 are raised to 2: that block
// starts at 2 or above and ends below 2, so it holds 2 already and the raised
// lanes test nothing new.
//
// On a path with FMA, candidates that share their top (floor(sqrt), the same
// for all of k^2 to (k + 1)^2 - 1, but for the last one where k >= 2^26)
// walk its divisors together instead (primes_sharing_divisors), and each
// divisor d from 2 up is tested against each candidate n below 2^53 in two
// FMAs and a comparison, from r = 1/d correctly rounded (one division shared
// by all), which is within 2^-53 of 1/d relative to it, as 1/d lies in a
// binade where half an ulp is at most 2^-53 of the value:
// - m = n*r + 2^52, rounded once. n*r <= (n/d)(1 + 2^-53) < 2^52, as
//   n/d <= 2^52 - 1/2 and (2^52 - 1/2)(1 + 2^-53) < 2^52; so the sum lies in
//   [2^52, 2^53), and m is a double from 2^52 to 2^53. The doubles there are
//   the whole numbers, so m = 2^52 + k for a whole k from 0 to 2^52.
// - If d divides n, with k' = n/d <= 2^52 - 1: |n*r - k'| = k' |r*d - 1| <=
//   k' 2^-53 < 1/2, so the nearest whole number to 2^52 + n*r is
//   2^52 + k' (2^52 + k' + 1/2 is below 2^53, so no tie or rounding up to
//   2^53 intervenes), and m = 2^52 + k'.
// - t = m*d - 2^52*d, one FMA, whose addend 2^52*d is exact (d < 2^27), and
//   whose exact value is k*d. When d divides n that is n, below 2^53,
//   so t = n. When it does not, k*d is a whole number other than n: below
//   2^53 it is a double and t = k*d != n; from 2^53 on, t rounds to at
//   least 2^53 > n. So t equals n exactly when d divides n, for every d
//   from 2 up, 2 and 3 included.
// Adding 1.5 * 2^52 instead, as the FMA blocks below do, would put n*r + C
// above 2^53 for d = 2 or 3 near 2^53, where only even numbers are doubles,
// and miss divisors there. Without FMA, n*r and m*d would each be rounded
// on their own, and m*d, near 2^52 * d, would lose its last bits: so the
// paths without FMA test batches in lanes instead.
//
// On a path without FMA, candidates from 2^12 to below 2^24 are tested side
// by side instead, each in a lane of its own (primes_in_lanes), which walks
// the candidate's divisors downward from its own top, a step of per_step (at
// most 48) at a time. A base below per_step + 1 is raised to it: the step
// then tests the divisors from per_step + 1 down to 2, all of them at most
// the candidate's top, which is at least 64, and some tested before; so
// every divisor tested is one the plain form may try, every one it may try
// is tested unless a step found a divisor first, and by the above the
// verdict is the plain form's. Lanes with no candidate left hold 1 and divide it by 2^60, which
// stays 2^60 as the steps subtract at most 48 from it: the divider gives a
// quotient of 2^-60, whose floor is 0 and which adding and subtracting 2^52
// turns into 0; every FMA block below has r within a few per cent of 2^-60,
// so 1*r + C rounds to C, k0 = 0, the remainder is 1 and k1 = 0, leaving a
// rest of 1. Neither finds a divisor, and 2^60 never falls below 2, so these
// lanes never finish and are never reported.
//
// The vector paths also send blocks to the FMA units, which find the same
// verdict without the divider: from an estimate r of 1/d they compute the
// remainder of n by d, exactly, in two rounds. Why, for 4 <= n < 2^53 and
// 2 <= d <= floor(sqrt(n)) < 2^26.5, with e a bound on |r*d - 1|:
// - On x86 a Newton step, two FMAs of one rounding each, takes an r with
//   |r*d - 1| = x to one with |r*d - 1| <= x^2 + 2^-52.9, for x < 2^-11.
// - On AVX-512 r is rcp14 (relative error below 2^-14) after one Newton step:
//   e = 2^-28 + 2^-52.9 < 2^-27.9.
// - On AVX2 the first r is rcpps (relative error at most 1.5 * 2^-12) of d
//   rounded to a float. That rounding is not exact above 2^24, but it moves d
//   by a relative 2^-24 at most, so this first r has |r*d - 1| < 2^-11.4. The
//   Newton steps work with d itself, so this is the only error d's rounding
//   brings. Two steps: below 2^-22.79, then e < 2^-45.5.
// - On 64-bit ARM the first r is FRECPE of d. It depends only on d's exponent
//   and the first 8 bits of its fraction, so it is the same across each of
//   the 256 intervals of d of an exponent, where |r*d - 1|, linear in d, is
//   greatest at one end. Taken over the ends of every interval from 2 to
//   2^27 under qemu-aarch64, which follows the architecture's table (and
//   checked again by tests/prime_search_test.cpp on the CPU it runs on), the
//   greatest is 187 * 2^-16 < 2^-8.45, at d = 2.140625 times a power of two.
//   Its Newton step is FRECPS, s = 2 - d*r with one rounding, then r*s with
//   another. With d*r = 1 - x, s = 1 + x + a where |a| <= 2^-53, half an ulp
//   next to 1, and the product is r*s*(1 + b) with |b| <= 2^-53, so
//   r*s*d - 1 = (1 - x^2 + a(1 - x))(1 + b) - 1, of size at most
//   x^2 + 2^-52 (1 + |x|) < x^2 + 2^-51.9 for |x| < 2^-8. Two steps: below
//   2^-16.9, then e < 2^-33.7. One step would leave n*r off by up to
//   2^52 * 2^-16.9 = 2^35.1, and the remainder below could then pass 2^53.
// - Adding C = 1.5 * 2^52 rounds to a whole number: n*r <= 2^52 (1 + e)
//   puts n*r + C between 2^52 and 3 * 2^52, where every double is whole, and
//   subtracting it from C is exact (Sterbenz), giving -k0, which the code
//   keeps so that every step below is one kind of FMA, a*b + c. So k0 is
//   whole and
//   |n/d - k0| <= 1 + (n/d) e, below 2^24.2 on AVX-512, 2^18.4 on ARM and
//   2^6.6 on AVX2.
// - remainder = n + (-k0)*d, one rounding of a whole number below
//   d * 2^24.2 < 2^51 in size (2^44.9 on ARM, 2^33.1 on AVX2), is exact; d
//   divides n exactly when it divides remainder.
// - remainder*r lies within 2^24.2 * 2^-27.9 < 0.1 of remainder/d (on ARM
//   within 2^18.4 * 2^-33.7 = 2^-15.3, on AVX2 within
//   2^6.6 * 2^-45.5 = 2^-38.9), and remainder*r + C between 2^52 and
//   2^53, where the doubles are the whole numbers and nothing else: so k1,
//   kept as C minus that sum, exactly, is the whole number nearest
//   remainder*r. This holds for a negative
//   remainder too, which is why C is 1.5 * 2^52 here: with 2^52, a negative
//   remainder would put the sum below 2^52, where halves are doubles, and
//   remainder -1 with d = 2 would give k1 = -1/2 and rest 0.
// - If d divides remainder, their quotient lies within 0.1 of remainder*r,
//   so k1 is that quotient and remainder + (-k1)*d is exactly 0. If not,
//   remainder + (-k1)*d is a nonzero whole number, of size below
//   d * (0.1 + 0.5) < 2^26.5, so the FMA gives it exactly.
//
// These arguments count one rounding per operation. On 32-bit x86 the compiler
// may do double arithmetic on the x87 unit, which by default rounds to 64-bit
// significands, and rounds again to 53 bits wherever it stores a value as a
// double. Two roundings can make a quotient look whole: for d = 2^26 - e with
// 0 < e < 32000, and n = k*d + 1 < 2^53 with k > 2^27, n/d = k + 2^-26 + x
// with 0 < x < 2^-37, half a 64-bit ulp at that size; so it rounds first to
// k + 2^-26, halfway between the doubles k and k + 2^-25, and then to k, the
// one with an even last digit. Hence, before any trial division, the program
// sets the x87 precision to 53 bits (see round_x87_to_double below). Every x87
// sum, difference, quotient and square root is then rounded once, to 53 bits,
// to the value SSE2 gives, and storing it as a double changes nothing. (The
// x87 unit keeps its wider exponent range, but no value here comes near the
// ends of the double range.) So the arguments above hold on every path,
// whatever the compiler keeps in registers.
#include "prime_search.hpp"
#include "trial_division_paths.hpp"
#include "trial_division_steps.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <ctime>

#if defined(__i386__) && !defined(__SSE2_MATH__)
#define X87_ARITHMETIC
#include <fpu_control.h>
#endif

namespace {

// Two doubles handled as one value: 128-bit vector instructions where the
// target has them (SSE2 on x86-64, NEON on 64-bit ARM), pairs of scalar
// instructions elsewhere.
using double2 = double __attribute__((vector_size(16)));

// Per lane of a comparison of two double2: all bits set where it holds, else 0.
using lanes2 = int64_t __attribute__((vector_size(16)));

// The family of two-lane blocks on the divider alone, for the step loops
// (see trial_division_steps.hpp), in the compiler's own vectors. A mask has
// each lane all ones or all zeros.
struct portable_blocks {
    using vec = double2;
    using mask = lanes2;
    static constexpr int width = 2;
    static constexpr int shared_vectors = 0;

    static vec broadcast(double x)
    {
        return vec{x, x};
    }

    static vec lane_numbers(void)
    {
        return vec{0, 1};
    }

    // The lanes of a where m is set, and of b elsewhere.
    static vec chosen(mask m, vec a, vec b)
    {
        return reinterpret_cast<vec>((reinterpret_cast<mask>(a) & m) | (reinterpret_cast<mask>(b) & ~m));
    }

    static vec at_least(vec d, double low)
    {
        return chosen(d < low, broadcast(low), d);
    }

    // The lanes whose quotient is whole, found by rounding it to a whole
    // number with 2^52 (see the top of the file).
    static mask dividing_by_division(vec n, vec d)
    {
        vec quotient = n / d;
        return quotient == (quotient + two_pow_52) - two_pow_52;
    }

    static bool any(mask m)
    {
        return (m[0] | m[1]) != 0;
    }

    // Each set lane is -1.
    static int count(mask m)
    {
        return static_cast<int>(-(m[0] + m[1]));
    }

    static mask below_two(vec d)
    {
        return d < 2.0;
    }

    static vec load(const double *from)
    {
        return vec{from[0], from[1]};
    }

    // The first lane of m takes from[0]; the second takes from[1] when the
    // first took from[0], else from[0].
    static vec refill(vec v, mask m, const double *from)
    {
        vec spread = chosen(mask{m[0], m[0]}, load(from), broadcast(from[0]));
        return chosen(m, spread, v);
    }

    // The first lane stored holds v's first lane if m has it, else its second.
    static void append(double *to, mask m, vec v)
    {
        vec gathered = chosen(mask{m[0], m[0]}, v, broadcast(v[1]));
        to[0] = gathered[0];
        to[1] = gathered[1];
    }
};

// The step loops of path, on its family's blocks. Paths this build lacks run
// on the portable blocks.
trial_steps steps_on(trial_path path) noexcept
{
    switch (path) {
#if defined(X86_VECTOR_PATHS)
    case trial_path::avx512_divider_heavy:
    case trial_path::avx512_divider_leaning:
    case trial_path::avx512_balanced:
    case trial_path::avx512_fma_heavy:
        return steps_on_avx512(path);
    case trial_path::avx2:
    case trial_path::avx2_divider_heavy:
    case trial_path::avx2_balanced:
    case trial_path::avx2_fma_heavy:
        return steps_on_avx2(path);
#endif
#if defined(NEON_VECTOR_PATHS)
    case trial_path::neon_divider_heavy:
    case trial_path::neon_fma_only:
        return steps_on_neon(path);
#endif
    default:
        return steps_with<portable_blocks, trial_path::portable>();
    }
}

// A path, and the divisions per nanosecond it made on one candidate near
// 2^53 when it was timed at start-up (0 where no path was timed).
struct timed_path {
    trial_path path;
    double rate;
};

#if defined(X86_VECTOR_PATHS) || defined(NEON_VECTOR_PATHS)

// A composite candidate for timing the mixes: 94880011 * 94928027,
// both prime, so walking down from its top, 94904015, its first divisor is
// 94880011, after 24,005 divisions by numbers of the size met near 2^53.
volatile double timing_candidate = 9006772245968297.0;
const double timing_divisions = 24005;

// Where each timed run puts its verdict. As this and timing_candidate are
// volatile, a run must read its candidate after the clock is read at its start
// and store its verdict before the clock is read at its end, and no run can be
// merged with another or left out.
volatile bool timing_verdict = false;

// How long path takes to find the divisor of timing_candidate, in nanoseconds.
int64_t time_on(trial_path path) noexcept
{
    int64_t started = clock_ns(CLOCK_MONOTONIC);
    timing_verdict = has_trial_divisor_on(path, timing_candidate);
    return clock_ns(CLOCK_MONOTONIC) - started;
}

// The one of paths that runs fastest here; this CPU must support them all.
// The paths take turns for seven rounds, so that a change of clock speed
// touches each alike, and each path counts its least time: interruptions only
// ever add time, so the least is the one closest to the path's true speed.
// Each run is some 24,000 divisions, so four paths take 670,000: 0.4 ms at
// 1.7 divisions per nanosecond, 1.3 ms at 0.5. On a Cortex-A72 at 1.5 GHz,
// where llvm-mca estimates 0.031, 0.041 and 0.129 divisions per cycle for the
// three ARM paths, about 7 ms.
template <size_t path_count> timed_path fastest_of(const trial_path (&paths)[path_count]) noexcept
{
    const int round_count = 7;
    int64_t least_time[path_count];
    std::fill(least_time, least_time + path_count, INT64_MAX);
    for (int round = 0; round < round_count; round++)
        for (size_t path = 0; path < path_count; path++)
            least_time[path] = std::min(least_time[path], time_on(paths[path]));
    auto fastest = static_cast<size_t>(std::min_element(least_time, least_time + path_count) - least_time);
    return {paths[fastest],
            timing_divisions / static_cast<double>(std::max(least_time[fastest], int64_t{1}))};
}

#endif

// The fastest path this CPU supports, and its rate (see fastest_trial_path).
timed_path fastest_timed_path(void) noexcept
{
#if defined(X86_VECTOR_PATHS)
    if (trial_path_supported(trial_path::avx512_balanced)) {
        const trial_path paths[] = {trial_path::avx512_divider_heavy, trial_path::avx512_divider_leaning,
                                    trial_path::avx512_balanced, trial_path::avx512_fma_heavy};
        return fastest_of(paths);
    }
    if (trial_path_supported(trial_path::avx2)) {
        const trial_path paths[] = {trial_path::avx2, trial_path::avx2_divider_heavy,
                                    trial_path::avx2_balanced, trial_path::avx2_fma_heavy};
        return fastest_of(paths);
    }
    return {trial_path::portable, 0};
#elif defined(NEON_VECTOR_PATHS)
    // The portable path is NEON on the divider alone here. By llvm-mca's
    // estimates (doc/benchmarks.md) it is the fastest on Apple M1, 6:2 on
    // Neoverse N1 and V1, and FMA blocks alone on Cortex-A72, Neoverse N2
    // and V2.
    const trial_path paths[] = {trial_path::portable, trial_path::neon_divider_heavy,
                                trial_path::neon_fma_only};
    return fastest_of(paths);
#else
    return {trial_path::portable, 0};
#endif
}

#if defined(X87_ARITHMETIC)

// Sets the x87 unit of this thread to round every result to 53-bit
// significands, as double arithmetic does elsewhere (see the top of the file).
// Safe for the whole program: it computes only with doubles, never long
// doubles; its only libm calls, sqrt and floor, stay exact; and the C
// library's number reading and printing use integer arithmetic. fldcw exists on
// every x87 unit, so CPUs without SSE2 run this too. Threads started later
// inherit the setting; none is started.
void round_x87_to_double(void) noexcept
{
    fpu_control_t control = 0;
    _FPU_GETCW(control);
    control = static_cast<fpu_control_t>((control & ~_FPU_EXTENDED) | _FPU_DOUBLE);
    _FPU_SETCW(control);
}

#else

// Double arithmetic already rounds once to 53 bits here: nothing to set.
void round_x87_to_double(void) noexcept
{
}

#endif

// Sets this thread's arithmetic for trial division. Runs once, before main,
// so before any trial division.
const bool arithmetic_prepared = (round_x87_to_double(), true);

// The path has_trial_divisor and primes_among take, and its rate: the
// fastest, timed at their first call, so that a run that never searches
// does not time the paths. The program has one thread, and no signal
// handler searches.
timed_path chosen_path(void) noexcept
{
    static bool chosen = false;
    static timed_path fastest = {trial_path::portable, 0};
    if (!chosen) {
        fastest = fastest_timed_path();
        chosen = true;
    }
    return fastest;
}

// The path on which the program tests batches of candidates: the chosen
// one, or on 64-bit ARM, where the portable path may be chosen and lacks FMA,
// the NEON path of FMA blocks alone, so that candidates share their divisors
// there too.
trial_path batch_path(void) noexcept
{
    trial_path path = chosen_path().path;
#if defined(NEON_VECTOR_PATHS)
    if (path == trial_path::portable)
        return trial_path::neon_fma_only;
#endif
    return path;
}

} // namespace

bool trial_path_supported(trial_path path) noexcept
{
#if defined(X86_VECTOR_PATHS)
    __builtin_cpu_init();
    switch (path) {
    case trial_path::avx512_divider_heavy:
    case trial_path::avx512_divider_leaning:
    case trial_path::avx512_balanced:
    case trial_path::avx512_fma_heavy:
        return __builtin_cpu_supports("avx512f");
    case trial_path::avx2:
    case trial_path::avx2_divider_heavy:
    case trial_path::avx2_balanced:
    case trial_path::avx2_fma_heavy:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    default:
        break;
    }
#elif defined(NEON_VECTOR_PATHS)
    // NEON, with FRECPE, FRECPS and FMA for doubles, is part of every 64-bit
    // ARM CPU.
    if (path == trial_path::neon_divider_heavy || path == trial_path::neon_fma_only)
        return true;
#endif
    return path == trial_path::portable;
}

trial_path fastest_trial_path(void) noexcept
{
    return fastest_timed_path().path;
}

bool has_trial_divisor_with(const trial_steps &steps, double candidate)
{
    double top = std::floor(std::sqrt(candidate));
    // The first division comes before any bound test: for candidates below 4
    // it is by 0 or 1, and its verdict is final.
    if (top < 2) {
        double quotient = candidate / top;
        return quotient - std::floor(quotient) == 0;
    }
    return steps.has_divisor(candidate, top);
}

bool has_trial_divisor_on(trial_path path, double candidate)
{
    return has_trial_divisor_with(steps_on(path), candidate);
}

bool has_trial_divisor(double candidate)
{
    return has_trial_divisor_on(chosen_path().path, candidate);
}

namespace {

// Candidates below this, 2^24, whose tops are below 2^12, are tested in
// lanes (primes_in_lanes) on a path without FMA. Above it a candidate takes
// enough divisions that testing it alone costs nothing measurable more, and
// on AMD Zen 4 the lanes ran a few per cent slower than the steps of one
// candidate.
const double lanewise_limit = 16777216.0;

// Below this, 2^32, where a candidate's top is below 2^16, a path whose
// candidates share their divisors takes them in batches of largest_batch:
// there a batch of largest_cohort would take a few hundred microseconds at
// most, and timing each such batch (see list_primes_after) would cost a few
// per cent.
const double large_shared_batch_limit = 4294967296.0;

// Above large_shared_batch_limit, a batch holds no more candidates than the
// chosen path would test one at a time in this many nanoseconds, were they
// all prime, nor more than largest_cohort. Near 2^53 that is some 70
// candidates on an Intel Xeon, which their shared divisors test in about
// half a second, 4 to 5 times as fast as the path alone (about twice on AMD
// Zen 1). The first batches of a search start small (see
// list_primes_after), so that its first primes come no later than if each
// candidate went alone. With 1.25 s, batches near 2^53 of some 35
// candidates shared their divisors among fewer vectors: 2,000 candidates
// from 2^53 - 2001 took 14.6 s instead of 11.7 on the Xeon.
const double longest_alone_ns = 2.5e9;

// A parked lane (see primes_in_lanes): candidate 1 and top 2^60.
const double parked_candidate = 1, parked_top = 1152921504606846976.0;

// A batch tested in lanes: its candidates, their tops and the primes among
// them, each with room after the batch for the widest family, of eight
// lanes. The program has one thread, and no signal handler calls the search.
constexpr size_t lane_room = parked_room(8);
double batch_candidates[largest_batch + lane_room];
double batch_tops[largest_batch + lane_room];
double batch_primes[largest_batch + lane_room];

// primes_among_with for candidates whose tops are from least_lane_top to below
// 2^12, tested in lanes.
size_t primes_in_lanes_among(const trial_steps &steps, double first, size_t count, double *primes)
{
    // Each top follows the candidates instead of taking a square root of its
    // own: it is the largest whole number whose square is at most the
    // candidate. That is floor(sqrt) of it: below 2^24 a candidate one below
    // a square k^2 has its square root below k by more than 1/(2k) >= 2^-13,
    // far more than sqrt's rounding error there, below 2^-40.
    double top = std::floor(std::sqrt(first));
    for (size_t i = 0; i < count; i++) {
        batch_candidates[i] = first + static_cast<double>(i);
        if ((top + 1) * (top + 1) <= batch_candidates[i])
            top = top + 1;
        batch_tops[i] = top;
    }
    std::fill(batch_candidates + count, batch_candidates + count + lane_room, parked_candidate);
    std::fill(batch_tops + count, batch_tops + count + lane_room, parked_top);
    size_t found = steps.primes_in_lanes(batch_candidates, batch_tops, count, batch_primes);
    std::copy(batch_primes, batch_primes + found, primes);
    return found;
}

// How many of the count candidates from first on, from 4 below 2^53, have
// floor(sqrt) equal to top, that of first: those below (top + 1)^2, but for
// the last of them where top >= 2^26, whose square root rounds up to
// top + 1.
size_t sharing_top(double first, size_t count, double top)
{
    auto next_top = static_cast<uint64_t>(top) + 1;
    uint64_t last = std::min(next_top * next_top - 1, static_cast<uint64_t>(first) + count - 1);
    while (std::floor(std::sqrt(static_cast<double>(last))) > top)
        last--;
    return static_cast<size_t>(last - static_cast<uint64_t>(first) + 1);
}

} // namespace

size_t batch_length(double first)
{
    trial_steps steps = steps_on(batch_path());
    if (steps.primes_sharing_divisors == nullptr)
        return first < lanewise_limit ? largest_batch : 1;
    if (first < large_shared_batch_limit)
        return largest_batch;
    double alone = longest_alone_ns * chosen_path().rate / std::floor(std::sqrt(first));
    return static_cast<size_t>(std::clamp(alone, 1.0, static_cast<double>(largest_cohort)));
}

size_t primes_among_with(const trial_steps &steps, double first, size_t count, double *primes)
{
    size_t found = 0, tested = 0;
    while (tested < count) {
        double candidate = first + static_cast<double>(tested);
        size_t run = 1;
        if (steps.primes_sharing_divisors != nullptr && candidate >= 4) {
            double top = std::floor(std::sqrt(candidate));
            run = sharing_top(candidate, count - tested, top);
            found += steps.primes_sharing_divisors(candidate, run, top, primes + found);
        } else if (candidate >= least_lane_top * least_lane_top && candidate < lanewise_limit) {
            run = static_cast<size_t>(
                std::min(static_cast<double>(count - tested), lanewise_limit - candidate));
            found += primes_in_lanes_among(steps, candidate, run, primes + found);
        } else if (!has_trial_divisor_with(steps, candidate)) {
            primes[found++] = candidate;
        }
        tested += run;
    }
    return found;
}

size_t primes_among_on(trial_path path, double first, size_t count, double *primes)
{
    return primes_among_with(steps_on(path), first, count, primes);
}

size_t primes_among(double first, size_t count, double *primes)
{
    return primes_among_on(batch_path(), first, count, primes);
}
