// The plain form of trial division, step by step with libm's floor and sqrt:
// the reference the fast paths are tested against and the baseline of the
// benchmarks.
#pragma once

// Same contract as has_trial_divisor.
bool plain_has_trial_divisor(double candidate);
