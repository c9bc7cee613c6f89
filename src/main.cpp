// quentaro: asks for a start value and lists every prime above it.
#include <cstdio>
#include <cstdlib>

#include "dialogue.hpp"
#include "prime_search.hpp"

// Runs the dialogue, then the search. Exits with status 1 on a refused start
// value and with status 0 when the search has reached 2^53.
int main(void)
{
    print_banner();
    double start_value = read_start_value();
    if (!is_valid_start(start_value)) {
        std::puts(refusal_message);
        std::exit(1);
    }
    list_primes_after(start_value);
    return 0;
}
