// strellix::BackgroundSubtractorStrellix: a Subtractor behind OpenCV's
// background subtractor interface, with the cold start that interface
// needs (its users never call initialize()).
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/frame_input.h"
#include "engine/engine.h"
#include "strellix/opencv.hpp"

namespace strellix {

namespace {

// OpenCV's callers catch cv::Exception; the library's own exceptions are
// carried over with their messages and the code that fits them.
template <class Call>
void as_cv_errors(const char* function, Call call) {
  try {
    call();
  } catch (const cv::Exception&) {
    throw;
  } catch (const std::invalid_argument& e) {
    cv::error(cv::Error::StsBadArg, e.what(), function, __FILE__, __LINE__);
  } catch (const std::bad_alloc&) {
    cv::error(cv::Error::StsNoMem, "strellix: not enough memory", function, __FILE__, __LINE__);
  } catch (const std::exception& e) {
    cv::error(cv::Error::StsError, e.what(), function, __FILE__, __LINE__);
  }
}

bool same_parameters(const Parameters& a, const Parameters& b) {
  return a.layers == b.layers && a.width_1d == b.width_1d && a.width_2d == b.width_2d &&
         a.threshold == b.threshold && a.learning_rate == b.learning_rate &&
         a.median_frames == b.median_frames && a.threads == b.threads && a.shadow_value == b.shadow_value &&
         a.post_median == b.post_median && a.numerics == b.numerics;
}

// Refuses parameters out of range as OpenCV does a value out of range.
void check_range(const Parameters& parameters, const char* function) {
  try {
    validate(parameters);
  } catch (const std::invalid_argument& e) {
    cv::error(cv::Error::StsOutOfRange, e.what(), function, __FILE__, __LINE__);
  }
}

// A whole number from a cv::FileStorage node, when the node is there.
void read_whole(const cv::FileNode& node, const char* name, int& into) {
  const cv::FileNode value = node[name];
  if (value.empty()) return;
  if (!value.isInt())
    cv::error(cv::Error::StsBadArg, std::string("strellix: ") + name + " must be a whole number", "read",
              __FILE__, __LINE__);
  into = static_cast<int>(value);
}

void read_real(const cv::FileNode& node, const char* name, double& into) {
  const cv::FileNode value = node[name];
  if (value.empty()) return;
  if (!value.isInt() && !value.isReal())
    cv::error(cv::Error::StsBadArg, std::string("strellix: ") + name + " must be a number", "read", __FILE__,
              __LINE__);
  into = static_cast<double>(value);
}

// A numeric mode by its name, when the node is there.
void read_numerics(const cv::FileNode& node, Numerics& into) {
  const cv::FileNode value = node["numerics"];
  if (value.empty()) return;
  try {
    if (!value.isString()) throw std::invalid_argument("strellix: numerics must be a name");
    into = numerics_named(static_cast<std::string>(value));
  } catch (const std::invalid_argument& e) {
    cv::error(cv::Error::StsBadArg, e.what(), "read", __FILE__, __LINE__);
  }
}

class StrellixSubtractor final : public BackgroundSubtractorStrellix {
 public:
  explicit StrellixSubtractor(const Parameters& parameters) : parameters_(parameters) {
    check_range(parameters_, "createBackgroundSubtractor");
  }

  void apply(cv::InputArray image, cv::OutputArray fgmask, double learningRate) override {
    as_cv_errors("apply", [&] {
      const cv::Mat frame = image.getMat();
      if (model_)
        model_->apply(frame, mask_, learningRate);
      else
        cold_start(frame, learningRate);
      if (fgmask.needed()) mask_.copyTo(fgmask);
    });
  }

  void getBackgroundImage(cv::OutputArray backgroundImage) const override {
    as_cv_errors("getBackgroundImage", [&] {
      if (model_) {
        model_->background().copyTo(backgroundImage);
      } else if (held_.empty()) {
        backgroundImage.release();
      } else {
        TemporalMedian median(static_cast<int>(held_.size()), held_[0].frame.size(), parameters_.threads);
        for (const Held& h : held_) median.add(h.frame);
        median.result().copyTo(backgroundImage);
      }
    });
  }

  int getLayers() const override { return parameters_.layers; }
  void setLayers(int v) override { set(&Parameters::layers, v, "setLayers"); }
  int getWidth1D() const override { return parameters_.width_1d; }
  void setWidth1D(int v) override { set(&Parameters::width_1d, v, "setWidth1D"); }
  int getWidth2D() const override { return parameters_.width_2d; }
  void setWidth2D(int v) override { set(&Parameters::width_2d, v, "setWidth2D"); }
  double getThreshold() const override { return parameters_.threshold; }
  void setThreshold(double v) override { set(&Parameters::threshold, v, "setThreshold"); }
  double getLearningRate() const override { return parameters_.learning_rate; }
  void setLearningRate(double v) override { set(&Parameters::learning_rate, v, "setLearningRate"); }
  int getMedianFrames() const override { return parameters_.median_frames; }
  void setMedianFrames(int v) override { set(&Parameters::median_frames, v, "setMedianFrames"); }
  int getThreads() const override { return parameters_.threads; }
  void setThreads(int v) override { set(&Parameters::threads, v, "setThreads"); }
  int getShadowValue() const override { return parameters_.shadow_value; }
  void setShadowValue(int v) override { set(&Parameters::shadow_value, v, "setShadowValue"); }
  int getPostMedian() const override { return parameters_.post_median; }
  void setPostMedian(int v) override { set(&Parameters::post_median, v, "setPostMedian"); }
  Numerics getNumerics() const override { return parameters_.numerics; }
  void setNumerics(Numerics v) override { set(&Parameters::numerics, v, "setNumerics"); }
  Parameters getParameters() const override { return parameters_; }
  void setParameters(const Parameters& p) override { change(p, "setParameters"); }

  void clear() override {
    model_.reset();
    held_.clear();
    mask_.release();
  }

  void write(cv::FileStorage& fs) const override {
    const Parameters& p = parameters_;
    writeFormat(fs);
    fs << "name" << getDefaultName() << "layers" << p.layers << "width_1d" << p.width_1d << "width_2d"
       << p.width_2d << "threshold" << p.threshold << "learning_rate" << p.learning_rate << "median_frames"
       << p.median_frames << "threads" << p.threads << "shadow_value" << p.shadow_value << "post_median"
       << p.post_median << "numerics" << numerics_name(p.numerics);
  }

  void read(const cv::FileNode& node) override {
    const cv::FileNode name = node["name"];
    if (!name.empty() && static_cast<std::string>(name) != getDefaultName())
      cv::error(cv::Error::StsBadArg,
                "strellix: these are the parameters of " + static_cast<std::string>(name) + ", not of " +
                    getDefaultName(),
                "read", __FILE__, __LINE__);
    Parameters p = parameters_;
    read_whole(node, "layers", p.layers);
    read_whole(node, "width_1d", p.width_1d);
    read_whole(node, "width_2d", p.width_2d);
    read_real(node, "threshold", p.threshold);
    read_real(node, "learning_rate", p.learning_rate);
    read_whole(node, "median_frames", p.median_frames);
    read_whole(node, "threads", p.threads);
    read_whole(node, "shadow_value", p.shadow_value);
    read_whole(node, "post_median", p.post_median);
    read_numerics(node, p.numerics);
    change(p, "read");
  }

  cv::String getDefaultName() const override { return "BackgroundSubtractor_Strellix"; }

 private:
  // A frame kept for the seed, with the learning rate it came with.
  struct Held {
    cv::Mat frame;  // 8-bit BGR, the subtractor's own copy
    double rate;
  };

  template <class Value>
  void set(Value Parameters::*field, Value value, const char* function) {
    Parameters p = parameters_;
    p.*field = value;
    change(p, function);
  }

  void change(const Parameters& wanted, const char* function) {
    if (same_parameters(wanted, parameters_)) return;
    check_range(wanted, function);
    if (model_ || !held_.empty())
      cv::error(cv::Error::StsError,
                "strellix: the parameters cannot change once the subtractor has taken frames; clear() "
                "drops the model, and they can be set again",
                function, __FILE__, __LINE__);
    parameters_ = wanted;
  }

  // Keeps the frame until median_frames are there, then seeds the model
  // and teaches it all of them, in order and each at its own rate. The
  // kept frames are untouched when the seeding fails.
  void cold_start(const cv::Mat& frame, double rate) {
    check_frame_learning_rate(rate);
    const cv::Mat bgr = require_bgr8(frame, "frame");
    if (!held_.empty() && bgr.size() != held_[0].frame.size())
      throw std::invalid_argument("strellix: the frame is " + std::to_string(bgr.cols) + "x" +
                                  std::to_string(bgr.rows) + " pixels, the frames before it " +
                                  std::to_string(held_[0].frame.cols) + "x" +
                                  std::to_string(held_[0].frame.rows));
    if (held_.empty()) check_memory(bgr.size());
    mask_.create(bgr.size(), CV_8UC1);
    mask_.setTo(0);
    if (rate == 0.0) return;  // as if never given
    held_.push_back({bgr.data == frame.data ? bgr.clone() : bgr, rate});
    if (static_cast<int>(held_.size()) < parameters_.median_frames) return;
    try {
      std::unique_ptr<Subtractor> seeded(new Subtractor(parameters_));
      std::vector<cv::Mat> frames;
      for (const Held& h : held_) frames.push_back(h.frame);
      seeded->initialize(frames);
      for (const Held& h : held_) seeded->apply(h.frame, mask_, h.rate);
      model_ = std::move(seeded);
    } catch (...) {
      held_.pop_back();
      mask_.setTo(0);
      throw;
    }
    held_.clear();
  }

  // The frames kept for the seed, its median and the model must fit in
  // the machine's memory: refused at the first frame rather than at the
  // last one.
  void check_memory(cv::Size size) const {
    const double kept = 3.0 * static_cast<double>(size.area()) * parameters_.median_frames;
    const double needed =
        static_cast<double>(estimate_memory(parameters_, size.width, size.height, true)) + kept;
    if (!fits_in_memory(needed))
      cv::error(cv::Error::StsNoMem,
                "strellix: " + std::to_string(parameters_.median_frames) + " frames of " +
                    std::to_string(size.width) + "x" + std::to_string(size.height) +
                    " for the seed and the model need more memory than the machine has; set fewer "
                    "median frames",
                "apply", __FILE__, __LINE__);
  }

  Parameters parameters_;
  std::unique_ptr<Subtractor> model_;  // null until the cold start is done
  std::vector<Held> held_;
  cv::Mat mask_;
};

}  // namespace

cv::Ptr<BackgroundSubtractorStrellix> BackgroundSubtractorStrellix::create(const Parameters& parameters) {
  return cv::makePtr<StrellixSubtractor>(parameters);
}

cv::Ptr<BackgroundSubtractorStrellix> createBackgroundSubtractor(const Parameters& parameters) {
  return BackgroundSubtractorStrellix::create(parameters);
}

}  // namespace strellix
