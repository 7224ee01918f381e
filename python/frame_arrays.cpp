#include "frame_arrays.h"

#include <climits>
#include <memory>
#include <vector>

namespace strellix_python {

namespace {

std::string shape_text(const py::array& array) {
  return py::str(array.attr("shape")).cast<std::string>();
}

std::string type_name(py::handle object) {
  return py::str(py::type::handle_of(object).attr("__name__")).cast<std::string>();
}

// Bytes from one element to the next along `axis`; along an axis of length
// one the stride is never used, so it is reported as the packed one.
py::ssize_t stride_or(const py::array& array, int axis, py::ssize_t packed) {
  return array.shape(axis) == 1 ? packed : array.strides(axis);
}

// numpy writes the machine's own byte order as '=' (or '|' for bytes).
bool byte_swapped(const py::dtype& dtype) {
  return dtype.byteorder() == '<' || dtype.byteorder() == '>';
}

// True when cv::Mat can describe the array as it lies in memory: samples of
// a pixel adjacent, pixels of a row adjacent, rows at a positive step that
// does not overlap and keeps the samples aligned.
bool has_mat_layout(const py::array& array, int channels) {
  const py::ssize_t sample = array.itemsize();
  const py::ssize_t pixel = sample * channels;
  const py::ssize_t row = pixel * array.shape(1);
  if (array.ndim() == 3 && stride_or(array, 2, sample) != sample) return false;
  if (stride_or(array, 1, pixel) != pixel) return false;
  const py::ssize_t step = stride_or(array, 0, row);
  const bool aligned = (array.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0;
  return step >= row && step % sample == 0 && aligned;
}

// A C-contiguous copy in the machine's byte order, for layouts a header
// cannot describe (negative or interleaved strides, column-major order,
// unaligned or byte-swapped samples).
py::array packed_copy(const py::array& array) {
  constexpr int packed = py::array::c_style | py::array::forcecast | py::detail::npy_api::NPY_ARRAY_ALIGNED_;
  if (array.itemsize() == 1) return py::array_t<unsigned char, packed>(array);
  return py::array_t<unsigned short, packed>(array);
}

}  // namespace

FrameView view_frame(py::handle object, const std::string& what) {
  if (!py::isinstance<py::array>(object)) {
    throw py::type_error("strellix: the " + what + " must be a numpy array, not " + type_name(object));
  }
  py::array array = py::reinterpret_borrow<py::array>(object);
  const py::dtype dtype = array.dtype();
  if (dtype.kind() != 'u' || (dtype.itemsize() != 1 && dtype.itemsize() != 2)) {
    throw py::type_error("strellix: the " + what + " has dtype " + dtype.attr("name").cast<std::string>() +
                         "; uint8 (or uint16, of which the high byte counts) is expected");
  }
  const int ndim = static_cast<int>(array.ndim());
  const py::ssize_t channels = ndim == 3 ? array.shape(2) : 1;
  if ((ndim != 2 && ndim != 3) || (channels != 1 && channels != 3 && channels != 4)) {
    throw py::value_error("strellix: the " + what + " has shape " + shape_text(array) +
                          "; HxW (grey), HxWx3 (BGR) or HxWx4 (BGRA) is expected");
  }
  if (array.shape(0) == 0 || array.shape(1) == 0) {
    throw py::value_error("strellix: the " + what + " is empty (shape " + shape_text(array) + ")");
  }
  if (array.shape(0) > INT_MAX || array.shape(1) > INT_MAX) {
    throw py::value_error("strellix: the " + what + " of shape " + shape_text(array) + " is too large");
  }
  const int c = static_cast<int>(channels);
  if (!has_mat_layout(array, c) || byte_swapped(dtype)) array = packed_copy(array);
  const int rows = static_cast<int>(array.shape(0));
  const int cols = static_cast<int>(array.shape(1));
  const int depth = array.itemsize() == 1 ? CV_8U : CV_16U;
  const auto step = static_cast<std::size_t>(stride_or(array, 0, array.itemsize() * c * cols));
  // The library only reads frames; the header is not const because cv::Mat
  // has no read-only kind.
  cv::Mat mat(rows, cols, CV_MAKETYPE(depth, c), const_cast<void*>(array.data()), step);
  return FrameView{std::move(array), mat};
}

MaskBuffer new_mask(int rows, int cols) {
  py::array_t<unsigned char> array({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
  cv::Mat mat(rows, cols, CV_8UC1, array.mutable_data());
  return MaskBuffer{std::move(array), mat};
}

py::array array_of(const cv::Mat& image) {
  CV_Assert(image.depth() == CV_8U && image.dims == 2);
  // The capsule holds a reference to the pixels for as long as the array
  // (or any view of it) lives.
  std::unique_ptr<cv::Mat> kept(new cv::Mat(image));
  py::capsule owner(kept.get(), [](void* p) { delete static_cast<cv::Mat*>(p); });
  const cv::Mat& m = *kept.release();
  std::vector<py::ssize_t> shape = {m.rows, m.cols};
  std::vector<py::ssize_t> strides = {static_cast<py::ssize_t>(m.step[0]), m.channels()};
  if (m.channels() > 1) {
    shape.push_back(m.channels());
    strides.push_back(1);
  }
  return py::array(py::dtype::of<unsigned char>(), shape, strides, m.data, owner);
}

}  // namespace strellix_python
