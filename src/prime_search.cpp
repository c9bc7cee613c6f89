// The search loop that lists primes.
#include "prime_search.hpp"

#include <algorithm>
#include <ctime>

#include "output.hpp"

namespace {

// The lines of a batch are written once the whole batch is tested, and then
// wait for the delivery timer, which runs every twentieth of a second. So
// that a line waits less than a tenth of a second in all, on a slow or an
// emulated CPU too, a batch of candidates should take at most this much of
// the processor's time. It is the program's own time that counts, not the
// clock's: a batch that waited for the processor, on a busy machine or in
// a container's CPU quota, or that was stopped, was not itself too long,
// and smaller batches would only cost more of the little time it gets.
const int64_t longest_batch_ns = 10000000;

// How many candidates the batch after one of batch_limit candidates that
// took took_ns may hold: half as many after one that took longer than
// longest_batch_ns, twice as many, up to largest_batch, after one that took
// less than half of it. A fast CPU tests 4,096 candidates below 2^24 in a
// few milliseconds, and so keeps them all in one batch.
size_t next_batch_limit(size_t batch_limit, int64_t took_ns)
{
    if (took_ns > longest_batch_ns)
        return std::max(batch_limit / 2, size_t{1});
    if (took_ns < longest_batch_ns / 2)
        return std::min(batch_limit * 2, largest_batch);
    return batch_limit;
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
    // above 2^24, where each candidate goes alone, the clock would cost more
    // than it tells.
    double primes[largest_batch];
    double candidate = start_value;
    // The first batch is a single candidate, so that on a slow CPU too the
    // first lines come at once; on a fast one the batches reach 4,096
    // candidates within a few thousand.
    size_t batch_limit = 1;
    while (candidate + 1 < exact_limit) {
        size_t longest = batch_length(candidate + 1);
        size_t count = std::min(longest, batch_limit);
        // The last batch ends at the last candidate below 2^53.
        double left = exact_limit - 1 - candidate;
        if (static_cast<double>(count) > left)
            count = static_cast<size_t>(left);
        int64_t started = longest > 1 ? clock_ns(CLOCK_THREAD_CPUTIME_ID) : 0;
        size_t found = primes_among(candidate + 1, count, primes);
        if (longest > 1)
            batch_limit = next_batch_limit(batch_limit, clock_ns(CLOCK_THREAD_CPUTIME_ID) - started);
        for (size_t i = 0; i < found; i++)
            print_prime(primes[i]);
        candidate = candidate + static_cast<double>(count);
    }
}
