#include "parameter_args.h"

#include <climits>
#include <string>

namespace strellix_python {

// Python ints of any size arrive here, so that a value beyond C's int is
// refused with the parameter's name rather than as a failed overload.
int int_parameter(const char* name, long long value) {
  if (value < INT_MIN || value > INT_MAX) {
    throw py::value_error(std::string("strellix: ") + name + " = " + std::to_string(value) +
                          " is out of range");
  }
  return static_cast<int>(value);
}

}  // namespace strellix_python
