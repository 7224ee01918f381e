// Arbitrary bytes as a search-mask file, shared by the fuzzing harness and
// the regression tests that replay its findings. Besides what the
// sanitizers see, the reader's promises are checked: the sizes are written
// only on success, a raster is width*height initialised bytes, and a raster
// byte can only be nonzero where the file had a byte to give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "io/pnm.h"
#include "scratch_file.h"

namespace strellix {

// Null when the input was handled soundly, else what went wrong.
inline const char* pgm_input_problem(const std::uint8_t* data, std::size_t size) {
  const std::string& path = scratch_path("pgm");
  if (!write_scratch(path, data, size)) return "cannot write the scratch file";

  constexpr int untouched = -12345;
  int height = untouched;
  int width = untouched;
  unsigned char* raster = read_pgm(path, height, width);
  if (raster == nullptr) {
    if (height != untouched || width != untouched) return "sizes written on failure";
    return nullptr;
  }
  const char* problem = nullptr;
  if (height < 1 || width < 1) {
    problem = "raster of no pixels";
  } else {
    const std::size_t count = static_cast<std::size_t>(height) * static_cast<std::size_t>(width);
    // Reading every byte lets the sanitizers see a short buffer.
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < count; ++i) nonzero += raster[i] != 0;
    if (nonzero > size) problem = "more nonzero raster bytes than the file has";
    for (std::size_t i = size; i < count && problem == nullptr; ++i)
      if (raster[i] != 0) problem = "raster byte beyond the file is not 0";
  }
  std::free(raster);
  return problem;
}

}  // namespace strellix
