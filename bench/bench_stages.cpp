// Where a run's time goes, and how it compares with OpenCV's own subtractors.
//
// On real frames (numbered PNG files and a video) it times, each over
// several repetitions: frame decoding, every pass of the program driven the
// way a run drives it (median seed, calibration frames, online frames), the
// temporal median, mask encoding, and OpenCV's MOG2 and KNN subtractors on
// one thread and on OpenCV's default threads. On the PNG sequence it also
// times whole runs of the built program and the I/O such a run cannot
// avoid. It prints medians per frame and the ratios between them.
//
// Besides timing it checks that its own drive of the passes writes the same
// masks as the program, that every faster variant of the passes gives the
// reference passes' masks and model byte for byte, and that a baseline build,
// when given, writes the program's masks; a failed check makes the exit
// code 1.
//
//   bench_stages --frames PREFIX --video PATH --scratch DIR [--program PATH]
//                [--baseline-program PATH] [--end LAST] [--frame-count K]
//                [--video-frame-count K] [--reps R] [--runs R] [--contention]
//                [--hd-frames PREFIX --hd-frame-count K] [--uhd-frames PREFIX --uhd-end LAST]
//                [--strellix PATH --clip VIDEO]
//
// With --strellix and --clip it also times whole runs of `strellix segment
// VIDEO --numerics fast` on all cores, writing the mask video and no mask
// files, beside what bounds them: the clip's decoding alone, the mask
// video's encoding alone, and the fast passes alone.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/video.hpp>
#include <opencv2/videoio.hpp>

#include "bench_timing.h"
#include "bytes_touched.h"
#include "colour_cache_stats.h"
#include "contention.h"
#include "driver/run_state.h"
#include "driver/seq_names.h"
#include "engine/engine.h"
#include "engine/median_builder.h"
#include "io/atomic_file.h"
#include "io/frame_source.h"
#include "mask_compare.h"
#include "strellix/strellix.hpp"
#include "whole_run.h"

using namespace strellix;

namespace {

struct Options {
  std::string frames_prefix;  // the PNG sequence, "PREFIX%d.png"
  std::string video_path;
  std::string scratch;           // outside the project; the benchmark writes here
  std::string program;           // empty: no whole runs
  std::string baseline_program;  // another build to time beside it, if any
  int end = 1700;                // last frame of the whole runs
  int frame_count = 300;         // PNG frames driven through the passes
  int video_frame_count = 150;
  int reps = 5;
  int runs = 3;
  bool contention = false;   // measure every sequence a second time beside a streaming process
  std::string hd_prefix;     // a generated 1920x1080 scene, "PREFIX%d.png"; empty: none
  int hd_frame_count = 140;  // its frames, driven through the passes and run whole
  std::string uhd_prefix;    // a generated 3840x2160 scene: peak memory of a run only
  int uhd_end = 101;
  std::string strellix;  // the command line, for whole runs of a clip in the fast numerics
  std::string clip;      // a video, segmented whole by `strellix segment --numerics fast`
};

// One entry of the pass table, driven through the engine, and the names
// its rows are reported under.
struct Passes {
  std::string label;  // "reference", "parallel", ...
  const PassSet* set;
  int threads;           // the engine's threads; 0: one per core
  bool fused;            // the online frame in one pass where the entry has one
  std::string names[6];  // convert, calibrate, segment, filter, update, online (fused)
};

std::vector<Passes> pass_variants() {
  const Passes reference{
      "reference",
      &pass_set_named("reference"),
      1,
      false,
      {"frame_to_model", "calibration_pass", "segment_frame", "coherence_filter", "selective_update", "-"}};
  const Passes parallel{"parallel",
                        &pass_set_named("auto"),
                        0,
                        true,
                        {"frame_to_model_cached", "calibration_pass_wavefront", "segment_frame_parallel",
                         "coherence_filter_parallel", "selective_update_parallel", "online_pass_fused"}};
  Passes one_thread = parallel;
  one_thread.label = "parallel, 1 worker thread";
  one_thread.threads = 1;
  for (std::string& name : one_thread.names) name += ", 1 worker thread";
  // What the fused pass gains: the same passes one after the other.
  Passes separate = one_thread;
  separate.label = "parallel, 1 worker thread, separate passes";
  separate.fused = false;
  // The fast numerics: a frame is one stage, calibration or online.
  const Passes fast{"fast",
                    &pass_set_named("auto", Numerics::fast),
                    0,
                    true,
                    {"-", "fast calibration frame", "-", "-", "-", "fast online frame"}};
  Passes fast_one = fast;
  fast_one.label = "fast, 1 worker thread";
  fast_one.threads = 1;
  for (std::string& name : fast_one.names) name += name == "-" ? "" : ", 1 worker thread";
  return {reference, parallel, one_thread, separate, fast, fast_one};
}

// One frame source: decoded frames 0..count-1 are frames ini..ini+count-1.
struct Sequence {
  std::string label;  // e.g. "highway 320x240"
  int video = 0;
  std::string source;  // PNG prefix or video path
  std::vector<cv::Mat> frames;
};

// A table row: what was timed and its median per frame (or per item).
using Rows = std::vector<std::pair<std::string, Figures>>;

struct SequenceResult {
  std::string label;
  Rows rows;
  std::vector<cv::Mat> masks;       // reference passes, frames 0..count-1
  std::vector<cv::Mat> fast_masks;  // the first variant of the fast numerics
  std::vector<float> model;         // reference passes, every layer after the last frame
  cv::Mat background;               // the median of the first F frames
  bool checks_passed = true;
};

// Per-stage totals of one repetition, gathered as the engine reports its
// stages.
struct StageTotals : StageObserver {
  Figures stage[6];  // by Stage
  int count[6] = {0, 0, 0, 0, 0, 0};
  Stamp started{};
  void stage_begins(Stage) override { started = now(); }
  void stage_ends(Stage which) override {
    add_since(started, stage[static_cast<int>(which)]);
    ++count[static_cast<int>(which)];
  }
};

bool file_exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// ---- frames ------------------------------------------------------------

// Decodes `count` frames the way the program reads them; returns false when
// fewer come. The frames are kept when `keep` is given.
bool decode_frames(const Sequence& seq, int count, std::vector<cv::Mat>* keep, Figures& total) {
  cv::VideoCapture capture;
  if (seq.video) {
    capture.open(seq.source);
  }
  int want_w = 0;
  int want_h = 0;
  for (int i = 0; i < count; ++i) {
    const std::string name = frame_file_name(seq.source, static_cast<long long>(RunSettings{}.ini) + i);
    const Stamp start = now();
    cv::Mat frame = grab_frame(seq.video, &capture, 1, name, want_w, want_h).frame;
    add_since(start, total);
    if (frame.empty()) {
      return false;
    }
    want_w = frame.cols;
    want_h = frame.rows;
    if (keep != nullptr) {
      keep->push_back(frame.clone());
    }
  }
  return true;
}

// ---- the program's passes -------------------------------------------------

// The program's parameters for a model (its defaults), in a numeric mode.
Parameters program_parameters(int threads, Numerics numerics = Numerics::exact) {
  Parameters p;
  p.threads = threads;
  p.numerics = numerics;
  return p;
}

const Figures* find_row(const SequenceResult& r, const std::string& name) {
  for (const auto& row : r.rows) {
    if (row.first == name) {
      return &row.second;
    }
  }
  return nullptr;
}

std::string online_work_row(const Passes& passes) {
  return "online work (" + passes.label + ")";
}

// One run over the frames, from the seeded model on: frame 0 only fixes the
// picture (black mask), frames 1..n-1 calibrate, the rest are online
// frames. Each stage is timed on its own. Masks are kept when `masks` is
// given, and the layers after the last frame when `model` is.
StageTotals drive_passes(const Passes& passes, const std::vector<cv::Mat>& frames,
                         const cv::Mat& initial_background, std::vector<cv::Mat>* masks,
                         std::vector<float>* model) {
  Engine engine(program_parameters(passes.threads, passes.set->numerics), *passes.set);
  engine.fuse_online_passes(passes.fused);
  engine.initialize_background(initial_background);
  StageTotals totals;
  engine.observe_stages(&totals);
  for (const cv::Mat& frame : frames) {
    engine.apply(frame);
    if (masks != nullptr) {
      cv::Mat mask;
      engine.mask(mask);
      masks->push_back(mask);
    }
  }
  engine.observe_stages(nullptr);
  if (model != nullptr && passes.set->exact) {
    const std::size_t pixels = static_cast<std::size_t>(engine.width()) * engine.height();
    for (int l = 0; l < engine.parameters().layers; ++l) {
      for (int c = 0; c < 3; ++c) {
        const float* plane = engine.layers()[l][c];
        model->insert(model->end(), plane, plane + pixels);
      }
    }
  }
  return totals;
}

// The library's apply() per frame, whole, over the same frames: what a
// caller of the interface pays, the stages and everything around them.
Figures time_library_apply(const std::vector<cv::Mat>& frames, const cv::Mat& initial_background, int reps) {
  Timing timing;
  cv::Mat mask;
  for (int r = 0; r < reps; ++r) {
    Subtractor subtractor(program_parameters(0));
    subtractor.initialize_background(initial_background);
    // Only the online frames are timed, as in the online work it is set
    // beside; the first frame and the calibration stretch run untimed.
    const std::size_t first_online = static_cast<std::size_t>(subtractor.parameters().layers);
    Figures total;
    for (std::size_t k = 0; k < frames.size(); ++k) {
      const Stamp start = now();
      subtractor.apply(frames[k], mask);
      if (k >= first_online) add_since(start, total);
    }
    const double online =
        frames.size() > first_online ? static_cast<double>(frames.size() - first_online) : 1.0;
    record(timing, Figures{total.wall / online, total.cpu / online});
  }
  return figures_of(timing);
}

double per_item(double total, int count) {
  return count > 0 ? total / count : 0.0;
}

Figures per_item(const Figures& total, int count) {
  return Figures{per_item(total.wall, count), per_item(total.cpu, count)};
}

// The masks of a variant that does not give the reference's bits: how
// many pixels agree with the reference masks (reported), and the same
// masks for every variant of its numerics (checked).
void check_inexact_masks(const Passes& passes, std::vector<cv::Mat> masks, SequenceResult& result) {
  long long agree = 0, pixels = 0;
  for (std::size_t i = 0; i < masks.size() && i < result.masks.size(); ++i) {
    agree += static_cast<long long>(masks[i].total()) - cv::countNonZero(masks[i] != result.masks[i]);
    pixels += static_cast<long long>(masks[i].total());
  }
  std::printf("  %s masks agree with the reference masks at %.3f%% of the pixels", passes.label.c_str(),
              pixels > 0 ? 100.0 * static_cast<double>(agree) / static_cast<double>(pixels) : 0.0);
  if (result.fast_masks.empty()) {
    result.fast_masks = std::move(masks);
    std::printf("\n");
    return;
  }
  const bool same = first_different_mask(result.fast_masks, masks) < 0;
  std::printf("; the same masks as the other threads and builds of its numerics: %s\n", same ? "yes" : "NO");
  result.checks_passed = result.checks_passed && same;
}

// Times every pass of one variant; rows are per frame.
void time_passes(const Passes& passes, const std::vector<cv::Mat>& frames, const cv::Mat& initial_background,
                 int reps, SequenceResult& result) {
  constexpr int STAGES = 6;
  Timing stage_timing[STAGES], online;
  std::vector<cv::Mat> masks;
  std::vector<float> model;
  bool ran[STAGES] = {false, false, false, false, false, false};
  for (int r = 0; r < reps; ++r) {
    const StageTotals t = drive_passes(passes, frames, initial_background, r == 0 ? &masks : nullptr,
                                       r == 0 ? &model : nullptr);
    Figures per_frame[STAGES];
    Figures online_frame;
    for (int i = 0; i < STAGES; ++i) {
      per_frame[i] = per_item(t.stage[i], t.count[i]);
      record(stage_timing[i], per_frame[i]);
      ran[i] = ran[i] || t.count[i] > 0;
      // Everything of an online frame: all but the calibration.
      if (static_cast<Stage>(i) != Stage::calibrate) online_frame = sum_of(online_frame, per_frame[i]);
    }
    record(online, online_frame);
  }
  for (int i = 0; i < STAGES; ++i) {
    // A pass shared with an earlier variant has its row already.
    if (ran[i] && find_row(result, passes.names[i]) == nullptr)
      result.rows.emplace_back(passes.names[i], figures_of(stage_timing[i]));
  }
  result.rows.emplace_back(online_work_row(passes), figures_of(online));
  if (!passes.set->exact) {
    check_inexact_masks(passes, std::move(masks), result);
    return;
  }

  if (result.masks.empty()) {
    result.masks = std::move(masks);
    result.model = std::move(model);
    return;
  }
  // A faster variant must not change a single mask byte or model bit.
  const long long first_diff = first_different_mask(result.masks, masks);
  const bool masks_agree = first_diff < 0;
  const bool model_agrees = model.size() == result.model.size() &&
                            std::memcmp(model.data(), result.model.data(), model.size() * sizeof(float)) == 0;
  std::printf("  %s passes give the reference masks: %s", passes.label.c_str(), masks_agree ? "yes" : "NO");
  if (!masks_agree) {
    std::printf(" (first difference at frame %lld)", RunSettings{}.ini + first_diff);
  }
  std::printf("; the reference model: %s\n", model_agrees ? "yes" : "NO");
  result.checks_passed = result.checks_passed && masks_agree && model_agrees;
}

// ---- temporal median ---------------------------------------------------

// Fills the frame store from the first F frames and takes the median; rows
// are per frame of F. Returns the initial background image.
cv::Mat time_median(const std::vector<cv::Mat>& frames, int F, int reps, Rows& rows) {
  const cv::Mat& first = frames.front();
  // How a run takes its median: on the engine's threads, in its fastest build.
  const Engine engine(program_parameters(0), pass_set_named("auto"));
  Timing store_timing, compute_timing;
  cv::Mat background;
  for (int r = 0; r < reps; ++r) {
    Figures store_total, compute_total;
    Stamp start = now();
    MedianBuilder median(F, first.cols, first.rows);
    for (int k = 0; k < F; ++k) median.add(frames[static_cast<std::size_t>(k)]);
    add_since(start, store_total);
    start = now();
    background = median.result(engine.execution());
    add_since(start, compute_total);
    record(store_timing, per_item(store_total, F));
    record(compute_timing, per_item(compute_total, F));
  }
  rows.emplace_back("median store, per frame of F", figures_of(store_timing));
  rows.emplace_back("median compute, per frame of F", figures_of(compute_timing));
  return background;
}

// ---- mask encoding -----------------------------------------------------

void time_mask_encoding(const std::vector<cv::Mat>& masks, const std::string& dir, int reps, Rows& rows) {
  std::filesystem::create_directories(dir);
  Timing encode_timing, save_timing;
  const int count = static_cast<int>(masks.size());
  std::vector<unsigned char> bytes;
  for (int r = 0; r < reps; ++r) {
    Figures encode_total, save_total;
    for (int i = 0; i < count; ++i) {
      Stamp start = now();
      cv::imencode(".png", masks[static_cast<std::size_t>(i)], bytes);
      add_since(start, encode_total);
      start = now();
      save_image_atomic(mask_path_in(dir, i + 1), masks[static_cast<std::size_t>(i)]);
      add_since(start, save_total);
    }
    record(encode_timing, per_item(encode_total, count));
    record(save_timing, per_item(save_total, count));
  }
  rows.emplace_back("mask encode (cv::imencode)", figures_of(encode_timing));
  rows.emplace_back("mask save (save_image_atomic)", figures_of(save_timing));
}

// ---- OpenCV's subtractors ------------------------------------------------

cv::Ptr<cv::BackgroundSubtractor> make_subtractor(const std::string& kind) {
  if (kind == "MOG2") {
    return cv::createBackgroundSubtractorMOG2();
  }
  return cv::createBackgroundSubtractorKNN();
}

Figures time_subtractor(const std::string& kind, const std::vector<cv::Mat>& frames, int threads, int reps) {
  cv::setNumThreads(threads);
  Timing timing;
  cv::Mat foreground;
  for (int r = 0; r < reps; ++r) {
    cv::Ptr<cv::BackgroundSubtractor> subtractor = make_subtractor(kind);
    Figures total;
    for (const cv::Mat& frame : frames) {
      const Stamp start = now();
      subtractor->apply(frame, foreground);
      add_since(start, total);
    }
    record(timing, per_item(total, static_cast<int>(frames.size())));
  }
  cv::setNumThreads(1);
  return figures_of(timing);
}

// ---- one sequence ------------------------------------------------------

bool run_sequence(Sequence& seq, int count, const Options& opt, int default_threads, SequenceResult& result) {
  result.label = seq.label;
  Timing decode_timing;
  for (int r = 0; r < opt.reps; ++r) {
    Figures total;
    if (!decode_frames(seq, count, r == 0 ? &seq.frames : nullptr, total)) {
      std::printf("%s: fewer than %d frames in %s; skipped\n", seq.label.c_str(), count, seq.source.c_str());
      return false;
    }
    record(decode_timing, per_item(total, count));
  }
  const int W = seq.frames.front().cols;
  const int H = seq.frames.front().rows;
  seq.label += " " + std::to_string(W) + "x" + std::to_string(H);
  result.label = seq.label;
  std::printf("%s: %d frames from %s\n", seq.label.c_str(), count, seq.source.c_str());
  std::fflush(stdout);
  result.rows.emplace_back("decode (grab_frame)", figures_of(decode_timing));

  result.background = time_median(seq.frames, RunSettings{}.F, opt.reps, result.rows);
  for (const Passes& passes : pass_variants())
    time_passes(passes, seq.frames, result.background, opt.reps, result);
  result.rows.emplace_back("apply (library), online frames",
                           time_library_apply(seq.frames, result.background, opt.reps));

  time_mask_encoding(result.masks, opt.scratch + "/masks", opt.reps, result.rows);

  const std::string many = "default threads (" + std::to_string(default_threads) + ")";
  for (const std::string& kind : {std::string("MOG2"), std::string("KNN")}) {
    result.rows.emplace_back(kind + " apply, 1 thread", time_subtractor(kind, seq.frames, 1, opt.reps));
    result.rows.emplace_back(kind + " apply, " + many,
                             time_subtractor(kind, seq.frames, default_threads, opt.reps));
  }
  return true;
}

}  // namespace

// ---- whole runs and the I/O they cannot avoid ---------------------------

namespace {

struct RunFigures {
  std::string program;
  std::string dir;  // working directory of its runs; the last run's masks stay
  bool ok = true;   // every run so far ended well and wrote every mask
  int frames = 0;   // masks a run writes
  Timing timing;    // per run (cpu: user + system of the child)
  Figures time;     // medians, seconds per run
  long peak_rss_kb = 0;
};

RunFigures whole_run_figures(const Options& opt, const std::string& program, const std::string& dir) {
  RunFigures f;
  f.program = program;
  f.dir = opt.scratch + "/" + dir;
  f.frames = opt.end - RunSettings{}.ini + 1;
  return f;
}

int first_missing_mask(const std::string& dir, int ini, int end) {
  for (int k = ini; k <= end; ++k) {
    if (!file_exists(mask_path_in(dir, k))) {
      return k;
    }
  }
  return 0;
}

// One timed run in a fresh working directory.
void add_whole_run(const Options& opt, int r, RunFigures& f) {
  if (!f.ok) {
    return;
  }
  std::filesystem::remove_all(f.dir);
  std::filesystem::create_directories(f.dir);
  const WholeRun w = run_program(f.program, {opt.frames_prefix, "-end", std::to_string(opt.end)}, f.dir);
  if (!w.ok) {
    std::printf("  %s, run %d failed: %s\n", f.program.c_str(), r + 1, w.failure.c_str());
    f.ok = false;
    return;
  }
  const int missing = first_missing_mask(f.dir, RunSettings{}.ini, opt.end);
  if (missing != 0) {
    std::printf("  %s, run %d wrote no mask for frame %d\n", f.program.c_str(), r + 1, missing);
    f.ok = false;
    return;
  }
  std::printf("  %s, run %d: %.2f s wall, %.2f s cpu, peak %.1f MB\n", f.program.c_str(), r + 1, w.wall,
              w.cpu, static_cast<double>(w.peak_rss_kb) / 1024.0);
  std::fflush(stdout);
  record(f.timing, Figures{w.wall, w.cpu});
  f.peak_rss_kb = std::max(f.peak_rss_kb, w.peak_rss_kb);
  f.time = figures_of(f.timing);
}

// Runs of the baseline, when there is one, alternate with the program's so
// that both see the same drift in the machine's load.
void time_whole_runs(const Options& opt, RunFigures& program, RunFigures* baseline) {
  std::printf("whole runs: PROGRAM %s -end %d\n", opt.frames_prefix.c_str(), opt.end);
  for (int r = 0; r < opt.runs; ++r) {
    if (baseline != nullptr) {
      add_whole_run(opt, r, *baseline);
    }
    add_whole_run(opt, r, program);
  }
  program.ok = program.ok && !program.timing.wall.empty();
  if (baseline != nullptr) {
    baseline->ok = baseline->ok && !baseline->timing.wall.empty();
  }
}

// The masks a whole run writes: read back from the last run when there is
// one, else the benchmark's own masks over and over.
std::vector<cv::Mat> masks_of_a_run(const RunFigures& runs, const std::vector<cv::Mat>& own, int count) {
  std::vector<cv::Mat> masks;
  for (int i = 0; i < count; ++i) {
    cv::Mat m;
    if (runs.ok) {
      m = read_mask_file(runs.dir, RunSettings{}.ini + i);
    }
    masks.push_back(m.empty() ? own[static_cast<std::size_t>(i) % own.size()] : m);
  }
  return masks;
}

// Decodes every frame a run reads (the first frame for the size, the F
// frames of the median, then frames ini+1..end) and saves every image it
// writes (the initial background and one mask per frame), on one core.
Figures time_io_floor(const Options& opt, const std::vector<cv::Mat>& masks, const cv::Mat& background,
                      int reps, int& decodes) {
  const RunSettings s;
  std::vector<long long> reads{s.ini};
  for (int k = 0; k < s.F; ++k) {
    reads.push_back(static_cast<long long>(s.ini) + k);
  }
  for (long long k = s.ini + 1; k <= opt.end; ++k) {
    reads.push_back(k);
  }
  decodes = static_cast<int>(reads.size());
  const std::string dir = opt.scratch + "/io_floor";
  std::filesystem::create_directories(dir);
  Timing timing;
  for (int r = 0; r < reps; ++r) {
    const Stamp start = now();
    for (const long long k : reads) {
      cv::Mat frame = grab_frame(0, nullptr, 1, frame_file_name(opt.frames_prefix, k)).frame;
      if (frame.empty()) {
        std::printf("  I/O floor: cannot read frame %lld\n", k);
        return Figures{};
      }
    }
    save_image_atomic(dir + "/InitialModel.png", background);
    for (std::size_t i = 0; i < masks.size(); ++i) {
      save_image_atomic(mask_path_in(dir, s.ini + static_cast<long long>(i)), masks[i]);
    }
    Figures total;
    add_since(start, total);
    record(timing, total);
  }
  return figures_of(timing);
}

// ---- report ------------------------------------------------------------

void print_table(const std::vector<SequenceResult>& results) {
  std::printf("\n%-44s", "per frame, ms (median)");
  for (const SequenceResult& r : results) {
    std::printf(" | %-21s", r.label.c_str());
  }
  std::printf("\n%-44s", "");
  for (std::size_t i = 0; i < results.size(); ++i) {
    std::printf(" | %9s %11s", "wall", "cpu");
  }
  std::printf("\n");
  for (const auto& row : results.front().rows) {
    std::printf("%-44s", row.first.c_str());
    for (const SequenceResult& r : results) {
      const Figures* f = find_row(r, row.first);
      if (f != nullptr) {
        std::printf(" | %9.3f %11.3f", f->wall * 1e3, f->cpu * 1e3);
      } else {
        std::printf(" | %9s %11s", "-", "-");
      }
    }
    std::printf("\n");
  }
}

void print_ratio(const std::string& what, const Figures& ratio) {
  std::printf("  %-76s wall %6.2f  cpu %6.2f\n", what.c_str(), ratio.wall, ratio.cpu);
}

void print_stage_ratios(const SequenceResult& r, int F) {
  const Figures* mog2 = find_row(r, "MOG2 apply, 1 thread");
  for (const Passes& passes : pass_variants()) {
    const std::string online_row = online_work_row(passes);
    const Figures* online = find_row(r, online_row);
    if (online != nullptr && mog2 != nullptr) {
      print_ratio(online_row + " / MOG2 apply (1 thread), " + r.label, ratio_of(*online, *mog2));
    }
  }
  const Figures* decode = find_row(r, "decode (grab_frame)");
  const Figures* store = find_row(r, "median store, per frame of F");
  const Figures* compute = find_row(r, "median compute, per frame of F");
  if (decode != nullptr && store != nullptr && compute != nullptr) {
    print_ratio("median compute / decode of its " + std::to_string(F) + " frames, " + r.label,
                ratio_of(*compute, *decode));
    print_ratio("median (store + compute) / decode of its frames, " + r.label,
                ratio_of(sum_of(*store, *compute), *decode));
  }
}

void print_whole_runs(const std::string& what, const RunFigures& runs) {
  std::printf("  %-10s wall %6.2f s (%5.1f frames/s), cpu %6.2f s, peak memory %6.1f MB  (%s)\n",
              what.c_str(), runs.time.wall, runs.time.wall > 0.0 ? runs.frames / runs.time.wall : 0.0,
              runs.time.cpu, static_cast<double>(runs.peak_rss_kb) / 1024.0, runs.program.c_str());
}

// The same job done with MOG2: decode, apply and save one mask per frame.
std::vector<std::pair<std::string, Figures>> mog2_jobs(const SequenceResult& frames, int count,
                                                       int default_threads) {
  std::vector<std::pair<std::string, Figures>> jobs;
  const Figures* decode = find_row(frames, "decode (grab_frame)");
  const Figures* save = find_row(frames, "mask save (save_image_atomic)");
  const std::string many = "default threads (" + std::to_string(default_threads) + ")";
  for (const std::string& threads : {std::string("1 thread"), many}) {
    const Figures* apply = find_row(frames, "MOG2 apply, " + threads);
    if (decode != nullptr && save != nullptr && apply != nullptr) {
      jobs.emplace_back(threads, scaled(sum_of(sum_of(*decode, *apply), *save), count));
    }
  }
  return jobs;
}

void print_run_figures(const RunFigures& runs, const RunFigures* baseline, const SequenceResult& frames,
                       const Figures& floor, int decodes, int default_threads) {
  std::printf("\nwhole runs, frames %d-%d, median of %zu:\n", RunSettings{}.ini,
              RunSettings{}.ini + runs.frames - 1, runs.timing.wall.size());
  print_whole_runs("program", runs);
  if (baseline != nullptr) {
    print_whole_runs("baseline", *baseline);
  }
  std::printf("  I/O floor (%d decodes, %d images saved, one core): wall %.2f s, cpu %.2f s\n", decodes,
              runs.frames + 1, floor.wall, floor.cpu);
  const auto jobs = mog2_jobs(frames, runs.frames, default_threads);
  for (const auto& job : jobs) {
    std::printf("  MOG2 job, %s (decode + apply + save, x %d frames): wall %.2f s, cpu %.2f s\n",
                job.first.c_str(), runs.frames, job.second.wall, job.second.cpu);
  }

  std::printf("\nratios:\n");
  print_ratio("run / I/O floor", ratio_of(runs.time, floor));
  for (const auto& job : jobs) {
    print_ratio("run / MOG2 job, " + job.first, ratio_of(runs.time, job.second));
  }
  if (baseline != nullptr) {
    print_ratio("run / baseline run", ratio_of(runs.time, baseline->time));
    std::printf("  %-76s %.2f\n", "peak memory / baseline's",
                baseline->peak_rss_kb > 0
                    ? static_cast<double>(runs.peak_rss_kb) / static_cast<double>(baseline->peak_rss_kb)
                    : 0.0);
  }
}

// The library's own estimate for a run of the program at this size (the
// model, its buffers and the median's frame store), beside the measured
// peaks above.
void print_memory_estimate(int W, int H) {
  const double mib = 1024.0 * 1024.0;
  std::printf("  memory the library estimates for %dx%d with -F %d: %.1f MB (model and buffers %.1f MB)\n", W,
              H, RunSettings{}.F,
              static_cast<double>(estimate_memory(program_parameters(0), W, H, true)) / mib,
              static_cast<double>(estimate_memory(program_parameters(0), W, H, false)) / mib);
}

// ---- a clip through the command line, in the fast numerics ---------------

// Frames of the clip, decoded as the command line decodes a video file
// (OpenCV's FFmpeg reader), timed; the frames themselves are dropped.
Figures time_clip_decoding(const std::string& clip, int& frames, cv::Size& size) {
  cv::VideoCapture capture(clip, cv::CAP_FFMPEG);
  cv::Mat frame;
  frames = 0;
  const Stamp start = now();
  while (capture.read(frame)) {
    size = frame.size();
    ++frames;
  }
  Figures total;
  add_since(start, total);
  return total;
}

// `frames` masks (the given ones over and over) into the mask video the
// command line writes (FFV1 in .mkv), timed.
Figures time_mask_video(const std::vector<cv::Mat>& masks, int frames, const std::string& path) {
  cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), 25.0,
                         masks.front().size(), false);
  Figures total;
  if (!writer.isOpened()) return total;
  const Stamp start = now();
  for (int k = 0; k < frames; ++k) writer.write(masks[static_cast<std::size_t>(k) % masks.size()]);
  writer.release();
  add_since(start, total);
  return total;
}

// Whole runs of the clip, and the three things a run of it cannot be faster
// than. `masks` are 1920x1080 masks to encode (the generated scene's), and
// `online` the fast passes' online frame on all cores at that size.
bool time_clip_runs(const Options& opt, const std::vector<cv::Mat>& masks, const Figures* online) {
  int frames = 0;
  cv::Size size;
  const Figures decode = time_clip_decoding(opt.clip, frames, size);
  if (frames == 0) {
    std::printf("\nclip %s: no frame could be read; its runs are left out\n", opt.clip.c_str());
    return false;
  }
  RunFigures runs;
  runs.program = opt.strellix;
  runs.dir = opt.scratch + "/whole_run_clip";
  runs.frames = frames;
  std::printf("\nwhole runs: strellix segment %s OUT --numerics fast --mask-video masks.mkv --no-masks\n",
              opt.clip.c_str());
  for (int r = 0; r < opt.runs && runs.ok; ++r) {
    std::filesystem::remove_all(runs.dir);
    std::filesystem::create_directories(runs.dir);
    const WholeRun w = run_program(opt.strellix,
                                   {"segment", opt.clip, runs.dir + "/out", "--numerics", "fast",
                                    "--mask-video", "masks.mkv", "--no-masks", "--quiet"},
                                   runs.dir);
    if (!w.ok || !file_exists(runs.dir + "/out/masks.mkv")) {
      std::printf("  run %d failed: %s\n", r + 1, w.ok ? "no mask video" : w.failure.c_str());
      runs.ok = false;
      break;
    }
    std::printf("  run %d: %.2f s wall, %.2f s cpu, peak %.1f MB\n", r + 1, w.wall, w.cpu,
                static_cast<double>(w.peak_rss_kb) / 1024.0);
    std::fflush(stdout);
    record(runs.timing, Figures{w.wall, w.cpu});
    runs.peak_rss_kb = std::max(runs.peak_rss_kb, w.peak_rss_kb);
  }
  if (!runs.ok || runs.timing.wall.empty()) return false;
  runs.time = figures_of(runs.timing);
  const Figures encode = time_mask_video(masks, frames, opt.scratch + "/mask_video_alone.mkv");
  std::printf("\nclip %dx%d, %d frames, median of %zu runs (all cores):\n", size.width, size.height, frames,
              runs.timing.wall.size());
  print_whole_runs("fast run", runs);
  auto per_second = [frames](const Figures& f) { return f.wall > 0.0 ? frames / f.wall : 0.0; };
  std::printf("  %-44s wall %7.2f s (%6.1f frames/s), cpu %7.2f s\n", "decoding alone (OpenCV, FFmpeg)",
              decode.wall, per_second(decode), decode.cpu);
  std::printf("  %-44s wall %7.2f s (%6.1f frames/s), cpu %7.2f s\n", "mask video alone (FFV1 .mkv)",
              encode.wall, per_second(encode), encode.cpu);
  if (online != nullptr) {
    const Figures passes = scaled(*online, frames);
    std::printf("  %-44s wall %7.2f s (%6.1f frames/s), cpu %7.2f s\n", "fast online passes alone, all cores",
                passes.wall, per_second(passes), passes.cpu);
    std::printf("  cpu of the three / cpu of the run: %.2f\n",
                runs.time.cpu > 0.0 ? (decode.cpu + encode.cpu + passes.cpu) / runs.time.cpu : 0.0);
  }
  return true;
}

// ---- command line ------------------------------------------------------

bool read_options(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--contention") {
      opt.contention = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "bench_stages: %s needs a value\n", name.c_str());
      return false;
    }
    const std::string value = argv[++i];
    if (name == "--frames") {
      opt.frames_prefix = value;
    } else if (name == "--video") {
      opt.video_path = value;
    } else if (name == "--scratch") {
      opt.scratch = value;
    } else if (name == "--program") {
      opt.program = value;
    } else if (name == "--baseline-program") {
      opt.baseline_program = value;
    } else if (name == "--end") {
      opt.end = std::atoi(value.c_str());
    } else if (name == "--frame-count") {
      opt.frame_count = std::atoi(value.c_str());
    } else if (name == "--video-frame-count") {
      opt.video_frame_count = std::atoi(value.c_str());
    } else if (name == "--reps") {
      opt.reps = std::atoi(value.c_str());
    } else if (name == "--runs") {
      opt.runs = std::atoi(value.c_str());
    } else if (name == "--hd-frames") {
      opt.hd_prefix = value;
    } else if (name == "--hd-frame-count") {
      opt.hd_frame_count = std::atoi(value.c_str());
    } else if (name == "--uhd-frames") {
      opt.uhd_prefix = value;
    } else if (name == "--uhd-end") {
      opt.uhd_end = std::atoi(value.c_str());
    } else if (name == "--strellix") {
      opt.strellix = value;
    } else if (name == "--clip") {
      opt.clip = value;
    } else {
      std::fprintf(stderr, "bench_stages: unknown option %s\n", name.c_str());
      return false;
    }
  }
  const RunSettings s;
  const int fewest = std::max(s.F, s.n + 1);
  if (opt.frames_prefix.empty() || opt.scratch.empty()) {
    std::fprintf(stderr, "bench_stages: --frames and --scratch are required\n");
    return false;
  }
  if (opt.frame_count < fewest || opt.video_frame_count < fewest || opt.hd_frame_count < fewest ||
      opt.reps < 1 || opt.runs < 0 || opt.end < s.ini + s.F || opt.uhd_end < s.ini + s.F) {
    std::fprintf(stderr,
                 "bench_stages: frame counts must be at least %d, --end at least %d, "
                 "--reps at least 1\n",
                 fewest, s.ini + s.F);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!read_options(argc, argv, opt)) {
    return 2;
  }
  const RunSettings s;
  if (!file_exists(frame_file_name(opt.frames_prefix, s.ini))) {
    std::printf("%s not found: benchmark skipped\n", frame_file_name(opt.frames_prefix, s.ini).c_str());
    return 0;
  }
  std::filesystem::create_directories(opt.scratch);
  const int default_threads = cv::getNumThreads();
  // Everything but the "default threads" subtractor rows runs on one core,
  // as the program does.
  cv::setNumThreads(1);
  std::printf("medians of %d repetitions; OpenCV default threads: %d\n", opt.reps, default_threads);
  bool passed = true;

  RunFigures runs = whole_run_figures(opt, opt.program, "whole_run");
  RunFigures baseline = whole_run_figures(opt, opt.baseline_program, "baseline_run");
  const bool timed_runs = !opt.program.empty() && opt.runs > 0;
  const bool with_baseline = timed_runs && !opt.baseline_program.empty();
  if (timed_runs) {
    time_whole_runs(opt, runs, with_baseline ? &baseline : nullptr);
    passed = runs.ok && (!with_baseline || baseline.ok);
  } else {
    runs.ok = false;
  }
  if (runs.ok && with_baseline && baseline.ok) {
    long long first_diff = 0;
    const bool same = same_mask_files(runs.dir, baseline.dir, RunSettings{}.ini, opt.end, first_diff);
    std::printf("  the program writes the baseline's masks: %s\n", same ? "yes" : "NO");
    if (!same) {
      std::printf("  (first difference at frame %lld)\n", first_diff);
    }
    passed = passed && same;
  }

  std::vector<SequenceResult> results;
  Sequence frames{"highway", 0, opt.frames_prefix, {}};
  SequenceResult frames_result;
  if (!run_sequence(frames, opt.frame_count, opt, default_threads, frames_result)) {
    return 1;
  }
  passed = passed && frames_result.checks_passed;
  if (runs.ok) {
    // The benchmark drives the passes as a run does, so its masks must
    // be the ones the program wrote.
    long long first_diff = 0;
    const bool same = masks_match_files(frames_result.masks, runs.dir, RunSettings{}.ini, first_diff);
    std::printf("  the benchmark's masks are the program's: %s\n", same ? "yes" : "NO");
    if (!same) {
      std::printf("  (first difference at frame %lld)\n", first_diff);
    }
    passed = passed && same;
  }
  results.push_back(frames_result);
  std::vector<std::pair<std::string, ColourCacheStats>> cache_stats = {
      {frames.label, colour_cache_stats(frames.frames)}};
  std::vector<std::pair<std::string, std::vector<PassBytes>>> bytes = {
      {frames.label, bytes_touched(frames.frames.front().cols, frames.frames.front().rows, s.n,
                                   cache_stats.back().second.lines_mib_per_frame)}};

  Figures floor;
  int decodes = 0;
  if (runs.ok) {
    const std::vector<cv::Mat> masks = masks_of_a_run(runs, frames_result.masks, runs.frames);
    floor = time_io_floor(opt, masks, frames_result.background, std::max(1, opt.runs), decodes);
  }

  std::vector<Sequence> more;
  if (!opt.video_path.empty() && file_exists(opt.video_path)) {
    more.push_back(Sequence{std::filesystem::path(opt.video_path).stem().string(), 1, opt.video_path, {}});
  } else {
    std::printf("no video at %s: its column is left out\n", opt.video_path.c_str());
  }
  if (!opt.hd_prefix.empty()) more.push_back(Sequence{"scene", 0, opt.hd_prefix, {}});
  std::size_t hd_column = 0;
  for (Sequence& seq : more) {
    SequenceResult r;
    const int count = seq.source == opt.hd_prefix ? opt.hd_frame_count : opt.video_frame_count;
    if (!run_sequence(seq, count, opt, default_threads, r)) continue;
    passed = passed && r.checks_passed;
    if (seq.source == opt.hd_prefix) hd_column = results.size();
    results.push_back(std::move(r));
    if (seq.video) {
      cache_stats.emplace_back(seq.label, colour_cache_stats(seq.frames));
      bytes.emplace_back(seq.label, bytes_touched(seq.frames.front().cols, seq.frames.front().rows, s.n,
                                                  cache_stats.back().second.lines_mib_per_frame));
    }
  }

  // The same once more beside a process streaming through memory.
  if (opt.contention) {
    const Contention busy;
    std::printf("contention mode: %s\n", busy.active() ? "a streaming process runs on the last core"
                                                       : "one core only, so no streaming process");
    std::vector<Sequence> again = {Sequence{"highway", 0, opt.frames_prefix, {}}};
    for (const Sequence& seq : more)
      again.push_back(Sequence{seq.label.substr(0, seq.label.find(' ')), seq.video, seq.source, {}});
    for (Sequence& seq : again) {
      SequenceResult r;
      const int count = seq.source == opt.frames_prefix ? opt.frame_count
                        : seq.source == opt.hd_prefix   ? opt.hd_frame_count
                                                        : opt.video_frame_count;
      if (!run_sequence(seq, count, opt, default_threads, r)) continue;
      passed = passed && r.checks_passed;
      r.label += ", contended";
      results.push_back(std::move(r));
    }
  }

  print_table(results);
  std::printf("\n");
  for (const auto& c : cache_stats) print_colour_cache_stats(c.first, c.second);
  for (const auto& b : bytes) print_bytes_touched(b.first, b.second);
  if (runs.ok) {
    print_run_figures(runs, with_baseline && baseline.ok ? &baseline : nullptr, results.front(), floor,
                      decodes, default_threads);
  }
  if (hd_column > 0 && timed_runs) {
    Options hd = opt;
    hd.frames_prefix = opt.hd_prefix;
    hd.end = static_cast<int>(RunSettings{}.ini) + opt.hd_frame_count - 1;
    RunFigures hd_runs = whole_run_figures(hd, opt.program, "whole_run_hd");
    time_whole_runs(hd, hd_runs, nullptr);
    if (hd_runs.ok) {
      const std::vector<cv::Mat> masks = masks_of_a_run(hd_runs, results[hd_column].masks, hd_runs.frames);
      int hd_decodes = 0;
      const Figures hd_floor =
          time_io_floor(hd, masks, results[hd_column].background, std::max(1, opt.runs), hd_decodes);
      print_run_figures(hd_runs, nullptr, results[hd_column], hd_floor, hd_decodes, default_threads);
      print_memory_estimate(results[hd_column].masks.front().cols, results[hd_column].masks.front().rows);
    }
    passed = passed && hd_runs.ok;
  }
  if (!opt.uhd_prefix.empty() && timed_runs) {
    Options uhd = opt;
    uhd.frames_prefix = opt.uhd_prefix;
    uhd.end = opt.uhd_end;
    RunFigures uhd_runs = whole_run_figures(uhd, opt.program, "whole_run_uhd");
    uhd.runs = 1;
    time_whole_runs(uhd, uhd_runs, nullptr);
    if (uhd_runs.ok) {
      const cv::Mat first = cv::imread(frame_file_name(opt.uhd_prefix, RunSettings{}.ini));
      std::printf("\n");
      print_whole_runs("3840x2160", uhd_runs);
      print_memory_estimate(first.cols, first.rows);
    }
    passed = passed && uhd_runs.ok;
  }
  if (!opt.strellix.empty() && !opt.clip.empty() && opt.runs > 0) {
    if (hd_column > 0 && !results[hd_column].fast_masks.empty()) {
      passed = time_clip_runs(opt, results[hd_column].fast_masks,
                              find_row(results[hd_column], "fast online frame")) &&
               passed;
    } else {
      std::printf("\nclip runs need the 1920x1080 scene (--hd-frames) for the masks they encode: left out\n");
    }
  }
  std::printf("\nratios of the stages:\n");
  for (const SequenceResult& r : results) {
    print_stage_ratios(r, s.F);
  }
  std::printf("\nchecks: %s\n", passed ? "passed" : "FAILED");
  return passed ? 0 : 1;
}
