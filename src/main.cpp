// quentaro: asks for a start value and lists every prime above it.
#include <cstdlib>

#include "dialogue.hpp"
#include "output.hpp"
#include "prime_search.hpp"

// Runs the dialogue, then the search. Exits with status 1 on a refused start
// value, a failed read or a failed write, and with status 0 when the search
// has reached 2^53.
int main(void)
{
    prepare_output();
    print_banner();
    double start_value = read_start_value();
    if (!is_valid_start(start_value)) {
        print_text(refusal_line);
        finish_output();
        std::exit(1);
    }
    start_timely_delivery();
    list_primes_after(start_value);
    finish_output();
    return 0;
}
