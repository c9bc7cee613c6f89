// Delivery of standard output: whole lines only, promptly, and nothing lost,
// whatever standard output is (terminal, pipe, socket or file, blocking or
// not) and whatever signal arrives. Terminals and stdbuf behave as with stdio.
#pragma once

#include <cstddef>

// Prepares standard output; call it before anything else is written. Chooses
// the buffering stdio would use for it, has a file-size limit reported as a
// failed write rather than ending the program, and has every stop request
// (SIGHUP, SIGINT, SIGTERM, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF, SIGUSR1 and
// SIGUSR2, unless ignored when the program started) deliver what was written
// before it ends the program by the same signal.
void prepare_output(void);

// Writes text, shorter than 4096 bytes: whole lines, or the prompt. A file
// or pipe only ever receives whole lines, apart from the prompt. On a failed
// write, reports it and exits with status 1.
void print_text(const char *text);

// As print_text, for the line holding prime, a whole number below 2^53: its
// decimal digits, with no point, sign or exponent.
void print_prime(double prime);

// Writes at line the line print_prime writes for prime, a whole number from
// 0 below 2^53 (the same bytes as printf's "%.0lf\n"), and returns its
// length, at most 17.
size_t format_prime_line(double prime, char *line);

// Called, where some library loaded into the program defines it, each time
// print_prime has placed a line among those to be written. The program
// itself leaves it undefined; the tests define it to record when each line
// was found.
extern "C" void quentaro_note_prime_line(void) __attribute__((weak));

// Delivers everything written so far. On a failed write, reports it on
// standard error and exits with status 1.
void flush_output(void);

// From now on, lines held back are delivered within a tenth of a second,
// while the program gets the processor.
void start_timely_delivery(void);

// Delivers everything written so far and stops the delivery timer. On a
// failed write, reports it and exits with status 1; if a stop request
// arrived meanwhile, ends the program by it.
void finish_output(void);
