#include "engine/pass_table.h"

#include <cstdlib>
#include <stdexcept>

#include "colour/cached_model_space.h"
#include "colour/model_space.h"
#include "core/vector_width.h"
#include "model/calibration_pass.h"
#include "model/parallel_passes.h"
#include "model/segmentation.h"
#include "model/selective_update.h"

namespace strellix {

namespace {

// frame_to_model takes a pixel count it does not use.
void convert_reference(const ModelSettings& s, const cv::Mat& bgr, PlaneSet<float> into) {
  frame_to_model(s, bgr, 0, into);
}

// The passes as the method states them, one pixel after another on the
// calling thread: what every other entry must equal.
constexpr PassSet REFERENCE = {
    "reference",      true,    false,   false,         convert_reference, convert_reference,
    calibration_pass, nullptr, nullptr, segment_frame, coherence_filter,  selective_update};

// The same bits from the vector and thread builds: the baseline vector
// instructions, and AVX2 where the processor has it.
constexpr PassSet parallel_passes(const char* name, bool wide) {
  return PassSet{name,
                 true,
                 true,
                 wide,
                 frame_to_model_cached,
                 frame_to_model_cached_on_caller,
                 calibration_pass_wavefront,
                 fused_online_applies,
                 online_pass_fused,
                 segment_frame_parallel,
                 coherence_filter_parallel,
                 selective_update_parallel};
}

constexpr PassSet BASELINE = parallel_passes("baseline", false);
constexpr PassSet AVX2 = parallel_passes("avx2", true);

const PassSet& fastest() {
  return processor_has_avx2() ? AVX2 : BASELINE;
}

// STRELLIX_PASSES, read once: a process runs every engine the same way.
const std::string& passes_asked_for() {
  static const std::string asked = [] {
    const char* value = std::getenv("STRELLIX_PASSES");
    return std::string(value != nullptr ? value : "");
  }();
  return asked;
}

}  // namespace

std::vector<const PassSet*> pass_sets() {
  std::vector<const PassSet*> sets = {&REFERENCE, &BASELINE};
  if (processor_has_avx2()) sets.push_back(&AVX2);
  return sets;
}

const PassSet& pass_set_named(const std::string& name) {
  if (name == "auto" || name == "avx2") return fastest();
  if (name == "reference") return REFERENCE;
  if (name == "baseline") return BASELINE;
  throw std::invalid_argument("strellix: STRELLIX_PASSES is \"" + name +
                              "\"; it may be auto, reference, baseline or avx2");
}

const PassSet& choose_passes(const Parameters& parameters) {
  (void)parameters;  // every parameter set runs the exact passes
  const std::string& asked = passes_asked_for();
  return asked.empty() ? fastest() : pass_set_named(asked);
}

}  // namespace strellix
