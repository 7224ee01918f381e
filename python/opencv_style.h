// strellix.createBackgroundSubtractor(): the library's
// BackgroundSubtractorStrellix with the calls of cv2's background
// subtractors, so that code written for cv2.createBackgroundSubtractorMOG2()
// runs with it once that call is changed.
#pragma once

#include <pybind11/pybind11.h>

namespace strellix_python {

// Adds the class BackgroundSubtractorStrellix and the function
// createBackgroundSubtractor to the module.
void add_opencv_style(pybind11::module_& module);

}  // namespace strellix_python
