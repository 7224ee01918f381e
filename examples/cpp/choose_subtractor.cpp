// Masks of a video by OpenCV's MOG2 or KNN or by Strellix, chosen by a word
// on the command line. Everything after the line that makes the subtractor
// is written against cv::BackgroundSubtractor alone:
//
//   choose_subtractor mog2|knn|strellix INPUT OUTDIR
//
// INPUT is anything cv::VideoCapture opens (a video file, or numbered images
// such as frames/in%06d.png). Writes OUTDIR/mask%06d.png for every frame
// (255 moving, 0 background; MOG2 and KNN mark shadow 127) and
// OUTDIR/background.png, and prints the frame count and the share of
// moving pixels. Strellix starts from the median of its first 100 frames,
// whose masks are black; its masks are those of
// `strellix segment INPUT -o OUTDIR --cold-start`.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/video/background_segm.hpp>
#include <opencv2/videoio.hpp>
#include <strellix/opencv.hpp>

#include <cstdio>
#include <string>

namespace {

// The one line that differs between the subtractors.
cv::Ptr<cv::BackgroundSubtractor> subtractor_named(const std::string& word) {
  if (word == "mog2") return cv::createBackgroundSubtractorMOG2();
  if (word == "knn") return cv::createBackgroundSubtractorKNN();
  if (word == "strellix") return strellix::createBackgroundSubtractor();
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s mog2|knn|strellix INPUT OUTDIR\n", argv[0]);
    return 2;
  }
  const cv::Ptr<cv::BackgroundSubtractor> model = subtractor_named(argv[1]);
  if (!model) {
    std::fprintf(stderr, "%s: no subtractor named %s (mog2, knn or strellix)\n", argv[0], argv[1]);
    return 2;
  }
  const std::string outdir = argv[3];
  try {
    cv::VideoCapture input(argv[2]);
    if (!input.isOpened()) {
      std::fprintf(stderr, "cannot open %s\n", argv[2]);
      return 1;
    }
    cv::Mat frame, mask, background;
    long long frames = 0;
    double moving = 0.0;
    while (input.read(frame)) {
      model->apply(frame, mask);
      char name[32];
      std::snprintf(name, sizeof name, "/mask%06lld.png", ++frames);
      if (!cv::imwrite(outdir + name, mask)) {
        std::fprintf(stderr, "cannot write %s%s\n", outdir.c_str(), name);
        return 1;
      }
      moving += static_cast<double>(cv::countNonZero(mask == 255)) / static_cast<double>(mask.total());
    }
    model->getBackgroundImage(background);
    if (!background.empty()) cv::imwrite(outdir + "/background.png", background);
    std::printf("%s: %lld frames, %.2f%% moving\n", argv[1], frames,
                frames > 0 ? 100.0 * moving / frames : 0.0);
  } catch (const cv::Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
