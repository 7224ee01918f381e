// Calls into an object that Python threads may share: the GIL is dropped
// before the object's own lock is taken, so that other Python threads run
// while a frame is processed, two calls on one object wait for each other,
// and no thread ever holds the lock while it waits for the GIL.
#pragma once

#include <pybind11/pybind11.h>

#include <mutex>

namespace strellix_python {

template <class Object, class Call>
auto locked_call(std::mutex& mutex, Object& object, Call call) -> decltype(call(object)) {
  pybind11::gil_scoped_release no_gil;
  const std::lock_guard<std::mutex> lock(mutex);
  return call(object);
}

}  // namespace strellix_python
