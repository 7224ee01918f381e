// A Subtractor that Python threads may share. Every call drops the GIL
// before it takes the instance's own lock: other Python threads run while
// a frame is processed, two calls on one instance wait for each other, and
// no thread ever holds the lock while it waits for the GIL.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "locked_call.h"
#include "strellix/strellix.hpp"

namespace strellix_python {

namespace py = pybind11;

class SharedSubtractor {
 public:
  // std::invalid_argument (ValueError) for parameters out of range.
  explicit SharedSubtractor(const strellix::Parameters& parameters);
  // std::runtime_error (RuntimeError) for a file load() refuses.
  static std::unique_ptr<SharedSubtractor> load(const std::string& path);
  // The same, refusing a state of another numeric mode.
  static std::unique_ptr<SharedSubtractor> load(const std::string& path, strellix::Numerics numerics);

  // Fixed at construction, so read without the lock.
  const strellix::Parameters& parameters() const { return parameters_; }

  // Any iterable of frames; only the first median_frames are taken (and
  // looked at), so a generator over a whole video is read no further.
  void initialize(const py::object& frames);
  void initialize_background(const py::object& image);
  py::array apply(const py::object& frame, double learning_rate);
  py::array background();
  void save(const std::string& path);

  bool initialized();
  std::pair<int, int> frame_size();  // (width, height), (0, 0) before initialization
  long long frames_applied();
  std::string implementation();

 private:
  explicit SharedSubtractor(strellix::Subtractor&& loaded);

  // Runs call(subtractor_) without the GIL and under the lock.
  template <class Call>
  auto locked(Call call) -> decltype(call(std::declval<strellix::Subtractor&>())) {
    return locked_call(mutex_, subtractor_, call);
  }

  strellix::Parameters parameters_;
  std::mutex mutex_;
  strellix::Subtractor subtractor_;
};

}  // namespace strellix_python
