// The search loop that lists primes.
#include "prime_search.hpp"

#include "output.hpp"

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
    // The candidates go in batches; candidate is the last one tested.
    double primes[largest_batch];
    double candidate = start_value;
    while (candidate + 1 < exact_limit) {
        size_t count = batch_length(candidate + 1);
        // The last batch ends at the last candidate below 2^53.
        double left = exact_limit - 1 - candidate;
        if (static_cast<double>(count) > left)
            count = static_cast<size_t>(left);
        size_t found = primes_among(candidate + 1, count, primes);
        for (size_t i = 0; i < found; i++)
            print_prime(primes[i]);
        candidate = candidate + static_cast<double>(count);
    }
}
