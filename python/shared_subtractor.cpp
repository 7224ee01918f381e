#include "shared_subtractor.h"

#include <vector>

#include "frame_arrays.h"

namespace strellix_python {

SharedSubtractor::SharedSubtractor(const strellix::Parameters& parameters)
    : parameters_(parameters), subtractor_(parameters) {}

SharedSubtractor::SharedSubtractor(strellix::Subtractor&& loaded)
    : parameters_(loaded.parameters()), subtractor_(std::move(loaded)) {}

std::unique_ptr<SharedSubtractor> SharedSubtractor::load(const std::string& path) {
  py::gil_scoped_release no_gil;
  return std::unique_ptr<SharedSubtractor>(new SharedSubtractor(strellix::Subtractor::load(path)));
}

std::unique_ptr<SharedSubtractor> SharedSubtractor::load(const std::string& path,
                                                         strellix::Numerics numerics) {
  py::gil_scoped_release no_gil;
  return std::unique_ptr<SharedSubtractor>(new SharedSubtractor(strellix::Subtractor::load(path, numerics)));
}

void SharedSubtractor::initialize(const py::object& frames) {
  if (py::isinstance<py::array>(frames) && py::reinterpret_borrow<py::array>(frames).ndim() != 4) {
    // One image would be taken as a stack of its rows.
    throw py::value_error(
        "strellix: initialize() takes a sequence of frames (a list, or an array of shape NxHxWx3), not one "
        "array of shape " +
        py::str(frames.attr("shape")).cast<std::string>() + "; initialize_background() takes a single image");
  }
  std::vector<FrameView> views;
  const auto wanted = static_cast<std::size_t>(parameters_.median_frames);
  for (py::handle frame : py::iter(frames)) {
    views.push_back(view_frame(frame, "frame " + std::to_string(views.size()) + " of initialize()"));
    if (views.size() == wanted) break;
  }
  std::vector<cv::Mat> mats;
  mats.reserve(views.size());
  for (const FrameView& v : views) mats.push_back(v.mat);
  locked([&](strellix::Subtractor& s) { s.initialize(mats); });
}

void SharedSubtractor::initialize_background(const py::object& image) {
  const FrameView view = view_frame(image, "background image");
  locked([&](strellix::Subtractor& s) { s.initialize_background(view.mat); });
}

py::array SharedSubtractor::apply(const py::object& frame, double learning_rate) {
  const FrameView view = view_frame(frame, "frame");
  MaskBuffer mask = new_mask(view.mat.rows, view.mat.cols);
  cv::Mat written = mask.mat;
  locked([&](strellix::Subtractor& s) { s.apply(view.mat, written, learning_rate); });
  // The library keeps a buffer of the right size and type; should it ever
  // make its own, that one is handed out instead.
  if (written.data != mask.mat.data) return array_of(written);
  return std::move(mask.array);
}

py::array SharedSubtractor::background() {
  const cv::Mat image = locked([](strellix::Subtractor& s) { return s.background(); });
  return array_of(image);
}

void SharedSubtractor::save(const std::string& path) {
  locked([&](strellix::Subtractor& s) { s.save(path); });
}

bool SharedSubtractor::initialized() {
  return locked([](strellix::Subtractor& s) { return s.initialized(); });
}

std::pair<int, int> SharedSubtractor::frame_size() {
  const cv::Size size = locked([](strellix::Subtractor& s) { return s.frame_size(); });
  return {size.width, size.height};
}

long long SharedSubtractor::frames_applied() {
  return locked([](strellix::Subtractor& s) { return s.frames_applied(); });
}

std::string SharedSubtractor::implementation() {
  return locked([](strellix::Subtractor& s) { return s.implementation(); });
}

}  // namespace strellix_python
