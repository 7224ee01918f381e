#include "engine/parameters.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace strellix {

namespace {

[[noreturn]] void refuse(const std::string& name, const std::string& range, const std::string& got) {
  throw std::invalid_argument("strellix: " + name + " must be " + range + " (got " + got + ")");
}

// "at least L" for a range without a real upper end, else "between L and M".
std::string range_text(const Range<int>& range) {
  if (range.most == std::numeric_limits<int>::max()) return "at least " + std::to_string(range.least);
  return "between " + std::to_string(range.least) + " and " + std::to_string(range.most);
}

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

void require(const Range<int>& range, int value, const char* name) {
  if (!range.contains(value)) refuse(name, range_text(range), std::to_string(value));
}

void require(const Range<double>& range, double value, const char* name) {
  if (!range.contains(value))
    refuse(name, "a number between " + number_text(range.least) + " and " + number_text(range.most),
           number_text(value));
}

// The numeric mode is one of the two, whatever integer a caller cast into
// it; the fast mode's layer numbers fit a signed byte.
void require_numerics(const Parameters& p) {
  if (p.numerics != Numerics::exact && p.numerics != Numerics::fast)
    refuse("numerics", "exact or fast", std::to_string(static_cast<int>(p.numerics)));
  if (p.numerics == Numerics::fast && !ranges::fast_layers.contains(p.layers))
    refuse("layers", range_text(ranges::fast_layers) + " with the fast numerics", std::to_string(p.layers));
}

}  // namespace

const char* numerics_name(Numerics numerics) {
  switch (numerics) {
    case Numerics::exact:
      return ranges::numerics[0];
    case Numerics::fast:
      return ranges::numerics[1];
  }
  return "unknown";
}

Numerics numerics_named(const std::string& name) {
  if (name == ranges::numerics[0]) return Numerics::exact;
  if (name == ranges::numerics[1]) return Numerics::fast;
  throw std::invalid_argument("strellix: numerics must be " + std::string(ranges::numerics[0]) + " or " +
                              ranges::numerics[1] + " (got \"" + name + "\")");
}

void check_model_parameters(const Parameters& p) {
  require(ranges::layers, p.layers, "layers");
  require(ranges::width_1d, p.width_1d, "width_1d");
  require(ranges::width_2d, p.width_2d, "width_2d");
  require(ranges::median_frames, p.median_frames, "median_frames");
  if (!ranges::threads.contains(p.threads))
    refuse("threads", "between 0 (one per core) and " + std::to_string(ranges::threads.most),
           std::to_string(p.threads));
  require(ranges::shadow_value, p.shadow_value, "shadow_value");
  // A median needs a centre and more than one pixel.
  if (!ranges::post_median.contains(p.post_median) ||
      (p.post_median != 0 && (p.post_median < 3 || p.post_median % 2 == 0)))
    refuse("post_median", "0 (off) or odd from 3 to " + std::to_string(ranges::post_median.most),
           std::to_string(p.post_median));
  require_numerics(p);
}

void validate(const Parameters& p) {
  check_model_parameters(p);
  require(ranges::threshold, p.threshold, "threshold");
  require(ranges::learning_rate, p.learning_rate, "learning_rate");
}

}  // namespace strellix
