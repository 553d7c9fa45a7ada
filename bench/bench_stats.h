/* The benchmarks' figures: per-frame samples sorted, then read at a
 * percentile (the smallest sample with at least that share at or below it). */
#pragma once
#include <math.h>
#include <stdlib.h>

inline int bench_cmp_double(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

inline void bench_sort(double *samples, int n) { qsort(samples, (size_t)n, sizeof(double), bench_cmp_double); }

inline double bench_percentile(const double *sorted, int n, double q)
{
    int i = (int)ceil(q * n) - 1;
    return sorted[i < 0 ? 0 : (i >= n ? n - 1 : i)];
}
