#!/usr/bin/env python3
"""Times the program end to end on the runs users start, from launch until a
known last prime has come through a pipe, and prints for each the seconds
(best of ROUNDS), the divisions per nanosecond that the plain form of trial
division would make over its candidates, and that rate's share of the rate
of the run from 10^12, before and after taking off the floor: the time a
program that does nothing takes to be started and to end the same way
(quentaro_do_nothing, beside this script's build). It also prints the
program's own start: from launch to its end at a start past 2^53, against
that floor. Given a second binary, it runs the two alternately and prints
both.

Usage: start_runs.py BINARY [OTHER_BINARY] [ROUNDS]

The run from 10^12, whose 300 lines come slowly, runs under stdbuf -oL, so
that block buffering does not hide when its last line was found. The run
from 10^9 does not: a write of each of its 20,000 lines cost it a tenth of
its time on AMD Zen 5, more than the twentieth of a second that its last
line may wait in the buffer.
"""
import os
import sys

from compare_runs import time_run

# Name, start value, lines to wait for (the last is the prime named), the
# plain form's divisions over the candidates from the start to that prime
# (for each candidate, its top floor(sqrt(n)) down to its largest divisor not
# above it, or down to 2), and whether the run is line-buffered.
RUNS = [
    ("first 100,000 primes from 0 (to 1299743)", "0", 100000, 654318785, False),
    ("30,000 primes from 10^6 (to 1420109)", "1000000", 30000, 308040406, False),
    ("first 1,000,000 primes from 0 (to 15485917)", "0", 1000000, 27657158280, False),
    ("20,000 primes from 10^9 (to 1000415519)", "1000000000", 20000, 9290491960, False),
    ("300 primes from 10^12 (to 1000000008673)", "1000000000000", 300, 6392027416, True),
]
# A start past 2^53: the program writes its banner, reads it and ends.
PAST_THE_END = "9007199254740994"
STARTS = 200


def least_start(binary):
    """The least of STARTS times from launch to the end of binary, given a
    start past 2^53."""
    return min(time_run(binary, PAST_THE_END, None, False) for _ in range(STARTS))


def main():
    args = sys.argv[1:]
    rounds = int(args.pop()) if len(args) > 1 and args[-1].isdigit() else 3
    binaries = args
    floor_binary = os.path.join(os.path.dirname(os.path.abspath(binaries[0])), "bench", "quentaro_do_nothing")
    floor = least_start(floor_binary)
    best = {(binary, run[0]): float("inf") for binary in binaries for run in RUNS}
    for _ in range(rounds):
        for name, start_value, lines, _, line_buffered in RUNS:
            for binary in binaries:
                seconds = time_run(binary, start_value, lines, line_buffered)
                best[binary, name] = min(best[binary, name], seconds)
    print("floor (%s, best of %d starts): %.3f ms" % (floor_binary, STARTS, floor * 1e3))
    for binary in binaries:
        start = least_start(binary)
        reference = RUNS[-1][3] / best[binary, RUNS[-1][0]]
        print("%s, best of %d; its start %.3f ms, %.3f ms over the floor:"
              % (binary, rounds, start * 1e3, (start - floor) * 1e3))
        print("| run | seconds | divisions per ns | share of the 10^12 rate | share after the floor |")
        print("|---|---|---|---|---|")
        for name, _, _, divisions, _ in RUNS:
            seconds = best[binary, name]
            rate = divisions / seconds
            share_after_floor = (divisions / (seconds - floor)) / (RUNS[-1][3] / (best[binary, RUNS[-1][0]] - floor))
            print("| %s | %.3f | %.2f | %.2f | %.2f |"
                  % (name, seconds, rate / 1e9, rate / reference, share_after_floor))


if __name__ == "__main__":
    main()
