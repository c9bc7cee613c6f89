// The console dialogue: the banner, the prompt and the start value.
#pragma once

// Text written, on a line of its own, when the start value is refused.
extern const char refusal_message[];

// Writes the five banner lines to standard output.
void print_banner(void);

// Writes the prompt, delivers it and the banner, and reads one number from
// standard input. Returns NaN, which is_valid_start refuses, when the input
// holds no number.
double read_start_value(void);

// True for zero of either sign and every finite positive whole number.
bool is_valid_start(double start_value);
