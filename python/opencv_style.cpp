#include "opencv_style.h"

#include <pybind11/numpy.h>

#include <memory>
#include <mutex>
#include <string>

#include "frame_arrays.h"
#include "locked_call.h"
#include "parameter_args.h"
#include "strellix/opencv.hpp"

namespace strellix_python {

namespace {

using strellix::BackgroundSubtractorStrellix;

// An array the result can be written into in place, as cv2 writes into an
// output array of the right shape and type; anything else gets a new
// array, again as cv2 does.
bool fits(const py::object& given, const std::vector<py::ssize_t>& shape) {
  if (given.is_none() || !py::isinstance<py::array_t<unsigned char>>(given)) return false;
  const py::array array = py::reinterpret_borrow<py::array>(given);
  if (array.dtype().kind() != 'u' || array.itemsize() != 1) return false;
  if (array.ndim() != static_cast<py::ssize_t>(shape.size())) return false;
  for (std::size_t k = 0; k < shape.size(); ++k)
    if (array.shape(static_cast<py::ssize_t>(k)) != shape[k]) return false;
  const int flags = array.flags();
  return (flags & py::array::c_style) != 0 && (flags & py::detail::npy_api::NPY_ARRAY_WRITEABLE_) != 0;
}

// A BackgroundSubtractorStrellix that Python threads may share.
class SharedBackgroundSubtractor {
 public:
  explicit SharedBackgroundSubtractor(const strellix::Parameters& parameters)
      : subtractor_(strellix::createBackgroundSubtractor(parameters)) {}

  template <class Call>
  auto locked(Call call) -> decltype(call(std::declval<BackgroundSubtractorStrellix&>())) {
    return locked_call(mutex_, *subtractor_, call);
  }

  py::object apply(const py::object& image, const py::object& fgmask, double learning_rate) {
    const FrameView view = view_frame(image, "image");
    const int rows = view.mat.rows, cols = view.mat.cols;
    py::object result = fgmask;
    cv::Mat into;
    if (fits(fgmask, {rows, cols})) {
      into = cv::Mat(rows, cols, CV_8UC1, py::reinterpret_borrow<py::array>(fgmask).mutable_data());
    } else {
      MaskBuffer fresh = new_mask(rows, cols);
      into = fresh.mat;
      result = std::move(fresh.array);
    }
    unsigned char* const memory = into.data;
    locked([&](BackgroundSubtractorStrellix& s) { s.apply(view.mat, into, learning_rate); });
    // A mask of the right size and type is written in place; should the
    // library ever make its own, that one is handed out instead.
    return into.data == memory ? result : py::object(array_of(into));
  }

  py::object background(const py::object& given) {
    cv::Mat image;
    locked([&](BackgroundSubtractorStrellix& s) { s.getBackgroundImage(image); });
    if (image.empty()) return py::none();
    if (!fits(given, {image.rows, image.cols, 3})) return array_of(image);
    py::array array = py::reinterpret_borrow<py::array>(given);
    image.copyTo(cv::Mat(image.rows, image.cols, CV_8UC3, array.mutable_data()));
    return given;
  }

 private:
  std::mutex mutex_;
  cv::Ptr<BackgroundSubtractorStrellix> subtractor_;
};

using Class = py::class_<SharedBackgroundSubtractor>;

// getX() and setX(value) for one parameter; whole numbers beyond C's int
// are refused with the parameter's name, as the constructor does.
template <class Value, class Given>
void def_parameter(Class& c, const std::string& name, const char* parameter,
                   Value (BackgroundSubtractorStrellix::*get)() const,
                   void (BackgroundSubtractorStrellix::*set)(Value)) {
  c.def(("get" + name).c_str(), [get](SharedBackgroundSubtractor& s) {
    return s.locked([&](BackgroundSubtractorStrellix& b) { return (b.*get)(); });
  });
  c.def(("set" + name).c_str(),
        [set, parameter](SharedBackgroundSubtractor& s, Given given) {
          Value value;
          if constexpr (std::is_same<Value, int>::value)
            value = int_parameter(parameter, given);
          else
            value = given;
          s.locked([&](BackgroundSubtractorStrellix& b) { (b.*set)(value); });
        },
        py::arg("value"));
}

// cv::Exceptions of the subtractor as the module's Python exceptions, with
// the library's own message.
void translate_cv_errors() {
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const cv::Exception& e) {
      PyObject* type = PyExc_RuntimeError;
      if (e.code == cv::Error::StsBadArg || e.code == cv::Error::StsOutOfRange) type = PyExc_ValueError;
      if (e.code == cv::Error::StsNoMem) type = PyExc_MemoryError;
      PyErr_SetString(type, e.err.c_str());
    }
  });
}

const char* const class_doc = R"(The layered background model with the calls of cv2's background subtractors.

Made by strellix.createBackgroundSubtractor(**parameters). Code written
for cv2.createBackgroundSubtractorMOG2() runs with it:

    bs = strellix.createBackgroundSubtractor()
    fg = bs.apply(frame)                  # or bs.apply(frame, fgmask, learningRate)
    bg = bs.getBackgroundImage()

Cold start: the model is seeded by the temporal median of its first
getMedianFrames() frames (100 unless set), which are kept and answered with
black masks; at the last of them the model is seeded and taught by all of
them in turn, and from then on every frame is segmented at once. The masks
are those of `strellix segment --cold-start` with the same parameters.

Parameters (getX()/setX(value)): Layers, Width1D, Width2D, Threshold,
LearningRate, MedianFrames, Threads, ShadowValue, PostMedian, Numerics; see
strellix.Subtractor for their meaning. Once the subtractor has taken a frame
a setter that would change a parameter raises RuntimeError; clear() drops
the model and the frames kept.

Errors: TypeError for a frame that is not a uint8/uint16 array, ValueError
for a frame or value that cannot be used (another size than the model's:
clear() first), RuntimeError for a call out of order, MemoryError. The
subtractor is unchanged by a call that raises. Calls release the GIL.)";

}  // namespace

void add_opencv_style(py::module_& m) {
  translate_cv_errors();
  Class c(m, "BackgroundSubtractorStrellix", class_doc);
  c.def("apply", &SharedBackgroundSubtractor::apply, py::arg("image"), py::arg("fgmask") = py::none(),
        py::arg("learningRate") = -1.0,
        R"(Segments the next frame; returns its mask, HxW uint8: 255 on moving
objects, getShadowValue() on shadow, 0 on background (black during the cold
start). An fgmask of that shape and dtype (C-contiguous) is written and
returned; otherwise a new array is. learningRate: negative the configured
rate; 0 segments the frame and leaves the model as it was; up to 1 this
frame learns as with that rate configured (1 is not a new start: clear()
is).)");
  c.def("getBackgroundImage", &SharedBackgroundSubtractor::background,
        py::arg("backgroundImage") = py::none(),
        "The model as an HxWx3 uint8 BGR picture (during the cold start the median of the frames\n"
        "kept so far); None before the first frame. A backgroundImage of that shape is written and\n"
        "returned.");
  def_parameter<int, long long>(c, "Layers", "layers", &BackgroundSubtractorStrellix::getLayers,
                                &BackgroundSubtractorStrellix::setLayers);
  def_parameter<int, long long>(c, "Width1D", "width_1d", &BackgroundSubtractorStrellix::getWidth1D,
                                &BackgroundSubtractorStrellix::setWidth1D);
  def_parameter<int, long long>(c, "Width2D", "width_2d", &BackgroundSubtractorStrellix::getWidth2D,
                                &BackgroundSubtractorStrellix::setWidth2D);
  def_parameter<double, double>(c, "Threshold", "threshold", &BackgroundSubtractorStrellix::getThreshold,
                                &BackgroundSubtractorStrellix::setThreshold);
  def_parameter<double, double>(c, "LearningRate", "learning_rate",
                                &BackgroundSubtractorStrellix::getLearningRate,
                                &BackgroundSubtractorStrellix::setLearningRate);
  def_parameter<int, long long>(c, "MedianFrames", "median_frames",
                                &BackgroundSubtractorStrellix::getMedianFrames,
                                &BackgroundSubtractorStrellix::setMedianFrames);
  def_parameter<int, long long>(c, "Threads", "threads", &BackgroundSubtractorStrellix::getThreads,
                                &BackgroundSubtractorStrellix::setThreads);
  def_parameter<int, long long>(c, "ShadowValue", "shadow_value",
                                &BackgroundSubtractorStrellix::getShadowValue,
                                &BackgroundSubtractorStrellix::setShadowValue);
  def_parameter<int, long long>(c, "PostMedian", "post_median", &BackgroundSubtractorStrellix::getPostMedian,
                                &BackgroundSubtractorStrellix::setPostMedian);
  // The numeric mode by its name, as the constructor takes it.
  c.def("getNumerics", [](SharedBackgroundSubtractor& s) {
    return s.locked([](BackgroundSubtractorStrellix& b) {
      return std::string(strellix::numerics_name(b.getNumerics()));
    });
  });
  c.def(
      "setNumerics",
      [](SharedBackgroundSubtractor& s, const std::string& name) {
        const strellix::Numerics numerics = strellix::numerics_named(name);
        s.locked([&](BackgroundSubtractorStrellix& b) { b.setNumerics(numerics); });
      },
      py::arg("value"));
  c.def(
      "clear",
      [](SharedBackgroundSubtractor& s) { s.locked([](BackgroundSubtractorStrellix& b) { b.clear(); }); },
      "Drops the model and the frames kept: the next frame starts again (the parameters stay).");
  c.def("empty", [](SharedBackgroundSubtractor& s) {
    return s.locked([](BackgroundSubtractorStrellix& b) { return b.empty(); });
  });
  c.def("getDefaultName", [](SharedBackgroundSubtractor& s) {
    return s.locked([](BackgroundSubtractorStrellix& b) { return std::string(b.getDefaultName()); });
  });

  def_with_parameters(
      m, "createBackgroundSubtractor",
      [](const strellix::Parameters& p) {
        return std::unique_ptr<SharedBackgroundSubtractor>(new SharedBackgroundSubtractor(p));
      },
      "A new BackgroundSubtractorStrellix with these parameters (those of strellix.Subtractor).\n"
      "Raises ValueError for a parameter out of its range.");
}

}  // namespace strellix_python
