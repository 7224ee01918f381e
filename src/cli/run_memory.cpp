#include "cli/run_memory.h"

#include <algorithm>

namespace strellix::cli {

RunMemory run_memory(const Parameters& parameters, cv::Size size, long long median_frames) {
  RunMemory m;
  m.median_frames = std::max(0LL, median_frames);
  // The library counts the median's store from parameters.median_frames;
  // the run stores only as many frames as it reads.
  Parameters counted = parameters;
  counted.median_frames = static_cast<int>(std::max(1LL, m.median_frames));
  m.model_bytes = static_cast<double>(estimate_memory(counted, size.width, size.height, false));
  if (m.median_frames > 0)
    m.median_bytes =
        static_cast<double>(estimate_memory(counted, size.width, size.height, true)) - m.model_bytes;
  m.kept_bytes = static_cast<double>(m.median_frames) * size.width * size.height * 3.0;
  return m;
}

}  // namespace strellix::cli
