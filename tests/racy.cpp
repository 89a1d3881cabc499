// Every thread adds to one shared sum with no synchronisation: a data race, on purpose.
#include <cstdio>

int main()
{
    int suma = 0;
#pragma omp parallel default(none) shared(suma)
    for (int i = 0; i < 1000; i++)
        suma = suma + 1;
    std::printf("%d\n", suma);
    return 0;
}
