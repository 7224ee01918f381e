#include "cli/input_location.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cli/command_failure.h"

namespace strellix::cli {

namespace {

// "scheme://": the only form taken for a stream, so that a local name with
// a colon in it stays a file.
bool has_url_scheme(const std::string& text) {
  const std::size_t at = text.find("://");
  if (at == std::string::npos || at == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  return std::all_of(text.begin(), text.begin() + static_cast<long>(at), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

std::string absolute_of(const std::string& path) {
  std::error_code error;
  const std::filesystem::path made = std::filesystem::absolute(path, error);
  return error ? path : made.lexically_normal().string();
}

// The pattern a user who named one numbered image probably meant: its last
// run of digits made a %d field ("in000001.jpg" gives "in%06d.jpg").
std::string pattern_guess(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  std::size_t end = path.size();
  while (end > name_at && !std::isdigit(static_cast<unsigned char>(path[end - 1]))) --end;
  std::size_t begin = end;
  while (begin > name_at && std::isdigit(static_cast<unsigned char>(path[begin - 1]))) --begin;
  if (begin == end) return "";
  const std::size_t digits = end - begin;
  const std::string field =
      (path[begin] == '0' && digits > 1) ? "%0" + std::to_string(digits) + "d" : std::string("%d");
  return path.substr(0, begin) + field + path.substr(end);
}

[[noreturn]] void refuse_single_image(const std::string& text) {
  const std::size_t slash = text.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "." : text.substr(0, slash == 0 ? 1 : slash);
  const std::string guess = pattern_guess(text);
  std::string message = text + " is a single image; for a sequence of images give ";
  if (!guess.empty()) message += "a pattern such as \"" + guess + "\" or ";
  message += "the directory " + directory;
  throw usage_error(message);
}

InputLocation pattern_location(const std::string& text) {
  InputLocation location;
  location.kind = InputKind::pattern;
  location.text = text;
  const std::size_t slash = text.find_last_of('/');
  location.directory = slash == std::string::npos ? "." : text.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
  if (location.directory.find('%') != std::string::npos)
    throw usage_error("the %d field of " + text + " must be in the file name, not in the directory");
  if (!parse_name_pattern(name, &location.pattern))
    throw usage_error(text +
                      " does not exist, and is no image pattern: a pattern has exactly one number "
                      "field such as %d or %06d (write %% for a percent sign)");
  location.absolute = absolute_of(location.directory) + "/" + name;
  return location;
}

}  // namespace

const char* InputLocation::kind_name() const {
  switch (kind) {
    case InputKind::video:
      return "video";
    case InputKind::pattern:
      return "pattern";
    case InputKind::directory:
      return "directory";
    case InputKind::camera:
      return "camera";
    case InputKind::stream:
      return "stream";
  }
  return "video";
}

bool has_image_extension(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string extension = name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const char* const known[] = {"png",  "jpg",  "jpeg", "bmp", "tif",
                                      "tiff", "webp", "ppm",  "pgm", "pnm"};
  return std::any_of(std::begin(known), std::end(known), [&](const char* k) { return extension == k; });
}

InputLocation classify_input(const std::string& text, const std::optional<long long>& camera) {
  InputLocation location;
  if (camera) {
    if (!text.empty()) throw usage_error("give either INPUT or --camera, not both");
    location.kind = InputKind::camera;
    location.camera = static_cast<int>(*camera);
    location.text = "camera " + std::to_string(location.camera);
    location.absolute = location.text;
    return location;
  }
  if (text.empty())
    throw usage_error(
        "no INPUT: give a video file, an image pattern such as frames/in%06d.jpg, a directory "
        "of images, a stream URL or --camera N");
  location.text = text;
  if (has_url_scheme(text)) {
    location.kind = InputKind::stream;
    location.absolute = text;
    return location;
  }
  struct stat info;
  if (stat(text.c_str(), &info) == 0) {
    location.absolute = absolute_of(text);
    if (S_ISDIR(info.st_mode)) {
      location.kind = InputKind::directory;
      return location;
    }
    if (has_image_extension(text)) refuse_single_image(text);
    location.kind = InputKind::video;
    return location;
  }
  const int missing = errno;
  if (text.find('%') != std::string::npos) return pattern_location(text);
  throw input_error("cannot open " + text + ": " + std::strerror(missing));
}

}  // namespace strellix::cli
