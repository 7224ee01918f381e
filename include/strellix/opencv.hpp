// Strellix as an OpenCV background subtractor: code written for
// cv::Ptr<cv::BackgroundSubtractor> takes it by changing the line that
// creates the subtractor.
//
//   #include <strellix/opencv.hpp>
//
//   cv::Ptr<cv::BackgroundSubtractor> model = strellix::createBackgroundSubtractor();
//   for (;;) {
//     ...
//     model->apply(frame, mask);            // CV_8UC1: 255 moving, 0 background
//     model->getBackgroundImage(background);
//   }
//
// Cold start: the model is seeded by the temporal median of its first
// frames, so the first getMedianFrames() frames it is given (100 unless
// set) are kept and answered with black masks. At the last of them the
// model is seeded from their median and taught by all of them in turn, as
// a Subtractor initialized with them and then applied to them would be,
// and that frame's mask is the one such a run gives it; every later frame
// is segmented at once. So the masks equal those of
// `strellix segment --median-frames K --cold-start` on the same frames. A
// frame given with learningRate 0 during the cold start is not kept (it
// gets a black mask). setMedianFrames(1) seeds from the first frame alone
// and answers from the second frame on, but objects that stand in that
// frame become part of the model, and the background they uncover when
// they leave stays marked as moving (the model learns only what it already
// matches); the median of several frames avoids that.
//
// Errors are cv::Exceptions (cv::Error::StsBadArg for a frame or learning
// rate that cannot be used, StsOutOfRange for a parameter out of its range,
// StsError for a call out of order, StsNoMem for memory); the subtractor is
// unchanged by a call that throws.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/video/background_segm.hpp>

#include "strellix/strellix.hpp"

namespace strellix {

class STRELLIX_API BackgroundSubtractorStrellix : public cv::BackgroundSubtractor {
 public:
  // Segments the next frame (Mat or UMat; 8-bit or 16-bit, grey, BGR or
  // BGRA, one size throughout) into fgmask, CV_8UC1 of the frame's size:
  // 255 on moving objects, getShadowValue() on shadow, 0 on background.
  // learningRate: negative the configured rate (getLearningRate()); 0
  // segments the frame and leaves the model as it was, so the next frames
  // give the masks they would have given without it; in (0, 1] this frame
  // learns as it would with that rate configured (1 is the strongest
  // learning, not a new start: clear() starts again). A frame of another
  // size than the model is refused; clear() first to take another video.
  void apply(cv::InputArray image, cv::OutputArray fgmask, double learningRate = -1) override = 0;

  // The model as a BGR picture (CV_8UC3): per pixel the layer nearest to
  // the last frame. During the cold start the median of the frames kept
  // so far; empty before the first frame.
  void getBackgroundImage(cv::OutputArray backgroundImage) const override = 0;

  // The parameters, one by one (see strellix::Parameters). A setter throws
  // StsOutOfRange for a value out of range. Once the subtractor has taken
  // a frame (also during the cold start) the model stands on its
  // parameters: a setter that would change one throws StsError and
  // changes nothing; clear() drops the model and the frames kept, and the
  // parameters may then be set again. Setting the value a parameter
  // already has is always accepted.
  virtual int getLayers() const = 0;
  virtual void setLayers(int layers) = 0;
  virtual int getWidth1D() const = 0;
  virtual void setWidth1D(int width_1d) = 0;
  virtual int getWidth2D() const = 0;
  virtual void setWidth2D(int width_2d) = 0;
  virtual double getThreshold() const = 0;
  virtual void setThreshold(double threshold) = 0;
  virtual double getLearningRate() const = 0;
  virtual void setLearningRate(double learning_rate) = 0;
  virtual int getMedianFrames() const = 0;
  virtual void setMedianFrames(int median_frames) = 0;
  virtual int getThreads() const = 0;
  virtual void setThreads(int threads) = 0;
  virtual int getShadowValue() const = 0;
  virtual void setShadowValue(int shadow_value) = 0;
  virtual int getPostMedian() const = 0;
  virtual void setPostMedian(int post_median) = 0;
  virtual Numerics getNumerics() const = 0;
  virtual void setNumerics(Numerics numerics) = 0;
  // All of them at once, under the same rules.
  virtual Parameters getParameters() const = 0;
  virtual void setParameters(const Parameters& parameters) = 0;

  // cv::Algorithm: clear() starts again (the parameters stay); write() and
  // read() carry the parameters through a cv::FileStorage, under their
  // names in strellix::Parameters (read() takes those present, under the
  // setters' rules; the model's state is Subtractor::save's business);
  // getDefaultName() is "BackgroundSubtractor_Strellix".

  // A new subtractor (also what cv::Algorithm::load<> calls). Throws
  // StsOutOfRange for parameters out of range.
  static cv::Ptr<BackgroundSubtractorStrellix> create(const Parameters& parameters = Parameters());
};

// The same as BackgroundSubtractorStrellix::create, named like OpenCV's
// cv::createBackgroundSubtractorMOG2.
STRELLIX_API cv::Ptr<BackgroundSubtractorStrellix> createBackgroundSubtractor(
    const Parameters& parameters = Parameters());

}  // namespace strellix
