// Checks which start values the dialogue accepts.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "dialogue.hpp"

TEST(IsValidStart, AcceptsZeroAndFinitePositiveWholeNumbersOnly)
{
    struct Case {
        double value;
        bool accepted;
    };
    const double infinity = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0.0, true},
        {-0.0, true},
        {1.0, true},
        {7.0, true},
        {9007199254740992.0, true}, // 2^53
        {1e300, true},
        {7.5, false},
        {0.5, false},
        {-1.0, false},
        {-0.5, false},
        {std::nan(""), false},
        {-std::nan(""), false},
        {infinity, false},
        {-infinity, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(is_valid_start(c.value), c.accepted) << c.value;
}
