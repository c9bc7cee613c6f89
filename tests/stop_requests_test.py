#!/usr/bin/env python3
"""End-to-end tests of stop requests where programs are started today: as
PID 1 of a container without an init, under a deadline set before exec, and
under a CPU-time limit. A request must end the program, as its signal would,
after delivering every line the program formatted; a second one ends it at
once.

Usage: stop_requests_test.py PATH_TO_QUENTARO
QUENTARO_LINE_COUNT_SHIM names the library, built with the tests, that records
the lines the program formats. Without it (cross builds) lost lines cannot be
told from late ones, and the test says so.
"""
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import harness
from harness import HEAD, SHIM, end, start, wait_gone, wait_until_stuck

AS_PID_1 = ["unshare", "--pid", "--fork", "--kill-child"]


def why_not_as_pid_1():
    """Why the program cannot run as PID 1 of a PID namespace here, or None."""
    try:
        tried = subprocess.run([*AS_PID_1, "true"], capture_output=True, timeout=30)
    except FileNotFoundError:
        return "unshare (util-linux) is not installed"
    return "unshare --pid is refused: %r" % tried.stderr if tried.returncode else None


def wait_for(condition, what):
    """Waits up to a minute for condition() to give a true value; returns it."""
    deadline = time.monotonic() + 60
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.01)
    return condition()


def children_of(pid):
    """The process ids of the children of process pid, as text."""
    with open("/proc/%d/task/%d/children" % (pid, pid)) as children:
        return children.read().split()


def deadline_of_one_second():
    signal.setitimer(signal.ITIMER_REAL, 1.0)


def cpu_limit_of_one_second():
    resource.setrlimit(resource.RLIMIT_CPU, (1, 60))


class StopRequests(unittest.TestCase):
    def test_stop_requests_deliver_every_line_then_end_the_program(self):
        # As PID 1 or not, the start value (None: left at the prompt), what the
        # child sets before exec, the signals sent once output flows, whether
        # its reader has stopped reading, and the exit status (negative for a
        # signal; as PID 1, 128 plus the signal).
        cases = [
            (True, None, None, [signal.SIGTERM], False, 128 + signal.SIGTERM),
            (True, b"0\n", None, [signal.SIGINT], False, 128 + signal.SIGINT),
            (True, b"0\n", None, [signal.SIGTERM, signal.SIGHUP], True, 128 + signal.SIGHUP),
            (False, b"0\n", deadline_of_one_second, [], False, -signal.SIGALRM),
            (False, b"0\n", cpu_limit_of_one_second, [], False, -signal.SIGXCPU),
        ]
        refusal = why_not_as_pid_1()
        if not SHIM:
            print("no line-count library: lost lines are not told from late ones", file=sys.stderr)
        for as_pid_1, start_value, setup, signals, stuck, status in cases:
            with self.subTest(as_pid_1=as_pid_1, start=start_value, setup=setup and setup.__name__,
                              signals=[sig.name for sig in signals], stuck_reader=stuck):
                if as_pid_1 and refusal:
                    self.skipTest(refusal)
                self.check_stop(as_pid_1, start_value, setup, signals, stuck, status)

    def check_stop(self, as_pid_1, start_value, setup, signals, stuck, status):
        with tempfile.NamedTemporaryFile() as output, tempfile.NamedTemporaryFile() as count:
            reader, writer = os.pipe() if stuck else (None, output.fileno())
            proc = start(start_value, prefix=AS_PID_1 if as_pid_1 else [], stdout=writer, preexec_fn=setup,
                         env=SHIM and harness.recording_environment(count, 0))
            try:
                # As PID 1 the program is the child unshare forked.
                pid = int(wait_for(lambda: children_of(proc.pid), "unshare's child")[0]) if as_pid_1 else proc.pid
                if stuck:
                    os.close(writer)
                    wait_until_stuck(reader)
                else:
                    size = len(HEAD) + (1000 if start_value else 0)
                    wait_for(lambda: os.path.getsize(output.name) >= size, "output")
                for number, sig in enumerate(signals):
                    if number > 0:
                        time.sleep(0.3)
                        self.assertIsNone(proc.poll(), "ended with lines it could not deliver")
                    os.kill(pid, sig)
                self.assertEqual(wait_gone(proc, 30), status)
            finally:
                end(proc)
                if stuck:
                    os.close(reader)
            output.seek(0)
            out, formatted = output.read(), harness.recorded_lines(count)[0] if SHIM else 0
        if stuck:
            return
        self.assertTrue(out.startswith(HEAD), out[:100])
        harness.assert_first_primes(out[len(HEAD):])
        if SHIM and start_value:
            # 2 and 3 are written as they stand, not formatted.
            self.assertEqual(out[len(HEAD):].count(b"\n"), formatted + 2, "lines formatted but not delivered")


if __name__ == "__main__":
    harness.set_binary(sys.argv.pop(1))
    unittest.main(verbosity=2)
