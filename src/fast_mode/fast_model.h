// The layered model in the fast numeric mode: the same method as the exact
// passes, computed in 32-bit floats (16-bit fixed point where that holds),
// with the layers stored as 16-bit integers, and the online passes
// data-parallel so that vector lanes and threads never wait on each other.
//
// What differs from the exact passes, and why it stays close to them:
// - Colours become cone coordinates through polynomial sines and cosines
//   in vector code, not through the converted-colour table.
// - An online frame is matched against the model as it stood before the
//   frame (as the exact passes do too), and then a target layer takes the
//   blends of all the centres around it at once: K weight units (the
//   kernel's whole numbers, at one rate) move it the share
//   1 - (1 - rate)^K of the way to the centres' weighted mean, which is
//   what K blends of one unit each give when the centres agree, and to
//   first order when they do not. The blend across layers follows.
// - The calibration frames keep the exact sweep in raster order, which
//   matches each pixel against a model already changed by the pixels
//   before it (calibration_sweep.h); matched against the model before the
//   frame instead, the short shared sequences lost 0.03 of F-measure.
// - Equal distances to equal layers go up or stay by the distance's last
//   bit (closer_or_tie_up()), where the exact mode's rounding decides.
// - Layers hold 16-bit integers (1/32767 of a unit): half of the exact
//   model's memory traffic.
// The masks are the same for any number of threads and in both vector
// builds.
#pragma once

#include <opencv2/core.hpp>

#include <memory>
#include <vector>

#include "core/settings.h"
#include "fast_mode/update_weights.h"
#include "strellix/strellix.hpp"

namespace strellix {
namespace fast {

// Layers the fast mode keeps at most: a pixel's layer is a signed byte.
constexpr int MAX_LAYERS = ranges::fast_layers.most;

// Row x of the coherence filter over `in` (height x width labels) into
// out_row, with width bytes of scratch: the exact mode's, which works on
// labels alone and so serves both modes.
using FilterRow = void (*)(const ModelSettings& s, int height, int width, const unsigned char* in,
                           unsigned char* out_row, int x, unsigned char* column_sums);

// What the fast mode takes from the exact mode's passes, which it does not
// include (the engine, which includes both, hands them in): the update's
// whole-number kernels and the filter.
struct ExactPieces {
  const float* kernel_1d = nullptr;         // 2 width_1d + 1 weights across layers
  const float* const* kernel_2d = nullptr;  // 2 width_2d + 1 rows of as many weights
  FilterRow filter_row = nullptr;
};

class FastModel {
 public:
  // Throws std::invalid_argument on parameters out of range (validate())
  // or more layers than MAX_LAYERS. `run` says on which threads and in
  // which vector build the passes run; neither changes a result. The
  // pieces' kernels are read here, the filter kept.
  FastModel(const Parameters& parameters, const PassExecution& run, const ExactPieces& pieces);
  ~FastModel();
  FastModel(const FastModel&) = delete;
  FastModel& operator=(const FastModel&) = delete;

  // Seeds every layer with the image (8-bit BGR, whose size becomes the
  // model's) and starts a sequence.
  void seed(const cv::Mat& bgr);
  // The next frame (8-bit BGR of the model's size): the first frame after
  // the seed teaches nothing, the next layers - 1 calibrate, later ones are
  // online. Throws std::invalid_argument for a frame of another size or
  // type, std::logic_error before the seed. The frame is copied: the
  // rendering looks for the layers nearest to it. learning_rate: negative
  // the configured one; 0 segments the frame against the model as it
  // stands and changes nothing a later frame reads (labels() gives its
  // labels, frames_applied() stays); in (0, 1] the frame learns as in a
  // model configured with that rate. The caller checks the rate.
  void apply(const cv::Mat& bgr, double learning_rate = -1.0);
  // The same for a frame the model may keep: it changes places with the
  // last one, which `bgr` then holds, so that nothing is copied.
  void apply_keeping(cv::Mat& bgr, double learning_rate = -1.0);
  // The next frame is online, at the last calibration rate.
  void end_calibration();

  bool seeded() const { return width_ > 0; }
  // "avx2" or "baseline": the vector build the passes run in.
  const char* vector_build() const;
  int width() const { return width_; }
  int height() const { return height_; }
  long long frames_applied() const { return frames_applied_; }
  // The last frame's labels, width * height bytes; 255 marks moving objects.
  const unsigned char* labels() const { return showing_look_ ? look_out_.data() : current_; }
  // One layer coordinate (0 x, 1 y, 2 z) of one pixel, in model units.
  short layer_value(int row, int column, int layer, int coordinate) const;

  // The rendering of the model, 8-bit BGR: per pixel the layer nearest to
  // the last frame (the seed before any frame).
  cv::Mat background() const;

  // What a state holds besides the layers, for the state file: the rate
  // of the last frame that learnt, both label buffers (the last frame's
  // labels first: the next frame is segmented there) and the last frame.
  // Valid once seeded; the sizes are the model's.
  struct StateView {
    float* rate;
    unsigned char* labels;
    unsigned char* other_labels;
    cv::Mat* last_frame;
  };
  StateView state();
  // Plane 3 layer + coordinate of the layers as width * height values in
  // raster order, out of the model or into it.
  void read_plane(int plane, short* to) const;
  void write_plane(int plane, const short* from);
  void set_frames_applied(long long count) { frames_applied_ = count; }

  struct Band;

 private:
  void check_frame(const cv::Mat& bgr) const;
  void run_frame(const cv::Mat& bgr, bool copy, double learning_rate);
  UpdateWeights& weights_for(double learning_rate, long long t);
  void look(const cv::Mat& bgr);
  void run_online(const cv::Mat& bgr);
  void prepare_bands(int count);
  void calibrate(const cv::Mat& bgr);
  void segment_boundary_rows(const cv::Mat& bgr, Band& band);
  void work_band(const cv::Mat& bgr, Band& band);
  void segment_into(const float* const* cone, int row);
  void segment_row(const float* const* cone, int row, float threshold, unsigned char* labels,
                   signed char* match) const;
  void update_target_row(Band& band, int row, int next_segmented);

  Parameters parameters_;
  PassExecution run_;
  FilterRow filter_row_;
  int layers_;
  int width_2d_;
  int half_;  // of the 2D window
  float threshold_;
  float learning_rate_;
  UpdateWeights weights_;
  // The kernels the weights are made from, for a frame's own rate, and
  // the weights of the last such rate.
  int width_1d_;
  std::vector<float> kernel_1d_;
  std::vector<float> kernel_2d_;
  UpdateWeights frame_weights_;
  double frame_weights_rate_ = -1.0;
  UpdateWeights* frame_weights_in_use_ = &weights_;  // this frame's
  float rate_a_ = 0.0f;                              // the calibration rate's start,
  float rate_b_ = 0.0f;                              // and its end, which the online stretch keeps
  float rate_ = 0.0f;                                // the rate of the last frame that learnt

  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;  // columns of a model row, a multiple of eight
  std::vector<short> model_;
  std::vector<unsigned char> label_store_[2];
  unsigned char* segmented_ = nullptr;  // where the next frame is segmented
  unsigned char* filtered_ = nullptr;   // where its filtered labels go
  unsigned char* current_ = nullptr;    // the last frame's labels
  std::vector<signed char> match_;
  std::vector<unsigned char> search_mask_;  // 255 everywhere: the filter's rows read it
  ModelSettings settings_;                  // for the filter
  cv::Mat last_frame_;                      // 8-bit BGR, for the rendering
  bool copy_rows_ = false;                  // the online pass copies the frame into last_frame_
  // The labels of a frame segmented without learning, kept apart from the
  // buffers the next frame reads.
  std::vector<unsigned char> look_seg_;
  std::vector<unsigned char> look_out_;
  std::vector<signed char> look_match_;
  bool showing_look_ = false;  // the last frame's labels are in look_out_
  long long frames_applied_ = 0;
  std::vector<std::unique_ptr<Band>> bands_;
};

}  // namespace fast
}  // namespace strellix
