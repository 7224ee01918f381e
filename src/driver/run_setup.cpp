#include "driver/run_setup.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/switches.h"
#include "engine/memory_estimate.h"

namespace strellix {

// The defaults handed to the readers: the run's own, and the library's
// parameters (the threshold and the rate as the double values they are
// there, rounded to float once read).
RunSettings read_run_settings(int& argc, char** argv) {
  const RunSettings d;
  const Parameters model;
  RunSettings s;
  s.ini = Lread_iswitch(argc, argv, "-ini", d.ini);
  s.end = Lread_iswitch(argc, argv, "-end", d.end);
  s.n = Lread_iswitch(argc, argv, "-n", model.layers);
  s.w1d = Lread_iswitch(argc, argv, "-w1d", model.width_1d);
  s.w2d = Lread_iswitch(argc, argv, "-w2d", model.width_2d);
  s.e = static_cast<float>(Lread_dswitch(argc, argv, "-e", model.threshold));
  s.F = Lread_iswitch(argc, argv, "-F", model.median_frames);
  s.lr = static_cast<float>(Lread_dswitch(argc, argv, "-lr", model.learning_rate));
  s.SmaskMOD = Lread_iswitch(argc, argv, "-SmaskMOD", d.SmaskMOD);
  s.SmodBG = read_flag_switch(argc, argv, "-SmodBG");
  s.video = read_flag_switch(argc, argv, "-f");
  s.ShowMask = Lread_iswitch(argc, argv, "-ShowMask", d.ShowMask);
  s.skip = Lread_iswitch(argc, argv, "-skip", d.skip);
  s.Boot = Lread_iswitch(argc, argv, "-Boot", d.Boot);
  return s;
}

// The model's switches keep the library's ranges (the threshold and the
// rate excepted: the program takes any number there).
bool settings_refused(const RunSettings& s) {
  if (!ranges::layers.contains(s.n)) {
    std::fprintf(stderr, "Strellixplus: -n must be at least %d (got %d)\n", ranges::layers.least, s.n);
    return true;
  }
  if (!ranges::width_1d.contains(s.w1d)) {
    std::fprintf(stderr, "Strellixplus: -w1d must be between %d and %d (got %d)\n", ranges::width_1d.least,
                 ranges::width_1d.most, s.w1d);
    return true;
  }
  if (!ranges::width_2d.contains(s.w2d)) {
    std::fprintf(stderr, "Strellixplus: -w2d must be between %d and %d (got %d)\n", ranges::width_2d.least,
                 ranges::width_2d.most, s.w2d);
    return true;
  }
  if (!s.Boot && !ranges::median_frames.contains(s.F)) {
    std::fprintf(stderr, "Strellixplus: -F must be at least %d (got %d)\n", ranges::median_frames.least, s.F);
    return true;
  }
  if (s.video && s.skip < 1) {
    std::fprintf(stderr, "Strellixplus: -skip must be at least 1 (got %d)\n", s.skip);
    return true;
  }
  return false;
}

bool memory_refused(const RunSettings& s, std::size_t pixel_count) {
  const double needed = estimate_memory_bytes(s.n, pixel_count, !s.Boot, s.F);
  if (fits_in_memory(needed)) return false;
  const double available = static_cast<double>(physical_memory());
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
  const Parameters p = model_parameters(run.settings);
  run.engine.reset(new Engine(p, choose_passes(p)));
}

void release_run_buffers(RunState& run) {
  run.engine.reset();
  run.first_frame.release();
  run.mask_image.release();
}

}  // namespace strellix
