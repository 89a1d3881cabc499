// The least an OpenMP program can do: start the team, let each thread ask its number, exit.
#include <omp.h>

int main()
{
#pragma omp parallel
    {
        [[maybe_unused]] volatile int t = omp_get_thread_num();
    }
    return 0;
}
