#include "engine/engine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "colour/model_space.h"
#include "colour/plane_convert.h"
#include "core/frame_input.h"
#include "core/worker_pool.h"
#include "engine/mask_output.h"
#include "engine/median_builder.h"
#include "engine/memory_estimate.h"
#include "engine/parameters.h"
#include "engine/state_file.h"
#include "fast_mode/fast_model.h"
#include "model/model_store.h"
#include "model/parallel_passes.h"

namespace strellix {

namespace {

// Brackets one stage for the engine's observer, if it has one.
class StageScope {
 public:
  StageScope(StageObserver* observer, Stage stage) : observer_(observer), stage_(stage) {
    if (observer_ != nullptr) observer_->stage_begins(stage_);
  }
  ~StageScope() {
    if (observer_ != nullptr) observer_->stage_ends(stage_);
  }
  StageScope(const StageScope&) = delete;
  StageScope& operator=(const StageScope&) = delete;

 private:
  StageObserver* observer_;
  Stage stage_;
};

}  // namespace

// Every buffer of a seeded model, made together and replaced together.
struct Engine::Model {
  int W = 0;
  int H = 0;
  std::size_t N = 0;
  std::vector<unsigned char> search_mask;  // 255 everywhere: every pixel is processed
  std::vector<float> kernel_1d;
  Planes<float> kernel_2d;
  Planes<float> rate_kernel_2d;
  Planes<float> frame_rate_kernel_2d;  // the table of a frame given a learning rate of its own
  Planes<float> frame_planes;
  Planes<float> render_planes;
  Planes<unsigned char> render_rgb_planes;
  PlaneSet<float>* layers = nullptr;
  int layer_count = 0;
  // The two label buffers change places after every online frame.
  std::vector<unsigned char> label_store[2];
  unsigned char* seg_mask = nullptr;
  unsigned char* filtered_mask = nullptr;
  std::vector<int> match_index;
  // The labels of a frame segmented without learning, kept apart from the
  // two buffers the next frame reads; made at the first such frame.
  std::vector<unsigned char> look_seg;
  std::vector<unsigned char> look_out;
  bool showing_look = false;  // the last frame's labels are in look_out
  float rate_a = 0.0f;        // the calibration rate's start,
  float rate_b = 0.0f;        // and its end, which the online stretch keeps
  long long frames_applied = 0;
  ModelSettings settings;

  Model(int width, int height, int layers_wanted, int width_1d, int width_2d)
      : W(width),
        H(height),
        N(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)),
        search_mask(N, 255),
        kernel_2d(width_2d, static_cast<std::size_t>(width_2d)),
        rate_kernel_2d(width_2d, static_cast<std::size_t>(width_2d)),
        frame_rate_kernel_2d(width_2d, static_cast<std::size_t>(width_2d)),
        frame_planes(3, N),
        render_planes(3, N),
        render_rgb_planes(3, N),
        match_index(N, 0) {
    float* kernel = make_kernel_1d(width_1d);
    kernel_1d.assign(kernel, kernel + width_1d);
    std::free(kernel);
    PlaneSet<float> gaussian = make_kernel_2d(width_2d);
    for (int r = 0; r < width_2d; ++r) std::copy(gaussian[r], gaussian[r] + width_2d, kernel_2d[r]);
    free_planes(gaussian, width_2d);
    label_store[0].assign(N, LABEL_BACKGROUND);
    label_store[1].assign(N, LABEL_BACKGROUND);
    seg_mask = label_store[0].data();
    filtered_mask = label_store[1].data();
    layers = alloc_model(layers_wanted, N);
    layer_count = layers_wanted;
  }
  ~Model() { free_model(layers, layer_count); }
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;
};

FramePlanes::FramePlanes(std::size_t floats) : count(floats) {
  for (float*& p : plane) {
    p = static_cast<float*>(std::calloc(count > 0 ? count : 1, sizeof(float)));
    if (p == nullptr) {
      for (float* q : plane) std::free(q);
      throw AllocationFailure(count * sizeof(float));
    }
  }
}

FramePlanes::FramePlanes(FramePlanes&& other) noexcept {
  for (int c = 0; c < 3; ++c) std::swap(plane[c], other.plane[c]);
  std::swap(count, other.count);
}

FramePlanes& FramePlanes::operator=(FramePlanes&& other) noexcept {
  for (int c = 0; c < 3; ++c) std::swap(plane[c], other.plane[c]);
  std::swap(count, other.count);
  return *this;
}

FramePlanes::~FramePlanes() {
  for (float* p : plane) std::free(p);
}

Engine::Engine(const Parameters& parameters, const PassSet& passes)
    : parameters_(parameters), passes_(&passes) {
  check_model_parameters(parameters_);
  if (passes.numerics != parameters_.numerics)
    throw std::invalid_argument(std::string("strellix: the passes ") + passes.name + " compute in the " +
                                numerics_name(passes.numerics) + " numerics, the parameters ask for " +
                                numerics_name(parameters_.numerics));
  width_1d_ = 2 * parameters_.width_1d + 1;
  width_2d_ = 2 * parameters_.width_2d + 1;
  // The run's numbers are 32-bit floats, rounded once here.
  threshold_ = static_cast<float>(parameters_.threshold);
  learning_rate_ = static_cast<float>(parameters_.learning_rate);
  const int threads = parameters_.threads > 0 ? parameters_.threads : core_count();
  if (passes_->threaded && threads > 1) pool_.reset(new WorkerPool(threads));
}

Engine::~Engine() = default;

int Engine::width() const {
  if (fast_) return fast_->width();
  return model_ ? model_->W : 0;
}
int Engine::height() const {
  if (fast_) return fast_->height();
  return model_ ? model_->H : 0;
}
long long Engine::frames_applied() const {
  if (fast_) return fast_->frames_applied();
  return model_ ? model_->frames_applied : 0;
}

ModelSettings Engine::settings_for(Model& model) const {
  ModelSettings s;
  s.layer_count = parameters_.layers;
  s.width_1d = width_1d_;
  s.learning_rate = learning_rate_;
  s.kernel_1d = model.kernel_1d.data();
  s.search_mask = model.search_mask.data();
  s.first_search_row = 0;
  s.run = execution();
  return s;
}

PassExecution Engine::execution() const {
  PassExecution run;
  run.workers = passes_->threaded ? pool_.get() : nullptr;
  run.wide = passes_->wide;
  return run;
}

FrameView Engine::frame_view() const {
  return FrameView{model_->frame_planes.get(), model_->H, model_->W};
}

ModelView Engine::model_view() const {
  return ModelView{model_->layers, model_->layer_count, model_->rate_kernel_2d.get(), width_2d_};
}

LabelView Engine::label_view() const {
  return LabelView{model_->seg_mask, model_->filtered_mask, model_->match_index.data()};
}

const ModelSettings& Engine::settings() const {
  require_exact("settings");
  return model_->settings;
}

PlaneSet<float>* Engine::layers() const {
  require_exact("layers");
  return model_->layers;
}

const fast::FastModel& Engine::fast_model() const {
  require_model("fast_model");
  if (!fast_) throw std::logic_error("strellix: fast_model needs the fast numerics");
  return *fast_;
}

void Engine::require_model(const char* what) const {
  if (!initialized())
    throw std::logic_error(std::string("strellix: ") + what +
                           " needs an initialized model: call initialize(frames) or "
                           "initialize_background(image) first");
}

// What only the exact numerics' own model has.
void Engine::require_exact(const char* what) const {
  require_model(what);
  if (!model_) throw std::logic_error(std::string("strellix: ") + what + " needs the exact numerics");
}

void Engine::check_frame_size(const cv::Mat& bgr) const {
  if (bgr.cols == width() && bgr.rows == height()) return;
  throw std::invalid_argument("strellix: the frame is " + std::to_string(bgr.cols) + "x" +
                              std::to_string(bgr.rows) + " pixels, the model " + std::to_string(width()) +
                              "x" + std::to_string(height()));
}

namespace {

// Frames beyond this many pixels are refused: no camera comes near it.
constexpr long long MAX_FRAME_PIXELS = 1LL << 27;

void check_model_size(const Parameters& p, int width, int height) {
  if (static_cast<long long>(width) * height > MAX_FRAME_PIXELS) {
    throw std::invalid_argument("strellix: " + std::to_string(width) + "x" + std::to_string(height) +
                                " pixels are more than the " + std::to_string(MAX_FRAME_PIXELS) +
                                " a frame may have");
  }
  const double needed =
      estimate_memory_bytes(p, static_cast<std::size_t>(width), static_cast<std::size_t>(height), false);
  if (!fits_in_memory(needed)) throw AllocationFailure(static_cast<std::size_t>(saturated_bytes(needed)));
}

// The rate of calibration frame t: it falls linearly from a towards b,
// reaching b at the last one (t = layers - 1).
float calibration_rate(double a, double b, long long t, int layers) {
  const double step = static_cast<double>(t) * (a - b) / static_cast<double>(layers - 1);
  return static_cast<float>(a - step);
}

}  // namespace

void check_frame_learning_rate(double rate) {
  if (rate <= 1.0) return;
  std::ostringstream got;
  got << rate;
  throw std::invalid_argument(
      "strellix: a frame's learning rate must be negative (the configured rate), 0 (segment without "
      "learning) or in (0, 1] (got " +
      got.str() + ")");
}

// B = A * lr with A = 1 / (width_2d + 1) in double: the online stretch's
// rate, and where the calibration rate ends.
float Engine::end_rate(float learning_rate) const {
  return static_cast<float>(1.0 / (width_2d_ + 1) * static_cast<double>(learning_rate));
}

// A fresh fast model seeded with the image, in place of the old one only
// once it stands. It takes the update's kernels and the coherence filter
// from the exact mode's passes.
void Engine::seed_fast(const cv::Mat& bgr) {
  std::vector<float> kernel_1d(static_cast<std::size_t>(width_1d_));
  float* kernel = make_kernel_1d(width_1d_);
  std::copy(kernel, kernel + width_1d_, kernel_1d.begin());
  std::free(kernel);
  Planes<float> kernel_2d(width_2d_, static_cast<std::size_t>(width_2d_));
  PlaneSet<float> gaussian = make_kernel_2d(width_2d_);
  for (int r = 0; r < width_2d_; ++r) std::copy(gaussian[r], gaussian[r] + width_2d_, kernel_2d[r]);
  free_planes(gaussian, width_2d_);
  fast::ExactPieces pieces;
  pieces.kernel_1d = kernel_1d.data();
  pieces.kernel_2d = kernel_2d.get();
  pieces.filter_row = coherence_filter_row_parallel;
  std::unique_ptr<fast::FastModel> fresh(new fast::FastModel(parameters_, execution(), pieces));
  fresh->seed(bgr);
  fast_ = std::move(fresh);
}

void Engine::initialize_background(const cv::Mat& background) {
  const cv::Mat bgr = require_bgr8(background, "background");
  check_model_size(parameters_, bgr.cols, bgr.rows);
  if (fast_numerics()) {
    seed_fast(bgr);
    return;
  }
  std::unique_ptr<Model> fresh(new Model(bgr.cols, bgr.rows, parameters_.layers, width_1d_, width_2d_));
  fresh->settings = settings_for(*fresh);
  const ModelSettings& s = fresh->settings;
  passes_->convert(s, bgr, fresh->frame_planes.get());
  seed_model(s, fresh->layers, fresh->frame_planes.get(), fresh->N, fresh->layer_count);
  fresh->rate_a = static_cast<float>(1.0 / (width_2d_ + 1));
  fresh->rate_b = end_rate(learning_rate_);
  scale_matrix(width_2d_, fresh->rate_b, fresh->kernel_2d.get(), fresh->rate_kernel_2d.get());
  model_ = std::move(fresh);
}

void Engine::initialize(const std::vector<cv::Mat>& frames) {
  if (frames.empty()) throw std::invalid_argument("strellix: initialize() needs at least one frame");
  const std::size_t count = std::min(frames.size(), static_cast<std::size_t>(parameters_.median_frames));
  const cv::Mat first = require_bgr8(frames[0], "first frame");
  for (std::size_t k = 1; k < count; ++k) {
    const cv::Mat& f = frames[k];
    const std::string what = "frame " + std::to_string(k) + " of the median";
    if (f.cols != first.cols || f.rows != first.rows) {
      throw std::invalid_argument("strellix: " + what + " is " + std::to_string(f.cols) + "x" +
                                  std::to_string(f.rows) + " pixels, the first " +
                                  std::to_string(first.cols) + "x" + std::to_string(first.rows));
    }
    if (!frame_type_supported(f)) require_bgr8(f, what.c_str());  // throws, naming the frame
  }
  check_model_size(parameters_, first.cols, first.rows);
  MedianBuilder median(static_cast<int>(count), first.cols, first.rows);
  median.add(first);
  for (std::size_t k = 1; k < count; ++k) median.add(frame_as_bgr8(frames[k]));
  initialize_background(median.result(execution()));
}

// A frame of the fast numerics, timed as the stage it is; a failure drops
// the model, as run_frame() does.
template <class Apply>
void Engine::run_fast_frame(const Apply& apply) {
  const bool online = fast_->frames_applied() >= parameters_.layers;
  const StageScope scope(observer_, online ? Stage::online : Stage::calibrate);
  try {
    apply(*fast_);
  } catch (...) {
    fast_.reset();
    throw;
  }
}

void Engine::apply(const cv::Mat& frame, double learning_rate) {
  require_model("apply()");
  check_frame_learning_rate(learning_rate);
  const cv::Mat bgr = require_bgr8(frame, "frame");
  check_frame_size(bgr);
  if (fast_) {
    run_fast_frame([&](fast::FastModel& model) { model.apply(bgr, learning_rate); });
    return;
  }
  Model& m = *model_;
  {
    const StageScope scope(observer_, Stage::convert);
    passes_->convert(m.settings, bgr, m.frame_planes.get());
  }
  run_frame(learning_rate);
}

void Engine::apply(FramePlanes& frame, double learning_rate) {
  require_exact("apply()");
  check_frame_learning_rate(learning_rate);
  if (frame.empty() || frame.count != model_->N)
    throw std::invalid_argument("strellix: apply() was given no frame planes of the model's size");
  // Both hold 0 outside the search area, where no conversion writes.
  for (int c = 0; c < 3; ++c) std::swap(model_->frame_planes.get()[c], frame.plane[c]);
  run_frame(learning_rate);
}

void Engine::convert(const cv::Mat& bgr, FramePlanes& into) const {
  require_exact("convert()");
  check_frame_size(bgr);
  // Planes made for another size are replaced; the new ones hold 0 outside
  // the search area, as the model's own do.
  if (into.empty() || into.count != model_->N) into = FramePlanes(model_->N);
  const PlaneSet<float> planes = into.plane;
  passes_->convert_on_caller(model_->settings, bgr, planes);
}

void Engine::prepare(const cv::Mat& bgr, ReadyFrame& into) const {
  if (!fast_) {
    convert(bgr, into.planes);
    return;
  }
  check_frame_size(bgr);
  bgr.copyTo(into.bgr);
}

void Engine::apply(ReadyFrame& frame, double learning_rate) {
  if (!fast_) {
    apply(frame.planes, learning_rate);
    return;
  }
  check_frame_learning_rate(learning_rate);
  if (frame.bgr.cols != fast_->width() || frame.bgr.rows != fast_->height() || frame.bgr.type() != CV_8UC3)
    throw std::invalid_argument("strellix: apply() was given no frame of the model's size");
  run_fast_frame([&](fast::FastModel& model) { model.apply_keeping(frame.bgr, learning_rate); });
}

// A failure inside the passes (memory, threads) leaves the model half
// taught: it is dropped, so that nothing goes on from a state no run
// could have reached. A frame that learns nothing changes nothing the
// next frame reads, not even the frame count.
void Engine::run_frame(double learning_rate) {
  Model& m = *model_;
  if (learning_rate == 0.0) {
    look(m.frames_applied);
    return;
  }
  try {
    const long long t = m.frames_applied;
    m.showing_look = false;
    if (t >= parameters_.layers)
      run_online(learning_rate);
    else if (t > 0)
      calibrate(t, learning_rate);
    ++m.frames_applied;
  } catch (...) {
    model_.reset();
    throw;
  }
}

// The settings and the model's view for a frame learnt at `learning_rate`:
// the model's own for the configured rate (negative), else the settings
// and rate table a model configured with that rate would use at
// calibration frame t (online: the last calibration frame's, or B with one
// layer).
const ModelSettings& Engine::frame_rates(double learning_rate, long long t, ModelSettings& own,
                                         ModelView& model) {
  Model& m = *model_;
  model = model_view();
  if (learning_rate < 0.0) return m.settings;
  own = m.settings;
  own.learning_rate = static_cast<float>(learning_rate);
  const float b = end_rate(own.learning_rate);
  const int layers = parameters_.layers;
  const float scale =
      layers > 1 ? calibration_rate(m.rate_a, b, std::min<long long>(t, layers - 1), layers) : b;
  scale_matrix(width_2d_, scale, m.kernel_2d.get(), m.frame_rate_kernel_2d.get());
  model.rates = m.frame_rate_kernel_2d.get();
  return own;
}

// Calibration frame t (1 .. layers - 1). The model's table follows the
// configured rate whatever this frame learns with, as the online stretch
// goes on with the table the last calibration frame left.
void Engine::calibrate(long long t, double learning_rate) {
  Model& m = *model_;
  const StageScope scope(observer_, Stage::calibrate);
  scale_matrix(width_2d_, calibration_rate(m.rate_a, m.rate_b, t, parameters_.layers), m.kernel_2d.get(),
               m.rate_kernel_2d.get());
  ModelSettings own;
  ModelView model;
  const ModelSettings& s = frame_rates(learning_rate, t, own, model);
  passes_->calibrate(s, frame_view(), model, m.seg_mask, calibration_threshold);
}

void Engine::run_online(double learning_rate) {
  Model& m = *model_;
  ModelSettings own;
  ModelView model;
  const ModelSettings& s = frame_rates(learning_rate, m.frames_applied, own, model);
  const FrameView frame = frame_view();
  const LabelView labels = label_view();
  if (fuse_online_ && passes_->online_fused != nullptr && passes_->fused_applies(s, frame, model)) {
    const StageScope scope(observer_, Stage::online);
    passes_->online_fused(s, frame, model, labels, threshold_);
    std::swap(m.seg_mask, m.filtered_mask);
    return;
  }
  {
    const StageScope scope(observer_, Stage::segment);
    passes_->segment(s, frame, model, labels, threshold_);
  }
  {
    const StageScope scope(observer_, Stage::filter);
    passes_->filter(s, m.H, m.W, m.seg_mask, m.filtered_mask);
  }
  {
    const StageScope scope(observer_, Stage::update);
    passes_->update(s, frame, model, labels);
  }
  // This frame's filtered labels are where the next frame is segmented;
  // pixels the filter does not write keep this frame's unfiltered label.
  std::swap(m.seg_mask, m.filtered_mask);
}

// Frame t segmented against the model as it stands, learning nothing: the
// labels its stretch gives before any update (the first frame's are
// background; a calibration frame's are the best match against the
// calibration threshold; an online frame's are segmented and filtered, the
// filter leaving where it writes nothing what the frame's own output buffer
// holds). match_index is scratch: every online frame writes it before use.
void Engine::look(long long t) {
  Model& m = *model_;
  if (m.look_out.size() != m.N) {
    m.look_seg.assign(m.N, LABEL_BACKGROUND);
    m.look_out.assign(m.N, LABEL_BACKGROUND);
  }
  const ModelSettings& s = m.settings;
  if (t == 0) {
    std::fill(m.look_out.begin(), m.look_out.end(), LABEL_BACKGROUND);
  } else if (t < parameters_.layers) {
    const StageScope scope(observer_, Stage::segment);
    const LabelView labels{m.look_out.data(), nullptr, m.match_index.data()};
    passes_->segment(s, frame_view(), model_view(), labels, calibration_threshold);
  } else {
    std::copy(m.filtered_mask, m.filtered_mask + m.N, m.look_out.begin());
    {
      const StageScope scope(observer_, Stage::segment);
      const LabelView labels{m.look_seg.data(), m.look_out.data(), m.match_index.data()};
      passes_->segment(s, frame_view(), model_view(), labels, threshold_);
    }
    const StageScope scope(observer_, Stage::filter);
    passes_->filter(s, m.H, m.W, m.look_seg.data(), m.look_out.data());
  }
  m.showing_look = true;
}

void Engine::end_calibration() {
  require_model("end_calibration()");
  if (fast_) {
    fast_->end_calibration();
    return;
  }
  model_->frames_applied = std::max<long long>(model_->frames_applied, parameters_.layers);
}

const unsigned char* Engine::labels() const {
  require_model("labels()");
  if (fast_) return fast_->labels();
  return model_->showing_look ? model_->look_out.data() : model_->seg_mask;
}

void Engine::mask(cv::Mat& into) const {
  labels_to_mask(labels(), width(), height(), parameters_.shadow_value, parameters_.post_median, into);
}

PlaneSet<unsigned char> Engine::render() {
  require_exact("render()");
  Model& m = *model_;
  render_background(m.settings, m.frame_planes.get(), m.H, m.W, m.layers, m.layer_count,
                    m.render_planes.get());
  model_to_rgb_planes(m.settings.colour_mode, m.render_planes.get(), static_cast<int>(m.N),
                      m.render_rgb_planes.get());
  return m.render_rgb_planes.get();
}

cv::Mat Engine::background() {
  require_model("background()");
  if (fast_) return fast_->background();
  const PlaneSet<unsigned char> rgb = render();
  cv::Mat image(model_->H, model_->W, CV_8UC3);
  planes_to_image(rgb, static_cast<int>(model_->N), image);
  return image;
}

namespace {

// Where a model's state file tables live: the same for saving and loading.
StateBuffers state_buffers(const Engine::Model& m) {
  StateBuffers b;
  b.rate_kernel_2d = m.rate_kernel_2d.get();
  b.seg_mask = m.seg_mask;
  b.filtered_mask = m.filtered_mask;
  b.frame_planes = m.frame_planes.get();
  b.layers = m.layers;
  return b;
}

}  // namespace

// The header of the model's state.
StateHeader Engine::state_header() const {
  StateHeader header;
  header.parameters = parameters_;
  header.width = width();
  header.height = height();
  header.frames_applied = frames_applied();
  return header;
}

// The fast model's state to `write` or, without it, to the file at `path`.
void Engine::save_fast(const std::function<bool(const unsigned char* data, std::size_t size)>* write,
                       const std::string* path) const {
  fast::FastModel& model = *fast_;
  const fast::FastModel::StateView state = model.state();
  // The state file takes the last frame as packed rows.
  const cv::Mat frame = state.last_frame->isContinuous() ? *state.last_frame : state.last_frame->clone();
  FastStateBuffers from;
  from.rate = state.rate;
  from.seg_mask = state.labels;
  from.filtered_mask = state.other_labels;
  from.last_frame = frame.data;
  from.get = [&model](int plane, std::int16_t* values) { model.read_plane(plane, values); };
  if (path != nullptr) {
    write_state(*path, state_header(), from);
  } else if (!write_state(*write, state_header(), from)) {
    throw std::runtime_error("strellix: the state could not be written");
  }
}

void Engine::save(const std::string& path) const {
  require_model("save()");
  if (fast_) return save_fast(nullptr, &path);
  write_state(path, state_header(), state_buffers(*model_));
}

void Engine::save(const std::function<bool(const unsigned char* data, std::size_t size)>& write) const {
  require_model("save()");
  if (fast_) return save_fast(&write, nullptr);
  if (!write_state(write, state_header(), state_buffers(*model_)))
    throw std::runtime_error("strellix: the state could not be written");
}

// The tables of a fast state into this engine's fast model, seeded to the
// state's size.
void Engine::load_fast(StateReader& reader) {
  fast::FastModel& model = *fast_;
  const fast::FastModel::StateView state = model.state();
  FastStateBuffers to;
  to.rate = state.rate;
  to.seg_mask = state.labels;
  to.filtered_mask = state.other_labels;
  to.last_frame = state.last_frame->data;
  to.put = [&model](int plane, const std::int16_t* values) { model.write_plane(plane, values); };
  reader.read_fast_tables(to);
  model.set_frames_applied(reader.header().frames_applied);
}

std::unique_ptr<Engine> Engine::load(const std::string& path, const PassSet* passes) {
  FileByteSource source(path);
  StateReader reader(source, "strellix: " + path);
  const StateHeader& header = reader.header();
  if (passes != nullptr && passes->numerics != header.parameters.numerics) {
    throw std::runtime_error("strellix: " + path + ": a state of the " +
                             numerics_name(header.parameters.numerics) + " numerics, not of the " +
                             numerics_name(passes->numerics));
  }
  std::unique_ptr<Engine> engine(
      new Engine(header.parameters, passes != nullptr ? *passes : choose_passes(header.parameters)));
  check_model_size(header.parameters, header.width, header.height);
  // A plain grey seed gives every buffer its size; the tables read next
  // replace everything the seed set.
  engine->initialize_background(cv::Mat(header.height, header.width, CV_8UC3, cv::Scalar::all(0)));
  if (engine->fast_) {
    engine->load_fast(reader);
    return engine;
  }
  Model& m = *engine->model_;
  reader.read_tables(state_buffers(m));
  m.frames_applied = header.frames_applied;
  return engine;
}

}  // namespace strellix
