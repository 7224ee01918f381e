// numpy arrays and cv::Mat: frames in as headers over the caller's memory
// where the layout allows, masks and renderings out without a copy.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <opencv2/core.hpp>

#include <string>

namespace strellix_python {

namespace py = pybind11;

// A frame as the library reads it, and the array whose memory it views:
// the caller's own, or a packed copy when its layout has no cv::Mat header.
// The array must outlive every use of `mat`.
struct FrameView {
  py::object owner;
  cv::Mat mat;
};

// Views `object` (a uint8 or uint16 array of shape HxW, HxWx1, HxWx3 or
// HxWx4) as a cv::Mat. Raises TypeError for anything but such an array
// and ValueError for another shape or an empty one; `what` names the
// argument in the message ("frame", "frame 3 of initialize()", ...).
FrameView view_frame(py::handle object, const std::string& what);

// A new C-contiguous HxW uint8 array, and a CV_8UC1 header over it that
// the library can write the mask into.
struct MaskBuffer {
  py::array_t<unsigned char> array;
  cv::Mat mat;
};
MaskBuffer new_mask(int rows, int cols);

// An 8-bit cv::Mat as an array of shape HxW or HxWxC that shares its pixels
// and keeps them alive.
py::array array_of(const cv::Mat& image);

}  // namespace strellix_python
