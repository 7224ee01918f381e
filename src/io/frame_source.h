// Frame source: numbered image files or successive frames of a video.
//
// A frame is a cv::Mat of three interleaved 8-bit channels in the byte order
// blue, green, red, top row first; `step` is its row stride.
#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace cv {
class VideoCapture;
}

namespace strellix {

enum GrabStatus {
  GRAB_OK = 0,
  GRAB_MISSING = 1,   // no such file, or the video has no further frame
  GRAB_UNUSABLE = 2,  // the file exists but cannot be decoded or used
};

// What a read gives: the frame (empty unless status is GRAB_OK) and, for a
// frame refused or undecodable (GRAB_UNUSABLE), one line that names the
// file and says what is wrong ("cannot decode image file F: ..."), for the
// caller to print after its program's name. A missing file or an exhausted
// video is GRAB_MISSING, with no message.
struct FrameRead {
  cv::Mat frame;
  GrabStatus status = GRAB_MISSING;
  std::string error;
};

// File mode (video == 0): loads `path`; grey-level, 16-bit and alpha images
// are brought to three 8-bit channels. Video mode: reads `count` frames from
// `capture` and returns the last (none for count < 1 or at the end).
// `capture` and `count` are unused in file mode; in video mode `path` only
// names the frame in the message. When want_width/want_height are
// positive, a frame of another size is refused.
FrameRead grab_frame(int video, cv::VideoCapture* capture, int count, const std::string& path,
                     int want_width = 0, int want_height = 0);

// Opens a video file for grab_frame. Only a regular file is opened; when it
// cannot be opened the capture stays closed, `error` says why (naming the
// file) and the result is false.
bool open_video(cv::VideoCapture& capture, const std::string& path, std::string& error);

}  // namespace strellix
