// Delivery of standard output: whole lines only, promptly, and nothing lost
// on SIGINT, SIGTERM or SIGHUP. All output still goes through C stdio, so
// terminals stay line-buffered and stdbuf keeps working.
#pragma once

// The most bytes one call of print_lines or print_prime may write.
constexpr int longest_line = 32;

// Writes lines: whole lines, at most longest_line bytes in all. A file or pipe
// only ever receives whole lines. On a failed write, reports it and exits with
// status 1.
void print_lines(const char *lines);

// As print_lines, for the line holding prime, a whole number below 2^53: its
// decimal digits, with no point, sign or exponent.
void print_prime(double prime);

// Delivers everything written so far. On a failed write, reports it on
// standard error and exits with status 1.
void flush_output(void);

// From now on, lines held in the output buffer are delivered within a tenth
// of a second, and SIGINT, SIGTERM and SIGHUP deliver them before they end
// the program as usual.
void start_timely_delivery(void);

// Delivers everything written so far and returns the signals to their
// default actions. On a failed write, reports it and exits with status 1;
// if a terminating signal arrived meanwhile, ends the program by it.
void finish_output(void);
