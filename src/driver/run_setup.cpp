#include "driver/run_setup.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/switches.h"
#include "engine/memory_estimate.h"

namespace strellix {

RunSettings read_run_settings(int& argc, char** argv) {
  RunSettings s;
  s.ini = Lread_iswitch(argc, argv, "-ini", 1);
  s.end = Lread_iswitch(argc, argv, "-end", 2);
  s.n = Lread_iswitch(argc, argv, "-n", 5);
  s.w1d = Lread_iswitch(argc, argv, "-w1d", 1);
  s.w2d = Lread_iswitch(argc, argv, "-w2d", 1);
  s.e = static_cast<float>(Lread_dswitch(argc, argv, "-e", 0.005));
  s.F = Lread_iswitch(argc, argv, "-F", 100);
  s.lr = static_cast<float>(Lread_dswitch(argc, argv, "-lr", 0.05));
  s.SmaskMOD = Lread_iswitch(argc, argv, "-SmaskMOD", 1);
  s.SmodBG = read_flag_switch(argc, argv, "-SmodBG");
  s.video = read_flag_switch(argc, argv, "-f");
  s.ShowMask = Lread_iswitch(argc, argv, "-ShowMask", 0);
  s.skip = Lread_iswitch(argc, argv, "-skip", 1);
  s.Boot = Lread_iswitch(argc, argv, "-Boot", 0);
  return s;
}

bool settings_refused(const RunSettings& s) {
  if (s.n < 1) {
    std::fprintf(stderr, "Strellixplus: -n must be at least 1 (got %d)\n", s.n);
    return true;
  }
  // The weight tables exist only for these half-widths.
  if (s.w1d < 0 || s.w1d > 3) {
    std::fprintf(stderr, "Strellixplus: -w1d must be between 0 and 3 (got %d)\n", s.w1d);
    return true;
  }
  if (s.w2d < 0 || s.w2d > 4) {
    std::fprintf(stderr, "Strellixplus: -w2d must be between 0 and 4 (got %d)\n", s.w2d);
    return true;
  }
  if (!s.Boot && s.F < 1) {
    std::fprintf(stderr, "Strellixplus: -F must be at least 1 (got %d)\n", s.F);
    return true;
  }
  if (s.video && s.skip < 1) {
    std::fprintf(stderr, "Strellixplus: -skip must be at least 1 (got %d)\n", s.skip);
    return true;
  }
  return false;
}

bool memory_refused(const RunSettings& s, std::size_t pixel_count) {
  const double available = physical_memory_bytes();
  if (available <= 0.0) return false;  // unknown: let the allocations decide
  const double needed = estimate_memory_bytes(s.n, pixel_count, !s.Boot, s.F);
  if (needed <= available) return false;
  std::fprintf(stderr,
               "Strellixplus: not enough memory: %d layers%s of %zu pixels need %.0f bytes, "
               "the machine has %.0f\n",
               s.n, s.Boot ? "" : " and the median's frame store", pixel_count, needed, available);
  return true;
}

Parameters model_parameters(const RunSettings& s) {
  Parameters p;
  p.layers = s.n;
  p.width_1d = s.w1d;
  p.width_2d = s.w2d;
  p.threshold = s.e;
  p.learning_rate = s.lr;
  // The program takes its median itself, from frames it reads one by one.
  p.median_frames = s.F >= 1 ? s.F : 1;
  p.threads = 0;
  return p;
}

void create_model(RunState& run) {
  run.engine.reset(new Engine(model_parameters(run.settings), passes_from_environment()));
}

void release_run_buffers(RunState& run) {
  run.engine.reset();
  run.first_frame.release();
  run.mask_image.release();
}

}  // namespace strellix
