// Preloaded into the program by stop_requests_test.py: counts the prime lines
// the program formats (its calls of snprintf with "%.0lf\n") in the file that
// QUENTARO_LINE_COUNT names, mapped shared, so that the count outlives the
// program however it ends. A test compares it with the lines that reached
// standard output, which tells a lost line from one not yet written.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The count, in the shared file; null when there is none.
volatile long *line_count = nullptr;

// Maps the count file, which the test has made sizeof(long) bytes long, when
// the program loads this library.
__attribute__((constructor)) void map_line_count(void)
{
    const char *path = std::getenv("QUENTARO_LINE_COUNT");
    int file = path == nullptr ? -1 : open(path, O_RDWR);
    if (file < 0)
        return;
    void *mapped = mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    close(file);
    if (mapped != MAP_FAILED)
        line_count = static_cast<volatile long *>(mapped);
}

} // namespace

// The C library's snprintf, counting each prime line once it is formatted.
extern "C" int snprintf(char *__restrict text, size_t size, const char *__restrict format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, size, format, arguments);
    va_end(arguments);
    if (line_count != nullptr && std::strcmp(format, "%.0lf\n") == 0)
        *line_count = *line_count + 1;
    return length;
}
