// The threads update one array, the a of main, each in its own block: main sees every write.

// Without OpenMP the pragmas would be ignored, at most with a warning, and one thread would run everything.
#ifndef _OPENMP
#error "OpenMP is not enabled: compile with -fopenmp"
#endif
#include <cerrno>
#include <cstdio>

int main()
{
    int a[7] = {1, 2, 3, 4, 5, 6, 7};
    int n = 7;

    // The static blocks are disjoint, so no element is written by two threads and no lock is needed.
#pragma omp parallel for default(none) shared(a, n) schedule(static)
    for (int i = 0; i < n; i++)
        a[i] = a[i] + i;

    // The end of the construct joined the team: every update is in a by now.
    std::puts("Despues de parallel for:");
    for (int i = 0; i < n; i++)
        std::printf("a[%d] = %d\n", i, a[i]);

    // A full disk or a closed stdout shows up when the buffer is flushed, or earlier, in a printf
    // if stdout is unbuffered: look at both, so that the exit status tells the truth about the output.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (errno != 0)
            std::perror("quarnel: write error");
        else
            std::fputs("quarnel: write error\n", stderr);
        return 1;
    }
    return 0;
}
