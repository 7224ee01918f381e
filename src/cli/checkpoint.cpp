#include "cli/checkpoint.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "cli/command_failure.h"
#include "cli/output_dir.h"
#include "cli/run_outputs.h"
#include "io/atomic_file.h"

namespace strellix::cli {

namespace {

// Values may hold any byte but a line break.
std::string escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string real_text(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The shortest text that reads back as `value` ("0.05", not
// "0.050000000000000003"), for messages: a user sees what was typed.
std::string shown_real(double value) {
  char text[40];
  for (int digits = 1; digits < 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) return text;
  }
  return real_text(value);
}

// The size of a video file, so that another file under the same name is
// told apart.
std::string input_identity(const InputLocation& location) {
  std::string identity = std::string(location.kind_name()) + " " + location.absolute;
  struct stat info;
  if (location.kind == InputKind::video && stat(location.absolute.c_str(), &info) == 0)
    identity += " (" + std::to_string(static_cast<long long>(info.st_size)) + " bytes)";
  return identity;
}

// Options that came after the first checkpoints: a description holds their
// line only when they are set, so that a run checkpointed by an earlier
// version still resumes, and a description without the line had `unset`.
struct LaterOption {
  const char* name;
  const char* unset;
};
constexpr LaterOption LATER_OPTIONS[] = {
    {"--shadow-value", "0"}, {"--post-median", "0"}, {"--cold-start", "no"}, {"--numerics", "exact"}};

std::string later_value(const SegmentOptions& o, const std::string& name) {
  if (name == "--numerics") return numerics_name(o.parameters.numerics);
  if (name == "--shadow-value") return std::to_string(o.parameters.shadow_value);
  if (name == "--post-median") return std::to_string(o.parameters.post_median);
  return o.cold_start ? "yes" : "no";
}

bool is_later_option(const std::string& line) {
  for (const LaterOption& later : LATER_OPTIONS)
    if (line.compare(0, std::strlen(later.name) + 1, std::string(later.name) + "=") == 0) return true;
  return false;
}

// The value a description gives a later option: its line's, or unset.
std::string later_in(const std::vector<std::string>& lines, const LaterOption& later) {
  const std::string prefix = std::string(later.name) + "=";
  for (const std::string& line : lines)
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  return later.unset;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

std::string describe_run(const SegmentOptions& o, long long first_number) {
  const Parameters& p = o.parameters;
  std::string background;
  if (!o.background_file.empty()) {
    char* resolved = realpath(o.background_file.c_str(), nullptr);
    background = resolved != nullptr ? resolved : o.background_file;
    std::free(resolved);
  }
  std::string text;
  auto line = [&](const std::string& name, const std::string& value) {
    text += name + "=" + escaped(value) + "\n";
  };
  line("INPUT", input_identity(o.location));
  line("--start", std::to_string(first_number));
  line("--end", o.end ? std::to_string(*o.end) : "the end of the input");
  line("--layers", std::to_string(p.layers));
  line("--width-1d", std::to_string(p.width_1d));
  line("--width-2d", std::to_string(p.width_2d));
  line("--threshold", real_text(p.threshold));
  line("--learning-rate", real_text(p.learning_rate));
  line("--median-frames", std::to_string(p.median_frames));
  line("--background", background.empty() ? "the median" : background);
  line("--no-masks", o.no_masks ? "yes" : "no");
  line("--background-every", std::to_string(o.background_every));
  for (const LaterOption& later : LATER_OPTIONS) {
    const std::string value = later_value(o, later.name);
    if (value != later.unset) line(later.name, value);
  }
  return text;
}

void write_run_description(const SegmentOptions& o, const std::string& description) {
  const std::string path = output_path(o, CHECKPOINT_RUN_FILE);
  const std::vector<unsigned char> bytes(description.begin(), description.end());
  if (!write_file_atomic(path, bytes)) throw CommandFailure(EXIT_OUTPUT, write_failure(path, errno));
}

void check_run_description(const SegmentOptions& o, const std::string& description) {
  const std::string path = output_path(o, CHECKPOINT_RUN_FILE);
  std::ifstream in(path, std::ios::binary);
  std::ostringstream saved_text;
  saved_text << in.rdbuf();
  if (!in) throw input_error("cannot read " + path);
  const std::vector<std::string> saved_lines = lines_of(saved_text.str()), now_lines = lines_of(description);
  std::vector<std::string> saved, now;
  for (const std::string& line : saved_lines)
    if (!is_later_option(line)) saved.push_back(line);
  for (const std::string& line : now_lines)
    if (!is_later_option(line)) now.push_back(line);
  auto differs = [&](const std::string& name, const std::string& had, const std::string& has) {
    return usage_error("--resume: the interrupted run in " + o.output_dir + " had " + name + " " + had +
                       ", this command " + has +
                       "; give the options of that run, or start again with --overwrite");
  };
  for (std::size_t k = 0; k < now.size(); ++k) {
    if (k < saved.size() && saved[k] == now[k]) continue;
    const std::string name = now[k].substr(0, now[k].find('='));
    const std::string value = now[k].substr(name.size() + 1);
    if (k >= saved.size() || saved[k].compare(0, name.size() + 1, name + "=") != 0)
      throw input_error(path + " does not describe a run of this version (no " + name + ")");
    throw differs(name, saved[k].substr(name.size() + 1), value);
  }
  for (const LaterOption& later : LATER_OPTIONS) {
    const std::string had = later_in(saved_lines, later), has = later_in(now_lines, later);
    if (had != has) throw differs(later.name, had, has);
  }
}

// Written through the command line's atomic writer, so that a second
// signal during the write removes the temporary file too. The reason of a
// failed write is taken where it happens: the library's exception on the
// way out may change errno.
std::string save_checkpoint(const Subtractor& subtractor, const SegmentOptions& o) {
  const std::string path = output_path(o, CHECKPOINT_STATE_FILE);
  int write_error = 0;
  const bool written = write_file_atomic(
      path,
      [&](int fd) {
        try {
          subtractor.save([fd, &write_error](const unsigned char* data, std::size_t size) {
            if (write_all(fd, data, size)) return true;
            write_error = errno;
            return false;
          });
          return true;
        } catch (const std::runtime_error&) {
          if (write_error != 0) errno = write_error;
          return false;
        }
      },
      true);
  return written ? std::string() : write_failure(path, errno);
}

Subtractor load_checkpoint(const SegmentOptions& o) {
  const std::string path = output_path(o, CHECKPOINT_STATE_FILE);
  try {
    return Subtractor::load(path, o.parameters.numerics);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw input_error("cannot resume from " + path + ": " + e.what());
  }
}

void check_checkpoint_belongs(const SegmentOptions& o, const Subtractor& model, cv::Size input_size,
                              long long input_frames) {
  const Parameters &saved = model.parameters(), &run = o.parameters;
  std::string theirs, ours;
  auto compare = [&](const char* name, const std::string& a, const std::string& b) {
    if (a == b) return;
    theirs += std::string(theirs.empty() ? "" : ", ") + name + " " + a;
    ours += std::string(ours.empty() ? "" : ", ") + name + " " + b;
  };
  compare("--layers", std::to_string(saved.layers), std::to_string(run.layers));
  compare("--width-1d", std::to_string(saved.width_1d), std::to_string(run.width_1d));
  compare("--width-2d", std::to_string(saved.width_2d), std::to_string(run.width_2d));
  compare("--threshold", shown_real(saved.threshold), shown_real(run.threshold));
  compare("--learning-rate", shown_real(saved.learning_rate), shown_real(run.learning_rate));
  compare("--median-frames", std::to_string(saved.median_frames), std::to_string(run.median_frames));
  compare("--shadow-value", std::to_string(saved.shadow_value), std::to_string(run.shadow_value));
  compare("--post-median", std::to_string(saved.post_median), std::to_string(run.post_median));
  const cv::Size size = model.frame_size();
  compare("frames of", std::to_string(size.width) + "x" + std::to_string(size.height),
          std::to_string(input_size.width) + "x" + std::to_string(input_size.height));
  const std::string path = output_path(o, CHECKPOINT_STATE_FILE);
  if (!theirs.empty())
    throw input_error(path + " is not this run's checkpoint: it holds " + theirs + ", where the run has " +
                      ours + "; start again with --overwrite");
  if (input_frames >= 0 && model.frames_applied() > input_frames)
    throw input_error(path + " comes after frame " + std::to_string(model.frames_applied()) +
                      " of the run, but " + o.location.text + " now has " + std::to_string(input_frames) +
                      " frames in its range; start again with --overwrite");
}

void remove_checkpoint(const SegmentOptions& o) {
  unlink(output_path(o, CHECKPOINT_STATE_FILE).c_str());
  unlink(output_path(o, CHECKPOINT_RUN_FILE).c_str());
}

}  // namespace strellix::cli
