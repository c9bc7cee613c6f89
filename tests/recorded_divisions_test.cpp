// Runs the walks of trial division on a family of blocks that records every
// divisor each candidate is tested against, and checks each candidate's
// divisors against the plain form's: from floor(sqrt(n)), as the double
// square root gives it, down by one to its first divisor or to 2, none
// skipped, none out of order, and at most a walk's stated few more. The
// verdicts of this family come from whole-number arithmetic, so these tests
// see the walks alone; the real families' verdicts are tested in
// prime_search_test.cpp.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "trial_division_steps.hpp"

namespace {

// The plain form's walk of a candidate n from 4 on: its first divisor, top,
// and its last, the first that divides n, or 2 when none does.
struct plain_walk {
    uint64_t top, last;
};

// plain_walk of n, in whole numbers; each is computed once, as the walks
// near 2^53 take some 10^8 divisions.
plain_walk plain_walk_of(uint64_t n)
{
    static std::map<uint64_t, plain_walk> known;
    auto found = known.find(n);
    if (found != known.end())
        return found->second;
    auto top = static_cast<uint64_t>(std::floor(std::sqrt(static_cast<double>(n))));
    uint64_t last = top;
    while (last > 2 && n % last != 0)
        last--;
    return known[n] = {top, last};
}

// Whether the plain form finds no divisor of n, for n from 4 on.
bool plain_prime(uint64_t n)
{
    return plain_walk_of(n).last == 2 && n % 2 != 0;
}

// What a candidate has been tested against so far, and the first rule its
// divisors broke, with the divisor that broke it and the one before.
struct candidate_record {
    plain_walk plain;
    uint64_t last_tested = 0;     // 0 before the first test
    uint64_t raised_to = 0;       // where a raised tail began, 0 if none
    int64_t past_plain_last = -1; // tests after the first of plain.last
    const char *fault = nullptr;
    double fault_divisor = 0, fault_after = 0;
};

// The records of the run a walk is testing, candidate first + i at i; a
// test of a number outside the run; and the tests of every lane so far,
// padding and parked lanes included, against a limit that no walk reaches
// unless it runs on without end.
struct run_record {
    uint64_t first = 0;
    std::vector<candidate_record> candidates;
    std::string fault;
    uint64_t tests = 0, test_limit = 0;
};

run_record ledger;

// Starts the ledger for the count candidates from first on. The limit is
// sixteen lanes for each candidate and more, each tested against every
// divisor below the largest top and some hundreds more.
void start_ledger(uint64_t first, size_t count)
{
    ledger = {first, {}, {}, 0, 0};
    for (uint64_t n = first; n < first + count; n++) {
        candidate_record record;
        record.plain = plain_walk_of(n);
        ledger.candidates.push_back(record);
    }
    ledger.test_limit = 16 * (count + 64) * (ledger.candidates.back().plain.top + 512);
}

// Ends the tests where a walk runs on past the ledger's limit, which would
// otherwise never end, and says so.
[[noreturn]] void stop_endless_walk(void)
{
    ADD_FAILURE() << "the walk of the " << ledger.candidates.size() << " candidates from " << ledger.first
                  << " made " << ledger.tests << " tests and runs on";
    std::fflush(stdout);
    std::abort();
}

// The rule that testing a candidate whose record is record against divisor,
// from 2 to its top, breaks, or null: the first divisor tested is the top,
// and each next one is one less; the exceptions are 2 again after 2 (lanes
// raised to 2 at the end of a walk) and one rise, the tail of primes_in_lanes
// raised to end at 2, which repeats one or more divisors already tested.
const char *order_fault(candidate_record &record, uint64_t divisor)
{
    if (record.last_tested == 0)
        return divisor == record.plain.top ? nullptr : "a first divisor other than the top";
    if (divisor + 1 == record.last_tested || (divisor == 2 && record.last_tested == 2))
        return nullptr;
    if (divisor < record.last_tested || record.raised_to != 0)
        return "a divisor out of order";
    record.raised_to = divisor;
    return nullptr;
}

// Records that candidate n was tested against d, and returns whether d
// divides n. Numbers that are no candidate of the run, and divisors that are
// not whole numbers from 2 to the top, are faults, and divide nothing.
bool record_test(double n, double d)
{
    if (++ledger.tests > ledger.test_limit)
        stop_endless_walk();
    if (n == 1) // padding, or a parked lane
        return false;
    const auto first = static_cast<double>(ledger.first);
    if (n != std::floor(n) || n < first || n >= first + static_cast<double>(ledger.candidates.size())) {
        if (ledger.fault.empty())
            ledger.fault = "tested " + std::to_string(n) + ", outside the run";
        return false;
    }
    candidate_record &record = ledger.candidates[static_cast<size_t>(n - first)];
    const bool in_range = d == std::floor(d) && d >= 2 && d <= static_cast<double>(record.plain.top);
    auto divisor = in_range ? static_cast<uint64_t>(d) : 0;
    const char *fault = in_range ? order_fault(record, divisor) : "a divisor outside 2 to the top";
    if (fault != nullptr && record.fault == nullptr) {
        record.fault = fault;
        record.fault_divisor = d;
        record.fault_after = static_cast<double>(record.last_tested);
    }
    if (!in_range)
        return false;
    record.last_tested = divisor;
    if (record.past_plain_last >= 0)
        record.past_plain_last++;
    else if (divisor == record.plain.last)
        record.past_plain_last = 0;
    return static_cast<uint64_t>(n) % divisor == 0;
}

// A family of blocks (see src/trial_division_steps.hpp) of width lanes, that
// keeps vectors of candidates sharing their divisors, and records every test.
// Its vectors are the compiler's, which for one lane GCC makes a double.
template <int lanes, int vectors> struct recording_blocks {
    typedef double vec __attribute__((vector_size(8 * lanes)));
    using mask = unsigned;
    static constexpr int width = lanes;
    static constexpr int shared_vectors = vectors;
    static constexpr mask every_lane = (1u << lanes) - 1;

    // Lane i of v.
    static double &lane(vec &v, int i)
    {
        if constexpr (std::is_same_v<vec, double>)
            return v;
        else
            return reinterpret_cast<double *>(&v)[i];
    }

    // The lanes where d divides n, each test recorded.
    [[gnu::always_inline]] static mask tested(vec n, vec d)
    {
        mask dividing = 0;
        for (int i = 0; i < lanes; i++)
            dividing |= record_test(lane(n, i), lane(d, i)) ? 1u << i : 0;
        return dividing;
    }

    static vec broadcast(double x)
    {
        return vec{} + x;
    }

    static vec lane_numbers(void)
    {
        vec numbers = {};
        for (int i = 0; i < lanes; i++)
            lane(numbers, i) = i;
        return numbers;
    }

    static vec at_least(vec d, double low)
    {
        for (int i = 0; i < lanes; i++)
            lane(d, i) = std::max(lane(d, i), low);
        return d;
    }

    static mask dividing_by_division(vec n, vec d)
    {
        return tested(n, d);
    }

    static mask dividing_by_reciprocal(vec n, vec d)
    {
        return tested(n, d);
    }

    // Also checks that d is the same in every lane, and r and offset are its.
    [[gnu::always_inline]] static mask undivided_by_shared(mask m, vec n, vec r, vec d, vec offset)
    {
        const double divisor = lane(d, 0), reciprocal = 1 / divisor, divisor_offset = divisor * -two_pow_52;
        for (int i = 0; i < lanes; i++)
            if ((lane(d, i) != divisor || lane(r, i) != reciprocal || lane(offset, i) != divisor_offset) &&
                ledger.fault.empty())
                ledger.fault =
                    "a lane's divisor, reciprocal or offset not that of " + std::to_string(divisor);
        return m & ~tested(n, d);
    }

    static bool any(mask m)
    {
        return (m & every_lane) != 0;
    }

    static int count(mask m)
    {
        return __builtin_popcount(m & every_lane);
    }

    static mask below_two(vec d)
    {
        mask below = 0;
        for (int i = 0; i < lanes; i++)
            below |= lane(d, i) < 2 ? 1u << i : 0;
        return below;
    }

    static vec load(const double *from)
    {
        vec v = {};
        for (int i = 0; i < lanes; i++)
            lane(v, i) = from[i];
        return v;
    }

    static void store(double *to, vec v)
    {
        for (int i = 0; i < lanes; i++)
            to[i] = lane(v, i);
    }

    static vec refill(vec v, mask m, const double *from)
    {
        for (int i = 0; i < lanes; i++)
            if (m >> i & 1)
                lane(v, i) = *from++;
        return v;
    }

    static void append(double *to, mask m, vec v)
    {
        for (int i = 0; i < lanes; i++)
            if (m >> i & 1)
                *to++ = lane(v, i);
    }

    static mask unequal_lanes_of(mask m, vec a, vec b)
    {
        mask unequal = 0;
        for (int i = 0; i < lanes; i++)
            unequal |= (m >> i & 1) && lane(a, i) != lane(b, i) ? 1u << i : 0;
        return unequal;
    }
};

// The walks of a recording family with a real path's mix, its width, and
// the most divisors each may test past a candidate's first divisor: one
// candidate's steps, and a batch (primes_among_with), which takes those
// steps too. near_top marks the walks also run near 2^53.
struct recorded_walks {
    const char *name;
    trial_steps steps;
    size_t width;
    int steps_overrun, batch_overrun;
    bool near_top;
};

// Names a walk in the tests' messages.
void PrintTo(const recorded_walks &walks, std::ostream *out)
{
    *out << walks.name;
}

template <int width, int vectors, trial_path path> recorded_walks walks_of(const char *name, bool near_top)
{
    using family = recording_blocks<width, vectors>;
    constexpr block_mix mix = mix_of(path);
    constexpr int in_steps = steps_overrun<family, mix.division_blocks, mix.fma_blocks>;
    constexpr int in_batch =
        vectors > 0 ? shared_overrun : lanes_overrun<mix.division_blocks, mix.fma_blocks>;
    return {name, steps_with<family, path>(), width, in_steps, std::max(in_steps, in_batch), near_top};
}

// Every real family's width, shared vectors and mixes, and width 1; and the
// lanes on every width.
const recorded_walks every_walk[] = {
    walks_of<8, 7, trial_path::avx512_divider_heavy>("w8_shared7_2to1", true),
    walks_of<8, 7, trial_path::avx512_divider_leaning>("w8_shared7_3to2", false),
    walks_of<8, 7, trial_path::avx512_balanced>("w8_shared7_1to1", false),
    walks_of<8, 7, trial_path::avx512_fma_heavy>("w8_shared7_1to2", false),
    walks_of<4, 6, trial_path::avx2>("w4_shared6_4to0", true),
    walks_of<4, 6, trial_path::avx2_divider_heavy>("w4_shared6_2to1", false),
    walks_of<4, 6, trial_path::avx2_balanced>("w4_shared6_1to1", false),
    walks_of<4, 6, trial_path::avx2_fma_heavy>("w4_shared6_1to2", false),
    walks_of<2, 12, trial_path::neon_divider_heavy>("w2_shared12_6to2", true),
    walks_of<2, 12, trial_path::neon_fma_only>("w2_shared12_0to8", false),
    walks_of<1, 3, trial_path::avx512_divider_heavy>("w1_shared3_2to1", true),
    walks_of<2, 0, trial_path::portable>("w2_lanes_4to0", false),
    walks_of<8, 0, trial_path::avx512_divider_leaning>("w8_lanes_3to2", false),
    walks_of<4, 0, trial_path::neon_fma_only>("w4_lanes_0to8", false),
    walks_of<1, 0, trial_path::avx512_balanced>("w1_lanes_1to1", false),
};

// A run of count candidates from first on, from 4 below 2^53.
struct candidate_run {
    uint64_t first;
    size_t count;
};

// Adds a failure for each broken rule of the ledger's run: a test outside
// the run, a candidate tested out of order, one never tested down to its
// plain last divisor, tested past it against more than overrun divisors, or
// whose raised tail does not end at 2 within one step.
void expect_plain_divisions(const std::string &walk, int overrun)
{
    EXPECT_EQ(ledger.fault, "") << walk;
    for (size_t i = 0; i < ledger.candidates.size(); i++) {
        const candidate_record &record = ledger.candidates[i];
        std::string where = walk + ", candidate " + std::to_string(ledger.first + i);
        EXPECT_TRUE(record.fault == nullptr) << where << ": " << record.fault << ", " << record.fault_divisor
                                             << " after " << record.fault_after;
        EXPECT_GE(record.past_plain_last, 0)
            << where << " left at " << record.last_tested << ", before " << record.plain.last;
        EXPECT_LE(record.past_plain_last, overrun) << where;
        if (record.raised_to != 0) {
            EXPECT_EQ(record.last_tested, 2u) << where;
            EXPECT_LE(record.raised_to, static_cast<uint64_t>(overrun) + 2) << where;
        }
    }
}

// The primes among the run, by the plain form.
std::vector<double> plain_primes(candidate_run run)
{
    std::vector<double> primes;
    for (uint64_t n = run.first; n < run.first + run.count; n++)
        if (plain_prime(n))
            primes.push_back(static_cast<double>(n));
    return primes;
}

// Walks the run as a batch, and checks every candidate's divisions and the
// primes found.
void expect_plain_batch(const recorded_walks &walks, candidate_run run)
{
    std::string name = std::to_string(run.first) + " + " + std::to_string(run.count);
    std::vector<double> primes(largest_batch);
    start_ledger(run.first, run.count);
    size_t found = primes_among_with(walks.steps, static_cast<double>(run.first), run.count, primes.data());
    expect_plain_divisions("batch " + name, walks.batch_overrun);
    primes.resize(found);
    EXPECT_EQ(primes, plain_primes(run)) << name;
}

// Walks each candidate of each run alone in the steps, then each run as a
// batch, and checks every candidate's divisions and the verdicts.
void expect_plain_walks(const recorded_walks &walks, const std::vector<candidate_run> &runs)
{
    for (const candidate_run &run : runs) {
        for (uint64_t n = run.first; n < run.first + run.count; n++) {
            start_ledger(n, 1);
            bool has_divisor = has_trial_divisor_with(walks.steps, static_cast<double>(n));
            expect_plain_divisions("steps of " + std::to_string(n), walks.steps_overrun);
            EXPECT_EQ(has_divisor, !plain_prime(n)) << n;
        }
        expect_plain_batch(walks, run);
    }
}

class RecordedDivisions : public testing::TestWithParam<recorded_walks> {};

// A square m^2 with m above 2^26: m^2 - 1, whose square root rounds up to m,
// walks from m, while m^2 - 2 = (m - 8200)(m + 8201) walks from m - 1.
const uint64_t rounding_root = 8200 * 8201 - 2;

// The first candidates; the start and end of the lanes (64^2, 2^24); a full
// batch whose tops run from 63 to 110; the squares 66^2, whose first
// divisor is its top, and 101^2, of a prime, and those around them; every
// run of 1 to 9 candidates and runs around one and two tiles of each
// family's cohorts (24 and 48, 56 and 112); and the square above 2^26.
TEST_P(RecordedDivisions, FollowThePlainForm)
{
    std::vector<candidate_run> runs = {
        {4, 97},         {64 * 64 - 40, 80},  {(uint64_t{1} << 24) - 64, 128},       {4089, largest_batch},
        {4356 - 23, 26}, {101 * 101 - 8, 16}, {rounding_root * rounding_root - 2, 3}};
    for (unsigned count :
         {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 23u, 24u, 25u, 47u, 48u, 49u, 55u, 56u, 57u, 111u, 112u, 113u})
        runs.push_back({10007, count});
    expect_plain_walks(GetParam(), runs);
}

// Near 2^53, on one walk of each width with shared vectors, as each
// candidate takes some 10^7 to 10^8 divisions: the run of as many candidates
// as a vector holds that ends at 2^53, and the square of the prime 94906249
// with the candidates below it, of which the one just below walks from that
// prime, as its square root rounds up. These go as batches only.
TEST_P(RecordedDivisions, FollowThePlainFormNearTwoPow53)
{
    const recorded_walks &walks = GetParam();
    if (!walks.near_top)
        GTEST_SKIP() << "one walk of each width with shared vectors is enough here";
    const uint64_t root = 94906249;
    for (candidate_run run :
         {candidate_run{(uint64_t{1} << 53) - walks.width, walks.width}, candidate_run{root * root - 4, 5}})
        expect_plain_batch(walks, run);
}

// The name of a walk in the tests' names.
std::string walk_name(const testing::TestParamInfo<recorded_walks> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Walks, RecordedDivisions, testing::ValuesIn(every_walk), walk_name);

} // namespace
