#include "engine/median_builder.h"

#include "colour/plane_convert.h"

namespace strellix {

MedianBuilder::MedianBuilder(int frame_count, int width, int height)
    : width_(width),
      height_(height),
      scratch_(3, static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
  store_ = alloc_frame_store(frame_count, static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
}

MedianBuilder::~MedianBuilder() {
  free_frame_store(store_);
}

void MedianBuilder::add(const cv::Mat& bgr) {
  image_to_planes(bgr, width_ * height_, scratch_.get());
  store_frame(store_, added_, scratch_.get());
  ++added_;
}

cv::Mat MedianBuilder::result(const PassExecution& run) const {
  Planes<unsigned char> median(3, static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
  compute_median(run, store_, median.get());
  cv::Mat image(height_, width_, CV_8UC3);
  planes_to_image(median.get(), width_ * height_, image);
  return image;
}

}  // namespace strellix
