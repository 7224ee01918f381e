// The fast numeric mode against the exact mode and OpenCV's MOG2, in one
// run: how far its masks are from the exact ones, and what its online
// frames cost.
//
//   bench_fast_mode [--data DIR] [--accuracy] [--speed] [--reps R] [--frames K] [--contention]
//
// Without --accuracy or --speed both run.
//
// Accuracy, on the four shared sequences (DIR, default ../shared/data):
// the model is seeded with the temporal median of the sequence's own first
// 100 frames, then every frame is applied from the first on, in the exact
// mode (fastest exact passes) and in the fast mode. Masks are scored as
// `strellix evaluate` scores them (ground truth 255 positive, 0 and 50
// negative, 85 and 170 and pixels outside ROI.bmp not scored; a ROI.bmp of
// another size than the frames is ignored) over the frames of
// temporalROI.txt that are present. Also printed: the share of pixels of
// the scored frames on which the two modes' masks agree.
//
// Speed, per online frame on one thread: the fast mode's apply (frame in,
// mask out), MOG2's apply() (default parameters, cv::setNumThreads(1)) and
// the exact mode's, on the first K frames (default 100) of highway
// (320x240), vtest.avi (768x576) and vtest.avi scaled to 1920x1080. Each
// repetition runs the three one after the other on the same frames;
// figures are medians of R repetitions (default 3), wall and CPU time, and
// the ratios are taken within the run. --contention measures a second time
// while a process streams through 256 MiB on the other core.
//
// Checks (exit code 1 when one fails): the fast mode gives the same masks
// and model on one thread in the baseline build as on all cores in the
// AVX2 build. Missing data: a message and exit code 0; bad arguments: 2.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video.hpp>
#include <opencv2/videoio.hpp>

#include "bench_timing.h"
#include "cli/evaluate_metrics.h"
#include "contention.h"
#include "core/worker_pool.h"
#include "engine/engine.h"
#include "engine/median_builder.h"
#include "engine/pass_table.h"
#include "fast_mode/fast_model.h"

namespace fs = std::filesystem;
using namespace strellix;

namespace {

struct Options {
  std::string data;
  bool accuracy = false;
  bool speed = false;
  int reps = 3;
  int frames = 100;
  bool contention = false;
};

int usage() {
  std::fprintf(stderr,
               "usage: bench_fast_mode [--data DIR] [--accuracy] [--speed] [--reps R] [--frames K] "
               "[--contention]\n");
  return 2;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const bool has_value = i + 1 < argc;
    if (name == "--accuracy") {
      o.accuracy = true;
    } else if (name == "--speed") {
      o.speed = true;
    } else if (name == "--contention") {
      o.contention = true;
    } else if (name == "--data" && has_value) {
      o.data = argv[++i];
    } else if (name == "--reps" && has_value) {
      o.reps = std::atoi(argv[++i]);
    } else if (name == "--frames" && has_value) {
      o.frames = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  if (!o.accuracy && !o.speed) o.accuracy = o.speed = true;
  return o.reps >= 1 && o.frames >= 10;
}

constexpr int MEDIAN_FRAMES = 100;

// ---- the two modes, driven alike ----------------------------------------

// One mode's model: seeded from a background, then frame by frame, each
// giving its mask.
class Mode {
 public:
  virtual ~Mode() = default;
  virtual void seed(const cv::Mat& background) = 0;
  virtual void apply(const cv::Mat& frame, cv::Mat& mask) = 0;
};

class ExactMode : public Mode {
 public:
  explicit ExactMode(int threads) {
    Parameters p;
    p.threads = threads;
    engine_.reset(new Engine(p, pass_set_named("auto")));
  }
  void seed(const cv::Mat& background) override { engine_->initialize_background(background); }
  void apply(const cv::Mat& frame, cv::Mat& mask) override {
    engine_->apply(frame);
    engine_->mask(mask);
  }

 private:
  std::unique_ptr<Engine> engine_;
};

class FastMode : public Mode {
 public:
  FastMode(int threads, bool wide) {
    Parameters p;
    p.threads = threads;
    p.numerics = Numerics::fast;
    engine_.reset(new Engine(p, pass_set_named(wide ? "avx2" : "baseline", Numerics::fast)));
  }
  void seed(const cv::Mat& background) override { engine_->initialize_background(background); }
  void apply(const cv::Mat& frame, cv::Mat& mask) override {
    engine_->apply(frame);
    engine_->mask(mask);
  }
  const fast::FastModel& model() const { return engine_->fast_model(); }
  const char* implementation() const { return engine_->passes().name; }

 private:
  std::unique_ptr<Engine> engine_;
};

cv::Mat median_of(const std::vector<cv::Mat>& frames) {
  const int count = std::min(static_cast<int>(frames.size()), MEDIAN_FRAMES);
  MedianBuilder median(count, frames[0].cols, frames[0].rows);
  for (int k = 0; k < count; ++k) median.add(frames[static_cast<std::size_t>(k)]);
  return median.result(PassExecution());
}

// ---- accuracy ------------------------------------------------------------

// A shared sequence: its frames on disk and what is scored.
struct Sequence {
  std::string name;
  std::string input_pattern;  // printf pattern of frame k
  int first = 0, last = -1;   // frames present
  int scored_first = 0, scored_last = -1;
  cv::Mat roi;  // empty: the whole frame
  std::string truth_pattern;
};

std::string frame_path(const std::string& pattern, int k) {
  char name[4096];
  std::snprintf(name, sizeof name, pattern.c_str(), k);
  return name;
}

// The sequence in DIR/NAME: frames input/in%06d.jpg or .png, numbered from
// the first present on; false when it is not there.
bool find_sequence(const std::string& data, const std::string& name, Sequence& s) {
  const fs::path dir = fs::path(data) / name;
  std::error_code error;
  if (!fs::is_directory(dir / "input", error)) return false;
  s.name = name;
  s.first = -1;
  for (const fs::directory_entry& e : fs::directory_iterator(dir / "input", error)) {
    const std::string file = e.path().filename().string();
    if (file.size() < 9 || file.compare(0, 2, "in") != 0) continue;
    const int k = std::atoi(file.substr(2, 6).c_str());
    s.input_pattern = (dir / "input").string() + "/in%06d" + e.path().extension().string();
    s.first = s.first < 0 ? k : std::min(s.first, k);
    s.last = std::max(s.last, k);
  }
  if (s.first < 0) return false;
  std::ifstream range((dir / "temporalROI.txt").string());
  int from = 0, to = 0;
  if (!(range >> from >> to)) return false;
  s.scored_first = std::max(from, s.first);
  s.scored_last = std::min(to, s.last);
  s.truth_pattern = (dir / "groundtruth").string() + "/gt%06d.png";
  const cv::Mat roi = cv::imread((dir / "ROI.bmp").string(), cv::IMREAD_UNCHANGED);
  if (!roi.empty()) s.roi = cli::nonzero_anywhere(roi);
  return true;
}

struct Accuracy {
  cli::ScoreCounts exact, fast;
  long long agreeing = 0, pixels = 0;
  int scored = 0;
};

void compare_sequence(const Sequence& s, int threads, Accuracy& a) {
  std::vector<cv::Mat> median_frames;
  for (int k = s.first; k <= s.last && static_cast<int>(median_frames.size()) < MEDIAN_FRAMES; ++k)
    median_frames.push_back(cv::imread(frame_path(s.input_pattern, k)));
  const cv::Mat background = median_of(median_frames);
  ExactMode exact(threads);
  FastMode fast(threads, true);
  exact.seed(background);
  fast.seed(background);
  cv::Mat exact_mask, fast_mask;
  for (int k = s.first; k <= s.last; ++k) {
    const cv::Mat frame = cv::imread(frame_path(s.input_pattern, k));
    exact.apply(frame, exact_mask);
    fast.apply(frame, fast_mask);
    if (k < s.scored_first || k > s.scored_last) continue;
    const cv::Mat truth = cv::imread(frame_path(s.truth_pattern, k), cv::IMREAD_GRAYSCALE);
    if (truth.empty()) continue;
    const cv::Mat inside = s.roi.size() == truth.size() ? s.roi : cv::Mat();
    cli::add_scored_frame(truth, exact_mask, inside, a.exact);
    cli::add_scored_frame(truth, fast_mask, inside, a.fast);
    a.agreeing += static_cast<long long>(exact_mask.total()) - cv::countNonZero(exact_mask != fast_mask);
    a.pixels += static_cast<long long>(exact_mask.total());
    ++a.scored;
  }
}

void run_accuracy(const Options& o) {
  std::printf("accuracy: exact and fast mode, default parameters, all cores\n");
  std::printf("| sequence | frames scored | F exact | F fast | fast - exact | masks agree |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  for (const char* name : {"highway", "sbi_HallAndMonitor", "fall_partial", "traffic_partial"}) {
    Sequence s;
    if (!find_sequence(o.data, name, s)) {
      std::printf("| %s | missing | | | | |\n", name);
      continue;
    }
    Accuracy a;
    compare_sequence(s, 0, a);
    const double f_exact = cli::scores_of(a.exact).f_measure;
    const double f_fast = cli::scores_of(a.fast).f_measure;
    std::printf("| %s | %d | %.4f | %.4f | %+.4f | %.4f%% |\n", name, a.scored, f_exact, f_fast,
                f_fast - f_exact,
                a.pixels > 0 ? 100.0 * static_cast<double>(a.agreeing) / static_cast<double>(a.pixels) : 0.0);
    std::fflush(stdout);
  }
}

// ---- determinism -----------------------------------------------------------

// The fast mode's masks and model after `frames`, in one build and thread count.
std::vector<unsigned char> fast_outcome(const std::vector<cv::Mat>& frames, int threads, bool wide) {
  FastMode fast(threads, wide);
  fast.seed(median_of(frames));
  std::vector<unsigned char> outcome;
  cv::Mat mask;
  for (const cv::Mat& frame : frames) {
    fast.apply(frame, mask);
    outcome.insert(outcome.end(), mask.datastart, mask.dataend);
  }
  const fast::FastModel& m = fast.model();
  for (int r = 0; r < m.height(); ++r)
    for (int c = 0; c < m.width(); ++c)
      for (int j = 0; j < Parameters().layers; ++j)
        for (int k = 0; k < 3; ++k) {
          const short v = m.layer_value(r, c, j, k);
          outcome.push_back(static_cast<unsigned char>(v & 0xFF));
          outcome.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
        }
  return outcome;
}

bool check_determinism(const std::vector<cv::Mat>& frames, const std::string& label) {
  const bool same = fast_outcome(frames, 1, false) == fast_outcome(frames, core_count(), true);
  std::printf("  %s: fast mode, baseline build on one thread = AVX2 build on %d threads: %s\n", label.c_str(),
              core_count(), same ? "yes" : "NO");
  return same;
}

// ---- speed ------------------------------------------------------------------

struct SpeedRows {
  Figures fast, mog2, exact;
};

// Per online frame of one repetition: the frames from the `layers`-th on.
Figures time_mode(Mode& mode, const std::vector<cv::Mat>& frames, const cv::Mat& background) {
  mode.seed(background);
  const std::size_t first_online = static_cast<std::size_t>(Parameters().layers);
  Figures total;
  cv::Mat mask;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    const Stamp start = now();
    mode.apply(frames[k], mask);
    if (k >= first_online) add_since(start, total);
  }
  return scaled(total, 1.0 / static_cast<double>(frames.size() - first_online));
}

Figures time_mog2(const std::vector<cv::Mat>& frames) {
  cv::Ptr<cv::BackgroundSubtractor> mog2 = cv::createBackgroundSubtractorMOG2();
  const std::size_t first_online = static_cast<std::size_t>(Parameters().layers);
  Figures total;
  cv::Mat mask;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    const Stamp start = now();
    mog2->apply(frames[k], mask);
    if (k >= first_online) add_since(start, total);
  }
  return scaled(total, 1.0 / static_cast<double>(frames.size() - first_online));
}

SpeedRows time_size(const std::vector<cv::Mat>& frames, int reps) {
  const cv::Mat background = median_of(frames);
  Timing fast, mog2, exact;
  for (int r = 0; r < reps; ++r) {
    FastMode fast_mode(1, true);
    record(fast, time_mode(fast_mode, frames, background));
    record(mog2, time_mog2(frames));
    ExactMode exact_mode(1);
    record(exact, time_mode(exact_mode, frames, background));
  }
  return SpeedRows{figures_of(fast), figures_of(mog2), figures_of(exact)};
}

struct Size {
  std::string label;
  std::vector<cv::Mat> frames;
};

std::vector<Size> speed_sizes(const Options& o) {
  std::vector<Size> sizes;
  Sequence highway;
  if (find_sequence(o.data, "highway", highway)) {
    Size s{"320x240 (highway)", {}};
    for (int k = highway.first; k <= highway.last && static_cast<int>(s.frames.size()) < o.frames; ++k)
      s.frames.push_back(cv::imread(frame_path(highway.input_pattern, k)));
    sizes.push_back(s);
  }
  cv::VideoCapture video((fs::path(o.data) / "vtest.avi").string());
  Size vga{"768x576 (vtest)", {}}, hd{"1920x1080 (vtest scaled)", {}};
  cv::Mat frame;
  while (static_cast<int>(vga.frames.size()) < o.frames && video.read(frame)) {
    vga.frames.push_back(frame.clone());
    cv::Mat scaled_frame;
    cv::resize(frame, scaled_frame, cv::Size(1920, 1080), 0, 0, cv::INTER_LINEAR);
    hd.frames.push_back(scaled_frame);
  }
  if (static_cast<int>(vga.frames.size()) == o.frames) {
    sizes.push_back(vga);
    sizes.push_back(hd);
  }
  return sizes;
}

void print_speed(const std::vector<Size>& sizes, const std::vector<SpeedRows>& rows, const char* setting) {
  std::printf("speed, %s: per online frame, one thread, ms wall / cpu (median of the repetitions)\n",
              setting);
  std::printf(
      "| frames | fast | MOG2 | exact | fast / MOG2 (wall, cpu) | exact / MOG2 (cpu) | fast / exact (cpu) "
      "|\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const SpeedRows& r = rows[i];
    const Figures fast_mog2 = ratio_of(r.fast, r.mog2);
    std::printf("| %s | %.2f / %.2f | %.2f / %.2f | %.2f / %.2f | %.2f, %.2f | %.2f | %.2f |\n",
                sizes[i].label.c_str(), r.fast.wall * 1e3, r.fast.cpu * 1e3, r.mog2.wall * 1e3,
                r.mog2.cpu * 1e3, r.exact.wall * 1e3, r.exact.cpu * 1e3, fast_mog2.wall, fast_mog2.cpu,
                ratio_of(r.exact, r.mog2).cpu, ratio_of(r.fast, r.exact).cpu);
  }
  std::fflush(stdout);
}

bool run_speed(const Options& o) {
  const std::vector<Size> sizes = speed_sizes(o);
  if (sizes.empty()) {
    std::printf("speed: no highway frames and no vtest.avi under %s: skipped\n", o.data.c_str());
    return true;
  }
  bool ok = true;
  for (const Size& s : sizes) ok = check_determinism(s.frames, s.label) && ok;
  cv::setNumThreads(1);
  std::vector<SpeedRows> quiet;
  for (const Size& s : sizes) quiet.push_back(time_size(s.frames, o.reps));
  print_speed(sizes, quiet, "quiet");
  if (o.contention) {
    const Contention busy;
    std::vector<SpeedRows> contended;
    for (const Size& s : sizes) contended.push_back(time_size(s.frames, o.reps));
    print_speed(sizes, contended, busy.active() ? "contended" : "contended (one core: no neighbour)");
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const char* shared = std::getenv("SHARED_DATA");
  o.data = shared != nullptr ? shared : (fs::path(STRELLIX_SOURCE_DIR) / ".." / "shared" / "data").string();
  if (!parse(argc, argv, o)) return usage();
  std::error_code error;
  if (!fs::is_directory(o.data, error)) {
    std::printf("bench_fast_mode: no shared data under %s: skipped\n", o.data.c_str());
    return 0;
  }
  std::printf("machine: %d cores; fast mode as %s\n", core_count(), FastMode(1, true).implementation());
  bool ok = true;
  if (o.accuracy) run_accuracy(o);
  if (o.speed) ok = run_speed(o);
  return ok ? 0 : 1;
}
