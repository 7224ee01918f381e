// Puts an input frame, its mask and the background rendering side by side
// in one image, for the documentation.
//
//   compose_figure OUT.png FRAME MASK RENDERING
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s OUT.png FRAME MASK RENDERING\n", argv[0]);
    return 2;
  }
  std::vector<cv::Mat> panels;
  for (int i = 2; i < 5; ++i) {
    cv::Mat image = cv::imread(argv[i], cv::IMREAD_COLOR);
    if (image.empty()) {
      std::fprintf(stderr, "compose_figure: cannot read %s\n", argv[i]);
      return 1;
    }
    if (!panels.empty() && image.size() != panels.front().size()) {
      std::fprintf(stderr, "compose_figure: %s has another size\n", argv[i]);
      return 1;
    }
    panels.push_back(image);
  }
  const int gap = 6;
  const cv::Size size = panels.front().size();
  cv::Mat figure(size.height, 3 * size.width + 2 * gap, CV_8UC3, cv::Scalar(255, 255, 255));
  for (int i = 0; i < 3; ++i)
    panels[i].copyTo(figure(cv::Rect(i * (size.width + gap), 0, size.width, size.height)));
  if (!cv::imwrite(argv[1], figure)) {
    std::fprintf(stderr, "compose_figure: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
