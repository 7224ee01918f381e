#include "colour/plane_convert.h"

#include <cstddef>

#include "core/settings.h"

namespace strellix {

// The conversions index the image by its own extent, so a Mat of the wrong
// kind would be read or written out of bounds; such a call is a programming
// error and is stopped loudly instead.

void image_to_planes(const cv::Mat& image, int pixel_count, PlaneSet<unsigned char> planes) {
  (void)pixel_count;
  CV_Assert(image.type() == CV_8UC3);
  const int width = image.cols;
  for (int m = 0; m < image.rows; ++m) {
    const unsigned char* row = image.ptr<unsigned char>(m);
    const std::size_t base = static_cast<std::size_t>(m) * static_cast<std::size_t>(width);
    for (int c = 0; c < width; ++c) {
      const unsigned char* pixel = row + 3 * c;
      planes[0][base + c] = pixel[2];
      planes[1][base + c] = pixel[1];
      planes[2][base + c] = pixel[0];
    }
  }
}

void planes_to_image(const PlaneSet<unsigned char> planes, int pixel_count, cv::Mat& image) {
  (void)pixel_count;
  CV_Assert(image.type() == CV_8UC3);
  const int width = image.cols;
  for (int m = 0; m < image.rows; ++m) {
    unsigned char* row = image.ptr<unsigned char>(m);
    const std::size_t base = static_cast<std::size_t>(m) * static_cast<std::size_t>(width);
    for (int c = 0; c < width; ++c) {
      unsigned char* pixel = row + 3 * c;
      pixel[0] = planes[2][base + c];
      pixel[1] = planes[1][base + c];
      pixel[2] = planes[0][base + c];
    }
  }
}

void labels_to_image(const unsigned char* labels, int pixel_count, cv::Mat& image) {
  CV_Assert(image.type() == CV_8UC1);
  const int width = image.cols;
  // Fewer labels than pixels would mean reading past the label buffer.
  CV_Assert(pixel_count >= 0 && static_cast<std::size_t>(pixel_count) >= image.total());
  for (int r = 0; r < image.rows; ++r) {
    unsigned char* row = image.ptr<unsigned char>(r);
    const unsigned char* label_row = labels + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
    for (int c = 0; c < width; ++c) row[c] = label_row[c] == LABEL_FOREGROUND ? 255 : 0;
  }
}

}  // namespace strellix
