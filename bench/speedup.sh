#!/usr/bin/env bash
# Prints how many times faster the program is than quentaro_plain_search, the
# same program with the plain form of trial division, on three runs:
# 100 primes after 10^12 and the run from 2^53 - 112 to the end, both
# line-buffered since their lines come slowly, and the first 100,000 primes
# from 0, where writing the lines is part of the cost.
# Usage: bench/speedup.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build=${1:-build}
rounds=${2:-3}
compare="python3 $(dirname "$0")/compare_runs.py $build/quentaro $build/bench/quentaro_plain_search"
$compare 1000000000000 100 "$rounds" --line-buffered
$compare 9007199254740880 all "$rounds" --line-buffered
$compare 0 100000 "$rounds"
