#include "cli/probe_command.h"

#include <algorithm>
#include <cstdio>

#include "cli/command_failure.h"
#include "cli/input_source.h"
#include "cli/json_text.h"
#include "cli/run_memory.h"
#include "cli/shared_options.h"
#include "io/frame_source.h"

namespace strellix::cli {

namespace {

struct ProbeReport {
  InputLocation source;
  cv::Size size;
  long long first = 1;
  long long frames = -1;  // -1: the input does not tell
  double frame_rate = 0.0;
  int layers = 0;
  RunMemory memory;
  // What one more layer, and one more frame of the median, add: a
  // scheduler sizes runs of other parameter sets from one probe.
  double per_layer = 0.0, per_median_frame = 0.0;
};

// Bytes as a whole number: JSON readers take them exactly up to 2^53.
std::string bytes_text(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", bytes);
  return text;
}

std::string report_json(const ProbeReport& r) {
  const std::string frames = r.frames >= 0 ? std::to_string(r.frames) : "null";
  const std::string rate = r.frame_rate > 0.0 ? json_number(r.frame_rate) : "null";
  std::string t = "{\n";
  t += "  \"input\": {\"kind\": " + json_string(r.source.kind_name()) +
       ", \"source\": " + json_string(r.source.text) + ", \"width\": " + std::to_string(r.size.width) +
       ", \"height\": " + std::to_string(r.size.height) + ", \"first\": " + std::to_string(r.first) +
       ", \"frames\": " + frames + ", \"frame_rate\": " + rate + "},\n";
  t += "  \"layers\": " + std::to_string(r.layers) + ",\n";
  t += "  \"median_frames\": " + std::to_string(r.memory.median_frames) + ",\n";
  t += "  \"memory\": {\"bytes\": " + bytes_text(r.memory.total()) +
       ", \"model\": " + bytes_text(r.memory.model_bytes) +
       ", \"median\": " + bytes_text(r.memory.median_bytes) +
       ", \"kept_frames\": " + bytes_text(r.memory.kept_bytes) +
       ", \"per_layer\": " + bytes_text(r.per_layer) +
       ", \"per_median_frame\": " + bytes_text(r.per_median_frame) + "}\n}\n";
  return t;
}

std::string report_text(const ProbeReport& r) {
  std::string t = "input: " + std::string(r.source.kind_name()) + " " + r.source.text + "\n";
  t += "frame size: " + std::to_string(r.size.width) + "x" + std::to_string(r.size.height) + "\n";
  t += "frames: " + (r.frames >= 0 ? std::to_string(r.frames) : std::string("unknown")) + ", from " +
       std::to_string(r.first) + "\n";
  if (r.frame_rate > 0.0) t += "frame rate: " + json_number(r.frame_rate) + "\n";
  t += "memory: " + bytes_text(r.memory.total()) + " bytes (model " + bytes_text(r.memory.model_bytes) +
       ", median store " + bytes_text(r.memory.median_bytes) + ", frames kept for the median " +
       bytes_text(r.memory.kept_bytes) + "; median of " + std::to_string(r.memory.median_frames) +
       " frames)\n";
  return t;
}

// The files a run on `source` reads: its frames for a pattern or a
// directory, the file itself for a video. Listing them decodes nothing, so
// a batch can ask for them every time it starts.
int print_files(const InputLocation& source, const ProbeOptions& o) {
  std::vector<std::string> files;
  if (source.kind == InputKind::video)
    files.push_back(source.text);
  else if (source.kind == InputKind::pattern || source.kind == InputKind::directory)
    files = open_input(source, o.start, o.end)->files();
  std::string t = o.json ? "{\"files\": [" : "";
  for (std::size_t k = 0; k < files.size(); ++k)
    t += o.json ? (k ? ",\n  " : "\n  ") + json_string(files[k]) : files[k] + "\n";
  if (o.json) t += files.empty() ? "]}\n" : "\n]}\n";
  std::fputs(t.c_str(), stdout);
  return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_OUTPUT;
}

}  // namespace

CLI::App* add_probe_command(CLI::App& app, ProbeOptions& o) {
  CLI::App* c = app.add_subcommand(
      "probe", "What a segment run on INPUT needs: frame size, frame count and memory, before it starts");
  c->add_option("INPUT", o.input, "Video file, image pattern, directory of images or stream URL")
      ->required()
      ->type_name("");
  add_model_options(*c, o.parameters, o.background_file);
  add_frame_range_options(*c, o.start, o.end);
  add_stream_timeout_option(*c, o.stream_timeout);
  c->add_flag("--files", o.files,
              "Instead of the report, list the files the run reads (none for a stream or camera); no "
              "frame is read");
  c->add_flag("--json", o.json, "Print the report as one JSON object");
  c->footer(
      "Takes the options of 'strellix segment' that change what a run needs, and reads the first frame\n"
      "of the range. Memory is what segment itself checks before it starts: the library's estimate for\n"
      "the model and the median's store, and the frames kept for the median; the process's own code\n"
      "and the video library's buffers come on top. Frames: the count from the first of the range to\n"
      "its end, as the input tells it (a video's container may be approximate; unknown for streams).\n"
      "The JSON's per_layer and per_median_frame are what one more layer or median frame adds.\n"
      "Exit codes: 0 done; 1 the input cannot be opened or its first frame cannot be used; 2 a usage\n"
      "error.");
  return c;
}

int run_probe(const ProbeOptions& o) {
  try {
    validate(o.parameters);
  } catch (const std::invalid_argument& e) {
    throw usage_error(e.what());
  }
  ProbeReport r;
  r.source = classify_input(o.input, std::nullopt);
  if (o.files) return print_files(r.source, o);
  std::unique_ptr<InputSource> input = open_input(r.source, o.start, o.end, o.stream_timeout);
  long long number = 0;
  const FrameRead first = input->read(number);
  if (first.status == GRAB_UNUSABLE) throw input_error(first.error);
  if (first.status != GRAB_OK) throw input_error(no_frame_message(r.source, o.stream_timeout));
  r.size = first.frame.size();
  r.first = number;
  r.frames = input->total();
  r.frame_rate = input->frame_rate();
  // As segment counts it: the median of the whole input when it is shorter.
  long long median_frames = o.background_file.empty() ? o.parameters.median_frames : 0;
  if (median_frames > 0 && r.frames > 0) median_frames = std::min(median_frames, r.frames);
  r.memory = run_memory(o.parameters, r.size, median_frames);
  r.layers = o.parameters.layers;
  // The estimate grows by the same amount with each layer and each median
  // frame, so the first of each tells it (and nothing near the ranges'
  // ends is counted).
  Parameters one = o.parameters, two = o.parameters;
  one.layers = 1;
  two.layers = 2;
  r.per_layer =
      run_memory(two, r.size, median_frames).total() - run_memory(one, r.size, median_frames).total();
  r.per_median_frame =
      run_memory(o.parameters, r.size, 2).total() - run_memory(o.parameters, r.size, 1).total();
  const std::string report = o.json ? report_json(r) : report_text(r);
  std::fputs(report.c_str(), stdout);
  return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_OUTPUT;
}

}  // namespace strellix::cli
