#include "driver/seq_names.h"

#include <cstdio>

namespace strellix {

SeqNames split_seq_name(const std::string& seq_name) {
  SeqNames names;
  const std::string::size_type separator = seq_name.find_last_of("/\\");
  if (separator == std::string::npos) {
    names.base = seq_name;
  } else {
    names.dir = seq_name.substr(0, separator + 1);
    names.base = seq_name.substr(separator + 1);
  }
  names.prefix = names.dir + names.base;
  return names;
}

std::string frame_file_name(const std::string& prefix, long long k) {
  return prefix + std::to_string(k) + ".png";
}

std::string mask_file_name(long long k) {
  // Six digits at least, a minus sign before them for negative numbers.
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "bin%.6lld.png", k);
  return buffer;
}

std::string rendering_file_name(const std::string& base, long long k) {
  return base + "BGrepresentation." + std::to_string(k) + ".ppm";
}

std::string initial_model_name(const std::string& dir) {
  return dir + "InitialModel.png";
}

std::string video_file_name(const std::string& prefix) {
  return prefix + ".avi";
}

}  // namespace strellix
