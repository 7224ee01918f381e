// Wall-clock and process CPU stamps, and the medians the benchmarks report.
//
// The machine may be shared, so every timing keeps both clocks: CPU time of
// all the process's threads is the steadier figure, wall time the one a user
// waits for.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

struct Stamp {
  std::chrono::steady_clock::time_point wall;
  double cpu;
};

// Seconds, one entry per repetition.
struct Timing {
  std::vector<double> wall;
  std::vector<double> cpu;
};

// Medians over the repetitions, in seconds (or seconds per frame).
struct Figures {
  double wall = 0.0;
  double cpu = 0.0;
};

inline double process_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline Stamp now() {
  return Stamp{std::chrono::steady_clock::now(), process_cpu_seconds()};
}

inline double wall_seconds_between(const Stamp& start, const Stamp& end) {
  return std::chrono::duration<double>(end.wall - start.wall).count();
}

// Adds the time since `start` to a running total (wall, cpu).
inline void add_since(const Stamp& start, Figures& total) {
  const Stamp end = now();
  total.wall += wall_seconds_between(start, end);
  total.cpu += end.cpu - start.cpu;
}

inline void record(Timing& timing, const Figures& one_repetition) {
  timing.wall.push_back(one_repetition.wall);
  timing.cpu.push_back(one_repetition.cpu);
}

inline double median_of(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

inline Figures figures_of(const Timing& timing) {
  return Figures{median_of(timing.wall), median_of(timing.cpu)};
}

inline Figures scaled(const Figures& f, double factor) {
  return Figures{f.wall * factor, f.cpu * factor};
}

inline Figures sum_of(const Figures& a, const Figures& b) {
  return Figures{a.wall + b.wall, a.cpu + b.cpu};
}

// Ratio of two figures, clock by clock; 0 where the denominator is 0.
inline Figures ratio_of(const Figures& numerator, const Figures& denominator) {
  return Figures{denominator.wall > 0.0 ? numerator.wall / denominator.wall : 0.0,
                 denominator.cpu > 0.0 ? numerator.cpu / denominator.cpu : 0.0};
}
