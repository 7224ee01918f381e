// Strellix: background subtraction with a layered background model.
//
// For every pixel the model keeps several candidate background colours
// (layers). Each frame is matched against them in a hue/saturation/value
// cone space: pixels that no layer explains are foreground, darker versions
// of a layer are shadow, and the rest teach the model.
//
//   #include <strellix/strellix.hpp>
//
//   strellix::Subtractor s;                 // default parameters
//   s.initialize(first_frames);             // temporal median seeds the model
//   for (const cv::Mat& frame : frames) {   // the first frame again, and on
//     s.apply(frame, mask);                 // CV_8UC1, 255 = moving object
//   }
//
// A Subtractor owns its model, buffers and worker threads; several can run
// side by side, each on its own thread. One Subtractor is not meant to be
// used by two threads at once.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#define STRELLIX_API
#else
#define STRELLIX_API __attribute__((visibility("default")))
#endif

namespace strellix {

class Engine;  // the model behind a Subtractor; not part of the interface

// "MAJOR.MINOR.PATCH" of the library.
STRELLIX_API const char* version();

struct Parameters {
  int layers = 5;               // candidate background colours per pixel, at least 1
  int width_1d = 1;             // half-width of the update across layers, 0 to 3
  int width_2d = 1;             // half-width of the update's image neighbourhood, 0 to 4
  double threshold = 0.005;     // segmentation threshold, a squared distance (held as a 32-bit float)
  double learning_rate = 0.05;  // held as a 32-bit float
  int median_frames = 100;      // frames that initialize() takes the median of, at least 1
  int threads = 0;              // worker threads, the calling one included; 0 = one per core
};

// Throws std::invalid_argument, naming the value, when a parameter is out
// of its range.
STRELLIX_API void validate(const Parameters& parameters);

// Bytes a Subtractor needs for frames of width x height: the model and its
// buffers, and with `with_median` the store of initialize()'s median too.
STRELLIX_API std::uint64_t estimate_memory(const Parameters& parameters, int width, int height,
                                           bool with_median = true);

// A frame brought into a model's colour space ahead of its turn, for
// callers that read and prepare the next frames on another thread while
// apply() works on this one. Keep one per frame in flight: apply() leaves
// the buffers behind for the next prepare().
class STRELLIX_API PreparedFrame {
 public:
  PreparedFrame();
  ~PreparedFrame();
  PreparedFrame(PreparedFrame&& other) noexcept;
  PreparedFrame& operator=(PreparedFrame&& other) noexcept;
  PreparedFrame(const PreparedFrame&) = delete;
  PreparedFrame& operator=(const PreparedFrame&) = delete;

  // True between prepare() and apply().
  bool ready() const;

  struct Data;

 private:
  friend class Subtractor;
  std::unique_ptr<Data> data_;
};

class STRELLIX_API Subtractor {
 public:
  // Throws std::invalid_argument on parameters out of range (see
  // validate()), and when the environment variable STRELLIX_PASSES names
  // no implementation (it may be "auto", "reference", "baseline" or
  // "avx2"; all give the same masks).
  explicit Subtractor(const Parameters& parameters = Parameters());
  ~Subtractor();
  Subtractor(Subtractor&& other) noexcept;
  Subtractor& operator=(Subtractor&& other) noexcept;
  Subtractor(const Subtractor&) = delete;
  Subtractor& operator=(const Subtractor&) = delete;

  // Seeds the model with the per-pixel, per-channel temporal median of the
  // first parameters().median_frames frames (all of them when fewer are
  // given), and starts a new sequence: the next apply() is its first frame.
  // Frames: 8-bit BGR; grey, BGRA and 16-bit frames are converted (16-bit
  // values keep their high byte). All must have one size, which becomes
  // the model's. Throws std::invalid_argument on an empty list or a frame
  // that is empty, of another size or of an unsupported type; the
  // subtractor is then unchanged.
  void initialize(const std::vector<cv::Mat>& frames);

  // The same, seeded from a given background image.
  void initialize_background(const cv::Mat& background);

  // Segments the next frame and lets its background pixels teach the
  // model. mask becomes CV_8UC1 of the frame's size: 255 on moving objects,
  // 0 on background and shadow. The first frame after initialization gives
  // an all-black mask and teaches nothing; the next layers - 1 frames
  // calibrate the model with a falling rate. Throws std::invalid_argument
  // for a frame that is empty, of another size than the model or of an
  // unsupported type, and std::logic_error before initialization; the
  // model is then unchanged.
  void apply(const cv::Mat& frame, cv::Mat& mask);

  // apply() in two halves. prepare() checks and converts the frame, on the
  // calling thread, and may run on another thread while this subtractor
  // applies an earlier frame (not while it is initialized or loaded); it
  // throws as apply() does for a frame it refuses. apply(prepared, mask)
  // then gives exactly what apply(frame, mask) would have given, and
  // throws std::invalid_argument for a PreparedFrame that is not ready or
  // was prepared for another frame size.
  void prepare(const cv::Mat& frame, PreparedFrame& into) const;
  void apply(PreparedFrame& frame, cv::Mat& mask);

  // The model as a picture (CV_8UC3, BGR): per pixel the layer nearest to
  // the last frame applied (the seed before any). Throws std::logic_error
  // before initialization.
  cv::Mat background() const;

  // Writes the whole state (parameters, model, rates, frame count and the
  // labels the next frame reads) to one versioned file with a checksum.
  // The file appears complete or not at all. Throws std::runtime_error
  // when it cannot be written, std::logic_error before initialization.
  void save(const std::string& path) const;

  // A subtractor in the state save() wrote: applying the same frames to it
  // gives the masks the saved one would have given. Throws
  // std::runtime_error for a file that is missing, truncated, damaged, of
  // another kind or written by a newer version.
  static Subtractor load(const std::string& path);

  const Parameters& parameters() const;
  bool initialized() const;
  cv::Size frame_size() const;       // the model's, (0, 0) before initialization
  long long frames_applied() const;  // since initialization
  // Which implementation of the passes runs: "reference", "baseline" or
  // "avx2".
  std::string implementation() const;

 private:
  explicit Subtractor(std::unique_ptr<Engine> engine);
  std::unique_ptr<Engine> engine_;
};

}  // namespace strellix
