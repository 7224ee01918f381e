// Arbitrary bytes as a sequence's temporalROI.txt, the one file of a
// sequence `strellix evaluate` parses itself. Besides what the sanitizers
// see, the reader's promise is checked: it refuses only with a
// CommandFailure that says what the file holds, and what it accepts is a
// range of frame numbers in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/command_failure.h"
#include "cli/evaluate_range.h"
#include "scratch_file.h"

namespace strellix {

// Null when the input was handled soundly, else what went wrong.
inline const char* temporal_roi_problem(const std::uint8_t* data, std::size_t size) {
  const std::string& path = scratch_path("temporalROI.txt");
  if (!write_scratch(path, data, size)) return nullptr;  // nothing read, nothing to check
  try {
    const cli::FrameRange r = cli::read_temporal_roi(path);
    if (r.first < 0 || r.last < r.first || r.last > 999999999)
      return "an accepted range out of order or bounds";
  } catch (const cli::CommandFailure& failure) {
    if (failure.code() != cli::EXIT_NO_INPUT) return "refused with another exit code";
  } catch (...) {
    return "refused with something other than a CommandFailure";
  }
  return nullptr;
}

}  // namespace strellix
