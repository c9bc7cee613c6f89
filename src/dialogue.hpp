// The console dialogue: the banner, the prompt and the start value.
#pragma once

// The line written when the start value is refused.
extern const char refusal_line[];

// The most characters a start value may have, from its first non-blank one.
constexpr int longest_number = 4096;

// Writes the five banner lines to standard output.
void print_banner(void);

// Writes the prompt, delivers it and the banner, and reads one number from
// standard input. Returns NaN, which is_valid_start refuses, when the input
// holds no number or a number longer than longest_number characters.
double read_start_value(void);

// True for zero of either sign and every finite positive whole number.
bool is_valid_start(double start_value);
