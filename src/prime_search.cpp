// The search loop that lists primes.
#include "prime_search.hpp"

#include <algorithm>
#include <ctime>

#include "output.hpp"

namespace {

// The lines of a batch are written once the whole batch is tested, and then
// wait for the delivery timer, which runs every twentieth of a second. So
// that a line waits less than a tenth of a second in all, on a slow or an
// emulated CPU too, a batch of many small candidates should take at most
// this much of the processor's time. It is the program's own time that
// counts, not the clock's: a batch that waited for the processor, on a busy
// machine or in a container's CPU quota, or that was stopped, was not itself
// too long, and smaller batches would only cost more of the little time it
// gets.
const int64_t longest_batch_ns = 10000000;

// The same for a batch of long searches whose candidates share their
// divisors. Near 2^53 a fast CPU needs several milliseconds for each
// candidate, and a batch needs some tens of candidates to share the
// divisors well: with the bound above, every candidate there would go
// alone. batch_length already bounds such a batch by the speed the start-up
// timing found (there some 70 candidates take about half a second on an
// Intel Xeon); this bound shrinks batches only where the CPU has since
// become slower.
const int64_t longest_shared_batch_ns = 1500000000;

// How many candidates the batch after one of count candidates that took
// took_ns may hold, where a batch may take longest_ns: as many as would take
// that long at the same speed, but at most growth times as many, and from 1
// to largest_batch.
size_t next_batch_limit(size_t count, int64_t took_ns, int64_t longest_ns, double growth)
{
    double fitting = static_cast<double>(count) * static_cast<double>(longest_ns) /
                     static_cast<double>(std::max(took_ns, int64_t{1}));
    double limit =
        std::min({fitting, growth * static_cast<double>(count), static_cast<double>(largest_batch)});
    return std::max(static_cast<size_t>(limit), size_t{1});
}

} // namespace

int64_t clock_ns(clockid_t clock) noexcept
{
    timespec now = {};
    clock_gettime(clock, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void list_primes_after(double start_value)
{
    // The search never yields 2 or 3 (their first trial divisor is 1, which
    // divides), so they are written here for the starts that lie below them.
    if (start_value < 2)
        print_text("2\n3\n");
    if (start_value == 2)
        print_text("3\n");

    // Past 2^53 adding 1 no longer moves a double, so the search ends there:
    // every prime a double holds exactly has been written by then.
    // The candidates go in batches; candidate is the last one tested. Only
    // the ranges that go in batches of more than one candidate are timed:
    // where each candidate goes alone, the clock would cost more than it
    // tells.
    double primes[largest_batch];
    double candidate = start_value;
    // The first batch is a single candidate, so that on a slow CPU too the
    // first lines come at once; on a fast one the next batches are as long
    // as the range allows.
    size_t batch_limit = 1;
    while (candidate + 1 < exact_limit) {
        size_t longest = batch_length(candidate + 1);
        size_t count = std::min(longest, batch_limit);
        // The last batch ends at the last candidate below 2^53. Where less
        // than two batches are left, they go as one where a batch may hold
        // them all, else they are made even, as a short batch of long
        // searches shares its divisors among few candidates.
        double left = exact_limit - 1 - candidate;
        if (static_cast<double>(count) >= left)
            count = static_cast<size_t>(left);
        else if (static_cast<double>(2 * count) > left)
            count = left <= static_cast<double>(longest) ? static_cast<size_t>(left)
                                                         : static_cast<size_t>(left + 1) / 2;
        int64_t started = longest > 1 ? clock_ns(CLOCK_THREAD_CPUTIME_ID) : 0;
        size_t found = primes_among(candidate + 1, count, primes);
        // Batches of short searches grow from one candidate to thousands at
        // once. Those of long searches grow to eight after the first, a
        // vector's worth on every CPU, and then double, so that near 2^53
        // the first primes come about as soon as if each candidate went
        // alone, and later batches share their divisors among some tens.
        if (longest > 1) {
            int64_t took_ns = clock_ns(CLOCK_THREAD_CPUTIME_ID) - started;
            if (longest == largest_batch)
                batch_limit = next_batch_limit(count, took_ns, longest_batch_ns, 64);
            else
                batch_limit = next_batch_limit(count, took_ns, longest_shared_batch_ns, count == 1 ? 8 : 2);
        }
        for (size_t i = 0; i < found; i++)
            print_prime(primes[i]);
        candidate = candidate + static_cast<double>(count);
    }
}
