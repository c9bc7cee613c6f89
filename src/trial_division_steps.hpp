// The step loops of trial division, written once for every family of vector
// blocks: the portable one and those of AVX2, AVX-512 and NEON. Why their
// verdicts are exact: the top of src/trial_division.cpp.
//
// A family is a struct of a vector type vec of width doubles, a type mask
// that holds one flag per lane, and these operations on them:
//   broadcast(x)                 x in every lane
//   lane_numbers()               0, 1, ..., width - 1
//   minus(a, b)                  a - b, lane by lane
//   at_least(d, low)             d, with the lanes below low raised to low
//   dividing_by_division(n, d)   the lanes of d that divide n, by the divider
//   dividing_by_reciprocal(n, d) the same, by the FMA units (not needed by a
//                                family whose paths have no FMA blocks)
//   no_lanes(), either(a, b), but_not(a, b), any(m), count(m)
//   below_two(d)                 the lanes of d below 2
//   load(from)                   width doubles from memory
//   refill(v, m, from)           v, with the lanes of m, in order, taking
//                                from[0], from[1], ... as many as m holds
//   append(to, m, v)             stores the lanes of m of v, in order, at to;
//                                may write up to width doubles there
// A family's file includes this one under its own target attributes, so that
// these loops are compiled for its instruction set.
#pragma once

#include <cstddef>

// The lanes of one step's blocks that divide their numerators. The step runs
// rounds times over division_blocks blocks for the divider followed by
// fma_blocks for the FMA units, so that both kinds of unit have work
// throughout. All blocks are taken from one base: block b's divisors are
// base - spacing * b, so that no block waits for the one before it.
template <class family, int division_blocks, int fma_blocks, int rounds = 1>
typename family::mask step_dividing_lanes(typename family::vec numerators, typename family::vec base,
                                          double spacing)
{
    typename family::mask found = family::no_lanes();
    for (int round = 0; round < rounds; round++)
        for (int block = 0; block < division_blocks + fma_blocks; block++) {
            double offset = spacing * (round * (division_blocks + fma_blocks) + block);
            typename family::vec divisors = family::minus(base, family::broadcast(offset));
            if (block < division_blocks) {
                found = family::either(found, family::dividing_by_division(numerators, divisors));
            } else {
                if constexpr (fma_blocks > 0)
                    found = family::either(found, family::dividing_by_reciprocal(numerators, divisors));
            }
        }
    return found;
}

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
    const vec numerators = family::broadcast(n);
    vec base = family::minus(family::broadcast(top), family::lane_numbers());
    double next = top;
    for (; next - (per_step - 1) >= 2; next -= per_step) {
        if (family::any(step_dividing_lanes<family, division_blocks, fma_blocks>(numerators, base, per_block)))
            return true;
        base = family::minus(base, family::broadcast(per_step));
    }
    const int leftover_fma_blocks = fma_blocks > 0 ? 1 : 0;
    for (; next >= 2; next -= per_block) {
        if (family::any(step_dividing_lanes<family, 1 - leftover_fma_blocks, leftover_fma_blocks>(
                numerators, family::at_least(base, 2), 0)))
            return true;
        base = family::minus(base, family::broadcast(per_block));
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

// Room primes_in_lanes needs after the count entries of its candidates and
// tops, in doubles, for a family of the given width.
constexpr size_t parked_room(int width)
{
    return static_cast<size_t>((vectors_in_flight + 1) * width);
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
            divisors[lanes] = family::minus(base, family::broadcast(per_step));
            mask exhausted = family::below_two(divisors[lanes]);
            mask prime = family::but_not(exhausted, dividing);
            family::append(primes + found, prime, numerators[lanes]);
            found += static_cast<size_t>(family::count(prime));
            mask done = family::either(dividing, exhausted);
            numerators[lanes] = family::refill(numerators[lanes], done, candidates + taken);
            divisors[lanes] = family::refill(divisors[lanes], done, tops + taken);
            auto finishing = static_cast<size_t>(family::count(done));
            taken += finishing;
            finished += finishing;
        }
    }
    return found;
}
