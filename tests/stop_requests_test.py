#!/usr/bin/env python3
"""End-to-end tests of stop requests where programs are started today: as
PID 1 of a container without an init, under a deadline set before exec, and
under a CPU-time limit. Each request must end the program, as its signal
would, after delivering every line the program formatted; a second request
ends it at once.

Usage: stop_requests_test.py PATH_TO_QUENTARO
QUENTARO_LINE_COUNT_SHIM names the library, built with the tests, that counts
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
from harness import HEAD, end, start, wait_gone, wait_until_stuck

SHIM = os.environ.get("QUENTARO_LINE_COUNT_SHIM")
AS_PID_1 = ["unshare", "--pid", "--fork", "--kill-child"]


def why_not_as_pid_1():
    """Why the program cannot run as PID 1 of a PID namespace here, or None."""
    try:
        tried = subprocess.run([*AS_PID_1, "true"], capture_output=True, timeout=30)
    except FileNotFoundError:
        return "unshare (util-linux) is not installed"
    if tried.returncode != 0:
        return "unshare --pid is refused here: %s" % tried.stderr.decode().strip()
    return None


def program_pid(proc, as_pid_1):
    """The process id of the program: proc's own, or that of the child that
    unshare forked for it."""
    deadline = time.monotonic() + 30
    while as_pid_1:
        with open("/proc/%d/task/%d/children" % (proc.pid, proc.pid)) as children:
            found = children.read().split()
        if found:
            return int(found[0])
        if time.monotonic() > deadline:
            raise AssertionError("unshare started no program")
        time.sleep(0.01)
    return proc.pid


def wait_for_size(path, size):
    """Waits until the file at path holds at least size bytes."""
    deadline = time.monotonic() + 60
    while os.path.getsize(path) < size:
        if time.monotonic() > deadline:
            raise AssertionError("the program wrote too little to %s" % path)
        time.sleep(0.01)


def deadline_of_one_second():
    signal.setitimer(signal.ITIMER_REAL, 1.0)


def cpu_limit_of_one_second():
    resource.setrlimit(resource.RLIMIT_CPU, (1, 60))


class StopRequests(unittest.TestCase):
    def test_stop_requests_deliver_every_line_then_end_the_program(self):
        # Each case: as PID 1 or not, the start value (None: left at the
        # prompt), what the child sets before exec, the signals sent once
        # output flows, whether the reader stops reading first, and the exit
        # status (negative for a signal; as PID 1, 128 plus the signal).
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
            count.write(bytes(8))
            count.flush()
            environment = dict(os.environ, LD_PRELOAD=SHIM, QUENTARO_LINE_COUNT=count.name) if SHIM else None
            reader, writer = os.pipe() if stuck else (None, output.fileno())
            proc = start(None, prefix=AS_PID_1 if as_pid_1 else [], stdout=writer, preexec_fn=setup,
                         env=environment)
            try:
                if start_value:
                    proc.stdin.write(start_value)
                    proc.stdin.flush()
                pid = program_pid(proc, as_pid_1)
                if stuck:
                    os.close(writer)
                    wait_until_stuck(reader)
                else:
                    wait_for_size(output.name, len(HEAD) + (1000 if start_value else 0))
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
            if stuck:
                return
            output.seek(0)
            count.seek(0)
            out = output.read()
            self.assertTrue(out.startswith(HEAD), out[:100])
            lines = out[len(HEAD):]
            harness.assert_first_primes(lines)
            if SHIM and start_value:
                # 2 and 3 are written as they stand, not formatted.
                formatted = int.from_bytes(count.read(8), sys.byteorder)
                self.assertEqual(lines.count(b"\n"), formatted + 2, "lines formatted but not delivered")


if __name__ == "__main__":
    harness.set_binary(sys.argv.pop(1))
    unittest.main(verbosity=2)
