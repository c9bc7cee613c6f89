// A stand-in for the program's output delivery that leaves everything to
// stdio, as a program without timely delivery would. Linked into
// quentaro_plain_output, it lets the benchmarks measure what delivery costs.
#include <cstdarg>
#include <cstdio>

#include "output.hpp"

void print_lines(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void flush_output(void) {}

void start_timely_delivery(void) {}

void finish_output(void) {}
