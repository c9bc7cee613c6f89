// The console dialogue: the banner, the prompt, reading the start value and
// deciding whether the search accepts it.
#include "dialogue.hpp"

#include <cmath>
#include <cstdio>

#include "output.hpp"

const char refusal_message[] = "ERROR: enter positive integers only.";

void print_banner(void)
{
    std::puts("");
    std::puts("QUENTARO v1.3");
    std::puts("Writes every prime above the start value you enter, one per line; press Ctrl-C to stop.");
    std::puts("--------------------------------------------------------------");
    std::puts("");
}

double read_start_value(void)
{
    double start_value;
    std::printf("START: ");
    flush_output();
    // Conversion errors need no report of their own: a value too large comes
    // back as infinity, which is refused, and no number at all is caught here.
    if (std::scanf("%lf", &start_value) != 1) // NOLINT(cert-err34-c)
        return NAN;
    return start_value;
}

bool is_valid_start(double start_value)
{
    // Negative values fail here; -0 and NaN pass on to the next test.
    if (0 > start_value)
        return false;
    // Fractions fail, and so does NaN, which equals nothing.
    if (start_value != std::floor(start_value))
        return false;
    // Infinity equals its own floor but has no next whole number to search.
    return !std::isinf(start_value);
}
