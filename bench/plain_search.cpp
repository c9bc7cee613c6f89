// Links the plain form of trial division into quentaro_plain_search, the
// baseline that the program's speed is measured against.
#include "plain_trial_division.hpp"
#include "prime_search.hpp"

bool has_trial_divisor(double candidate)
{
    return plain_has_trial_divisor(candidate);
}
