#include "cli/run_record.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "cli/json_text.h"
#include "cli/output_dir.h"
#include "cli/run_outputs.h"
#include "io/atomic_file.h"

namespace strellix::cli {

namespace {

// Members of one JSON object, one a line at the given depth.
class JsonObject {
 public:
  explicit JsonObject(int depth) : indent_(static_cast<std::size_t>(2 * depth), ' ') {}
  JsonObject& add(const std::string& key, const std::string& json_value) {
    text_ += (text_.empty() ? "" : ",\n") + indent_ + "  " + json_string(key) + ": " + json_value;
    return *this;
  }
  JsonObject& add(const std::string& key, long long value) { return add(key, std::to_string(value)); }
  JsonObject& add_number(const std::string& key, double value) { return add(key, json_number(value)); }
  JsonObject& add_text(const std::string& key, const std::string& value) {
    return add(key, json_string(value));
  }
  JsonObject& add_optional_text(const std::string& key, const std::string& value) {
    return add(key, value.empty() ? "null" : json_string(value));
  }
  std::string str() const { return "{\n" + text_ + "\n" + indent_ + "}"; }

 private:
  std::string indent_, text_;
};

std::string input_json(const SegmentOptions& o, const RunRecord& r) {
  JsonObject input(1);
  input.add_text("kind", o.location.kind_name()).add_text("source", o.location.text);
  if (o.location.kind != InputKind::camera && o.location.kind != InputKind::stream)
    input.add_text("path", o.location.absolute);
  input.add("width", r.frame_size.width).add("height", r.frame_size.height);
  input.add("frame_rate", r.input_frame_rate > 0.0 ? json_number(r.input_frame_rate) : "null");
  return input.str();
}

std::string parameters_json(const SegmentOptions& o) {
  const Parameters& p = o.parameters;
  JsonObject parameters(1);
  parameters.add("layers", p.layers).add("width_1d", p.width_1d).add("width_2d", p.width_2d);
  parameters.add_number("threshold", p.threshold).add_number("learning_rate", p.learning_rate);
  parameters.add("median_frames", p.median_frames).add("threads", p.threads);
  parameters.add("shadow_value", p.shadow_value).add("post_median", p.post_median);
  parameters.add("cold_start", std::string(o.cold_start ? "true" : "false"));
  parameters.add_text("numerics", numerics_name(p.numerics));
  parameters.add_optional_text("background", o.background_file);
  return parameters.str();
}

std::string outputs_json(const SegmentOptions& o, const RunRecord& r) {
  JsonObject outputs(1);
  outputs.add_optional_text("masks", o.no_masks ? "" : "mask%06d.png");
  outputs.add_text("background", BACKGROUND_FILE);
  outputs.add_optional_text("mask_video", o.mask_video).add_optional_text("overlay", o.overlay);
  outputs.add_optional_text("mask_video_codec", r.mask_video_codec)
      .add_optional_text("overlay_codec", r.overlay_codec);
  outputs.add("background_every", o.background_every).add("checkpoint_every", o.checkpoint_every);
  return outputs.str();
}

std::string frames_json(const RunRecord& r) {
  JsonObject frames(1);
  if (r.frames_done > 0)
    frames.add("first", r.first).add("last", r.last);
  else
    frames.add("first", "null").add("last", "null");
  frames.add("done", r.frames_done)
      .add("expected", r.frames_expected >= 0 ? std::to_string(r.frames_expected) : "null")
      .add("resumed_after", r.resumed_after >= 0 ? std::to_string(r.resumed_after) : "null");
  return frames.str();
}

std::string seconds_json(const RunRecord& r) {
  JsonObject seconds(1);
  seconds.add_number("total", r.seconds_total).add_number("median", r.seconds_median);
  seconds.add_number("segmentation", r.seconds_segmentation)
      .add_number("frames_per_second", r.frames_per_second);
  return seconds.str();
}

}  // namespace

bool write_run_record(const SegmentOptions& o, const RunRecord& r) {
  JsonObject top(0);
  top.add_text("program", "strellix").add_text("version", version());
  top.add_text("status", r.status).add_optional_text("reason", r.reason).add("exit_code", r.exit_code);
  top.add_text("implementation", r.implementation);
  top.add("input", input_json(o, r)).add("parameters", parameters_json(o));
  top.add("frames", frames_json(r)).add("outputs", outputs_json(o, r)).add("seconds", seconds_json(r));
  const std::string text = top.str() + "\n";
  const std::string path = output_path(o, RUN_RECORD_FILE);
  if (write_file_atomic(path, std::vector<unsigned char>(text.begin(), text.end()))) return true;
  std::fprintf(stderr, "strellix: %s\n", write_failure(path, errno).c_str());
  return false;
}

}  // namespace strellix::cli
