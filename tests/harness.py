"""Shared helpers for the end-to-end tests: the program's fixed texts, running
the binary through pipes, and an independent list of primes.

A binary built for another CPU runs through the emulator command named in the
environment variable QUENTARO_EMULATOR (for example
"qemu-aarch64 -L /usr/aarch64-linux-gnu"); when it is unset or empty the
binary runs directly."""
import contextlib
import errno
import fcntl
import os
import resource
import select
import shlex
import struct
import subprocess
import sys
import termios
import time

BINARY = None
EMULATOR = shlex.split(os.environ.get("QUENTARO_EMULATOR", ""))
# Set when the binary carries the sanitizers' runtime, whose shadow memory
# outweighs all the program's own.
SANITIZED = bool(os.environ.get("QUENTARO_SANITIZED"))
# Whether the binary is built for the same kind of machine as the tests'
# python, so that the host's libraries, such as the one stdbuf preloads, can be
# loaded into it. Set by set_binary.
NATIVE = True

BANNER = (
    b"\n"
    b"QUENTARO v1.3\n"
    b"Writes every prime above the start value you enter, one per line; press Ctrl-C to stop.\n"
    + b"-" * 62 + b"\n"
    b"\n"
)
PROMPT = b"START: "
HEAD = BANNER + PROMPT
REFUSAL = b"ERROR: enter positive integers only.\n"
TWO_POW_53 = 2**53
SHIM = os.environ.get("QUENTARO_LINE_COUNT_SHIM") or None  # records the program's lines; unset in cross builds


def elf_kind(path):
    """The word size and the machine an ELF file is built for."""
    with open(path, "rb") as elf:
        header = elf.read(20)
    return header[4], header[18:20]


def set_binary(path):
    """Names the binary under test."""
    global BINARY, NATIVE
    # Some tests end the program by signals that dump core; no core files.
    resource.setrlimit(resource.RLIMIT_CORE, (0, resource.getrlimit(resource.RLIMIT_CORE)[1]))
    BINARY = os.path.abspath(path)
    NATIVE = elf_kind(BINARY) == elf_kind(sys.executable)


def start(stdin_bytes, args=(), prefix=(), **popen_options):
    """Starts the binary (through the emulator if there is one), run by the
    command prefix if one is given, with stdin_bytes as its whole input; with
    stdin_bytes None its standard input stays open for the caller. Standard
    output and standard error are pipes unless popen_options say otherwise."""
    popen_options.setdefault("stdin", subprocess.PIPE)
    popen_options.setdefault("stdout", subprocess.PIPE)
    popen_options.setdefault("stderr", subprocess.PIPE)
    proc = subprocess.Popen([*prefix, *EMULATOR, BINARY, *args], **popen_options)
    if stdin_bytes is not None:
        # A program that ends before it reads (say on a failed write of the
        # banner) leaves a broken pipe; that is for the caller to judge.
        with contextlib.suppress(BrokenPipeError):
            proc.stdin.write(stdin_bytes)
        with contextlib.suppress(BrokenPipeError):
            proc.stdin.close()
    return proc


def end(proc):
    """Kills proc if it still runs, waits for it and closes its pipes.
    Returns what it wrote to standard error."""
    if proc.poll() is None:
        proc.kill()
    proc.wait()
    # Standard input and output are closed first, so that a program that
    # outlives proc (the one GNU time runs, say) ends rather than holding
    # standard error open. Closing standard input flushes what a writer left
    # in its buffer, which fails once the program has gone.
    for stream in (proc.stdin, proc.stdout):
        if stream:
            with contextlib.suppress(BrokenPipeError):
                stream.close()
    err = proc.stderr.read() if proc.stderr else b""
    if proc.stderr:
        proc.stderr.close()
    return err


def wait_gone(proc, seconds):
    """The exit status of proc, or None if it still runs after seconds."""
    try:
        return proc.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        return None


def wait_until_stuck(reader):
    """Waits until the program writing to the pipe or socket reader has filled
    it: it holds at least the banner and prompt, and has not grown for half a
    second, though lines come every few milliseconds at start 0."""
    held, since, deadline = 0, time.monotonic(), time.monotonic() + 60
    while held < len(HEAD) or time.monotonic() - since < 0.5:
        if time.monotonic() > deadline:
            raise AssertionError("the program never filled its output")
        time.sleep(0.05)
        now = struct.unpack("i", fcntl.ioctl(reader, termios.FIONREAD, b"\0" * 4))[0]
        if now != held:
            held, since = now, time.monotonic()


def read_until(stream, done, timeout, out=b""):
    """Reads stream (a file or a descriptor), adding to out, until done(out)
    holds or the stream ends. Fails when timeout seconds pass first. Returns
    what was read."""
    fd = stream if isinstance(stream, int) else stream.fileno()
    deadline = time.monotonic() + timeout
    while not done(out):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise AssertionError("no output within %d s; got %r" % (timeout, out[-200:]))
        ready, _, _ = select.select([fd], [], [], remaining)
        if ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError as error:
                # A terminal's master side fails with EIO once nothing has the
                # terminal open: that is its end.
                if error.errno != errno.EIO:
                    raise
                chunk = b""
            if not chunk:
                break
            out += chunk
    return out


def run(stdin_bytes, line_count=None, args=(), timeout=60):
    """Runs the binary with stdin_bytes as its input.

    Reads standard output until line_count lines follow the prompt (then kills
    the program) or until the program ends by itself. Returns the text after
    the prompt, the exit status (None when killed) and standard error.
    """
    proc = start(stdin_bytes, args)

    def done(out):
        return line_count is not None and out[len(HEAD):].count(b"\n") >= line_count

    try:
        out = read_until(proc.stdout, done, timeout)
    finally:
        err = end(proc)
    status = None if proc.returncode < 0 else proc.returncode
    if not out.startswith(HEAD):
        raise AssertionError("banner and prompt wrong: %r" % out[:200])
    return out[len(HEAD):], status, err


def recording_environment(record, lines):
    """An environment where the program records its first lines in record."""
    record.truncate(8 * (1 + 2 * lines))
    return dict(os.environ, LD_PRELOAD=SHIM, QUENTARO_LINE_COUNT=record.name)


def recorded_lines(record):
    """The count of lines formatted; for the first, when each was (seconds) and the writes before it."""
    record.seek(0)
    numbers = struct.unpack("%dq" % (os.fstat(record.fileno()).st_size // 8), record.read())
    return numbers[0], [(at / 1e9, writes) for at, writes in zip(numbers[1::2], numbers[2::2])][:numbers[0]]


def primes_up_to(limit):
    """All primes up to limit, by the sieve of Eratosthenes."""
    sieve = bytearray([1]) * (limit + 1)
    sieve[0:2] = b"\0\0"
    for p in range(2, int(limit**0.5) + 1):
        if sieve[p]:
            sieve[p * p::p] = bytearray(len(sieve[p * p::p]))
    return [n for n in range(limit + 1) if sieve[n]]


def assert_first_primes(text):
    """Fails unless text is whole lines holding the primes from 2 on, in order,
    none missing."""
    if text and not text.endswith(b"\n"):
        raise AssertionError("last line cut: %r" % text[-40:])
    numbers = [int(line) for line in text.split()]
    if numbers != primes_up_to(numbers[-1] if numbers else 1):
        raise AssertionError("lines are not the primes from 2 on")


def is_prime(n):
    """Deterministic Miller-Rabin, exact for every n below 3.3 * 10^24."""
    if n < 2:
        return False
    bases = (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41)
    for p in bases:
        if n % p == 0:
            return n == p
    odd_part, twos = n - 1, 0
    while odd_part % 2 == 0:
        odd_part, twos = odd_part // 2, twos + 1
    for a in bases:
        x = pow(a, odd_part, n)
        if x in (1, n - 1):
            continue
        for _ in range(twos - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True
