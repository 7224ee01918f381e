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

// File mode (video == 0): loads `path`; grey-level, 16-bit and alpha images
// are brought to three 8-bit channels. Video mode: reads `count` frames from
// `capture` and returns the last (null for count < 1 or at the end).
// `capture` and `count` are unused in file mode, `path` in video mode.
// When want_width/want_height are positive, a frame of another size is
// refused. A refused or undecodable frame gives an empty Mat, status
// GRAB_UNUSABLE and one message on standard error naming the file and what
// is wrong; a missing file or exhausted video gives an empty Mat, status
// GRAB_MISSING and no message.
cv::Mat grab_frame(int video, cv::VideoCapture* capture, int count, const std::string& path,
                   int want_width = 0, int want_height = 0, GrabStatus* status = nullptr);

// Opens a video file for grab_frame. Only a regular file is opened; when it
// cannot be opened the capture stays closed, one message on standard error
// names the file and says what is wrong, and the result is false.
bool open_video(cv::VideoCapture& capture, const std::string& path);

// The program named at the start of the messages above ("Strellixplus"
// unless another program sets its own name once at start-up; the string
// must outlive every read).
void set_frame_source_program(const char* name);

}  // namespace strellix
