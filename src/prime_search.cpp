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
    double candidate = start_value;
    while (candidate + 1 < exact_limit) {
        candidate = candidate + 1;
        if (!has_trial_divisor(candidate))
            print_prime(candidate);
    }
}
