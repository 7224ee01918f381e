// Online update: only pixels that stay background after filtering learn.
#pragma once

#include "core/pass_views.h"
#include "core/settings.h"

namespace strellix {

// The pixels that stay background in labels.filtered teach the layer they
// matched (labels.match_index), in raster order, in place.
void selective_update(const ModelSettings& s, const FrameView& frame, const ModelView& model,
                      const LabelView& labels);

}  // namespace strellix
