// A program that does nothing: the time it takes to be started and to end is
// the floor that bench/start_runs.py takes off the program's runs.
int main(void)
{
    return 0;
}
