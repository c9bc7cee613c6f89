// Delivery of standard output in whole lines, promptly and without loss.
//
// stdio writes its buffer out when the buffer fills, which can cut a line in
// two, and a signal's default action throws away whatever the buffer still
// holds. So each line is written only where the buffer has room for it, a
// periodic SIGALRM flushes lines that would otherwise wait, and SIGINT, SIGTERM
// and SIGHUP flush before they end the program.
//
// A signal handler may call stdio only when the interrupted code is not inside
// stdio itself. The flag in_stdio marks the stretches where it is; a signal
// that arrives then is recorded in deferred_signal and acted on as soon as the
// stretch ends.
#include "output.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdio_ext.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// The signals that end the program after delivering its output.
const int terminating_signals[] = {SIGINT, SIGTERM, SIGHUP};

// How often pending lines are delivered, in microseconds.
const long delivery_interval_us = 100000;

volatile sig_atomic_t in_stdio = 0;
volatile sig_atomic_t deferred_signal = 0;

// Reports the failed write described by errno and exits with status 1.
[[noreturn]] void fail_write(void)
{
    // Nothing more can be done should this fail too.
    (void)std::fprintf(stderr, "quentaro: cannot write to standard output: %s\n", std::strerror(errno));
    _exit(1);
}

// The most bytes the buffer may hold before a flush: the stdio buffer's size,
// but no more than a pipe takes in one piece, so that each write reaches a
// pipe whole even when the program is killed.
size_t flush_threshold(void)
{
    size_t buffer_size = __fbufsize(stdout);
    return buffer_size < PIPE_BUF ? buffer_size : PIPE_BUF;
}

// Delivers what stdio holds; on failure reports it and exits with status 1.
void flush_or_fail(void)
{
    if (std::fflush(stdout) != 0)
        fail_write();
}

// Acts on a signal while nothing else is inside stdio: delivers pending lines
// and, for a terminating signal, ends the program by that signal. A second
// such signal ends it at once, should the delivery block.
void act_on_signal(int signal_number)
{
    if (signal_number != SIGALRM) {
        (void)std::signal(signal_number, SIG_DFL);
        sigset_t just_this;
        sigemptyset(&just_this);
        sigaddset(&just_this, signal_number);
        sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
    }
    flush_or_fail();
    if (signal_number != SIGALRM)
        (void)std::raise(signal_number);
}

// The handler of SIGALRM and the terminating signals; the others of these
// stay blocked while it runs, so it never interrupts itself.
void on_signal(int signal_number)
{
    int saved_errno = errno;
    if (!in_stdio)
        act_on_signal(signal_number);
    else if (signal_number != SIGALRM || deferred_signal == 0)
        deferred_signal = signal_number;
    errno = saved_errno;
}

// Ends a stretch inside stdio and acts on the signals that arrived during it.
void leave_stdio(void)
{
    for (;;) {
        in_stdio = 0;
        int signal_number = deferred_signal;
        if (signal_number == 0)
            return;
        // With in_stdio clear, handlers act at once and leave deferred_signal
        // alone, so clearing it here loses nothing.
        deferred_signal = 0;
        in_stdio = 1;
        act_on_signal(signal_number);
    }
}

// Sets the delivery timer to fire every interval_us microseconds (0 stops it).
void set_delivery_timer(long interval_us)
{
    struct itimerval timer = {};
    timer.it_interval.tv_usec = interval_us;
    timer.it_value.tv_usec = interval_us;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

// Starts writing lines: makes room for the longest line in the buffer, so
// that stdio never has to write out part of one.
void begin_lines(void)
{
    in_stdio = 1;
    if (__fpending(stdout) + longest_line > flush_threshold())
        flush_or_fail();
}

// Ends writing lines, given the result of the stdio call that wrote them.
void end_lines(int stdio_result)
{
    if (stdio_result < 0)
        fail_write();
    leave_stdio();
}

} // namespace

void print_lines(const char *lines)
{
    begin_lines();
    end_lines(std::fputs(lines, stdout));
}

void print_prime(double prime)
{
    begin_lines();
    end_lines(std::printf("%.0lf\n", prime));
}

void flush_output(void)
{
    in_stdio = 1;
    flush_or_fail();
    leave_stdio();
}

void start_timely_delivery(void)
{
    struct sigaction action = {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGALRM);
    for (int signal_number : terminating_signals)
        sigaddset(&action.sa_mask, signal_number);

    sigaction(SIGALRM, &action, nullptr);
    for (int signal_number : terminating_signals)
        sigaction(signal_number, &action, nullptr);
    set_delivery_timer(delivery_interval_us);
}

void finish_output(void)
{
    in_stdio = 1;
    flush_or_fail();
    set_delivery_timer(0);
    (void)std::signal(SIGALRM, SIG_DFL);
    for (int signal_number : terminating_signals)
        (void)std::signal(signal_number, SIG_DFL);
    if (deferred_signal != 0 && deferred_signal != SIGALRM)
        (void)std::raise(deferred_signal);
}
