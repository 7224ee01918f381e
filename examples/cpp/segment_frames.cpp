// Masks for a video or for numbered image files, with the installed
// library:
//
//   segment_frames INPUT OUTDIR [MEDIAN_FRAMES]
//
// INPUT is anything cv::VideoCapture opens: a video file, or a pattern of
// numbered images such as frames/in%06d.png. The first MEDIAN_FRAMES frames
// (default 100) seed the model; then every frame from the first on gets a
// mask OUTDIR/mask%06d.png (255 = moving object), and OUTDIR/background.png
// shows the model at the end.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <strellix/strellix.hpp>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s INPUT OUTDIR [MEDIAN_FRAMES]\n", argv[0]);
    return 2;
  }
  const std::string outdir = argv[2];
  strellix::Parameters parameters;
  if (argc > 3) parameters.median_frames = std::atoi(argv[3]);

  try {
    strellix::Subtractor subtractor(parameters);
    cv::VideoCapture input(argv[1]);
    if (!input.isOpened()) {
      std::fprintf(stderr, "cannot open %s\n", argv[1]);
      return 1;
    }
    // The first frames seed the model and are then segmented themselves,
    // so they are kept rather than read twice.
    std::deque<cv::Mat> waiting;
    cv::Mat frame;
    while (static_cast<int>(waiting.size()) < parameters.median_frames && input.read(frame))
      waiting.push_back(frame.clone());
    if (waiting.empty()) {
      std::fprintf(stderr, "no frames in %s\n", argv[1]);
      return 1;
    }
    subtractor.initialize(std::vector<cv::Mat>(waiting.begin(), waiting.end()));

    cv::Mat mask;
    int number = 0;
    for (;;) {
      if (waiting.empty()) {
        if (!input.read(frame)) break;
        waiting.push_back(frame);
      }
      subtractor.apply(waiting.front(), mask);
      waiting.pop_front();
      char name[32];
      std::snprintf(name, sizeof name, "/mask%06d.png", ++number);
      if (!cv::imwrite(outdir + name, mask)) {
        std::fprintf(stderr, "cannot write %s%s\n", outdir.c_str(), name);
        return 1;
      }
    }
    cv::imwrite(outdir + "/background.png", subtractor.background());
    std::printf("%d masks in %s (strellix %s, %s passes)\n", number, outdir.c_str(), strellix::version(),
                subtractor.implementation().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
