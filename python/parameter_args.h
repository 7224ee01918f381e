// The keyword arguments that make a strellix::Parameters, for every
// constructor the module has: one list of names, the library's defaults,
// and whole numbers beyond C's int refused with the parameter's name.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <tuple>

#include "strellix/strellix.hpp"

namespace strellix_python {

namespace py = pybind11;

// A Python int as a C int; ValueError naming the parameter when it does
// not fit (the library's own check then names the range).
int int_parameter(const char* name, long long value);

// py::kw_only() and one py::arg per parameter, in the order of
// with_parameters' arguments, each defaulting to the library's value.
inline auto parameter_args() {
  const strellix::Parameters d;
  return std::make_tuple(py::kw_only(), py::arg("layers") = d.layers, py::arg("width_1d") = d.width_1d,
                         py::arg("width_2d") = d.width_2d, py::arg("threshold") = d.threshold,
                         py::arg("learning_rate") = d.learning_rate,
                         py::arg("median_frames") = d.median_frames, py::arg("threads") = d.threads,
                         py::arg("shadow_value") = d.shadow_value, py::arg("post_median") = d.post_median,
                         py::arg("numerics") = strellix::numerics_name(d.numerics));
}

// make(parameters) as a function of the keyword arguments above.
template <class Make>
auto with_parameters(Make make) {
  return [make](long long layers, long long width_1d, long long width_2d, double threshold,
                double learning_rate, long long median_frames, long long threads, long long shadow_value,
                long long post_median, const std::string& numerics) {
    strellix::Parameters p;
    p.layers = int_parameter("layers", layers);
    p.width_1d = int_parameter("width_1d", width_1d);
    p.width_2d = int_parameter("width_2d", width_2d);
    p.threshold = threshold;
    p.learning_rate = learning_rate;
    p.median_frames = int_parameter("median_frames", median_frames);
    p.threads = int_parameter("threads", threads);
    p.shadow_value = int_parameter("shadow_value", shadow_value);
    p.post_median = int_parameter("post_median", post_median);
    p.numerics = strellix::numerics_named(numerics);
    return make(p);
  };
}

// Defines `name` on `target` (a class or the module) as make(parameters),
// taking the parameters as keyword arguments; `extra` are pybind11's
// further options (a docstring, py::is_new_style_constructor, ...).
template <class Target, class Make, class... Extra>
void def_with_parameters(Target& target, const char* name, Make make, const Extra&... extra) {
  std::apply([&](const auto&... args) { target.def(name, with_parameters(make), args..., extra...); },
             parameter_args());
}

// The same for the constructor of `cls`, make returning a std::unique_ptr
// to the new object.
template <class Class, class Make, class... Extra>
void def_init_with_parameters(Class& cls, Make make, const Extra&... extra) {
  std::apply([&](const auto&... args) { cls.def(py::init(with_parameters(make)), args..., extra...); },
             parameter_args());
}

}  // namespace strellix_python
