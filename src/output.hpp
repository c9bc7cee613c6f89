// Delivery of standard output: whole lines only, promptly, and nothing lost
// on SIGINT, SIGTERM or SIGHUP. All output still goes through C stdio, so
// terminals stay line-buffered and stdbuf keeps working.
#pragma once

// The longest line print_lines may be given, line end included.
constexpr int longest_line = 32;

// Writes text formatted as by printf. The text must be whole lines of at most
// longest_line bytes each. A file or pipe only ever receives whole lines.
// On a failed write, reports it and exits with status 1.
void print_lines(const char *format, ...) __attribute__((format(printf, 1, 2)));

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
