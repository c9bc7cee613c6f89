// Delivery of standard output in whole lines, promptly and without loss.
//
// Output is gathered in this file's own buffer and written with write(2).
// stdio is not used for it, because stdio drops what its buffer holds when a
// write fails, even with EAGAIN or EINTR. Here a descriptor that cannot take
// more yet (a non-blocking one) is waited for with poll, and the write goes
// on. The buffer follows the buffering stdio chose for stdout: on a terminal,
// and under stdbuf -oL or -o0, each line is written at once; otherwise lines
// are gathered up to stdio's block size, but never more than PIPE_BUF (4096)
// bytes, so that every write is whole lines that a pipe takes in one piece,
// even when the program is killed.
//
// The stop requests are the signals whose default action ends the program and
// which ask it to stop or report a limit it reached: SIGHUP, SIGINT, SIGTERM,
// SIGALRM (a deadline set with alarm or setitimer before exec, or kill -ALRM),
// SIGXCPU (a CPU-time limit), SIGVTALRM, SIGPROF, SIGUSR1 and SIGUSR2. They
// are all handled alike, from the start; those ignored when the program
// started (as under nohup) stay ignored. The states, and what the signals do
// in each:
// - Dialogue (the banner, the prompt, the refusal): a stop request ends the
//   program at once, as nothing waits to be delivered while input is awaited.
// - Normal, once the search starts. A timer of the program's own, on the
//   monotonic clock with the signal SIGRTMIN, writes out the lines that wait
//   every twentieth of a second, so that none waits a tenth of a second even
//   when the signal comes late. It leaves SIGALRM and the interval timers,
//   which exec passes on, to whoever set them. The parent may have blocked
//   the stop requests or SIGRTMIN; they are unblocked.
// - Delivering, from the first stop request: the lines that wait are written
//   out. A second stop request ends the program at once by that signal, even
//   while a write is blocked because the reader has stopped reading.
// - Ending: once they are written, the first stop request ends the program:
//   its default action is restored and it is raised again, so that the
//   parent sees the program ended by that signal. Where the kernel drops it
//   instead, as it does for the first process of a PID namespace (the
//   program as PID 1 of a container without an init), the program exits with
//   status 128 plus the signal number, which is what shells and container
//   runtimes report for a death by that signal.
// Other signals keep their default actions: SIGQUIT dumps core at once, and
// SIGPIPE ends the program when its reader has gone. SIGXFSZ is ignored
// throughout, so that a file-size limit makes the write fail with EFBIG, as a
// full disk makes it fail with ENOSPC.
//
// A signal handler touches the buffer only when the interrupted code is not
// itself in output code: the flag in_output marks those stretches, and
// signal fences keep the compiler from moving buffer accesses out of them. A
// signal that arrives in one is recorded and acted on when the stretch ends.
// Once the search has started, the stop requests are never blocked during a
// write, so that a second one always reaches its handler.
//
// A failed write is reported on standard error and ends the program with
// status 1. If standard output is a regular file, the part of a line that
// did get written is cut off first, so that the file ends in a whole line.
#include "output.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The signals that end the program after delivering its output.
const int stop_requests[] = {SIGHUP, SIGINT, SIGTERM, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2};

// The signal of the delivery timer: the first real-time signal that the C
// library leaves to programs.
const int delivery_signal = SIGRTMIN;

// How often waiting lines are delivered, in nanoseconds.
const long delivery_interval_ns = 50000000;

// The longest line print_prime writes: sixteen digits and a line end.
const size_t longest_prime_line = 17;

char buffer[PIPE_BUF];
// Bytes waiting in buffer.
size_t pending = 0;
// The buffer is written out before pending would pass this size.
size_t block_size = PIPE_BUF;
bool each_line_at_once = false;
// Bytes written since the last line end: the prompt, or the part of a line
// that a failed write cut short.
size_t unfinished_line = 0;

// The stop requests that have this file's handler.
sigset_t caught_signals;
volatile sig_atomic_t in_output = 0;
// Set by the delivery timer's signal: the waiting lines are due.
volatile sig_atomic_t delivery_due = 0;
// The first stop request, once one has come.
volatile sig_atomic_t ending_signal = 0;
// The delivery timer, once it exists.
timer_t delivery_timer;
bool delivery_timer_exists = false;

// Cuts off the part of a line written last, if standard output is a regular
// file that ends there, so that the file ends in a whole line. A file that
// another program has written to since is left alone.
void trim_unfinished_line(void)
{
    struct stat status = {};
    if (unfinished_line == 0 || fstat(STDOUT_FILENO, &status) != 0 || !S_ISREG(status.st_mode))
        return;
    off_t end = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    auto cut = static_cast<off_t>(unfinished_line);
    // Nothing more can be done should this fail too. (Fortified, the C
    // library insists its result be looked at; a cast to void does not.)
    if (end == status.st_size && end >= cut && ftruncate(STDOUT_FILENO, end - cut) != 0)
        return;
}

// Reports the failed write described by errno and exits with status 1.
[[noreturn]] void fail_write(void)
{
    int reason = errno;
    trim_unfinished_line();
    (void)std::fprintf(stderr, "quentaro: cannot write to standard output: %s\n", std::strerror(reason));
    _exit(1);
}

// Records that count bytes were written, for trim_unfinished_line.
void note_written(const char *bytes, size_t count)
{
    size_t after_line_end = 0;
    while (after_line_end < count && bytes[count - 1 - after_line_end] != '\n')
        after_line_end++;
    unfinished_line = after_line_end == count ? unfinished_line + count : after_line_end;
}

// Writes out the whole buffer, waiting while standard output cannot take
// more. On a failed write, reports it and exits with status 1.
void write_pending(void)
{
    size_t written = 0;
    while (written < pending) {
        ssize_t count = write(STDOUT_FILENO, buffer + written, pending - written);
        if (count >= 0) {
            note_written(buffer + written, static_cast<size_t>(count));
            written += static_cast<size_t>(count);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            struct pollfd output = {STDOUT_FILENO, POLLOUT, 0};
            (void)poll(&output, 1, -1);
        } else if (errno != EINTR) {
            fail_write();
        }
    }
    pending = 0;
}

// Ends the program by signal_number, a stop request, as its default action
// would. Never returns.
[[noreturn]] void end_by(int signal_number)
{
    sigset_t only_it;
    sigemptyset(&only_it);
    sigaddset(&only_it, signal_number);
    (void)std::signal(signal_number, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &only_it, nullptr);
    (void)std::raise(signal_number);
    // Still here: the kernel dropped the signal, as it does for PID 1 of a PID
    // namespace when the action is the default one.
    _exit(128 + signal_number);
}

// Does, inside output code, what the signals asked for: writes out the
// waiting lines, then, after a stop request, ends the program by it.
void deliver_as_asked(void)
{
    delivery_due = 0;
    write_pending();
    if (ending_signal != 0)
        end_by(ending_signal);
}

// Enters output code, where signal handlers leave the buffer alone.
void enter_output(void)
{
    in_output = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Leaves output code, first doing what signals that came during it asked for.
void leave_output(void)
{
    for (;;) {
        std::atomic_signal_fence(std::memory_order_seq_cst);
        in_output = 0;
        // From here on a handler acts by itself, so a flag still set was set
        // before, and nothing is missed.
        if (ending_signal == 0 && delivery_due == 0)
            return;
        enter_output();
        deliver_as_asked();
    }
}

// The handler of the delivery timer's signal and the caught stop requests.
// All of them are blocked while it starts, so it never interrupts itself
// there.
void on_signal(int signal_number)
{
    int saved_errno = errno;
    if (signal_number == delivery_signal)
        delivery_due = 1;
    else if (ending_signal == 0)
        ending_signal = signal_number;
    else
        end_by(signal_number);
    if (!in_output) {
        enter_output();
        // A stop request during the write below is recorded by its handler,
        // or ends the program if one came before.
        sigprocmask(SIG_UNBLOCK, &caught_signals, nullptr);
        deliver_as_asked();
        leave_output();
    }
    errno = saved_errno;
}

// Has on_signal handle signal_number, with every caught stop request and the
// delivery timer's signal blocked while it starts.
void handle_with_on_signal(int signal_number)
{
    struct sigaction action = {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART;
    action.sa_mask = caught_signals;
    sigaddset(&action.sa_mask, delivery_signal);
    sigaction(signal_number, &action, nullptr);
}

// Starts the delivery timer: delivery_signal every interval_ns nanoseconds on
// the monotonic clock. Without it (should the system refuse one) lines still
// come, though only as blocks fill.
void start_delivery_timer(long interval_ns)
{
    struct sigevent event = {};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = delivery_signal;
    if (timer_create(CLOCK_MONOTONIC, &event, &delivery_timer) != 0)
        return;
    delivery_timer_exists = true;
    struct itimerspec period = {};
    period.it_interval.tv_nsec = interval_ns;
    period.it_value.tv_nsec = interval_ns;
    timer_settime(delivery_timer, 0, &period, nullptr);
}

// Enters output code to add length bytes to the buffer, writing the buffer
// out first if they would not fit in the block. Returns where they go.
char *begin_text(size_t length)
{
    enter_output();
    if (pending + length > block_size)
        write_pending();
    return buffer + pending;
}

// Adds the length bytes placed by begin_text, writes them out if the
// buffering asks for it, and leaves output code.
void end_text(size_t length)
{
    pending += length;
    if (each_line_at_once || pending >= block_size)
        write_pending();
    leave_output();
}

} // namespace

void prepare_output(void)
{
    (void)std::signal(SIGXFSZ, SIG_IGN);
    // Every caught stop request is known before the first handler goes in,
    // as each handler blocks all of them while it starts.
    sigemptyset(&caught_signals);
    for (int signal_number : stop_requests) {
        struct sigaction current = {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&caught_signals, signal_number);
    }
    for (int signal_number : stop_requests)
        if (sigismember(&caught_signals, signal_number))
            handle_with_on_signal(signal_number);
    // stdio sets stdout's buffering at its first use, unless stdbuf set it
    // already: line-buffered, unbuffered (a buffer of one byte) or a block of
    // a given size. Otherwise it will be line-buffered on a terminal only.
    size_t stdio_block = __fbufsize(stdout);
    if (__flbf(stdout) != 0 || stdio_block == 1 || (stdio_block == 0 && isatty(STDOUT_FILENO) != 0))
        each_line_at_once = true;
    else if (stdio_block > 1 && stdio_block < PIPE_BUF)
        block_size = stdio_block;
}

void print_text(const char *text)
{
    size_t length = std::strlen(text);
    std::memcpy(begin_text(length), text, length);
    end_text(length);
}

size_t format_prime_line(double prime, char *line)
{
    // Exact: a whole double below 2^53 is a whole number below 2^64.
    auto value = static_cast<uint64_t>(prime);
    char digits[longest_prime_line];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < count; i++)
        line[i] = digits[count - 1 - i];
    line[count] = '\n';
    return count + 1;
}

void print_prime(double prime)
{
    size_t length = format_prime_line(prime, begin_text(longest_prime_line));
    if (quentaro_note_prime_line != nullptr)
        quentaro_note_prime_line();
    end_text(length);
}

void flush_output(void)
{
    enter_output();
    write_pending();
    leave_output();
}

void start_timely_delivery(void)
{
    handle_with_on_signal(delivery_signal);
    // The parent may have blocked these; delivery needs them.
    sigset_t needed = caught_signals;
    sigaddset(&needed, delivery_signal);
    sigprocmask(SIG_UNBLOCK, &needed, nullptr);
    start_delivery_timer(delivery_interval_ns);
}

void finish_output(void)
{
    flush_output();
    if (delivery_timer_exists)
        timer_delete(delivery_timer);
}
