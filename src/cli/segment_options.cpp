#include "cli/segment_options.h"

#include <climits>

#include "cli/command_failure.h"
#include "cli/input_source.h"
#include "cli/number_options.h"
#include "cli/output_dir.h"
#include "cli/shared_options.h"
#include "cli/video_output.h"

namespace strellix::cli {

namespace {

const char* const SEGMENT_FOOTER = R"(INPUT is one of:
  a video file            clip.mp4, clip.mkv, clip.mov, clip.avi (whatever the video library opens)
  a numbered pattern      frames/in%06d.jpg, seq%d.png (one %d field, printf style; %% for a percent sign)
  a directory of images   frames/ (PNG, JPEG, BMP, TIFF, WebP, PPM/PGM; in natural order: 2 before 10)
  a stream URL            rtsp://host/path, http://host/clip.mp4 (anything with scheme://)
or --camera N instead of INPUT. 8 or 16 bit, grey or colour images are read as 8-bit colour.
Frames are numbered by their own number for a pattern, from 1 otherwise; --start and --end use
those numbers. A missing file ends a pattern's run.

The median of the first --median-frames frames seeds the model (of all of them when the input is
shorter), and processing starts at the first frame: its mask is black, and the next layers-1
frames calibrate the model. With --cold-start the masks of the frames before the last of the
median's are black too, as a subtractor that starts at its first frame cannot segment a frame
before its model exists (strellix.createBackgroundSubtractor() in Python, and
strellix::createBackgroundSubtractor() in C++, give these masks).

Written into OUTDIR, which must be new or empty (see --overwrite and --resume); nothing is ever
written beside the input. Every file appears complete or not at all:
  mask%06d.png          the mask of each frame (255 moving object, 0 background, shadow 0 or
                        --shadow-value)
  background.png        the seed of the model: the median, or the --background image
  background%06d.png    with --background-every K: the model as a picture after every K-th frame
  --mask-video FILE     the masks as a lossless video (FFV1 in .mkv)
  --overlay FILE        the frames with moving objects tinted red (.mp4, .m4v, .mov, .mkv, .avi)
  checkpoint.state      with --checkpoint-every K: the model after every K-th frame (and
  checkpoint.txt        the run it belongs to); both are removed when the run completes
  run.json              input, parameters, frame range, frames done, timings, version, status
One run at a time holds OUTDIR (the lock file .strellix.lock, gone when it ends); another is
refused, naming it.

--resume continues the run in OUTDIR from its last checkpoint; give the same INPUT and options
as the first time (other values are refused). Masks already written stay; the videos are written
again from the start. A camera or a stream cannot be resumed. With no checkpoint in OUTDIR,
--resume is refused: start again with --overwrite.

Progress is shown on standard error when it is a terminal (not with --quiet).

Exit codes:
  0  done (also --help, --version)
  1  the input cannot be opened, has no frame, or a frame of the median cannot be used;
     a checkpoint that cannot be read or is not the run's
  2  a usage error: unknown option, bad value, OUTDIR not empty or in use, nothing to resume
  3  an output could not be written (the reason is given): the run stopped there; run.json
     and the last checkpoint stay, so --resume can go on once there is room
  4  not enough memory for the model and the median
  5  a frame exists but cannot be used (undecodable, another size): the run stopped there,
     the outputs of the frames before it are complete
  6  an unexpected failure
  7  the input ended early (cut off, damaged, or silent for --stream-timeout): the outputs of
     the frames it gave are complete, run.json says incomplete
  ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT: the frame in hand is finished, the videos and
  run.json are written, and the process ends by the signal (shell status 128+N: 130 for Ctrl-C);
  a second signal ends it at once. No temporary file is left either way.)";

// A name inside OUTDIR: no directory part, not one of the run's own names.
void check_output_name(const std::string& option, const std::string& name) {
  if (name.empty()) return;
  if (name.find('/') != std::string::npos || name == "." || name == "..")
    throw usage_error(option + " takes a file name, written inside OUTDIR (got \"" + name + "\")");
  if (is_run_file(name)) throw usage_error(option + " " + name + " is a name the run uses for its own files");
  if (!video_container_supported(name))
    throw usage_error(option + " " + name + ": the file name must end in .mkv, .mp4, .m4v, .mov or .avi");
}

void check_outputs(const SegmentOptions& o) {
  check_output_name("--mask-video", o.mask_video);
  check_output_name("--overlay", o.overlay);
  if (!o.mask_video.empty()) {
    const std::string extension = o.mask_video.substr(o.mask_video.find_last_of('.'));
    if (extension != ".mkv")
      throw usage_error("--mask-video " + o.mask_video + ": the mask video is lossless FFV1 in a .mkv file");
  }
  if (!o.mask_video.empty() && o.mask_video == o.overlay)
    throw usage_error("--mask-video and --overlay name the same file " + o.overlay);
  const bool videos = !o.mask_video.empty() || !o.overlay.empty();
  if (o.no_masks && o.checkpoint_every > 0 && videos)
    throw usage_error(
        "--checkpoint-every with --no-masks cannot bring the videos back on --resume: keep the "
        "mask files, or leave out --checkpoint-every");
}

void check_resumable(const SegmentOptions& o) {
  if (o.location.rewindable()) return;
  if (o.resume)
    throw usage_error("a " + std::string(o.location.kind_name()) +
                      " cannot be resumed: it cannot be "
                      "read again from where the run started");
  if (o.checkpoint_every > 0)
    throw usage_error("--checkpoint-every: a " + std::string(o.location.kind_name()) +
                      " cannot be resumed, so checkpoints would be of no use");
}

}  // namespace

CLI::App* add_segment_command(CLI::App& app, SegmentOptions& o) {
  CLI::App* c =
      app.add_subcommand("segment", "Find the moving objects of a video: a mask per frame, and more");
  c->add_option("INPUT", o.input, "Video file, image pattern, directory of images or stream URL")
      ->type_name("");
  add_whole_number(*c, "--camera", o.camera, 0, 1000, "Read camera N instead of INPUT");
  c->add_option("-o,--output", o.output_dir, "Directory for everything the run writes")
      ->required()
      ->type_name("OUTDIR");

  add_model_options(*c, o.parameters, o.background_file);
  c->add_flag("--cold-start", o.cold_start,
              "Black masks until the median's last frame, as a subtractor started cold gives them")
      ->group("Masks");
  add_frame_range_options(*c, o.start, o.end);
  add_stream_timeout_option(*c, o.stream_timeout);

  const std::string outputs = "Outputs";
  c->add_flag("--no-masks", o.no_masks, "Write no mask%06d.png files")->group(outputs);
  c->add_option("--mask-video", o.mask_video, "Also write the masks as a lossless video (.mkv) in OUTDIR")
      ->type_name("FILE")
      ->group(outputs);
  c->add_option("--overlay", o.overlay,
                "Write the frames with moving objects tinted red, as a video in OUTDIR")
      ->type_name("FILE")
      ->group(outputs);
  add_real_number(*c, "--fps", o.fps, {0.01, 1000.0},
                  "Frame rate of the videos written [default: the input's, or 25]")
      ->default_str("")
      ->group(outputs);
  add_whole_number(*c, "--background-every", o.background_every, {1, INT_MAX},
                   "Write the model as a picture after every K-th frame")
      ->type_name("K")
      ->default_str("")
      ->group(outputs);
  c->add_flag("--overwrite", o.overwrite,
              "Use OUTDIR even if it is not empty; the files of an earlier run there are removed first, "
              "other files are left alone")
      ->group(outputs);

  const std::string recovery = "Checkpoints";
  add_whole_number(*c, "--checkpoint-every", o.checkpoint_every, {1, INT_MAX},
                   "Save the model in OUTDIR after every K-th frame, for --resume")
      ->type_name("K")
      ->default_str("")
      ->group(recovery);
  c->add_flag("--resume", o.resume, "Continue the run in OUTDIR from its last checkpoint")->group(recovery);

  c->add_flag("-q,--quiet", o.quiet, "No progress line and no summary");
  c->footer(SEGMENT_FOOTER);
  return c;
}

void check_segment_options(SegmentOptions& o) {
  // The library's own check, in case its ranges ever differ from the
  // options'.
  try {
    validate(o.parameters);
  } catch (const std::invalid_argument& e) {
    throw usage_error(e.what());
  }
  if (o.cold_start && !o.background_file.empty())
    throw usage_error(
        "--cold-start seeds from the median of the first frames, --background from an image: give one of "
        "them");
  if (o.resume && o.overwrite)
    throw usage_error("--resume continues the run in OUTDIR, --overwrite replaces it: give one of them");
  check_outputs(o);
  o.location = classify_input(o.input, o.camera);
  check_resumable(o);
  check_output_dir_place(o);
}

}  // namespace strellix::cli
