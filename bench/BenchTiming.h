// Timing helpers of the benchmark programs.
#ifndef BENCH_BENCHTIMING_H
#define BENCH_BENCHTIMING_H

#include <windows.h>

// Seconds from the performance counter.
inline double BenchNow() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return (double)counter.QuadPart / (double)frequency.QuadPart;
}

// Best time of one call over `rounds` rounds of `calls` calls each, after one
// call that warms the caches and the pages.
template <typename F>
double BenchBestSeconds(F call, int rounds, int calls) {
  call();
  double best = 1e30;
  for (int round = 0; round < rounds; round++) {
    double start = BenchNow();
    for (int i = 0; i < calls; i++) call();
    double seconds = (BenchNow() - start) / calls;
    if (seconds < best) best = seconds;
  }
  return best;
}

#endif
