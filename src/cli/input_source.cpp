#include "cli/input_source.h"

#include "cli/command_failure.h"
#include "cli/stream_diagnosis.h"

namespace strellix::cli {

std::unique_ptr<InputSource> open_input(const InputLocation& location, const std::optional<long long>& start,
                                        const std::optional<long long>& end, double stream_timeout) {
  if (location.numbered_by_place()) {
    if (start && *start < 1)
      throw usage_error("--start counts frames from 1 for this input (got " + std::to_string(*start) + ")");
    if (end && *end < 1)
      throw usage_error("--end counts frames from 1 for this input (got " + std::to_string(*end) + ")");
  }
  if (start && end && *end < *start)
    throw usage_error("--end " + std::to_string(*end) + " comes before --start " + std::to_string(*start));
  if (location.kind == InputKind::pattern || location.kind == InputKind::directory)
    return open_image_files(location, start, end);
  return open_video_input(location, start.value_or(1), end, stream_timeout);
}

std::string no_frame_message(const InputLocation& location, double stream_timeout) {
  std::string message = location.text + " has no frame to read";
  if (location.kind == InputKind::stream) {
    const std::string why = why_stream_fails(location.text, stream_timeout);
    if (!why.empty()) message += ": " + why;
  }
  return message;
}

}  // namespace strellix::cli
