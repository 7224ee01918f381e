// Writes the seed inputs of the fuzzing harnesses: small valid files of
// every kind each harness reads, and a few near misses.
//
//   make_fuzz_corpus <corpus directory>

#include <cstdio>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "strellix/strellix.hpp"

using namespace strellix;

namespace fs = std::filesystem;

namespace {

bool write_bytes(const fs::path& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

std::string raster(int count, int seed) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>((i * 37 + seed) % 256);
  return bytes;
}

bool write_pgm_seeds(const fs::path& dir) {
  const std::vector<std::pair<const char*, std::string>> seeds = {
      {"comment_lf", "P5\n# a comment\n4 2\n255\n" + raster(8, 1)},
      {"comment_cr", "P5\r# a comment\r# another\r\n\n4 2 255\n" + raster(8, 2)},
      {"ascii_magic", "P2\n3 3\n100\n" + raster(9, 3)},
      {"short_raster", "P5\n5 4\n255\n" + raster(7, 4)},
      {"square", "P5 16 16 255\n" + raster(256, 5)},
      {"magic_only", "P5"},
      {"open_comment", "P5\n# never ends"},
      {"long_magic", "P5P5P5P5\n2 2\n255\n" + raster(4, 6)},
      {"big_maxval", "P5\n2 2\n65535\n" + raster(8, 7)},
      {"too_large", "P5\n30000 30000\n255\n" + raster(16, 8)},
      {"tall_short", "P5\n1 300\n255\n" + raster(20, 9)},
  };
  for (const auto& seed : seeds)
    if (!write_bytes(dir / seed.first, seed.second)) return false;
  return true;
}

std::string argv_bytes(unsigned char mode, const std::vector<std::string>& entries) {
  std::string bytes(1, static_cast<char>(mode));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) bytes += '\0';
    bytes += entries[i];
  }
  return bytes;
}

bool write_switch_seeds(const fs::path& dir) {
  const std::vector<std::pair<const char*, std::string>> seeds = {
      {"all_switches",
       argv_bytes(0, {"seq/in", "-ini",    "3",  "-end",      "0x10", "-n",    "010", "-w1d",  "2",
                      "-w2d",   "+3",      "-e", "1e-2",      "-F",   "7",     "-lr", "0.5",   "-SmaskMOD",
                      "0",      "-SmodBG", "-f", "-ShowMask", "1",    "-skip", "4",   "-Boot", "1"})},
      {"prefix_names", argv_bytes(0, {"seq", "-e", "0.01", "-end", "9"})},
      {"repeated", argv_bytes(0, {"seq", "-n", "2", "-n", "3", "stray", "-x"})},
      {"bad_int", argv_bytes(0, {"seq", "-n", "12abc"})},
      {"bad_real", argv_bytes(0, {"seq", "-lr", "0.05x"})},
      {"last_needs_value", argv_bytes(0, {"seq", "-end"})},
      {"value_like_switch", argv_bytes(0, {"seq", "-ini", "-end", "5"})},
      {"empty_value", argv_bytes(0, {"seq", "-n", ""})},
      {"huge", argv_bytes(0, {"seq", "-ini", "-99999999999999", "-e", "1e999"})},
      {"switch_as_name", argv_bytes(0, {"-n", "7"})},
      {"raw_flag", argv_bytes(1 | (9 << 4), {"seq", "-SmodBG", "x"})},
      {"raw_one", argv_bytes(3, {"seq", "-ini", "4"})},
      {"raw_joined", argv_bytes(5 | (2 << 4), {"seq", "-n", "a", "b", "c"})},
      {"raw_own_name", argv_bytes(15, {"seq", "-q", "1", "2", "3", "-q"})},
  };
  for (const auto& seed : seeds)
    if (!write_bytes(dir / seed.first, seed.second)) return false;
  return true;
}

cv::Mat sample_picture(int type) {
  cv::Mat picture(6, 7, CV_8UC3);
  for (int r = 0; r < picture.rows; ++r)
    for (int c = 0; c < picture.cols; ++c)
      picture.at<cv::Vec3b>(r, c) =
          cv::Vec3b(static_cast<unsigned char>(40 * r), static_cast<unsigned char>(35 * c),
                    static_cast<unsigned char>(200 - 20 * r));
  if (type == CV_8UC3) return picture;
  cv::Mat other;
  if (type == CV_8UC1) {
    cv::extractChannel(picture, other, 1);
  } else if (type == CV_8UC4) {
    cv::cvtColor(picture, other, cv::COLOR_BGR2BGRA);
  } else if (type == CV_16UC3) {
    picture.convertTo(other, CV_16U, 257.0);
  } else if (type == CV_32FC3) {
    picture.convertTo(other, CV_32F, 1.0 / 255.0);
  }
  return other;
}

bool write_frame_seeds(const fs::path& dir) {
  struct Seed {
    const char* name;
    const char* extension;
    int type;
  };
  const Seed seeds[] = {
      {"colour.png", ".png", CV_8UC3},   {"grey.png", ".png", CV_8UC1},   {"alpha.png", ".png", CV_8UC4},
      {"deep.png", ".png", CV_16UC3},    {"colour.bmp", ".bmp", CV_8UC3}, {"grey.bmp", ".bmp", CV_8UC1},
      {"colour.jpg", ".jpg", CV_8UC3},   {"grey.jpg", ".jpg", CV_8UC1},   {"colour.ppm", ".ppm", CV_8UC3},
      {"grey.pgm", ".pgm", CV_8UC1},     {"colour.tif", ".tif", CV_8UC3}, {"deep.tif", ".tif", CV_16UC3},
      {"colour.webp", ".webp", CV_8UC3}, {"colour.ras", ".ras", CV_8UC3}, {"colour.hdr", ".hdr", CV_32FC3},
      {"colour.pfm", ".pfm", CV_32FC3},  {"colour.jp2", ".jp2", CV_8UC3}, {"colour.exr", ".exr", CV_32FC3},
  };
  for (const Seed& seed : seeds) {
    std::vector<unsigned char> bytes;
    bool encoded = false;
    try {
      cv::Mat picture = sample_picture(seed.type);
      // The JPEG 2000 encoder wants more pixels than its default levels use.
      if (std::string(seed.extension) == ".jp2")
        cv::resize(picture, picture, cv::Size(), 8.0, 8.0, cv::INTER_NEAREST);
      encoded = cv::imencode(seed.extension, picture, bytes);
    } catch (const cv::Exception&) {
      encoded = false;
    }
    if (!encoded) {
      // Not every OpenCV build has every encoder; the rest still make a corpus.
      std::printf("no encoder for %s, skipped\n", seed.extension);
      continue;
    }
    if (!write_bytes(dir / seed.name, std::string(bytes.begin(), bytes.end()))) return false;
  }
  return true;
}

// Small states of a few frames each: one layer on 3x2 pixels, two layers
// with the widest windows saved in the online stretch, the same with mask
// options (the format that holds them), and then in the fast numerics.
bool write_state_seeds(const fs::path& dir) {
  try {
    const cv::Mat frame = sample_picture(CV_8UC3);
    Parameters one;
    one.layers = 1;
    one.width_2d = 0;
    Subtractor small(one);
    small.initialize({frame(cv::Rect(0, 0, 3, 2))});
    small.save((dir / "one_layer").string());
    Parameters two;
    two.layers = 2;
    two.width_1d = 3;
    two.width_2d = 4;
    Subtractor wide(two);
    wide.initialize({frame});
    cv::Mat mask;
    for (int k = 0; k < 3; ++k) wide.apply(frame, mask);
    wide.save((dir / "online").string());
    two.shadow_value = 127;
    two.post_median = 5;
    Subtractor marked(two);
    marked.initialize({frame});
    for (int k = 0; k < 3; ++k) marked.apply(frame, mask);
    marked.save((dir / "mask_options").string());
    two.numerics = Numerics::fast;
    Subtractor fast(two);
    fast.initialize({frame});
    for (int k = 0; k < 3; ++k) fast.apply(frame, mask);
    fast.save((dir / "fast_online").string());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_fuzz_corpus: %s\n", e.what());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus <corpus directory>\n");
    return 2;
  }
  const fs::path root = argv[1];
  std::error_code error;
  for (const char* target : {"read_pgm", "switches", "grab_frame", "state_file"})
    fs::create_directories(root / target, error);
  if (!write_pgm_seeds(root / "read_pgm") || !write_switch_seeds(root / "switches") ||
      !write_frame_seeds(root / "grab_frame") || !write_state_seeds(root / "state_file")) {
    std::fprintf(stderr, "make_fuzz_corpus: cannot write under %s\n", root.c_str());
    return 1;
  }
  return 0;
}
