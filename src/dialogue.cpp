// The console dialogue: the banner, the prompt, reading the start value and
// deciding whether the search accepts it.
#include "dialogue.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    // white space. The conversion reads the longest text that begins a
    // number, and looks at one character more. Past the number itself that
    // text holds at most two characters, such as an exponent mark and its
    // sign with no digits after them ("7e+"). So for a number of up to
    // longest_number characters, the first longest_number + 3 characters of
    // the word convert exactly as the whole input would.
    char word[longest_number + 4];
    size_t length = read_word(word, longest_number + 3);
    word[length] = '\0';
    double start_value = NAN;
    // Conversion errors need no report of their own: a value too large comes
    // back as infinity, which is refused, and no number at all is caught here.
    if (std::sscanf(word, "%lf", &start_value) != 1) // NOLINT(cert-err34-c)
        return NAN;
    // strtod ends where the number itself ends. A word cut short inside a
    // longer number still holds more than longest_number characters of it,
    // as at most two characters at the cut are not yet a number.
    char *number_end = nullptr;
    (void)std::strtod(word, &number_end);
    if (number_end - word > longest_number)
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
