#!/usr/bin/env python3
"""Feeds 10,000 generated inputs to the binary: random bytes, long digit runs,
signs, points and exponents in odd places, hexadecimal, spellings of inf and
nan, NUL bytes, very long lines, no line end. Each must give either the exact
refusal with exit status 1, or an accepted start whose first line is the next
prime after the value the C library's %lf conversion reads from it. No run may
crash or hang.

Usage: bad_input_test.py PATH_TO_QUENTARO [SEED]
The seed is fixed, so a failure can be replayed; each failure names its input.
"""
import concurrent.futures
import ctypes
import math
import random
import sys
import tempfile
import unittest

import harness
from harness import BANNER, HEAD, REFUSAL, TWO_POW_53

SEED = 20261208
INPUT_COUNT = 10000
# Under an emulator, which checks the build's own reading of numbers and
# leaves the rest to the native run of the same source, every
# EMULATED_INPUT_STEP-th input runs, every kind among them. The search runs
# there some 20 to 80 times slower than natively: past 10^9 it takes seconds,
# up to a minute (near 2^53 a candidate needs about 10^8 emulated divisions),
# so of the inputs whose first prime lies there only every
# EMULATED_LONG_SEARCH_STEP-th runs. The test says how many it left out. A run
# counts as a hang after RUN_SECONDS. Runs spend much of their time waiting
# for the emulator to start and for the program's delivery timer, so more of
# them run at once.
RUN_SECONDS = 600 if harness.EMULATOR else 60
LONG_SEARCH_START = 10**9
EMULATED_INPUT_STEP = 20
EMULATED_LONG_SEARCH_STEP = 10

libc = ctypes.CDLL(None)


def library_reading(data):
    """What %lf reads from data: a float, or None when it converts nothing or
    the number, as far as strtod reads it, is longer than the 4096 characters
    the program takes. A NUL byte ends the text for sscanf; for the program
    reading a stream it is a character no number holds, so both stop there."""
    value = ctypes.c_double()
    text = ctypes.create_string_buffer(data.split(b"\0", 1)[0])
    if libc.sscanf(text, b"%lf", ctypes.byref(value)) != 1:
        return None
    number_end = ctypes.c_void_p()
    libc.strtod(text, ctypes.byref(number_end))
    blanks = len(text.value) - len(text.value.lstrip())
    if number_end.value - ctypes.addressof(text) - blanks > 4096:
        return None
    return value.value


def expected_output(value):
    """The text after the prompt and the exit status expected for the value
    read; the status is None where only the first line is checked."""
    if value is None or math.isnan(value) or math.isinf(value) or value < 0 or value != math.floor(value):
        return REFUSAL, 1
    if value < 2:
        return b"2\n", None
    if value == 2:
        return b"3\n", None
    prime = int(value) + 1
    while prime < TWO_POW_53 and not harness.is_prime(prime):
        prime += 1
    if prime >= TWO_POW_53:
        return b"", 0
    return b"%d\n" % prime, None


class Generator:
    """Makes the inputs, from one seeded random source."""

    def __init__(self, seed):
        self.rng = random.Random(seed)

    def digits(self, count):
        return "".join(self.rng.choice("0123456789") for _ in range(count))

    def random_bytes(self):
        return bytes(self.rng.randrange(256) for _ in range(self.rng.randrange(0, 40)))

    def digit_run(self):
        # Up to 13 digits the next prime comes quickly; from 17 on the value is
        # past 2^53, where the program ends at once.
        length = self.rng.choice([1, 2, 5, 9, 13, 17, 20, 60, 400, 5000])
        sign = self.rng.choice(["", "", "+", "-"])
        # 4090 zeros put the longest number the program reads, 4096
        # characters, among the lengths; a bare exponent mark after a number
        # is not part of it.
        zeros = "0" * self.rng.choice([0, 0, 3, 300, 4090])
        bare_exponent = self.rng.choice(["", "", "", "e", "E+", "e-"])
        return (sign + zeros + self.digits(length) + bare_exponent + "\n").encode()

    def odd_notation(self):
        pieces = "+-.eE0123456789 "
        return "".join(self.rng.choice(pieces) for _ in range(self.rng.randrange(1, 14))).encode()

    def hexadecimal(self):
        hex_digits = "0123456789abcdefABCDEF"
        text = self.rng.choice(["0x", "0X", "-0x", "+0x"])
        text += "".join(self.rng.choice(hex_digits) for _ in range(self.rng.randrange(0, 10)))
        if self.rng.random() < 0.4:
            text += "." + "".join(self.rng.choice(hex_digits) for _ in range(self.rng.randrange(0, 4)))
        if self.rng.random() < 0.5:
            text += self.rng.choice(["p", "P"]) + self.rng.choice(["", "+", "-"]) + self.digits(self.rng.randrange(0, 3))
        return (text + "\n").encode()

    def inf_or_nan(self):
        word = self.rng.choice(["inf", "infinity", "nan", "nan()", "nan(123)", "nan(abc_9)", "infinit",
                                "in", "na", "infinityx", "nanx", "info"])
        word = "".join(c.upper() if self.rng.random() < 0.5 else c for c in word)
        return (self.rng.choice(["", "+", "-"]) + word + "\n").encode()

    def with_nul(self):
        text = bytearray(self.number())
        text.insert(self.rng.randrange(len(text) + 1), 0)
        return bytes(text)

    def long_line(self):
        if self.rng.random() < 0.5:
            pattern = "".join(self.rng.choices(" \t\n\r\v\f", k=64))
            return (pattern * self.rng.randrange(16, 1600)).encode() + self.number()
        return self.number().rstrip(b"\n") + b"x" * self.rng.randrange(1000, 200000) + b"\n"

    def no_line_end(self):
        return self.number().rstrip(b"\n")

    def number(self):
        """A plausible start value with some decoration. Near 2^53 only starts
        whose answer comes at once: 2^53 - 112, followed by the last prime,
        and starts from which no prime is left."""
        value = self.rng.choice([self.rng.randrange(0, 100), self.rng.randrange(0, 10**6),
                                 self.rng.randrange(0, 10**12), TWO_POW_53 - 112,
                                 TWO_POW_53 + self.rng.randrange(-1, 3)])
        text = str(value)
        form = self.rng.randrange(5)
        if form == 1:
            text += ".0"
        elif form == 2:
            text += "e0"
        elif form == 3:
            text = "+" + text
        elif form == 4:
            text = " " * self.rng.randrange(1, 5) + text
        return (text + "\n").encode()

    def inputs(self, count):
        kinds = [self.random_bytes, self.digit_run, self.odd_notation, self.hexadecimal,
                 self.inf_or_nan, self.with_nul, self.long_line, self.no_line_end, self.number]
        return [kinds[i % len(kinds)]() for i in range(count)]


def check(data):
    """Runs the binary on data; returns None when it behaves, or what went wrong."""
    expected_text, expected_status = expected_output(library_reading(data))
    with tempfile.TemporaryFile() as stdin_file:
        stdin_file.write(data)
        stdin_file.seek(0)
        # Line-buffered, so that the first line comes as soon as it is found
        # and the run can end there. stdbuf's preloaded library cannot go into
        # a binary built for another CPU; there the program's own delivery
        # brings the line within a tenth of a second.
        prefix = ["stdbuf", "-oL"] if harness.NATIVE else []
        proc = harness.start(None, prefix=prefix, stdin=stdin_file)
    try:
        wanted = len(HEAD) + len(expected_text)
        # Read up to the first line when the program goes on; otherwise up to
        # its end, or until it writes more than it should.
        if expected_status is None:
            enough = lambda o: len(o) >= wanted
        else:
            enough = lambda o: len(o) > wanted
        out = harness.read_until(proc.stdout, enough, RUN_SECONDS)
    except AssertionError as failure:
        return "hang: %s" % failure
    finally:
        err = harness.end(proc)
    if out[:wanted] != HEAD + expected_text or (expected_status is not None and len(out) != wanted):
        return "wrote %r after the banner, expected %r" % (out[len(BANNER):len(HEAD) + 60],
                                                         harness.PROMPT + expected_text)
    if proc.returncode < 0 and expected_status is not None:
        return "killed by signal %d" % -proc.returncode
    if expected_status is not None and proc.returncode != expected_status:
        return "exit status %d, not %d" % (proc.returncode, expected_status)
    if err:
        return "wrote to standard error: %r" % err[:200]
    return None


def needs_long_search(data):
    """Whether the first line for data is a prime above LONG_SEARCH_START."""
    text, status = expected_output(library_reading(data))
    return status is None and int(text) > LONG_SEARCH_START


class BadInput(unittest.TestCase):
    def test_generated_inputs_are_refused_or_start_at_the_right_prime(self):
        inputs = Generator(SEED).inputs(INPUT_COUNT)
        chosen = list(range(len(inputs)))
        workers = 4
        if harness.EMULATOR:
            # The inputs' kinds take turns, and as their count, 9, and the step
            # have no common factor, every kind keeps its share.
            chosen = chosen[::EMULATED_INPUT_STEP]
            long_searches = [i for i in chosen if needs_long_search(inputs[i])]
            left_out = set(long_searches) - set(long_searches[::EMULATED_LONG_SEARCH_STEP])
            chosen = [i for i in chosen if i not in left_out]
            workers = 8
            print("under an emulator: every %dth input, less %d of the %d among them whose first prime lies above %d"
                  % (EMULATED_INPUT_STEP, len(left_out), len(long_searches), LONG_SEARCH_START))
        with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
            outcomes = list(pool.map(check, [inputs[i] for i in chosen]))
        failures = [(i, inputs[i], outcome) for i, outcome in zip(chosen, outcomes) if outcome]
        for index, data, outcome in failures[:10]:
            print("seed %d input %d %r: %s" % (SEED, index, data[:120], outcome))
        refused = sum(expected_output(library_reading(inputs[i]))[0] == REFUSAL for i in chosen)
        print("%d inputs, %d refused, %d accepted, %d failed"
              % (len(chosen), refused, len(chosen) - refused, len(failures)))
        self.assertEqual(failures, [])


if __name__ == "__main__":
    harness.set_binary(sys.argv.pop(1))
    if len(sys.argv) > 1 and sys.argv[1].isdigit():
        SEED = int(sys.argv.pop(1))
    unittest.main(verbosity=2)
