// The frames `strellix evaluate` scores: the ones --first and --last give,
// and where they are left out, the frames that temporalROI.txt names and
// the ground-truth directory holds, so that an excerpt of a sequence (whose
// temporalROI.txt still names the whole) scores as it is.
#pragma once

#include <optional>
#include <string>

#include "cli/name_pattern.h"

namespace strellix::cli {

struct FrameRange {
  long long first = 0, last = 0;
};

// Throws CommandFailure: EXIT_USAGE for an empty range, EXIT_NO_INPUT when
// temporalROI.txt or the ground-truth directory cannot be used, each
// message naming the file and what is wrong with it.
// `within`, when given, cuts the range to the frames a run segmented.
FrameRange scored_frames(const std::optional<long long>& first, const std::optional<long long>& last,
                         const std::optional<FrameRange>& within, const std::string& truth_dir,
                         const std::string& truth_pattern_text, const NamePattern& truth_pattern);

// temporalROI.txt lives in the sequence directory, the parent of the
// ground truth's.
std::string temporal_roi_path(const std::string& truth_dir);

// The two frame numbers of a temporalROI.txt; throws CommandFailure
// (EXIT_NO_INPUT) quoting what the file holds when they are not there.
FrameRange read_temporal_roi(const std::string& path);

}  // namespace strellix::cli
