// A stand-in for the program's output delivery that leaves everything to
// stdio, as a program without timely delivery would. Linked into
// quentaro_plain_output, it lets the benchmarks measure what delivery costs.
#include <cstdio>

#include "output.hpp"

void prepare_output(void)
{
}

void print_text(const char *text)
{
    std::fputs(text, stdout);
}

void print_prime(double prime)
{
    std::printf("%.0lf\n", prime);
}

void flush_output(void)
{
}

void start_timely_delivery(void)
{
}

void finish_output(void)
{
}
