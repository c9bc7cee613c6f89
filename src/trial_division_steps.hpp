// The step loops of trial division, written once for every family of vector
// blocks: the portable one and those of AVX2, AVX-512 and NEON. Why their
// verdicts are exact: the top of src/trial_division.cpp.
//
// A family is a struct of a vector type vec of width doubles, one of the
// compiler's own vector types, so that - subtracts lane by lane and a double
// with it stands for that double in every lane; a type mask that holds one
// flag per lane, a whole number or a vector of them, so that |, & and ~ work
// on the flags and mask{} holds none; and these operations on them:
//   broadcast(x)                 x in every lane
//   lane_numbers()               0, 1, ..., width - 1
//   at_least(d, low)             d, with the lanes below low raised to low
//   dividing_by_division(n, d)   the lanes of d that divide n, by the divider
//   dividing_by_reciprocal(n, d) the same, by the FMA units, from its own
//                                estimate of 1/d and then lanes_dividing_by
//                                (not needed by a family without FMA blocks)
//   undivided_by_shared(m, n, r, d, offset)
//                                the lanes of m whose n the divisor d, the
//                                same in every lane, does not divide, from
//                                r = 1/d and offset = -2^52 * d: by
//                                lanes_undivided_by_shared (only where
//                                shared_vectors is above 0)
//   any(m), count(m)             whether m holds a lane, and how many
//   below_two(d)                 the lanes of d below 2
//   load(from)                   width doubles from memory
//   refill(v, m, from)           v, with the lanes of m, in order, taking
//                                from[0], from[1], ... as many as m holds
//   append(to, m, v)             stores the lanes of m of v, in order, at to;
//                                may write up to width doubles there
//   unequal_lanes_of(m, a, b)    the lanes of m where a differs from b
//   store(to, v)                 stores v's width doubles at to
// The FMA families' own reciprocal tests (lanes_dividing_by and
// lanes_undivided_by_shared) use two more, multiply_add(a, b, c), a * b + c
// rounded once, and zero_lanes(v), the lanes of v that are 0. The walks ask
// nothing else, so a family that computes each verdict its own way (the
// tests' recording one) runs them all. And shared_vectors, how many vectors
// of candidates that share their divisors it keeps in registers: 0 for a
// family without FMA, which has neither that walk nor
// dividing_by_reciprocal. A family's file includes this one under its own
// target attributes, so that these loops are compiled for its instruction
// set.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "trial_division_paths.hpp"

// 2^52: adding it to a number from 0 to 2^52 and subtracting it again rounds
// that number to a whole one (the top of src/trial_division.cpp says when).
constexpr double two_pow_52 = 4503599627370496.0;

// The lanes of d that divide n, found by the FMA units from r, an estimate of
// 1/d: the remainder of n by d in two exact rounds, which the top of
// src/trial_division.cpp proves exact for r within its bounds.
template <class family>
typename family::mask lanes_dividing_by(typename family::vec n, typename family::vec d,
                                        typename family::vec r)
{
    using vec = typename family::vec;
    // 1.5 * 2^52: adding and subtracting it rounds to a whole number, with
    // room for negative remainders. Subtracting in the other order gives the
    // negated whole number, exactly, so that one kind of FMA serves for all.
    const vec round_to_whole = vec{} + 6755399441055744.0;
    vec minus_k0 = round_to_whole - family::multiply_add(n, r, round_to_whole);
    vec remainder = family::multiply_add(minus_k0, d, n);
    vec minus_k1 = round_to_whole - family::multiply_add(remainder, r, round_to_whole);
    return family::zero_lanes(family::multiply_add(minus_k1, d, remainder));
}

// The lanes of apart whose candidate in n the divisor d does not divide, from
// r = 1/d correctly rounded and offset = -2^52 * d, each the same in every
// lane: two FMAs and a comparison, m = n * r + 2^52, then whether
// m * d - 2^52 * d differs from n, which the top of src/trial_division.cpp
// proves exact for every d from 2 up.
template <class family>
typename family::mask lanes_undivided_by_shared(typename family::mask apart, typename family::vec n,
                                                typename family::vec r, typename family::vec d,
                                                typename family::vec offset)
{
    const typename family::vec round_to_whole = family::broadcast(two_pow_52);
    typename family::vec m = family::multiply_add(n, r, round_to_whole);
    return family::unequal_lanes_of(apart, family::multiply_add(m, d, offset), n);
}

// The lanes of one step's blocks that divide their numerators. The step runs
// rounds times over division_blocks blocks for the divider followed by
// fma_blocks for the FMA units, so that both kinds of unit have work
// throughout. All blocks are taken from one base: block b's divisors are
// base - spacing * b, so that no block waits for the one before it.
template <class family, int division_blocks, int fma_blocks, int rounds = 1>
typename family::mask step_dividing_lanes(typename family::vec numerators, typename family::vec base,
                                          double spacing)
{
    typename family::mask found = {};
    for (int round = 0; round < rounds; round++)
        for (int block = 0; block < division_blocks + fma_blocks; block++) {
            double offset = spacing * (round * (division_blocks + fma_blocks) + block);
            typename family::vec divisors = base - offset;
            if (block < division_blocks) {
                found |= family::dividing_by_division(numerators, divisors);
            } else {
                if constexpr (fma_blocks > 0)
                    found |= family::dividing_by_reciprocal(numerators, divisors);
            }
        }
    return found;
}

// The most divisors has_divisor_in_steps tests past a candidate's first
// divisor: the rest of the step that holds it.
template <class family, int division_blocks, int fma_blocks>
constexpr int steps_overrun = (division_blocks + fma_blocks) * family::width - 1;

// True when some d with 2 <= d <= top divides n, for 4 <= n < 2^53 and
// 2 <= top <= floor(sqrt(n)). The lanes of each block hold consecutive
// divisors, and the steps walk down from top; only each step's base is
// computed from the one before it. The divisors left over after the last
// whole step go in blocks of their own, to the FMA units where the path has
// them, the last block's lanes below 2 raised to 2: that block starts at 2
// or above and ends below 2, so it holds 2 already and the raised lanes test
// nothing new.
template <class family, int division_blocks, int fma_blocks> bool has_divisor_in_steps(double n, double top)
{
    using vec = typename family::vec;
    const double per_block = family::width, per_step = per_block * (division_blocks + fma_blocks);
    const vec numerators = vec{} + n;
    vec base = top - family::lane_numbers();
    double next = top;
    for (; next - (per_step - 1) >= 2; next -= per_step) {
        if (family::any(
                step_dividing_lanes<family, division_blocks, fma_blocks>(numerators, base, per_block)))
            return true;
        base = base - per_step;
    }
    const int leftover_fma_blocks = fma_blocks > 0 ? 1 : 0;
    for (; next >= 2; next -= per_block) {
        if (family::any(step_dividing_lanes<family, 1 - leftover_fma_blocks, leftover_fma_blocks>(
                numerators, family::at_least(base, 2), 0)))
            return true;
        base = base - per_block;
    }
    return false;
}

// How many vectors of candidates primes_in_lanes keeps in flight, and how
// many times over each of their steps runs the path's mix of blocks: enough
// that while one vector waits for the verdicts of its step, which it needs
// to take its next candidates, the others keep the units busy.
constexpr int vectors_in_flight = 3;
constexpr int lane_rounds = 6;

// The least top of a candidate of primes_in_lanes: above the divisors of
// one lane in a step of every path.
constexpr double least_lane_top = 64;

// The most divisors primes_in_lanes tests past a candidate's first divisor:
// the rest of the lane's step.
template <int division_blocks, int fma_blocks>
constexpr int lanes_overrun = (division_blocks + fma_blocks) * lane_rounds - 1;

// Room primes_in_lanes needs after the count entries of its candidates and
// tops, in doubles, for a family of the given width.
constexpr size_t parked_room(int width) noexcept
{
    return static_cast<size_t>(vectors_in_flight + 1) * static_cast<size_t>(width);
}

// Tests count candidates side by side, each lane of a vector holding one of
// them and walking its own divisors downward from its own top, and stores at
// primes, in ascending order, those that no divisor from their top down to 2
// divides; returns how many. candidates[i] and tops[i], for i below count,
// are ascending candidates below 2^53 and floor(sqrt) of each, at least
// least_lane_top. After them come parked_room(width) parked lanes, candidate
// 1 and top 2^60, which no divisor of theirs divides and whose divisors stay
// at 2^60, so that they never finish. primes has room for count + width.
//
// Each step of a lane tests the per_step divisors from its base down. A base
// below per_step + 1 is raised to it, so that the step ends at 2 and tests
// only divisors from 2 to the lane's top (which is at least least_lane_top),
// some of them again. The lane then falls below 2: its candidate has no
// divisor unless the step found one. A lane finishes when a step finds a
// divisor or its divisors fall below 2; it then takes the next candidate not
// yet taken, or a parked lane once none is left. Each candidate is taken
// once and finishes once, so the loop ends when count lanes have finished;
// and as each finish takes one entry, the entries taken never pass count +
// parked_room(width).
//
// The primes come out in ascending order without sorting. The candidates are
// taken in ascending order: step by step, within a step vector by vector,
// and within a vector lane by lane. A prime finishes a fixed number of steps
// after it was taken, the steps its top needs to fall below 2, and that
// number never falls as the tops rise. So of two primes, the smaller finishes
// in an earlier step, or in the same step and then, having been taken in the
// same step, in an earlier vector or an earlier lane; and primes are stored
// in the order they finish, lanes in order.
template <class family, int division_blocks, int fma_blocks>
size_t primes_in_lanes(const double *candidates, const double *tops, size_t count, double *primes)
{
    using vec = typename family::vec;
    using mask = typename family::mask;
    constexpr double per_step = lane_rounds * (division_blocks + fma_blocks);
    static_assert(per_step < least_lane_top, "a step of a lane must end at 2 or above");
    vec numerators[vectors_in_flight], divisors[vectors_in_flight];
    size_t taken = 0, finished = 0, found = 0;
    for (int lanes = 0; lanes < vectors_in_flight; lanes++) {
        numerators[lanes] = family::load(candidates + taken);
        divisors[lanes] = family::load(tops + taken);
        taken += family::width;
    }
    while (finished < count) {
        for (int lanes = 0; lanes < vectors_in_flight; lanes++) {
            vec base = family::at_least(divisors[lanes], per_step + 1);
            mask dividing = step_dividing_lanes<family, division_blocks, fma_blocks, lane_rounds>(
                numerators[lanes], base, 1);
            divisors[lanes] = base - per_step;
            mask exhausted = family::below_two(divisors[lanes]);
            mask prime = exhausted & ~dividing;
            family::append(primes + found, prime, numerators[lanes]);
            found += static_cast<size_t>(family::count(prime));
            mask done = dividing | exhausted;
            numerators[lanes] = family::refill(numerators[lanes], done, candidates + taken);
            divisors[lanes] = family::refill(divisors[lanes], done, tops + taken);
            auto finishing = static_cast<size_t>(family::count(done));
            taken += finishing;
            finished += finishing;
        }
    }
    return found;
}

// A cohort of candidates with one top walks its divisors a block of
// cohort_block at a time (primes_sharing_divisors). A candidate found to have
// a divisor leaves the cohort at the end of the block, so it is tested
// against at most shared_overrun divisors past its first divisor. Each
// block's reciprocals are computed once for the whole cohort, and each tile
// of the cohort's registers walks the whole block. Longer blocks share that
// work among more tests, shorter ones let candidates with a divisor leave
// sooner: on an Intel Xeon, blocks of 128 divisors ran as fast as blocks of
// 256 at 10^12 and 2 to 3 % faster at the smallest tops.
constexpr int cohort_block = 128;
constexpr int shared_overrun = cohort_block - 1;

// A block of a cohort's divisors: how many, and for each its value d, its
// reciprocal 1/d correctly rounded and -2^52 * d, as the shared test takes
// them (undivided_by_shared).
struct divisor_block {
    int count;
    alignas(64) double divisor_of[cohort_block];
    alignas(64) double reciprocal_of[cohort_block];
    alignas(64) double offset_of[cohort_block];
};

// Fills block with the divisors from next down, cohort_block of them or as
// many as reach 2 in whole groups of width; those below 2 are raised to 2,
// as in the steps, and test nothing new.
template <class family> void fill_divisor_block(divisor_block &block, double next)
{
    constexpr int width = family::width;
    static_assert(cohort_block % width == 0, "a block holds whole groups");
    // The divisors from next down to 2, rounded up to whole groups.
    const double to_two = std::ceil((next - 1) / width) * width;
    block.count = to_two < cohort_block ? static_cast<int>(to_two) : cohort_block;
    for (int group = 0; group < block.count; group += width) {
        typename family::vec divisors = family::at_least(next - group - family::lane_numbers(), 2);
        family::store(block.divisor_of + group, divisors);
        family::store(block.reciprocal_of + group, family::broadcast(1) / divisors);
        family::store(block.offset_of + group, divisors * -two_pow_52);
    }
}

// Tests the vectors * width candidates at tile, the last few of which may be
// padding, 1, against each divisor of block, in registers, and stores those
// without a divisor, in order, at kept_at, which is at or before tile; returns
// how many it stored, padding included. It may write up to width doubles past
// them, all within the tile, which it has read by then.
template <class family, int vectors>
size_t walk_tile(const double *tile, const divisor_block &block, double *kept_at)
{
    using vec = typename family::vec;
    using mask = typename family::mask;
    constexpr int width = family::width;
    vec numerators[vectors];
    // The lanes without a divisor so far: at first every lane, as neither a
    // candidate nor the padding is 0.
    mask apart[vectors];
    for (int i = 0; i < vectors; i++) {
        numerators[i] = family::load(tile + static_cast<size_t>(i) * width);
        apart[i] = family::unequal_lanes_of(static_cast<mask>(~mask{}), numerators[i], vec{});
    }
    for (int j = 0; j < block.count; j++) {
        vec r = family::broadcast(block.reciprocal_of[j]), d = family::broadcast(block.divisor_of[j]),
            offset = family::broadcast(block.offset_of[j]);
        for (int i = 0; i < vectors; i++)
            apart[i] = family::undivided_by_shared(apart[i], numerators[i], r, d, offset);
    }
    size_t kept = 0;
    for (int i = 0; i < vectors; i++) {
        family::append(kept_at + kept, apart[i], numerators[i]);
        kept += static_cast<size_t>(family::count(apart[i]));
    }
    return kept;
}

// walk_tile with vectors, one of 1 to sizeof...(counts), chosen at run time.
template <class family, int... counts>
size_t walk_tile_of(int vectors, const double *tile, const divisor_block &block, double *kept_at,
                    std::integer_sequence<int, counts...>)
{
    size_t kept = 0;
    ((vectors == counts + 1 ? void(kept = walk_tile<family, counts + 1>(tile, block, kept_at)) : void()),
     ...);
    return kept;
}

// How many candidates share their divisors in registers on family's blocks:
// a tile of the cohort.
template <class family>
constexpr size_t shared_room = static_cast<size_t>(family::shared_vectors) * family::width;

// The candidates of a cohort, and room after them for the padding and for
// what keeping them (append) writes past them, in every family's widths. The
// program has one thread, and no signal handler searches.
alignas(64) inline double cohort[largest_batch + 16];

// Stores at primes, in ascending order, each of the count candidates from
// first on that no divisor from top down to 2 divides, and returns how many.
// The candidates are from 4 to below 2^53, count is at most largest_batch,
// and each has floor(sqrt) equal to top, so that they walk the same divisors;
// primes has room for count.
//
// Fewer candidates than a vector holds would leave most of its lanes empty,
// so they are tested one at a time, in the steps of the path's mix. Others
// walk those divisors together as one cohort, a block at a time, each tile
// of shared_vectors vectors in turn, the last of them with as many vectors as
// it needs; after each block the cohort keeps only those without a divisor,
// in order. So every candidate is tested against every divisor from top down
// to its first divisor, as in the plain form, and against at most
// shared_overrun more. The padding, 1, is never found to have a divisor: for
// d >= 2, r <= 1/2 and 1 * r + 2^52 rounds to 2^52 (a tie, for d = 2, goes to
// the even 2^52), so m * d - 2^52 * d is 0. Those without a divisor stay in
// order, so they come out ascending.
template <class family, int division_blocks, int fma_blocks>
size_t primes_sharing_divisors(double first, size_t count, double top, double *primes)
{
    constexpr size_t width = family::width, tile = shared_room<family>;
    size_t live = 0;
    if (count < width) {
        for (size_t i = 0; i < count; i++) {
            double candidate = first + static_cast<double>(i);
            if (!has_divisor_in_steps<family, division_blocks, fma_blocks>(candidate, top))
                primes[live++] = candidate;
        }
        return live;
    }
    for (live = 0; live < count; live++)
        cohort[live] = first + static_cast<double>(live);
    divisor_block block;
    for (double next = top; live > 0 && next >= 2; next -= block.count) {
        std::fill(cohort + live, cohort + live + width, 1.0);
        fill_divisor_block<family>(block, next);
        size_t kept = 0;
        for (size_t from = 0; from < live; from += tile) {
            size_t in_tile = std::min(tile, live - from), vectors = (in_tile + width - 1) / width;
            // The padding at the end of the last tile is kept too, and left
            // out of the count.
            kept += walk_tile_of<family>(static_cast<int>(vectors), cohort + from, block, cohort + kept,
                                         std::make_integer_sequence<int, family::shared_vectors>()) -
                    (vectors * width - in_tile);
        }
        live = kept;
    }
    std::copy(cohort, cohort + live, primes);
    return live;
}

// The step loops of path on family's blocks, and how it tests a batch: by
// shared divisors where the family has FMA, else in lanes.
template <class family, trial_path path> constexpr trial_steps steps_with(void) noexcept
{
    constexpr block_mix mix = mix_of(path);
    if constexpr (family::shared_vectors > 0)
        return {has_divisor_in_steps<family, mix.division_blocks, mix.fma_blocks>, nullptr,
                primes_sharing_divisors<family, mix.division_blocks, mix.fma_blocks>};
    else
        return {has_divisor_in_steps<family, mix.division_blocks, mix.fma_blocks>,
                primes_in_lanes<family, mix.division_blocks, mix.fma_blocks>, nullptr};
}

// The step loops of path on family's blocks, for path one of paths.
template <class family, trial_path... paths> trial_steps steps_among(trial_path path) noexcept
{
    trial_steps steps = {};
    // For each of paths in turn, takes its loops if it is path.
    ((path == paths ? void(steps = steps_with<family, paths>()) : void()), ...);
    return steps;
}
