// Delivery of standard output: whole lines only, promptly, and nothing lost,
// whatever standard output is (terminal, pipe, socket or file, blocking or
// not) and whatever signal arrives. Terminals and stdbuf behave as with stdio.
#pragma once

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
