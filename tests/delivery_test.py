#!/usr/bin/env python3
"""End-to-end tests of how output is delivered: whole lines, promptly, nothing
lost on signals, failed writes reported, terminals unchanged.

Usage: delivery_test.py PATH_TO_QUENTARO
"""
import fcntl
import os
import pty
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

import harness
from harness import HEAD, SHIM, end, read_until, recording_environment, start

# The signals that ask the program to stop, or report a limit it reached.
STOP_REQUESTS = [signal.SIGHUP, signal.SIGINT, signal.SIGTERM, signal.SIGALRM, signal.SIGXCPU,
                 signal.SIGVTALRM, signal.SIGPROF, signal.SIGUSR1, signal.SIGUSR2]


def drain(stream, out, seconds):
    """Adds to out what stream yields within seconds; returns it."""
    deadline = time.monotonic() + seconds
    return read_until(stream, lambda _: time.monotonic() >= deadline, seconds + 5, out)


class SignalsDuringSearch(unittest.TestCase):
    """A stopped search is sent a signal; once continued it must deliver the
    lines it held, whole, and end by that signal."""

    def stop_signal_and_collect(self, sig, to_file):
        with tempfile.TemporaryFile() as sink:
            proc = start(b"0\n", stdout=sink if to_file else subprocess.PIPE)
            try:
                out = b""
                if to_file:
                    while sink.seek(0, os.SEEK_END) < 20000:
                        time.sleep(0.01)
                else:
                    out = read_until(proc.stdout, lambda o: len(o) >= 20000, 60)
                # Output grows when the delivery timer writes out the lines
                # that wait, every twentieth of a second, and the lines come
                # in batches: just after it grew nothing may wait, while a
                # little later the batches tested since do.
                time.sleep(0.025)
                proc.send_signal(signal.SIGSTOP)
                if to_file:
                    size_at_stop = sink.seek(0, os.SEEK_END)
                else:
                    out = drain(proc.stdout, out, 0.3)
                    size_at_stop = len(out)
                proc.send_signal(sig)
                proc.send_signal(signal.SIGCONT)
                proc.wait(timeout=60)
                if to_file:
                    sink.seek(0)
                    out = sink.read()
                else:
                    out = read_until(proc.stdout, lambda _: False, 60, out)
            finally:
                err = end(proc)
        return out, size_at_stop, proc.returncode, err

    def test_signal_delivers_held_lines_then_ends_by_it(self):
        # At start 0 the buffer almost always holds lines when stopped; they
        # must arrive after the signal. A program on a busy machine, or an
        # emulated one, may find no line between two deliveries, so each
        # signal is tried again, up to five times, until held lines arrive.
        # One handler serves every signal, so under an emulator each signal
        # is sent once, to a pipe and to a file in turn.
        cases = [(to_file, sig) for to_file in (False, True) for sig in STOP_REQUESTS]
        for to_file, sig in cases[::2] if harness.EMULATOR else cases:
            with self.subTest(signal=sig.name, to_file=to_file):
                for _ in range(5):
                    out, size_at_stop, status, err = self.stop_signal_and_collect(sig, to_file)
                    self.assertEqual(status, -sig)
                    self.assertEqual(err, b"")
                    self.assertTrue(out.startswith(HEAD))
                    harness.assert_first_primes(out[len(HEAD):])
                    if len(out) > size_at_stop:
                        break
                else:
                    self.fail("no held lines were delivered on %s in five tries" % sig.name)


class WholeLines(unittest.TestCase):
    def test_sigkill_at_any_moment_leaves_no_partial_line_in_a_file(self):
        for delay in [0.05, 0.1, 0.15, 0.2, 0.3, 0.4, 0.5, 0.7, 0.9, 1.2]:
            with self.subTest(delay=delay), tempfile.TemporaryFile() as sink:
                proc = start(b"0\n", stdout=sink)
                time.sleep(delay)
                end(proc)
                sink.seek(0)
                out = sink.read()
                # SIGKILL during a write may stop the kernel's copy at a page
                # boundary of the file, as the manual page says; a line cut
                # anywhere else is a fault.
                if not out.endswith(b"\n") and len(out) % 4096 == 0:
                    out = out[: out.rfind(b"\n") + 1]
                self.assertTrue(HEAD.startswith(out) or out.startswith(HEAD), out[:100])
                harness.assert_first_primes(out[len(HEAD):])

    def test_stdbuf_modes_give_the_same_bytes_each_line_at_once(self):
        if not harness.NATIVE:
            self.skipTest("stdbuf cannot preload the host's library into a binary built for another CPU")
        expected = harness.run(b"0\n", 300)[0].split(b"\n")[:300]
        for mode in ("-oL", "-o0"):
            with self.subTest(mode=mode), tempfile.NamedTemporaryFile() as record:
                proc = start(b"0\n", prefix=["stdbuf", mode], env=SHIM and recording_environment(record, 300))
                try:
                    out = read_until(proc.stdout, lambda o: o.count(b"\n") > 310, 60)
                finally:
                    end(proc)
                self.assertTrue(out.startswith(HEAD))
                self.assertEqual(out[len(HEAD):].split(b"\n")[:300], expected)
                if SHIM:
                    assert_each_line_written_at_once(self, record)


def assert_each_line_written_at_once(test, record):
    """Fails unless each line recorded was written before the next was formatted."""
    writes = [before for _, before in harness.recorded_lines(record)[1]]
    test.assertTrue(len(writes) > 1 and writes == sorted(set(writes)), "not each line at once: %r" % writes[:20])


class Promptness(unittest.TestCase):
    def test_banner_and_prompt_arrive_while_input_is_awaited(self):
        proc = start(None)
        try:
            out = read_until(proc.stdout, lambda o: len(o) >= len(HEAD), 30)
            self.assertEqual(out, HEAD)
            proc.stdin.write(b"-1\n")
            proc.stdin.close()
            self.assertEqual(read_until(proc.stdout, lambda _: False, 30), harness.REFUSAL)
            self.assertEqual(proc.wait(timeout=30), 1)
        finally:
            end(proc)

    def test_slow_lines_reach_a_pipe_within_a_tenth_of_a_second(self):
        # Also when the parent blocked the signals that delivery relies on:
        # they are unblocked for the search, and SIGINT then ends it.
        for blocked in (set(), {signal.SIGRTMIN, *STOP_REQUESTS}):
            with self.subTest(blocked=sorted(sig.name for sig in blocked)), \
                    tempfile.NamedTemporaryFile() as record:
                proc = start(b"10000000000000\n", env=SHIM and recording_environment(record, 100),
                             preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_BLOCK, blocked))
                # Without the library no delay is measured, and an emulated
                # search is too slow for a hundred lines: three will do.
                arrivals, wanted = [], 100 if SHIM else 3
                def note_arrivals(out):
                    arrivals.extend([time.monotonic()] * (out[len(HEAD):].count(b"\n") - len(arrivals)))
                    return len(arrivals) >= wanted
                try:
                    out = read_until(proc.stdout, note_arrivals, 300)
                    proc.send_signal(signal.SIGINT)
                    status = proc.wait(timeout=10)
                finally:
                    end(proc)
                lines = out[len(HEAD):].split(b"\n")
                self.assertEqual(lines[:3], [b"10000000000037", b"10000000000051", b"10000000000099"])
                # A block-buffered stream would hold the banner and these lines
                # until its 4 KiB block was full, which at this size takes
                # hundreds of lines.
                self.assertLess(len(out), 4096 - 100)
                self.assertEqual(status, -signal.SIGINT)
                if not SHIM:
                    self.skipTest("no line-recording library (cross build): delays are not measured")
                delays = sorted(a - at for a, (at, _) in zip(arrivals, harness.recorded_lines(record)[1]))
                self.assertLess(delays[50], 0.1, "the median line waited over a tenth of a second")


class FailedWrites(unittest.TestCase):
    def assert_one_line_naming(self, err, reason):
        self.assertEqual(err.count(b"\n"), 1, err)
        self.assertTrue(err.startswith(b"quentaro: "), err)
        self.assertIn(reason, err)

    def test_full_disk_and_closed_output_exit_1_with_a_message(self):
        cases = [
            ("> /dev/full", b"No space left on device"),
            (">&-", b"Bad file descriptor"),
        ]
        for redirection, reason in cases:
            for start_value in (b"0", b"-1", str(harness.TWO_POW_53 - 1).encode()):
                with self.subTest(redirection=redirection, start=start_value):
                    shell = ["sh", "-c", 'exec "$@" ' + redirection, "sh"]
                    proc = start(start_value + b"\n", prefix=shell, stdout=None)
                    try:
                        proc.wait(timeout=60)
                    finally:
                        err = end(proc)
                    self.assertEqual(proc.returncode, 1)
                    self.assert_one_line_naming(err, reason)

    def test_reader_going_away(self):
        for ignore_sigpipe in (False, True):
            with self.subTest(ignore_sigpipe=ignore_sigpipe):
                def child_setup():
                    if ignore_sigpipe:
                        signal.signal(signal.SIGPIPE, signal.SIG_IGN)
                proc = start(b"0\n", preexec_fn=child_setup)
                try:
                    read_until(proc.stdout, lambda o: len(o) > 1000, 60)
                    proc.stdout.close()
                    proc.wait(timeout=60)
                finally:
                    err = end(proc)
                if ignore_sigpipe:
                    self.assertEqual(proc.returncode, 1)
                    self.assert_one_line_naming(err, b"Broken pipe")
                else:
                    self.assertEqual(proc.returncode, -signal.SIGPIPE)
                    self.assertEqual(err, b"")


class Terminal(unittest.TestCase):
    def test_prompt_lines_and_ctrl_c_on_a_terminal(self):
        master, terminal = pty.openpty()
        record = tempfile.NamedTemporaryFile()
        self.addCleanup(record.close)
        # In a session of its own whose controlling terminal is this one, so
        # that Ctrl-C typed there signals the program.
        proc = start(None, stdin=terminal, stdout=terminal, stderr=terminal, start_new_session=True,
                     env=SHIM and recording_environment(record, 30),
                     preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(terminal)
        try:
            screen = read_until(master, lambda o: o.endswith(b"START: "), 30)
            self.assertEqual(screen, HEAD.replace(b"\n", b"\r\n"))
            os.write(master, b"10000000000000\n")
            # Enough lines for the record to judge; without one, the banner's
            # five, the typed one and three primes.
            lines = 30 if SHIM else 8
            screen = read_until(master, lambda o: o.count(b"\n") > lines, 300)
            self.assertIn(b"\r\n10000000000037\r\n10000000000051\r\n", screen)
            os.write(master, b"\x03")
            proc.wait(timeout=60)
        finally:
            end(proc)
            os.close(master)
        self.assertEqual(proc.returncode, -signal.SIGINT)
        if SHIM:
            assert_each_line_written_at_once(self, record)


if __name__ == "__main__":
    harness.set_binary(sys.argv.pop(1))
    unittest.main(verbosity=2)
