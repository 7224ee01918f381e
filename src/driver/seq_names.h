// Names derived from the sequence name given on the command line.
#pragma once

#include <string>

namespace strellix {

struct SeqNames {
  std::string dir;     // up to and including the last '/' or '\\', else empty
  std::string base;    // the rest
  std::string prefix;  // dir + base, the sequence name itself
};

SeqNames split_seq_name(const std::string& seq_name);

// "%s%d.png": input frame k.
std::string frame_file_name(const std::string& prefix, long long k);
// "bin%.6d.png": mask of frame k.
std::string mask_file_name(long long k);
// "%sBGrepresentation.%d.ppm": rendering of frame k.
std::string rendering_file_name(const std::string& base, long long k);
// "%sInitialModel.png" in the sequence's directory.
std::string initial_model_name(const std::string& dir);
// "%s.avi".
std::string video_file_name(const std::string& prefix);

}  // namespace strellix
