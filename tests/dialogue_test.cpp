// Checks which start values the dialogue accepts, and the lines that carry
// the primes.
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialogue.hpp"
#include "output.hpp"

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

// The prime line of each whole number at the edges of the digit counts is
// the one printf's "%.0lf\n" gives: 0 to 9, each power of ten and the number
// below it, and 2^53 - 1.
TEST(FormatPrimeLine, MatchesPrintfAtEveryCountOfDigits)
{
    std::vector<double> numbers = {9007199254740991.0};
    for (int digit = 0; digit <= 9; digit++)
        numbers.push_back(digit);
    for (double power = 10; power < 9007199254740992.0; power *= 10)
        numbers.insert(numbers.end(), {power - 1, power});
    for (double number : numbers) {
        char expected[32], line[32];
        int expected_length = std::snprintf(expected, sizeof expected, "%.0lf\n", number);
        size_t length = format_prime_line(number, line);
        EXPECT_EQ(std::string(line, length), std::string(expected, static_cast<size_t>(expected_length)));
    }
}
