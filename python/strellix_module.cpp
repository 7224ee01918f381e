// The Python module `strellix`: a Subtractor that takes numpy frames and
// gives numpy masks, beside OpenCV's own subtractors in cv2.
//
// Errors become Python exceptions: a wrong type TypeError, a value out of
// range or a frame the model cannot take ValueError, a call out of order or
// a state file that cannot be written or read RuntimeError, memory
// MemoryError. The model is unchanged by a call that raises.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "shared_subtractor.h"
#include "strellix/strellix.hpp"

namespace py = pybind11;
using strellix_python::SharedSubtractor;

namespace {

// Python ints of any size arrive here, so that a value beyond C's int is
// refused with the parameter's name rather than as a failed overload.
int int_parameter(const char* name, long long value) {
  if (value < INT_MIN || value > INT_MAX) {
    throw py::value_error(std::string("strellix: ") + name + " = " + std::to_string(value) +
                          " is out of range");
  }
  return static_cast<int>(value);
}

std::unique_ptr<SharedSubtractor> make_subtractor(long long layers, long long width_1d, long long width_2d,
                                                  double threshold, double learning_rate,
                                                  long long median_frames, long long threads) {
  strellix::Parameters p;
  p.layers = int_parameter("layers", layers);
  p.width_1d = int_parameter("width_1d", width_1d);
  p.width_2d = int_parameter("width_2d", width_2d);
  p.threshold = threshold;
  p.learning_rate = learning_rate;
  p.median_frames = int_parameter("median_frames", median_frames);
  p.threads = int_parameter("threads", threads);
  return std::unique_ptr<SharedSubtractor>(new SharedSubtractor(p));
}

// A str, bytes or os.PathLike as the bytes the file system sees; a name
// with a NUL byte would name another file, so it is refused as open() does.
std::string path_of(py::handle path) {
  const std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  if (bytes.find('\0') != std::string::npos) throw py::value_error("strellix: embedded null byte in path");
  return bytes;
}

std::string number_text(double value) {
  return py::repr(py::float_(value)).cast<std::string>();
}

std::string repr_of(SharedSubtractor& s) {
  const strellix::Parameters& p = s.parameters();
  std::ostringstream text;
  text << "<strellix.Subtractor layers=" << p.layers << " width_1d=" << p.width_1d
       << " width_2d=" << p.width_2d << " threshold=" << number_text(p.threshold)
       << " learning_rate=" << number_text(p.learning_rate) << " median_frames=" << p.median_frames
       << " threads=" << p.threads;
  if (s.initialized()) {
    const std::pair<int, int> size = s.frame_size();
    text << ": " << size.first << "x" << size.second << ", " << s.frames_applied() << " frames applied";
  } else {
    text << ": not initialized";
  }
  text << ">";
  return text.str();
}

const char* const module_doc = R"(Background subtraction with a layered background model.

    import cv2, strellix
    s = strellix.Subtractor(median_frames=50)
    s.initialize(first_frames)      # HxWx3 uint8 BGR arrays: their temporal median seeds the model
    for frame in frames:            # the first frames again, then the rest
        mask = s.apply(frame)       # HxW uint8: 255 on moving objects, 0 elsewhere
    bg = s.background()             # HxWx3 uint8 BGR picture of the model

The masks are those the Strellixplus program writes for the same frames and
switches.)";

// The class's help, with the library's defaults and ranges written in.
std::string class_doc() {
  const strellix::Parameters d;
  namespace r = strellix::ranges;
  std::ostringstream text;
  text << R"(A background model that turns frames into masks of moving objects.

For every pixel the model keeps `layers` candidate background colours.
initialize() seeds them with the temporal median of the first frames (or
initialize_background() with a given image); apply() then segments each
frame, from the first of the sequence on: the first mask after seeding is
black, the next layers - 1 frames calibrate the model, every later frame is
segmented and teaches the model where it stays background.

Frames are numpy arrays of dtype uint8, shape HxWx3 (BGR, as cv2 gives
them), HxW (grey) or HxWx4 (BGRA, alpha dropped); uint16 arrays count by
their high byte. Any strides are accepted: packed rows are read in place,
other layouts are copied first.

Parameters (readable as attributes):
)"
       << "  layers         candidate background colours per pixel, at least " << r::layers.least
       << " (default " << d.layers << ")\n"
       << "  width_1d       half-width of the update across layers, " << r::width_1d.least << " to "
       << r::width_1d.most << " (default " << d.width_1d << ")\n"
       << "  width_2d       half-width of the update's image neighbourhood, " << r::width_2d.least << " to "
       << r::width_2d.most << " (default " << d.width_2d << ")\n"
       << "  threshold      segmentation threshold, a squared distance, " << r::threshold.least << " to "
       << r::threshold.most << " (default " << d.threshold << ")\n"
       << "  learning_rate  " << r::learning_rate.least << " to " << r::learning_rate.most << " (default "
       << d.learning_rate << ")\n"
       << "  median_frames  frames whose median initialize() takes, at least " << r::median_frames.least
       << " (default " << d.median_frames << ")\n"
       << "  threads        worker threads, 0 = one per core, up to " << r::threads.most << " (default "
       << d.threads << ")\n"
       << R"(
apply() releases the GIL: subtractors in several Python threads run in
parallel. One subtractor shared by threads serves one call at a time.)";
  return text.str();
}

}  // namespace

PYBIND11_MODULE(strellix, m) {
  m.doc() = module_doc;
  m.attr("__version__") = strellix::version();

  // The class's help must outlive the module's definition.
  static const std::string class_help = class_doc();
  const strellix::Parameters d;
  py::class_<SharedSubtractor>(m, "Subtractor", class_help.c_str())
      .def(py::init(&make_subtractor), py::kw_only(), py::arg("layers") = d.layers,
           py::arg("width_1d") = d.width_1d, py::arg("width_2d") = d.width_2d,
           py::arg("threshold") = d.threshold, py::arg("learning_rate") = d.learning_rate,
           py::arg("median_frames") = d.median_frames, py::arg("threads") = d.threads,
           "Raises ValueError for a parameter out of its range, or a threshold or learning rate that\n"
           "is not a finite number.")
      .def("initialize", &SharedSubtractor::initialize, py::arg("frames"),
           R"(Seeds the model with the per-pixel temporal median of the first
median_frames frames (all of them when fewer are given) and starts a new
sequence: the next apply() is its first frame.

frames: a list, any iterable, or an array of shape NxHxWx3; iteration stops
after median_frames frames. All must have one size, which becomes the
model's. Raises TypeError or ValueError for a frame that cannot be used,
and the model is then unchanged.)")
      .def("initialize_background", &SharedSubtractor::initialize_background, py::arg("image"),
           "Seeds the model with a given background image (its size becomes the model's) and\n"
           "starts a new sequence.")
      .def("apply", &SharedSubtractor::apply, py::arg("frame"),
           R"(Segments the next frame and lets its background teach the model.

Returns a new HxW uint8 array: 255 on moving objects, 0 on background and
shadow. Raises TypeError for a frame that is not a uint8/uint16 array,
ValueError for another shape or size than the model's, RuntimeError before
initialization; the model is then unchanged. Releases the GIL.)")
      .def("background", &SharedSubtractor::background,
           "The model as an HxWx3 uint8 BGR picture: per pixel the layer nearest to the last\n"
           "frame applied. RuntimeError before initialization.")
      .def(
          "save", [](SharedSubtractor& s, const py::object& path) { s.save(path_of(path)); }, py::arg("path"),
          "Writes the whole state to one versioned file with a checksum (it appears complete or\n"
          "not at all). RuntimeError when it cannot be written or before initialization.")
      .def_static(
          "load", [](const py::object& path) { return SharedSubtractor::load(path_of(path)); },
          py::arg("path"),
          "A new Subtractor in the state save() wrote: the same frames give the same masks.\n"
          "RuntimeError for a file that is missing, truncated, damaged, foreign or newer.")
      .def_property_readonly("layers", [](const SharedSubtractor& s) { return s.parameters().layers; })
      .def_property_readonly("width_1d", [](const SharedSubtractor& s) { return s.parameters().width_1d; })
      .def_property_readonly("width_2d", [](const SharedSubtractor& s) { return s.parameters().width_2d; })
      .def_property_readonly("threshold", [](const SharedSubtractor& s) { return s.parameters().threshold; })
      .def_property_readonly("learning_rate",
                             [](const SharedSubtractor& s) { return s.parameters().learning_rate; })
      .def_property_readonly("median_frames",
                             [](const SharedSubtractor& s) { return s.parameters().median_frames; })
      .def_property_readonly("threads", [](const SharedSubtractor& s) { return s.parameters().threads; })
      .def_property_readonly("initialized", &SharedSubtractor::initialized,
                             "True once initialize() or initialize_background() has seeded the model.")
      .def_property_readonly("frame_size", &SharedSubtractor::frame_size,
                             "(width, height) of the model, (0, 0) before initialization.")
      .def_property_readonly("frames_applied", &SharedSubtractor::frames_applied,
                             "Frames applied since the model was seeded.")
      .def_property_readonly("implementation", &SharedSubtractor::implementation,
                             "Which build of the passes runs: 'reference', 'baseline' or 'avx2' (all give "
                             "the same masks).")
      .def("__repr__", &repr_of);
}
