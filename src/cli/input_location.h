// What INPUT names, worked out from its text and the file system alone
// (nothing is opened or read): a video file, a numbered image pattern, a
// directory of images, a camera or a stream.
#pragma once

#include <optional>
#include <string>

#include "cli/name_pattern.h"

namespace strellix::cli {

enum class InputKind { video, pattern, directory, camera, stream };

// How long a stream may keep a run waiting, to open or for a frame, unless
// --stream-timeout says otherwise.
constexpr double DEFAULT_STREAM_TIMEOUT = 30.0;

struct InputLocation {
  InputKind kind = InputKind::video;
  std::string text;       // as the user gave it ("camera N" for a camera)
  std::string absolute;   // video, directory, pattern: the same made absolute; stream: the URL
  std::string directory;  // pattern: the directory of its files ("." when none is given)
  NamePattern pattern;    // pattern: the file-name part
  int camera = -1;

  // A camera or a stream cannot be read again from the start.
  bool rewindable() const { return kind != InputKind::camera && kind != InputKind::stream; }
  // Frames are numbered by their own number (patterns) or by their 1-based
  // place in the input (everything else).
  bool numbered_by_place() const { return kind != InputKind::pattern; }
  const char* kind_name() const;
};

// Throws a usage error (naming what is wrong and, for a single image file,
// the pattern that was probably meant) or an input error for a path that
// does not exist.
InputLocation classify_input(const std::string& text, const std::optional<long long>& camera);

// True for file names whose extension is one of the image formats read as
// frames (png, jpg, jpeg, bmp, tif, tiff, webp, ppm, pgm, pnm), any case.
bool has_image_extension(const std::string& name);

}  // namespace strellix::cli
