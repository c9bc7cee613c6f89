#!/usr/bin/env python3
"""End-to-end tests of the program in the surroundings users start it from:
nohup and ignored signals, readers that stop reading, non-blocking
descriptors, failing reads, endless input and file-size limits.

Usage: surroundings_test.py PATH_TO_QUENTARO
"""
import fcntl
import itertools
import os
import pty
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import harness
from harness import HEAD, REFUSAL, end, read_until, start, wait_gone, wait_until_stuck


def set_nonblocking(fd):
    fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) | os.O_NONBLOCK)


def cpu_seconds(pid):
    """The processor time process pid has used so far."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Signals(unittest.TestCase):
    def test_signals_ignored_by_the_parent_stay_ignored(self):
        for ignored in (signal.SIGHUP, signal.SIGINT):
            with self.subTest(ignored=ignored.name):
                proc = start(b"0\n", stdout=subprocess.DEVNULL,
                             preexec_fn=lambda: signal.signal(ignored, signal.SIG_IGN))
                try:
                    time.sleep(0.5)
                    proc.send_signal(ignored)
                    self.assertIsNone(wait_gone(proc, 0.5), "ended by an ignored signal")
                    proc.send_signal(signal.SIGTERM)
                    self.assertEqual(wait_gone(proc, 10), -signal.SIGTERM)
                finally:
                    end(proc)

    def test_a_second_signal_ends_a_program_whose_reader_stopped(self):
        for first, second, nonblocking in [(signal.SIGINT, signal.SIGINT, False),
                                           (signal.SIGTERM, signal.SIGHUP, False),
                                           (signal.SIGHUP, signal.SIGINT, True)]:
            with self.subTest(first=first.name, second=second.name, nonblocking=nonblocking):
                reader, writer = os.pipe()
                if nonblocking:
                    set_nonblocking(writer)
                proc = start(b"0\n", stdout=writer)
                os.close(writer)
                try:
                    wait_until_stuck(reader)
                    proc.send_signal(first)
                    time.sleep(0.3)
                    self.assertIsNone(proc.poll(), "a first signal ended it with lines waiting")
                    proc.send_signal(second)
                    self.assertEqual(wait_gone(proc, 2), -second)
                finally:
                    end(proc)
                    os.close(reader)


def small_non_blocking_output(kind):
    """The reading and the writing end of a pipe or a socket that holds only
    a few KiB, so that a program writing fast fills it at once; the writing
    end is non-blocking."""
    if kind == "pipe":
        reader, writer = os.pipe()
        fcntl.fcntl(writer, fcntl.F_SETPIPE_SZ, 4096)
    else:
        ours, theirs = socket.socketpair()
        theirs.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
        reader, writer = ours.detach(), theirs.detach()
    set_nonblocking(writer)
    return reader, writer


class NonBlocking(unittest.TestCase):
    def test_slow_reader_of_non_blocking_output_loses_nothing(self):
        for kind in ("pipe", "socket"):
            with self.subTest(kind=kind):
                reader, writer = small_non_blocking_output(kind)
                proc = start(b"0\n", stdout=writer)
                os.close(writer)
                try:
                    wait_until_stuck(reader)
                    cpu_before = cpu_seconds(proc.pid)
                    time.sleep(1.5)
                    self.assertLess(cpu_seconds(proc.pid) - cpu_before, 0.3, "spins while it waits")
                    out = read_until(reader, lambda o: len(o) > 300000, 60)
                    self.assertIsNone(proc.poll(), "gave up on a slow reader")
                finally:
                    err = end(proc)
                    os.close(reader)
                self.assertEqual(err, b"")
                self.assertTrue(out.startswith(HEAD))
                text = out[len(HEAD):]
                harness.assert_first_primes(text[:text.rindex(b"\n") + 1])

    def test_non_blocking_input_is_waited_for(self):
        reader, writer = os.pipe()
        set_nonblocking(reader)
        proc = start(None, stdin=reader)
        os.close(reader)
        try:
            out = read_until(proc.stdout, lambda o: len(o) >= len(HEAD), 30)
            time.sleep(0.5)
            os.write(writer, b"1000\n")
            out = read_until(proc.stdout, lambda o: b"\n" in o[len(HEAD):], 30, out)
        finally:
            os.close(writer)
            end(proc)
        self.assertEqual(out[:len(HEAD) + 5], HEAD + b"1009\n")


def run_in_background_of_a_terminal():
    """Runs the program in a background process group of its terminal, with
    SIGTTIN ignored, where reading the terminal fails with EIO. Returns what
    the terminal shows and the exit status."""
    pid, master = pty.fork()
    if pid == 0:
        child = os.fork()
        if child == 0:
            os.setpgid(0, 0)
            signal.signal(signal.SIGTTIN, signal.SIG_IGN)
            command = [*harness.EMULATOR, harness.BINARY]
            os.execvp(command[0], command)
        os._exit(os.waitstatus_to_exitcode(os.waitpid(child, 0)[1]) & 255)
    try:
        screen = read_until(master, lambda _: False, 30)
    finally:
        os.close(master)
        _, wait_status = os.waitpid(pid, 0)
    return screen, os.waitstatus_to_exitcode(wait_status)


def run_with_failing_input(kind):
    """Runs the program with standard input that fails to read. Returns what
    it wrote to standard output and to standard error, and its exit status."""
    if kind == "background terminal":
        screen, status = run_in_background_of_a_terminal()
        head = HEAD.replace(b"\n", b"\r\n")
        return screen[:len(head)], screen[len(head):].replace(b"\r\n", b"\n"), status
    if kind == "directory":
        directory = os.open("/", os.O_RDONLY)
        proc = start(None, stdin=directory)
        os.close(directory)
    else:
        proc = start(None, prefix=["sh", "-c", 'exec "$@" <&-', "sh"], stdin=subprocess.DEVNULL)
    try:
        out = read_until(proc.stdout, lambda _: False, 30)
        status = wait_gone(proc, 10)
    finally:
        err = end(proc)
    return out, err, status


class Input(unittest.TestCase):
    def test_failed_reads_are_reported_as_read_errors(self):
        cases = [("directory", b"Is a directory"), ("closed", b"Bad file descriptor"),
                 ("background terminal", b"Input/output error")]
        for kind, reason in cases:
            with self.subTest(kind=kind):
                out, err, status = run_with_failing_input(kind)
                self.assertEqual(out, HEAD.replace(b"\n", b"\r\n") if kind.endswith("terminal") else HEAD)
                self.assertEqual(err, b"quentaro: cannot read standard input: " + reason + b"\n")
                self.assertEqual(status, 1)


def feed(stream, chunks):
    """Writes chunks to stream, then closes it; stops when its reader goes."""
    try:
        for chunk in chunks:
            stream.write(chunk)
        stream.close()
    except (BrokenPipeError, ValueError):
        pass


def peak_memory_kib(report):
    """The most memory the program had resident, in KiB, from the report of
    GNU time's -f %M -o REPORT. time forks the program from its own small
    process, so unlike the count a python parent could take, this one does not
    include the parent's memory from before the program started."""
    with open(report) as lines:
        return int(lines.read().split()[-1])


class LongInput(unittest.TestCase):
    def test_numbers_are_read_in_bounded_memory(self):
        cases = [
            ("4096 characters", [b"7." + b"0" * 4094], b"11\n"),
            ("4097 characters", [b"7." + b"0" * 4095], REFUSAL),
            ("4096 characters, then a bare exponent", [b"7." + b"0" * 4094 + b"e+ 1"], b"11\n"),
            ("4096 characters, then an exponent", [b"7." + b"0" * 4094 + b"e+1"], REFUSAL),
            ("a megabyte of blanks first", [b" \n\t" * 350000, b"7"], b"11\n"),
            ("60 MB of letters after it", [b"7"] + [b"x" * 1000000] * 60, b"11\n"),
            ("60 MB number", [b"7."] + [b"0" * 1000000] * 60, REFUSAL),
            ("endless number", itertools.chain([b"7."], itertools.repeat(b"0" * 65536)), REFUSAL),
        ]
        for name, chunks, expected in cases:
            with self.subTest(input=name), tempfile.NamedTemporaryFile() as report:
                measure = not (harness.EMULATOR or harness.SANITIZED)
                proc = start(None, prefix=["time", "-f", "%M", "-o", report.name] if measure else [])
                threading.Thread(target=feed, args=(proc.stdin, chunks), daemon=True).start()
                try:
                    out = read_until(proc.stdout, lambda o: len(o) >= len(HEAD + expected), 30)
                    self.assertEqual(out[:len(HEAD + expected)], HEAD + expected)
                    # An accepted start searches on until its next line finds
                    # no reader.
                    proc.stdout.close()
                    status = wait_gone(proc, 10)
                    self.assertIsNotNone(status, "the program did not end")
                    if expected == REFUSAL:
                        self.assertEqual(status, 1)
                finally:
                    end(proc)
                if not measure:
                    self.skipTest("the memory measured would be the emulator's or the sanitizers'")
                self.assertLess(peak_memory_kib(report.name), 16 * 1024)


class FileSizeLimit(unittest.TestCase):
    def test_output_file_ends_in_a_whole_line_at_its_size_limit(self):
        full = HEAD + b"".join(b"%d\n" % p for p in harness.primes_up_to(300000))
        kept = b"a line of another program\n" * 1000
        # Each limit falls inside a line. A file written in place (as with
        # 1<>) that goes on past the limit keeps what follows: the cut line
        # there is not the end of the file.
        for limit, earlier in ((40, b""), (3 * 4096 + 40, b""), (100003, b""), (8003, kept)):
            with self.subTest(limit=limit, written_in_place=bool(earlier)), \
                    tempfile.TemporaryFile() as sink:
                sink.write(earlier)
                sink.seek(0)
                def limit_file_size():
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
                proc = start(b"0\n", stdout=sink, preexec_fn=limit_file_size)
                try:
                    status = wait_gone(proc, 60)
                finally:
                    err = end(proc)
                self.assertEqual(status, 1)
                self.assertEqual(err, b"quentaro: cannot write to standard output: File too large\n")
                sink.seek(0)
                if earlier:
                    self.assertEqual(sink.read(), full[:limit] + earlier[limit:])
                else:
                    self.assertEqual(sink.read(), full[:full.rindex(b"\n", 0, limit) + 1])


if __name__ == "__main__":
    harness.set_binary(sys.argv.pop(1))
    unittest.main(verbosity=2)
