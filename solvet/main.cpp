// Every thread sums its block of a into its own copy of suma, which it sets to 7; the suma of main stays 0.

// Without OpenMP the pragmas would be ignored, at most with a warning, and the runtime calls would not link.
#ifndef _OPENMP
#error "OpenMP is not enabled: compile with -fopenmp"
#endif
#include <cerrno>
#include <cstdio>

#include <omp.h>

int main()
{
    int a[7] = {0, 1, 2, 3, 4, 5, 6};
    int n = 7;
    int suma = 0;

#pragma omp parallel default(none) shared(a, n) private(suma)
    {
        [[maybe_unused]] int T = omp_get_num_threads(); // the static schedule splits n among these
        int t = omp_get_thread_num();
        suma = 7;

#pragma omp for schedule(static)
        for (int i = 0; i < n; i++) {
            suma = suma + a[i];
            std::printf("thread %d suma a[%d] / ", t, i);
        }
        // The loop's implied barrier: no total comes out before every thread has traced its block.
        std::printf("\n* thread %d suma= %d", t, suma);
    }

    std::printf("\n >> [THREAD : %d] | FUERA DE PARALLEL --> SUMA = %d", omp_get_thread_num(), suma);
    std::putchar('\n');

    // A full disk or a closed stdout shows up when the buffer is flushed, or earlier, in a printf
    // if stdout is unbuffered: look at both, so that the exit status tells the truth about the output.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (errno != 0)
            std::perror("solvet: write error");
        else
            std::fputs("solvet: write error\n", stderr);
        return 1;
    }
    return 0;
}
