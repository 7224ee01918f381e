#include "engine/mask_output.h"

#include <opencv2/imgproc.hpp>

#include <cstddef>

#include "colour/plane_convert.h"
#include "core/settings.h"

namespace strellix {

void labels_to_mask(const unsigned char* labels, int width, int height, int shadow_value, int post_median,
                    cv::Mat& into) {
  const int pixels = width * height;
  into.create(height, width, CV_8UC1);
  if (post_median > 0) {
    // The filter reads a neighbourhood, so it cannot write where it reads.
    cv::Mat moving(height, width, CV_8UC1);
    labels_to_image(labels, pixels, moving);
    cv::medianBlur(moving, into, post_median);
  } else {
    labels_to_image(labels, pixels, into);
  }
  if (shadow_value == 0) return;
  for (int r = 0; r < height; ++r) {
    unsigned char* row = into.ptr<unsigned char>(r);
    const unsigned char* label_row = labels + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
    for (int c = 0; c < width; ++c)
      if (label_row[c] == LABEL_SHADOW && row[c] != 255) row[c] = static_cast<unsigned char>(shadow_value);
  }
}

}  // namespace strellix
