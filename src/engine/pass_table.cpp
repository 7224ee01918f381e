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
    "reference",       Numerics::exact,  true,    false,   false,         convert_reference,
    convert_reference, calibration_pass, nullptr, nullptr, segment_frame, coherence_filter,
    selective_update};

// The same bits from the vector and thread builds: the baseline vector
// instructions, and AVX2 where the processor has it.
constexpr PassSet parallel_passes(const char* name, bool wide) {
  return PassSet{name,
                 Numerics::exact,
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

// The fast numerics: the engine runs fast::FastModel in the entry's vector
// build, on its threads where the entry is threaded. Any of them gives the
// same masks; none gives the reference's bits.
constexpr PassSet fast_passes(const char* name, bool threaded, bool wide) {
  return PassSet{name,    Numerics::fast, false,   threaded, wide,    nullptr, nullptr,
                 nullptr, nullptr,        nullptr, nullptr,  nullptr, nullptr};
}

constexpr PassSet FAST_SERIAL = fast_passes("fast-serial", false, false);
constexpr PassSet FAST_BASELINE = fast_passes("fast-baseline", true, false);
constexpr PassSet FAST_AVX2 = fast_passes("fast-avx2", true, true);

const PassSet& fastest(Numerics numerics) {
  if (numerics == Numerics::fast) return processor_has_avx2() ? FAST_AVX2 : FAST_BASELINE;
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
  sets.push_back(&FAST_SERIAL);
  sets.push_back(&FAST_BASELINE);
  if (processor_has_avx2()) sets.push_back(&FAST_AVX2);
  return sets;
}

const PassSet& pass_set_named(const std::string& name, Numerics numerics) {
  const bool fast = numerics == Numerics::fast;
  if (name == "auto" || name == "avx2") return fastest(numerics);
  if (name == "reference") return fast ? FAST_SERIAL : REFERENCE;
  if (name == "baseline") return fast ? FAST_BASELINE : BASELINE;
  throw std::invalid_argument("strellix: STRELLIX_PASSES is \"" + name +
                              "\"; it may be auto, reference, baseline or avx2");
}

const PassSet& choose_passes(const Parameters& parameters) {
  const std::string& asked = passes_asked_for();
  return pass_set_named(asked.empty() ? "auto" : asked, parameters.numerics);
}

}  // namespace strellix
