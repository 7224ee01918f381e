#include "cli/median_seed.h"

#include "cli/command_failure.h"
#include "engine/median_builder.h"
#include "engine/pass_choice.h"
#include "io/frame_source.h"
#include "model/worker_pool.h"

namespace strellix::cli {

cv::Mat temporal_median(const std::deque<cv::Mat>& frames, int threads) {
  const cv::Mat& first = frames.front();
  MedianBuilder median(static_cast<int>(frames.size()), first.cols, first.rows);
  for (const cv::Mat& frame : frames) median.add(frame);
  // The same kernels as the model's own passes; every choice counts the
  // same, the fast ones only sooner.
  const PassChoice passes = passes_from_environment();
  if (passes == PassChoice::reference) return median.result(PassExecution());
  WorkerPool pool(threads > 0 ? threads : core_count());
  PassExecution run;
  run.workers = &pool;
  run.wide = passes == PassChoice::wide;
  return median.result(run);
}

cv::Mat read_seed_image(const std::string& path, cv::Size size) {
  GrabStatus status = GRAB_OK;
  cv::Mat image = grab_frame(0, nullptr, 0, path, size.width, size.height, &status);
  if (status == GRAB_MISSING) throw input_error("cannot read the background " + path + ": no such file");
  if (status != GRAB_OK) throw input_error("");  // the reader said why
  return image;
}

}  // namespace strellix::cli
