#include "engine/pass_choice.h"

#include <cstdlib>
#include <stdexcept>

#include "model/vector_width.h"

namespace strellix {

PassChoice fastest_passes() {
  return processor_has_avx2() ? PassChoice::wide : PassChoice::baseline;
}

PassChoice passes_from_environment() {
  const char* asked = std::getenv("STRELLIX_PASSES");
  const std::string name = asked != nullptr ? asked : "";
  if (name.empty() || name == "auto") return fastest_passes();
  if (name == "reference") return PassChoice::reference;
  if (name == "baseline") return PassChoice::baseline;
  if (name == "avx2") return fastest_passes();
  throw std::invalid_argument("strellix: STRELLIX_PASSES is \"" + name +
                              "\"; it may be auto, reference, baseline or avx2");
}

std::string pass_choice_name(PassChoice choice) {
  switch (choice) {
    case PassChoice::reference:
      return "reference";
    case PassChoice::baseline:
      return "baseline";
    case PassChoice::wide:
      return processor_has_avx2() ? "avx2" : "baseline";
  }
  return "baseline";
}

}  // namespace strellix
