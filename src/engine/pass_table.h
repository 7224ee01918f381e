// The implementations of the passes an engine can run, in one table, and
// the one place that chooses among them.
//
// An entry is a complete set of what an engine runs for a frame: the
// conversion of a frame to the model space, the calibration pass, and an
// online frame (in one fused pass where the entry has one and it applies,
// else segmentation, filter and update in turn), with how they run
// (threads, vector build). The entries of the exact numerics give the
// reference passes' bits, and the golden outputs are checked on each. The
// entries of the fast numerics run fast::FastModel, which keeps its own
// model layout behind its own functions: the engine hands it whole frames,
// and their pass pointers are null. docs/architecture.md says how an entry
// is added.
#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "core/pass_views.h"
#include "core/settings.h"
#include "strellix/strellix.hpp"

namespace strellix {

struct PassSet {
  const char*
      name;  // what Subtractor::implementation() says: "reference", "baseline", "avx2", "fast-avx2", ...
  Numerics numerics;  // the numeric mode it computes in
  bool exact;         // the reference passes' bits, to the last one
  bool threaded;      // runs on the engine's worker threads
  bool wide;          // its AVX2 builds (an entry offered only where the processor has AVX2)

  // An 8-bit BGR frame of the model's size into the model space: on the
  // engine's threads, or on the calling thread alone (for a reading thread
  // that prepares frames beside the passes).
  void (*convert)(const ModelSettings& s, const cv::Mat& bgr, PlaneSet<float> into);
  void (*convert_on_caller)(const ModelSettings& s, const cv::Mat& bgr, PlaneSet<float> into);

  // A calibration frame: labels and teaches in one sweep.
  void (*calibrate)(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                    unsigned char* labels, float threshold);

  // An online frame in one pass, where fused_applies() says it can run
  // (both null: never).
  bool (*fused_applies)(const ModelSettings& s, const FrameView& frame, const ModelView& model);
  void (*online_fused)(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                       const LabelView& labels, float threshold);
  // An online frame in three steps.
  void (*segment)(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                  const LabelView& labels, float threshold);
  void (*filter)(const ModelSettings& s, int height, int width, const unsigned char* in, unsigned char* out);
  void (*update)(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                 const LabelView& labels);
};

// Every entry this processor can run, the reference first, then those of
// the fast numerics.
std::vector<const PassSet*> pass_sets();

// The entry of that name within a numeric mode; "auto" is the fastest, and
// "avx2" on a processor without AVX2 gives the baseline build. In the fast
// numerics, which have no reference passes of their own, "reference" is
// their baseline build on the calling thread alone (fast-serial);
// "baseline" and "avx2" run on the engine's threads. Throws
// std::invalid_argument for a name that is none of auto, reference,
// baseline, avx2.
const PassSet& pass_set_named(const std::string& name, Numerics numerics = Numerics::exact);

// The entry an engine with these parameters runs: within the parameters'
// numeric mode, the one the environment variable STRELLIX_PASSES names
// (read once per process, here and nowhere else; unset or empty is
// "auto"), else the fastest this processor has. Throws
// std::invalid_argument when STRELLIX_PASSES names none.
const PassSet& choose_passes(const Parameters& parameters);

}  // namespace strellix
