// The public face of the engine: strellix::Subtractor and its helpers.
#include <stdexcept>
#include <utility>

#include "core/frame_input.h"
#include "engine/engine.h"
#include "strellix/strellix.hpp"

#ifndef STRELLIX_VERSION
#define STRELLIX_VERSION "0.0.0"
#endif

namespace strellix {

const char* version() {
  return STRELLIX_VERSION;
}

struct PreparedFrame::Data {
  ReadyFrame frame;
  cv::Size size;
  bool ready = false;
};

PreparedFrame::PreparedFrame() : data_(new Data) {}
PreparedFrame::~PreparedFrame() = default;
PreparedFrame::PreparedFrame(PreparedFrame&& other) noexcept = default;
PreparedFrame& PreparedFrame::operator=(PreparedFrame&& other) noexcept = default;
bool PreparedFrame::ready() const {
  return data_ && data_->ready;
}

// The engine of a new subtractor: every parameter checked, the passes
// chosen where the pass table chooses them.
static std::unique_ptr<Engine> new_engine(const Parameters& parameters) {
  const PassSet& passes = choose_passes(parameters);
  validate(parameters);
  return std::make_unique<Engine>(parameters, passes);
}

Subtractor::Subtractor(const Parameters& parameters) : engine_(new_engine(parameters)) {}

Subtractor::Subtractor(std::unique_ptr<Engine> engine) : engine_(std::move(engine)) {}

Subtractor::~Subtractor() = default;

// A subtractor whose engine moved to another one has nothing to work on.
static Engine& engine_of(const std::unique_ptr<Engine>& engine) {
  if (!engine) throw std::logic_error("strellix: this Subtractor was moved from");
  return *engine;
}
Subtractor::Subtractor(Subtractor&& other) noexcept = default;
Subtractor& Subtractor::operator=(Subtractor&& other) noexcept = default;

void Subtractor::initialize(const std::vector<cv::Mat>& frames) {
  engine_of(engine_).initialize(frames);
}

void Subtractor::initialize_background(const cv::Mat& background) {
  engine_of(engine_).initialize_background(background);
}

void Subtractor::apply(const cv::Mat& frame, cv::Mat& mask) {
  apply(frame, mask, -1.0);
}

void Subtractor::apply(const cv::Mat& frame, cv::Mat& mask, double learning_rate) {
  engine_of(engine_).apply(frame, learning_rate);
  engine_of(engine_).mask(mask);
}

void Subtractor::prepare(const cv::Mat& frame, PreparedFrame& into) const {
  const Engine& engine = engine_of(engine_);
  if (!into.data_) into.data_.reset(new PreparedFrame::Data);
  const cv::Mat bgr = require_bgr8(frame, "frame");
  into.data_->ready = false;
  engine.prepare(bgr, into.data_->frame);
  into.data_->size = bgr.size();
  into.data_->ready = true;
}

void Subtractor::apply(PreparedFrame& frame, cv::Mat& mask) {
  apply(frame, mask, -1.0);
}

void Subtractor::apply(PreparedFrame& frame, cv::Mat& mask, double learning_rate) {
  Engine& engine = engine_of(engine_);
  if (!frame.ready()) throw std::invalid_argument("strellix: apply() was given a frame that is not prepared");
  if (frame.data_->size != cv::Size(engine.width(), engine.height()))
    throw std::invalid_argument("strellix: the prepared frame is of another size than the model");
  engine.apply(frame.data_->frame, learning_rate);
  frame.data_->ready = false;
  engine.mask(mask);
}

cv::Mat Subtractor::background() const {
  return engine_of(engine_).background();
}

void Subtractor::save(const std::string& path) const {
  engine_of(engine_).save(path);
}

void Subtractor::save(const std::function<bool(const unsigned char* data, std::size_t size)>& write) const {
  engine_of(engine_).save(write);
}

Subtractor Subtractor::load(const std::string& path) {
  return Subtractor(Engine::load(path));
}

Subtractor Subtractor::load(const std::string& path, Numerics numerics) {
  Parameters mode;
  mode.numerics = numerics;
  return Subtractor(Engine::load(path, &choose_passes(mode)));
}

const Parameters& Subtractor::parameters() const {
  return engine_of(engine_).parameters();
}
bool Subtractor::initialized() const {
  return engine_of(engine_).initialized();
}
cv::Size Subtractor::frame_size() const {
  return cv::Size(engine_of(engine_).width(), engine_of(engine_).height());
}
long long Subtractor::frames_applied() const {
  return engine_of(engine_).frames_applied();
}
std::string Subtractor::implementation() const {
  return engine_of(engine_).passes().name;
}

}  // namespace strellix
