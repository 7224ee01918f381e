// What each pass moves per frame, from the sizes of the buffers it reads
// and writes (each counted once, as from memory): the working set that a
// busy shared cache has to serve.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct PassBytes {
  std::string pass;
  double read = 0.0;     // bytes
  double written = 0.0;  // bytes
};

// `cache_lines_mib` is what the colour cache's lookups touch per frame.
inline std::vector<PassBytes> bytes_touched(int W, int H, int layers, double cache_lines_mib) {
  const double N = static_cast<double>(W) * H, model = 12.0 * layers * N;
  const double frame = 12.0 * N;        // the frame in the model space: three floats a pixel
  const double labels_match = 5.0 * N;  // a label byte and a match index
  return {
      {"frame_to_model_cached", 3.0 * N + cache_lines_mib * 1024.0 * 1024.0, frame},
      {"segment_frame_parallel", frame + model, labels_match},
      {"coherence_filter_parallel", N, N},
      {"selective_update_parallel", frame + labels_match + N + model, model},
      {"online_pass_fused", frame + model, labels_match + N + model},
  };
}

inline void print_bytes_touched(const std::string& label, const std::vector<PassBytes>& passes) {
  const double mib = 1024.0 * 1024.0;
  std::printf("  bytes touched per frame, %s:", label.c_str());
  for (const PassBytes& p : passes)
    std::printf("%s %s %.1f + %.1f MiB", &p == &passes.front() ? "" : ";", p.pass.c_str(), p.read / mib,
                p.written / mib);
  std::printf(" (read + written)\n");
}
