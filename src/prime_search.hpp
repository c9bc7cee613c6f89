// The prime search: trial division in double precision, and the endless
// listing of every prime above a start value.
#pragma once

// Every whole number below this bound (2^53) is exact in a double; the search
// stops before its candidate would reach it.
constexpr double exact_limit = 9007199254740992.0;

// True when some whole number from floor(sqrt(candidate)) down to 2 divides
// candidate, trying them in that order and always trying the first one, even
// when it is below 2 (so 1, 2 and 3 report true). False means candidate is
// prime. Exact for every candidate from 1 below 2^53.
bool has_trial_divisor(double candidate);

// Writes to standard output, one per line and in ascending order, every prime
// greater than start_value, which must be zero or a positive whole number.
// Returns once every prime below 2^53 above the start has been written.
void list_primes_after(double start_value);
