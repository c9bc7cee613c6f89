// The plain form of trial division. Built with -fno-builtin, so that floor and
// sqrt are real calls into libm.
#include "plain_trial_division.hpp"

#include <math.h>

bool plain_has_trial_divisor(double candidate)
{
    double divisor = floor(sqrt(candidate));
    for (;;) {
        double quotient = candidate / divisor;
        if (quotient - floor(quotient) == 0)
            return true;
        divisor = divisor - 1;
        if (divisor < 2)
            return false;
    }
}
