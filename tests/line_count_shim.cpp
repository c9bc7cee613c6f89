// Preloaded into the program by the tests: records the prime lines it formats
// ("%.0lf\n") in the file QUENTARO_LINE_COUNT names, mapped shared so that it
// outlives the program: their count, then for the first lines when each was
// formatted (CLOCK_MONOTONIC, ns) and the writes to standard output before it.

// This file defines vsnprintf, which the headers of the fortified C library
// define too; so it is built without fortification.
#undef _FORTIFY_SOURCE

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The record in the shared file (null when there is none); its room in lines.
volatile long long *record = nullptr;
long long room = 0, output_writes = 0;

// Maps the record file when the program loads this library.
__attribute__((constructor)) void map_record(void)
{
    const char *path = std::getenv("QUENTARO_LINE_COUNT");
    int file = path == nullptr ? -1 : open(path, O_RDWR);
    if (file < 0)
        return;
    off_t size = lseek(file, 0, SEEK_END);
    void *mapped = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    close(file);
    room = size / 16;
    record = mapped == MAP_FAILED ? nullptr : static_cast<volatile long long *>(mapped);
}

} // namespace

// The C library's write, counting the calls that write to standard output.
extern "C" ssize_t write(int file, const void *bytes, size_t count)
{
    output_writes += file == STDOUT_FILENO ? 1 : 0;
    return static_cast<ssize_t>(syscall(SYS_write, file, bytes, count));
}

namespace {

// Records the line if format is that of a prime line.
void note_line(const char *format)
{
    if (record == nullptr || std::strcmp(format, "%.0lf\n") != 0)
        return;
    long long line = record[0]++;
    if (line < room) {
        struct timespec now = {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        record[1 + 2 * line] = static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
        record[2 + 2 * line] = output_writes;
    }
}

} // namespace

// vsnprintf, which snprintf below and the sanitizers' own call: records each prime line.
extern "C" int vsnprintf(char *__restrict text, size_t size, const char *__restrict format,
                         va_list arguments) noexcept
{
    static auto real = reinterpret_cast<decltype(&vsnprintf)>(dlsym(RTLD_NEXT, "vsnprintf"));
    note_line(format);
    return real(text, size, format, arguments);
}

// The snprintf that a program built with fortified C library calls calls
// instead: records each prime line, and leaves the formatting, with its
// check of the buffer's size, to the C library's __vsnprintf_chk.
extern "C" int __snprintf_chk(char *text, size_t size, int flag, size_t buffer_size, const char *format, ...)
{
    using checked_vsnprintf = int (*)(char *, size_t, int, size_t, const char *, va_list);
    static auto real = reinterpret_cast<checked_vsnprintf>(dlsym(RTLD_NEXT, "__vsnprintf_chk"));
    note_line(format);
    va_list arguments;
    va_start(arguments, format);
    int length = real(text, size, flag, buffer_size, format, arguments);
    va_end(arguments);
    return length;
}

// The C library's snprintf, through the vsnprintf above.
extern "C" int snprintf(char *__restrict text, size_t size, const char *__restrict format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, size, format, arguments);
    va_end(arguments);
    return length;
}
