// Links the plain form of trial division into quentaro_plain_search, the
// baseline that the program's speed is measured against: one candidate at a
// time, each prime written as soon as it is found.
#include "plain_trial_division.hpp"
#include "prime_search.hpp"

size_t batch_length(double)
{
    return 1;
}

size_t primes_among(double first, size_t count, double *primes)
{
    size_t found = 0;
    for (size_t i = 0; i < count; i++) {
        double candidate = first + static_cast<double>(i);
        if (!plain_has_trial_divisor(candidate))
            primes[found++] = candidate;
    }
    return found;
}
