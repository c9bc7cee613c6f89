#!/usr/bin/env python3
"""Times two quentaro binaries on the same work, run alternately, and prints
the time of each and their ratio.

Usage: compare_runs.py NEW_BINARY OLD_BINARY START LINES [ROUNDS] [--line-buffered]

Each run feeds START to the binary and ends once LINES lines after the prompt
have been read through a pipe, or, with LINES "all", once the program ends. With --line-buffered both run under stdbuf -oL,
so that block buffering does not hide when a line was found.
"""
import contextlib
import statistics
import subprocess
import sys
import time


def time_run(binary, start_value, line_count, line_buffered):
    """Seconds from start until line_count lines after the banner and prompt
    have come through the pipe (all of them when line_count is None)."""
    command = (["stdbuf", "-oL"] if line_buffered else []) + [binary]
    # The banner's five lines, and the prompt, which shares its line with the
    # first prime.
    wanted = float("inf") if line_count is None else line_count + 5
    began = time.perf_counter()
    proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    # A program that ends before it reads its input leaves a broken pipe.
    with contextlib.suppress(BrokenPipeError):
        proc.stdin.write(start_value.encode() + b"\n")
        proc.stdin.close()
    seen = 0
    while seen < wanted:
        chunk = proc.stdout.read1(1 << 16)
        if not chunk:
            break
        seen += chunk.count(b"\n")
    elapsed = time.perf_counter() - began
    proc.kill()
    proc.wait()
    proc.stdout.close()
    if line_count is not None and seen < wanted:
        sys.exit("%s ended after %d lines" % (binary, seen))
    return elapsed


def main():
    args = [a for a in sys.argv[1:] if a != "--line-buffered"]
    line_buffered = len(args) < len(sys.argv) - 1
    new_binary, old_binary, start_value, line_count = args[:4]
    line_count = None if line_count == "all" else int(line_count)
    rounds = int(args[4]) if len(args) > 4 else 5
    times = {new_binary: [], old_binary: []}
    for _ in range(rounds):
        for binary in (new_binary, old_binary):
            times[binary].append(time_run(binary, start_value, line_count, line_buffered))
    new_time = statistics.median(times[new_binary])
    old_time = statistics.median(times[old_binary])
    print("start %s, %s lines, median of %d: new %.3f s, old %.3f s, old/new %.3f"
          % (start_value, "all" if line_count is None else line_count, rounds, new_time, old_time, old_time / new_time))


if __name__ == "__main__":
    main()
