// Reading standard input in bounded memory. Input is read with read(2) in
// chunks, so that white space of any length is skipped in constant memory, a
// non-blocking descriptor is waited for with poll rather than taken for the
// end of input, and a failed read is told apart from the end of input.
#include "input.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

char chunk[4096];
size_t chunk_length = 0;
size_t chunk_next = 0;

// Reports the failed read described by errno and exits with status 1.
[[noreturn]] void fail_read(void)
{
    (void)std::fprintf(stderr, "quentaro: cannot read standard input: %s\n", std::strerror(errno));
    std::exit(1);
}

// Reads the next chunk of input, waiting for it if need be. Returns false at
// the end of input.
bool read_chunk(void)
{
    for (;;) {
        ssize_t count = read(STDIN_FILENO, chunk, sizeof chunk);
        if (count >= 0) {
            chunk_length = static_cast<size_t>(count);
            chunk_next = 0;
            return count > 0;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            struct pollfd input = {STDIN_FILENO, POLLIN, 0};
            (void)poll(&input, 1, -1);
        } else if (errno != EINTR) {
            fail_read();
        }
    }
}

// The next byte of input, or EOF at its end.
int next_byte(void)
{
    if (chunk_next == chunk_length && !read_chunk())
        return EOF;
    return static_cast<unsigned char>(chunk[chunk_next++]);
}

} // namespace

size_t read_word(char *word, size_t capacity)
{
    int byte = next_byte();
    while (byte != EOF && std::isspace(byte) != 0)
        byte = next_byte();
    size_t length = 0;
    for (; byte != EOF && std::isspace(byte) == 0; byte = next_byte()) {
        word[length++] = static_cast<char>(byte);
        if (length == capacity)
            break;
    }
    return length;
}
