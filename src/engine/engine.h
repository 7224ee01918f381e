// One background model with its parameters, buffers and worker threads: the
// engine behind the public Subtractor, and what the program, the tools and
// the benchmark drive. Nothing here prints, exits or keeps global state.
//
// A sequence starts when the model is seeded. Its first frame only fixes
// the picture (its labels stay background); the next layers - 1 frames are
// the calibration stretch, matched and learnt in one raster sweep with a
// rate that falls from frame to frame; every later frame is online:
// segmented, filtered, and learnt where it stays background.
//
// An engine computes in the numeric mode of its entry of the pass table:
// the exact numerics on its own model (Engine::Model), the fast ones on a
// fast::FastModel, which converts and passes whole frames itself.
#pragma once

#include <opencv2/core.hpp>

#include <functional>
#include <memory>
#include <string>

#include "core/plane_set.h"
#include "core/settings.h"
#include "engine/pass_table.h"
#include "strellix/strellix.hpp"

namespace strellix {

class WorkerPool;
class StateReader;
struct StateHeader;
namespace fast {
class FastModel;
}

// Three planes of W * H floats, each its own calloc block like the planes
// of a PlaneSet, so that they can change places with the engine's frame
// planes instead of being copied.
struct FramePlanes {
  float* plane[3] = {nullptr, nullptr, nullptr};
  std::size_t count = 0;  // floats in each plane
  FramePlanes() = default;
  explicit FramePlanes(std::size_t count);  // zero-filled; throws AllocationFailure
  FramePlanes(FramePlanes&& other) noexcept;
  FramePlanes& operator=(FramePlanes&& other) noexcept;
  FramePlanes(const FramePlanes&) = delete;
  FramePlanes& operator=(const FramePlanes&) = delete;
  ~FramePlanes();
  bool empty() const { return plane[0] == nullptr; }
};

// A frame made ready for apply() ahead of its turn: in the model space for
// the exact numerics; for the fast ones, which convert rows inside their
// passes, an 8-bit BGR copy.
struct ReadyFrame {
  FramePlanes planes;
  cv::Mat bgr;
};

// The stages of a frame, for a caller that times them (the benchmark). An
// entry of the pass table with a fused pass takes an online frame's
// segmentation, filter and update in one (`online`) where it can; the fast
// numerics take a whole frame as `calibrate` or `online`.
enum class Stage { convert, calibrate, segment, filter, update, online };

class StageObserver {
 public:
  virtual ~StageObserver() = default;
  virtual void stage_begins(Stage stage) = 0;
  virtual void stage_ends(Stage stage) = 0;
};

// A learning rate given for one frame: negative takes the configured one,
// 0 learns nothing, up to 1 teaches with it; anything else (NaN too) is
// refused with std::invalid_argument, before the frame changes anything.
void check_frame_learning_rate(double rate);

class Engine {
 public:
  // Throws std::invalid_argument on parameters the model cannot be built
  // with (check_model_parameters), or an entry of another numeric mode
  // than the parameters'. `passes` is an entry of the pass table, which
  // outlives every engine.
  Engine(const Parameters& parameters, const PassSet& passes);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const Parameters& parameters() const { return parameters_; }
  const PassSet& passes() const { return *passes_; }
  bool initialized() const { return model_ != nullptr || fast_ != nullptr; }
  bool fast_numerics() const { return passes_->numerics == Numerics::fast; }
  int width() const;
  int height() const;
  long long frames_applied() const;

  // Seeds every layer with the image (8-bit BGR; its size becomes the
  // model's) and starts a sequence. Strong guarantee: on a throw the
  // engine is as before.
  void initialize_background(const cv::Mat& bgr);
  // The temporal median of the first median_frames frames (all when fewer),
  // each converted by frame_as_bgr8; throws std::invalid_argument before
  // anything changes when a frame cannot be used.
  void initialize(const std::vector<cv::Mat>& frames);

  // The next frame of the sequence, of any type frame_as_bgr8 takes. Throws
  // std::invalid_argument (frame unusable or of another size, learning
  // rate above 1 or NaN) or std::logic_error (no model) before anything
  // changes. learning_rate: negative the configured one; 0 segments the
  // frame against the model and changes nothing a later frame reads (the
  // frame count stays); up to 1 this frame learns with it.
  void apply(const cv::Mat& frame, double learning_rate = -1.0);
  // The same for a frame already in the model space (from convert()); its
  // planes change places with the engine's. Exact numerics only.
  void apply(FramePlanes& frame, double learning_rate = -1.0);

  // The model space of an 8-bit BGR frame of the model's size, worked out
  // on the calling thread alone; safe beside apply() on another thread.
  // Exact numerics only.
  void convert(const cv::Mat& bgr, FramePlanes& into) const;

  // The same in either numeric mode: prepare() readies an 8-bit BGR frame
  // of the model's size on the calling thread (safe beside apply() on
  // another thread), apply() takes it, leaving its buffers for the next.
  void prepare(const cv::Mat& bgr, ReadyFrame& into) const;
  void apply(ReadyFrame& frame, double learning_rate = -1.0);

  // Leaves the calibration stretch: the next frame is online, learning at
  // the last calibration rate (the program's reaction to a missing frame).
  void end_calibration();

  // The labels of the last frame applied (LABEL_FOREGROUND marks moving
  // objects), W * H bytes.
  const unsigned char* labels() const;
  // The last frame's labels as a CV_8UC1 mask, 255 where moving, with the
  // parameters' shadow value and median filter (see labels_to_mask).
  void mask(cv::Mat& into) const;

  // The rendering of the model: per pixel the layer nearest to the last
  // frame, as planes R, G, B of W * H bytes (valid until the next call).
  // Exact numerics only.
  PlaneSet<unsigned char> render();
  // The same as an 8-bit BGR image.
  cv::Mat background();

  void save(const std::string& path) const;
  // The same bytes to `write`; throws std::runtime_error when it fails.
  void save(const std::function<bool(const unsigned char* data, std::size_t size)>& write) const;
  // The engine a state file holds, running `passes` (null: the entry
  // choose_passes() gives for the file's parameters). Throws
  // std::runtime_error for a state of another numeric mode than `passes`.
  static std::unique_ptr<Engine> load(const std::string& path, const PassSet* passes = nullptr);

  // How this engine's passes run: its threads where its entry of the pass
  // table is threaded (else the calling thread alone), its vector build.
  PassExecution execution() const;

  // Tells `observer` (null: nobody) when each stage of a frame begins and
  // ends; it must outlive its use.
  void observe_stages(StageObserver* observer) { observer_ = observer; }

  // An entry with a fused online pass takes an online frame in it where it
  // can (the default); false runs the three steps one after the other, for
  // the benchmark to weigh the two. Either gives the same bits.
  void fuse_online_passes(bool fuse) { fuse_online_ = fuse; }

  // For tests and the benchmark: the model's settings and layers (exact
  // numerics), the fast model (fast numerics).
  const ModelSettings& settings() const;
  PlaneSet<float>* layers() const;
  const fast::FastModel& fast_model() const;

  struct Model;

 private:
  void require_model(const char* what) const;
  void require_exact(const char* what) const;
  void check_frame_size(const cv::Mat& bgr) const;
  void run_frame(double learning_rate);
  float end_rate(float learning_rate) const;
  const ModelSettings& frame_rates(double learning_rate, long long t, ModelSettings& own, ModelView& model);
  void calibrate(long long t, double learning_rate);
  void run_online(double learning_rate);
  void look(long long t);
  void seed_fast(const cv::Mat& bgr);
  template <class Apply>
  void run_fast_frame(const Apply& apply);
  void save_fast(const std::function<bool(const unsigned char* data, std::size_t size)>* write,
                 const std::string* path) const;
  void load_fast(StateReader& reader);
  ModelSettings settings_for(Model& model) const;
  StateHeader state_header() const;

  // The views of the model's buffers that the passes take.
  FrameView frame_view() const;
  ModelView model_view() const;
  LabelView label_view() const;

  Parameters parameters_;
  const PassSet* passes_;
  int width_1d_;  // 2 * parameters_.width_1d + 1
  int width_2d_;  // 2 * parameters_.width_2d + 1
  float threshold_;
  float learning_rate_;
  std::unique_ptr<WorkerPool> pool_;
  std::unique_ptr<Model> model_;
  std::unique_ptr<fast::FastModel> fast_;  // the fast numerics' model, once seeded
  StageObserver* observer_ = nullptr;
  bool fuse_online_ = true;
};

}  // namespace strellix
