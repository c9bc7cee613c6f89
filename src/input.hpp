// Reading standard input in bounded memory, whatever it is (terminal, pipe or
// file, blocking or not).
#pragma once

#include <cstddef>

// Skips white space on standard input, then copies the word that follows (the
// bytes up to the next white space or the end of input) into word, but no
// more than capacity (at least 1) bytes, and returns how many it copied: 0 at
// the end of input.
// Waits for input that has not come yet. On a failed read, reports it on
// standard error and exits with status 1.
size_t read_word(char *word, size_t capacity);
