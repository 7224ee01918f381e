// strellix: the everyday command line of the library. `strellix segment`
// finds the moving objects of a video, `strellix evaluate` scores masks,
// `strellix probe` tells what a run would need before it starts.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <new>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "cli/command_failure.h"
#include "cli/evaluate_command.h"
#include "cli/parse_errors.h"
#include "cli/probe_command.h"
#include "cli/segment_options.h"
#include "cli/segment_run.h"
#include "strellix/strellix.hpp"

#ifndef STRELLIX_CLI_VERSION
#define STRELLIX_CLI_VERSION "0.0.0"
#endif

namespace strellix::cli {

namespace {

const char* const PROGRAM_FOOTER = R"(Quick start:
  strellix segment clip.mp4 -o masks/ --overlay overlay.mp4
  strellix evaluate masks/ groundtruth/ --roi ROI.bmp
  strellix probe clip.mp4 --json
Run 'strellix segment --help', 'strellix evaluate --help' or 'strellix probe --help' for all the options.)";

std::string version_text() {
  return std::string("strellix ") + STRELLIX_CLI_VERSION + " (library " + version() + ")";
}

// The options of every command, and which one was given.
struct Commands {
  CLI::App* segment = nullptr;
  CLI::App* evaluate = nullptr;
  CLI::App* probe = nullptr;
  SegmentOptions segment_options;
  EvaluateOptions evaluate_options;
  ProbeOptions probe_options;
};

// Runs the chosen command; failures come back as exceptions, each mapped to
// its exit code with one message on standard error.
int run_command(Commands& c) {
  const char* prefix = c.segment->parsed() ? "strellix"
                       : c.probe->parsed() ? "strellix probe"
                                           : "strellix evaluate";
  try {
    if (c.segment->parsed()) return run_segment(c.segment_options);
    if (c.probe->parsed()) return run_probe(c.probe_options);
    return run_evaluate(c.evaluate_options);
  } catch (const CommandFailure& failure) {
    if (*failure.what() != '\0') std::fprintf(stderr, "%s: %s\n", prefix, failure.what());
    return failure.code();
  } catch (const AllocationFailure& e) {
    std::fprintf(stderr, "%s: out of memory: cannot allocate %zu bytes\n", prefix, e.bytes());
    return EXIT_MEMORY;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", prefix);
    return EXIT_MEMORY;
  } catch (const cv::Exception& e) {
    if (e.code == cv::Error::StsNoMem) {
      std::fprintf(stderr, "%s: out of memory\n", prefix);
      return EXIT_MEMORY;
    }
    std::fprintf(stderr, "%s: unexpected failure in the image library: %s\n", prefix, e.what());
    return EXIT_UNEXPECTED;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: unexpected failure: %s\n", prefix, e.what());
    return EXIT_UNEXPECTED;
  }
}

}  // namespace

}  // namespace strellix::cli

int main(int argc, char** argv) {
  using namespace strellix::cli;
  CLI::App app(
      "strellix: find the moving objects of a video by background subtraction with a layered "
      "background model",
      "strellix");
  app.set_version_flag("--version", version_text(), "Print the program's and the library's version");
  app.footer(PROGRAM_FOOTER);
  // Room for the longest option with its value, so that two spaces always
  // part it from its description (help2man reads the man pages this way).
  app.get_formatter()->column_width(32);
  app.require_subcommand(0, 1);
  Commands commands;
  commands.segment = add_segment_command(app, commands.segment_options);
  commands.evaluate = add_evaluate_command(app, commands.evaluate_options);
  commands.probe = add_probe_command(app, commands.probe_options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return report_parse_error(app, error, std::vector<std::string>(argv + 1, argv + argc));
  }
  if (!commands.segment->parsed() && !commands.evaluate->parsed() && !commands.probe->parsed()) {
    std::fputs(app.help().c_str(), stdout);
    return EXIT_DONE;
  }
  return run_command(commands);
}
