// The console dialogue: the banner, the prompt, reading the start value and
// deciding whether the search accepts it.
#include "dialogue.hpp"

#include <cmath>
#include <cstdio>

#include "input.hpp"
#include "output.hpp"

const char refusal_line[] = "ERROR: enter positive integers only.\n";

void print_banner(void)
{
    print_text("\n");
    print_text("QUENTARO v1.3\n");
    print_text("Writes every prime above the start value you enter, one per line; press Ctrl-C to stop.\n");
    print_text("--------------------------------------------------------------\n");
    print_text("\n");
}

double read_start_value(void)
{
    print_text("START: ");
    flush_output();
    // The number is the start of the first word of input, as no number holds
    // white space. One character more than the longest number tells whether
    // the number goes on past it; the conversion then reads exactly what it
    // would read from the stream.
    char word[longest_number + 2];
    size_t length = read_word(word, longest_number + 1);
    word[length] = '\0';
    double start_value = NAN;
    int characters_read = 0;
    // Conversion errors need no report of their own: a value too large comes
    // back as infinity, which is refused, and no number at all is caught here.
    if (std::sscanf(word, "%lf%n", &start_value, &characters_read) != 1 || // NOLINT(cert-err34-c)
        characters_read > longest_number)
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
