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

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <new>
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

// How a model computes. `exact` gives the same bits on every build and
// thread count, and the same as the reference passes: 32-bit stored
// values, double arithmetic, passes in raster order. `fast` is the same
// method in 32-bit floats with 16-bit layers and data-parallel online
// passes: several times faster, masks within a small measured distance of
// the exact ones, the same for any thread count and vector build. A state
// file keeps its mode.
enum class Numerics { exact, fast };

// The parameters of a model, with their defaults. The command line, the
// Python module and the Strellixplus program take their defaults from here.
struct Parameters {
  int layers = 5;               // candidate background colours per pixel
  int width_1d = 1;             // half-width of the update across layers
  int width_2d = 1;             // half-width of the update's image neighbourhood
  double threshold = 0.005;     // segmentation threshold, a squared distance (held as a 32-bit float)
  double learning_rate = 0.05;  // held as a 32-bit float
  int median_frames = 100;      // frames that initialize() takes the median of
  int threads = 0;              // worker threads, the calling one included; 0 = one per core
  // What the masks show; neither changes what the model learns.
  int shadow_value = 0;  // the masks' value on shadow, 0 to 255 (0: background; 127: as OpenCV marks it)
  int post_median = 0;   // a k x k median filter of the masks, k odd from 3 to 255; 0 = none
  Numerics numerics = Numerics::exact;  // how the model computes (see Numerics)
};

// An inclusive range of values; nothing that is not a number is in one.
template <class T>
struct Range {
  T least;
  T most;
  constexpr bool contains(T value) const { return value >= least && value <= most; }
};

// The range of each parameter: validate() holds a Parameters to them, and
// the command line, the Python module and the Strellixplus program take
// theirs from here.
namespace ranges {
inline constexpr Range<int> layers{1, std::numeric_limits<int>::max()};
inline constexpr Range<int> width_1d{0, 3};  // the weight tables exist only for these
inline constexpr Range<int> width_2d{0, 4};
inline constexpr Range<double> threshold{0.0, 1000.0};
inline constexpr Range<double> learning_rate{0.0, 1.0};
inline constexpr Range<int> median_frames{1, std::numeric_limits<int>::max()};
inline constexpr Range<int> threads{0, 1024};      // more than any machine has cores would only cost memory
inline constexpr Range<int> shadow_value{0, 255};  // a mask value is one byte
// 0 (off) or odd: a median needs a centre (validate() checks that too);
// the aperture is kept in one byte of the state file.
inline constexpr Range<int> post_median{0, 255};
// The fast numerics keep a pixel's layer number in a signed byte.
inline constexpr Range<int> fast_layers{1, 127};
// The names of the numeric modes, in the order of Numerics: what the
// command line, the Python module and run.json say.
inline constexpr const char* numerics[] = {"exact", "fast"};
}  // namespace ranges

// "exact" or "fast"; "unknown" for a value that is neither.
STRELLIX_API const char* numerics_name(Numerics numerics);
// The mode of that name; throws std::invalid_argument naming the accepted
// names for any other.
STRELLIX_API Numerics numerics_named(const std::string& name);

// Throws std::invalid_argument, naming the parameter and its value, when a
// parameter is out of its range (a threshold or rate that is not a finite
// number included).
STRELLIX_API void validate(const Parameters& parameters);

// Bytes a Subtractor needs for frames of width x height: the model and its
// buffers, and with `with_median` the store of initialize()'s median too.
STRELLIX_API std::uint64_t estimate_memory(const Parameters& parameters, int width, int height,
                                           bool with_median = true);

// The machine's memory in bytes, 0 when it cannot be told.
STRELLIX_API std::uint64_t physical_memory();

// Whether a need of `bytes` (any amount, hence a double) can be met: false
// when it is more than the machine's memory (a model that large is refused
// before anything is allocated), true when that is unknown.
STRELLIX_API bool fits_in_memory(double bytes);

// The memory a model needs could not be had: refused up front (more than
// the machine has) or by the system. `bytes` is what was asked for
// (SIZE_MAX for a size past all memory).
class STRELLIX_API AllocationFailure : public std::bad_alloc {
 public:
  explicit AllocationFailure(std::size_t bytes) : bytes_(bytes) {}
  std::size_t bytes() const { return bytes_; }
  const char* what() const noexcept override { return "out of memory"; }

 private:
  std::size_t bytes_;
};

// The temporal median of frames given one at a time, taken as initialize()
// takes it: initialize_background(median.result()) seeds a model exactly as
// initialize() with the same frames does. For a caller that reads frames
// from a file or a camera and wants to see the median, or not keep them.
class STRELLIX_API TemporalMedian {
 public:
  // Room for up to frame_count frames of `size`, the median worked out on
  // `threads` threads (0: one per core). Throws std::invalid_argument for a
  // count or a size below 1, AllocationFailure when the store does not fit.
  TemporalMedian(int frame_count, cv::Size size, int threads = 0);
  ~TemporalMedian();
  TemporalMedian(TemporalMedian&& other) noexcept;
  TemporalMedian& operator=(TemporalMedian&& other) noexcept;
  TemporalMedian(const TemporalMedian&) = delete;
  TemporalMedian& operator=(const TemporalMedian&) = delete;

  // The next frame, of any type initialize() takes. Throws
  // std::invalid_argument for a frame of another size or type, or when
  // frame_count frames are in already; nothing changes then.
  void add(const cv::Mat& frame);
  int added() const;

  // The per-pixel, per-channel median of the frames added, 8-bit BGR: the
  // middle value for an odd count, the floor of the mean of the two middle
  // values for an even one. Throws std::logic_error before the first frame.
  cv::Mat result() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

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
  // "avx2"; within a numeric mode all give the same masks).
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
  // parameters().shadow_value on shadow, 0 on background (a mask already of
  // that size and type is written in place). The first frame after
  // initialization gives an all-black mask and teaches nothing; the next
  // layers - 1 frames calibrate the model with a falling rate. Throws
  // std::invalid_argument for a frame that is empty, of another size than
  // the model or of an unsupported type, and std::logic_error before
  // initialization; the model is then unchanged.
  void apply(const cv::Mat& frame, cv::Mat& mask);

  // The same with a learning rate for this frame alone. Negative: the
  // configured one (the masks of apply(frame, mask)). 0: the frame is
  // segmented against the model as it stands and nothing changes that a
  // later frame reads, so the next frames give the masks they would have
  // given without it; it does not count in frames_applied(). In (0, 1]:
  // the frame learns as it would in a model configured with that rate.
  // Throws std::invalid_argument for a rate above 1 or NaN.
  void apply(const cv::Mat& frame, cv::Mat& mask, double learning_rate);

  // apply() in two halves. prepare() checks and converts the frame, on the
  // calling thread, and may run on another thread while this subtractor
  // applies an earlier frame (not while it is initialized or loaded); it
  // throws as apply() does for a frame it refuses. apply(prepared, mask)
  // then gives exactly what apply(frame, mask) would have given, and
  // throws std::invalid_argument for a PreparedFrame that is not ready or
  // was prepared for another frame size.
  void prepare(const cv::Mat& frame, PreparedFrame& into) const;
  void apply(PreparedFrame& frame, cv::Mat& mask);
  void apply(PreparedFrame& frame, cv::Mat& mask, double learning_rate);

  // The model as a picture (CV_8UC3, BGR): per pixel the layer nearest to
  // the last frame applied (the seed before any). Throws std::logic_error
  // before initialization.
  cv::Mat background() const;

  // Writes the whole state (parameters, model, rates, frame count and the
  // labels the next frame reads) to one versioned file with a checksum.
  // The file appears complete or not at all. Throws std::runtime_error
  // when it cannot be written, std::logic_error before initialization.
  void save(const std::string& path) const;

  // The same state, handed in order to `write`, which returns false when
  // it cannot take the bytes: for a caller that writes the file its own
  // way. Throws std::runtime_error when `write` fails, std::logic_error
  // before initialization.
  void save(const std::function<bool(const unsigned char* data, std::size_t size)>& write) const;

  // A subtractor in the state save() wrote: applying the same frames to it
  // gives the masks the saved one would have given. Throws
  // std::runtime_error for a file that is missing, truncated, damaged, of
  // another kind or written by a newer version.
  static Subtractor load(const std::string& path);
  // The same, refusing (std::runtime_error) a state of another numeric
  // mode than `numerics`: a fast state does not load as exact, nor the
  // other way round.
  static Subtractor load(const std::string& path, Numerics numerics);

  const Parameters& parameters() const;
  bool initialized() const;
  cv::Size frame_size() const;       // the model's, (0, 0) before initialization
  long long frames_applied() const;  // since initialization, not counting those with learning rate 0
  // Which implementation of the passes runs: "reference", "baseline" or
  // "avx2" (exact numerics); "fast-serial", "fast-baseline" or "fast-avx2"
  // (fast numerics).
  std::string implementation() const;

 private:
  explicit Subtractor(std::unique_ptr<Engine> engine);
  std::unique_ptr<Engine> engine_;
};

}  // namespace strellix
