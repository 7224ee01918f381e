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
#include <optional>
#include <sstream>
#include <string>

#include "opencv_style.h"
#include "parameter_args.h"
#include "shared_subtractor.h"
#include "strellix/strellix.hpp"

namespace py = pybind11;
using strellix_python::SharedSubtractor;

namespace {

std::unique_ptr<SharedSubtractor> make_subtractor(const strellix::Parameters& p) {
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
       << " threads=" << p.threads << " numerics=" << strellix::numerics_name(p.numerics);
  // The mask options, which change no model, only when they are set.
  if (p.shadow_value != 0) text << " shadow_value=" << p.shadow_value;
  if (p.post_median != 0) text << " post_median=" << p.post_median;
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
switches.

createBackgroundSubtractor() gives the same model with the calls of cv2's
subtractors (apply, getBackgroundImage, getters and setters), started by
its first frames: code written for cv2.createBackgroundSubtractorMOG2()
runs with it.)";

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
       << "  shadow_value   the masks' value on shadow, " << r::shadow_value.least << " to "
       << r::shadow_value.most << " (default " << d.shadow_value
       << ": shadow is background;\n                 127 marks it as cv2's subtractors do)\n"
       << "  post_median    a k x k median filter of the masks, k odd from 3 to " << r::post_median.most
       << ", or 0 for\n                 none (default " << d.post_median
       << "); shadow is marked where the filtered\n                 mask is not moving\n"
       << "  numerics       '" << r::numerics[0] << "' (the same masks on every machine and build) or '"
       << r::numerics[1] << "' (32-bit floats, data-parallel passes: several times faster, masks\n"
       << "                 within a measured distance of the exact ones; layers at most "
       << r::fast_layers.most << ") (default '" << strellix::numerics_name(d.numerics) << "')\n"
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
  py::class_<SharedSubtractor> subtractor(m, "Subtractor", class_help.c_str());
  strellix_python::def_init_with_parameters(
      subtractor, &make_subtractor,
      "Raises ValueError for a parameter out of its range, a threshold or learning rate that\n"
      "is not a finite number, or numerics that is neither 'exact' nor 'fast'.");
  subtractor
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
      .def("apply", &SharedSubtractor::apply, py::arg("frame"), py::arg("learning_rate") = -1.0,
           R"(Segments the next frame and lets its background teach the model.

Returns a new HxW uint8 array: 255 on moving objects, shadow_value on
shadow, 0 on background. learning_rate for this frame alone: negative the
configured one; 0 segments the frame and changes nothing a later frame
reads (nor frames_applied); up to 1 the frame learns as with that rate
configured. Raises TypeError for a frame that is not a uint8/uint16 array,
ValueError for another shape or size than the model's or a rate above 1,
RuntimeError before initialization (call initialize() or
initialize_background() first); the model is then unchanged. Releases the
GIL.)")
      .def("background", &SharedSubtractor::background,
           "The model as an HxWx3 uint8 BGR picture: per pixel the layer nearest to the last\n"
           "frame applied. RuntimeError before initialization.")
      .def(
          "save", [](SharedSubtractor& s, const py::object& path) { s.save(path_of(path)); }, py::arg("path"),
          "Writes the whole state to one versioned file with a checksum (it appears complete or\n"
          "not at all). RuntimeError when it cannot be written or before initialization.")
      .def_static(
          "load",
          [](const py::object& path, const std::optional<std::string>& numerics) {
            if (!numerics) return SharedSubtractor::load(path_of(path));
            return SharedSubtractor::load(path_of(path), strellix::numerics_named(*numerics));
          },
          py::arg("path"), py::kw_only(), py::arg("numerics") = py::none(),
          "A new Subtractor in the state save() wrote, in the numerics it was saved in: the same\n"
          "frames give the same masks. With numerics='exact' or 'fast', a state of the other mode\n"
          "is refused. RuntimeError for a file that is missing, truncated, damaged, foreign, newer\n"
          "or of the other mode.")
      .def_property_readonly("layers", [](const SharedSubtractor& s) { return s.parameters().layers; })
      .def_property_readonly("width_1d", [](const SharedSubtractor& s) { return s.parameters().width_1d; })
      .def_property_readonly("width_2d", [](const SharedSubtractor& s) { return s.parameters().width_2d; })
      .def_property_readonly("threshold", [](const SharedSubtractor& s) { return s.parameters().threshold; })
      .def_property_readonly("learning_rate",
                             [](const SharedSubtractor& s) { return s.parameters().learning_rate; })
      .def_property_readonly("median_frames",
                             [](const SharedSubtractor& s) { return s.parameters().median_frames; })
      .def_property_readonly("threads", [](const SharedSubtractor& s) { return s.parameters().threads; })
      .def_property_readonly("shadow_value",
                             [](const SharedSubtractor& s) { return s.parameters().shadow_value; })
      .def_property_readonly("post_median",
                             [](const SharedSubtractor& s) { return s.parameters().post_median; })
      .def_property_readonly(
          "numerics",
          [](const SharedSubtractor& s) { return strellix::numerics_name(s.parameters().numerics); })
      .def_property_readonly("initialized", &SharedSubtractor::initialized,
                             "True once initialize() or initialize_background() has seeded the model.")
      .def_property_readonly("frame_size", &SharedSubtractor::frame_size,
                             "(width, height) of the model, (0, 0) before initialization.")
      .def_property_readonly("frames_applied", &SharedSubtractor::frames_applied,
                             "Frames applied since the model was seeded.")
      .def_property_readonly("implementation", &SharedSubtractor::implementation,
                             "Which build of the passes runs: 'reference', 'baseline' or 'avx2' (exact "
                             "numerics), 'fast-serial', 'fast-baseline' or 'fast-avx2' (fast numerics); "
                             "within a mode all give the same masks.")
      .def("__repr__", &repr_of);

  strellix_python::add_opencv_style(m);
}
