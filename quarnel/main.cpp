// The threads update one array, the a of main, each in its own block: main sees every write.

// Without OpenMP the pragmas would be ignored, at most with a warning, and one thread would run everything.
#ifndef _OPENMP
#error "OpenMP is not enabled: compile with -fopenmp"
#endif
#include <cerrno>
#include <cstdio>
#include <cstring>

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

    // A full disk or a closed stdout shows up only when the buffer is flushed: look, so that
    // the exit status tells the truth about the output.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (errno != 0)
            std::fprintf(stderr, "%s: write error: %s\n", program_invocation_short_name, std::strerror(errno));
        else
            std::fprintf(stderr, "%s: write error\n", program_invocation_short_name);
        return 1;
    }
    return 0;
}
