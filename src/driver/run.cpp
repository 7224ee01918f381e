// The run driver: set-up, phase (1), phase (2), report and teardown.
//
// Exit codes:
//   0  normal end; also a start without arguments and -h / --help alone
//   1  no initial input: the first frame cannot be read ("ATTENTION: Cannot
//      grab file %s"), -Boot without a usable InitialModel.png (same
//      message), or a frame of the median missing ("Unable to read expected
//      file %s\n") or unusable
//   2  a switch without a usable value, or a value the run cannot work with
//   3  the run ended normally, but some output file (mask, PPM,
//      InitialModel.png) could not be written; each is named on stderr
//   4  out of memory, or a model too large for the machine's memory
//   5  a frame that exists could not be used during the loop (wrong size,
//      undecodable); the loop stopped there, report and teardown followed
//   6  an unexpected failure inside a library call, reported on stderr
// A frame file that does not exist simply ends the range (exit code 0).

#include "driver/run.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "driver/console.h"
#include "driver/display.h"
#include "driver/frame_loop.h"
#include "driver/init_phase.h"
#include "driver/output_writer.h"
#include "driver/report.h"
#include "driver/run_setup.h"
#include "driver/run_state.h"
#include "driver/switches.h"
#include "io/atomic_file.h"
#include "io/frame_source.h"

namespace strellix {

namespace {

const char* const OUTPUT_WINDOW = "Output";

bool is_help_request(int argc, char** argv) {
  return argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0);
}

void wait_for_key_and_go() {
  console_print("Hit any key to continue...\n");
  wait_console_key();
}

// Opens the video (with its window) and reads the first frame for the image
// size. Returns 0, or 1 when there is no first frame.
int open_input(RunState& run) {
  const RunSettings& s = run.settings;
  bool opened = false;
  if (s.video) {
    open_window(run.names.base, 50, 1);
    run.input_window = true;
    const std::string video_name = video_file_name(run.names.prefix);
    console_print("Output for video %s\n", video_name.c_str());
    // A failed open, once reported, shows up as no first frame.
    std::string error;
    opened = open_video(run.capture, video_name, error);
    if (!opened) print_standard_error(program_note(error));
  }
  // Named after frame ini also in video mode, for the message.
  const std::string name = frame_file_name(run.names.prefix, s.ini);
  const FrameRead read = grab_frame(s.video, &run.capture, s.skip, name);
  const cv::Mat& frame = read.frame;
  if (frame.empty()) {
    if (!read.error.empty()) print_standard_error(program_note(read.error));
    if (s.video && opened && read.status == GRAB_MISSING) {
      std::fprintf(stderr, "Strellixplus: video file %s has no frame %d\n",
                   video_file_name(run.names.prefix).c_str(), s.skip);
    }
    console_print("ATTENTION: Cannot grab file %s", name.c_str());
    return 1;
  }
  run.W = frame.cols;
  run.H = frame.rows;
  run.N = static_cast<std::size_t>(run.W) * static_cast<std::size_t>(run.H);
  run.first_frame = frame;
  return 0;
}

void open_output_window(RunState& run) {
  if (!run.settings.ShowMask) return;
  open_window(OUTPUT_WINDOW, run.settings.video ? run.W + 70 : 50, 1);
  run.output_window = true;
}

void close_windows_and_input(RunState& run) {
  if (run.output_window) close_window(OUTPUT_WINDOW);
  if (run.input_window) close_window(run.names.base);
  run.capture.release();
}

// An end before the loop: no report and no key wait.
int end_early(RunState& run, int code) {
  release_run_buffers(run);
  close_windows_and_input(run);
  return code;
}

int run_whole_program(int argc, char** argv) {
  install_temporary_file_cleanup();
  if (argc <= 1) {
    print_usage();
    wait_for_key_and_go();
    return 0;
  }
  if (is_help_request(argc, argv)) {
    print_usage();
    return 0;
  }

  RunState run;
  // The sequence name is taken before any switch is read.
  run.names = split_seq_name(argv[1]);
  run.settings = read_run_settings(argc, argv);
  if (settings_refused(run.settings)) return 2;

  if (int code = open_input(run)) return end_early(run, code);
  if (memory_refused(run.settings, run.N)) return end_early(run, 4);
  open_output_window(run);
  create_model(run);

  if (int code = run_init_phase(run)) return end_early(run, code);

  console_print("(2) background subtraction & model update ...\n    processing frame no. ");
  const int loop_code = run_frame_loop(run);

  print_report(run.settings, run.W, run.H);
  release_run_buffers(run);
  wait_for_key_and_go();  // the windows stay on screen meanwhile
  close_windows_and_input(run);
  if (loop_code != 0) return loop_code;
  return run.output_failed ? 3 : 0;
}

}  // namespace

int run_program(int argc, char** argv) {
  console_init();
  // The image library reports a failed allocation, and any failure of its
  // own, by an exception; uncaught, it would end the process by an abort.
  try {
    return run_whole_program(argc, argv);
  } catch (const AllocationFailure& e) {
    std::fprintf(stderr, "Out of memory: cannot allocate %zu bytes\n", e.bytes());
    return 4;
  } catch (const std::bad_alloc&) {
    std::fputs("Strellixplus: out of memory\n", stderr);
    return 4;
  } catch (const cv::Exception& e) {
    if (e.code == cv::Error::StsNoMem) {
      std::fputs("Strellixplus: out of memory\n", stderr);
      return 4;
    }
    std::fprintf(stderr, "Strellixplus: unexpected failure in the image library: %s\n", e.what());
    return 6;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Strellixplus: unexpected failure: %s\n", e.what());
    return 6;
  }
}

}  // namespace strellix
