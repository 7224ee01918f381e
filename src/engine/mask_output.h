// The mask a caller sees, made from a frame's labels: 255 on moving
// objects, and on request shadow marked with its own value and the moving
// area smoothed by a median filter. Neither option changes what the model
// learns: the model keeps its own labels.
#pragma once

#include <opencv2/core.hpp>

namespace strellix {

// Writes the width x height labels into `into`, created as CV_8UC1 of that
// size (a matrix of that size and type keeps its memory): 255 where the
// label is LABEL_FOREGROUND, else shadow_value where it is LABEL_SHADOW,
// else 0. With post_median k > 0 the moving / not moving mask is filtered
// by a k x k median first (edges replicated) and shadow is marked only
// where the filtered mask is not moving, so that a filtered mask with its
// shadow turned back to 0 is the median of the plain mask.
void labels_to_mask(const unsigned char* labels, int width, int height, int shadow_value, int post_median,
                    cv::Mat& into);

}  // namespace strellix
