// End-to-end: input files and values that a user running batches does not
// control. Every case must end in time, say what is wrong and about which
// file or value, give the documented exit code, and leave only complete
// mask files behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

const cv::Vec3b BACKGROUND(70, 110, 150);
const cv::Vec3b OBJECT(40, 250, 250);  // brighter, so that grey copies show it too

struct Scratch : ScratchDir {
  Scratch() : ScratchDir("hostile") {}
  std::string seq = path("seq");
  std::string frame(long long k) const { return seq + std::to_string(k) + ".png"; }
};

// A background with a square that moves, so that masks carry foreground.
cv::Mat scene_frame(int k, int width = 16, int height = 12) {
  cv::Mat frame = solid_frame(width, height, BACKGROUND);
  if (k > 3) paint_rect(frame, k % (width - 6), height / 4, 6, 6, OBJECT);
  return frame;
}

void write_scene(const Scratch& s, int last, int width = 16, int height = 12) {
  for (int k = 1; k <= last; ++k) ASSERT_TRUE(write_frame(s.seq, k, scene_frame(k, width, height)));
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::remove(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::string png_bytes(const cv::Mat& image) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(".png", image, bytes));
  return std::string(bytes.begin(), bytes.end());
}

std::uint32_t crc32_of(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put_big_endian(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

// A real, small PNG whose header (with a valid checksum) declares another
// size: a decoder that trusts it allocates for width x height pixels.
std::string png_declaring(std::uint32_t width, std::uint32_t height) {
  std::string bytes = png_bytes(solid_frame(4, 4, BACKGROUND));
  put_big_endian(bytes, 16, width);
  put_big_endian(bytes, 20, height);
  put_big_endian(bytes, 29, crc32_of(bytes.substr(12, 17)));
  return bytes;
}

std::string random_bytes(std::size_t count) {
  std::string bytes(count, '\0');
  std::uint32_t state = 12345;
  for (char& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<char>(state >> 24);
  }
  return bytes;
}

// How a frame file is spoilt.
struct Spoil {
  const char* what;
  std::function<void(const std::string&)> apply;
  const char* complaint;  // part of the message on standard error
};

std::vector<Spoil> spoilt_files() {
  return {
      {"random bytes", [](const std::string& p) { write_bytes(p, random_bytes(700)); },
       "not an image, or damaged or truncated"},
      {"truncated",
       [](const std::string& p) {
         const std::string whole = png_bytes(scene_frame(1));
         write_bytes(p, whole.substr(0, whole.size() * 2 / 3));
       },
       "not an image, or damaged or truncated"},
      {"empty", [](const std::string& p) { write_bytes(p, ""); }, "the file is empty"},
      {"60000x60000 header", [](const std::string& p) { write_bytes(p, png_declaring(60000, 60000)); },
       "declares 60000x60000 pixels"},
      {"directory",
       [](const std::string& p) {
         std::remove(p.c_str());
         mkdir(p.c_str(), 0755);
       },
       "Is a directory"},
      {"FIFO",
       [](const std::string& p) {
         std::remove(p.c_str());
         mkfifo(p.c_str(), 0644);
       },
       "not a regular file"},
      {"geodata signature", [](const std::string& p) { write_bytes(p, "NITF02.10" + random_bytes(400)); },
       "a geodata format, not accepted for frames"},
      {"larger than any frame",
       [](const std::string& p) {
         write_bytes(p, png_bytes(scene_frame(1)));
         (void)!truncate(p.c_str(), (1LL << 30) + 1);  // sparse: costs no disk
       },
       "1073741825 bytes, more than"},
      {"endless device",
       [](const std::string& p) {
         std::remove(p.c_str());
         (void)!symlink("/dev/zero", p.c_str());
       },
       "not a regular file"},
  };
}

std::vector<std::string> temporary_files_in(const std::string& dir) {
  std::vector<std::string> found;
  for (const std::string& name : directory_entries(dir))
    if (name.find(".tmp.") != std::string::npos) found.push_back(name);
  return found;
}

// Whatever a run left in its directory: no temporary file, and every mask
// a complete image of the frames' size.
void expect_only_complete_masks(const std::string& dir, int width, int height, int first, int last) {
  for (int k = first; k <= last; ++k) {
    cv::Mat mask = read_mask(dir, k);
    ASSERT_FALSE(mask.empty()) << "mask " << k;
    EXPECT_EQ(mask.type(), CV_8UC1);
    EXPECT_EQ(mask.size(), cv::Size(width, height)) << "mask " << k;
  }
  EXPECT_EQ(temporary_files_in(dir), std::vector<std::string>{}) << dir;
}

}  // namespace

TEST(HostileInput, UnusableFirstFrameEndsAtOnceNamingTheFile) {
  for (const Spoil& spoil : spoilt_files()) {
    SCOPED_TRACE(spoil.what);
    Scratch s;
    spoil.apply(s.frame(1));
    RunResult r = run_strellix({}, s.seq, s.root, 60);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "ATTENTION: Cannot grab file " + s.frame(1));
    EXPECT_NE(r.err.find(s.frame(1)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(spoil.complaint), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(s.path("bin000001.png")));
  }
}

TEST(HostileInput, UnusableMedianFrameEndsWithCodeOneBeforeAnyOutput) {
  std::vector<Spoil> spoils = spoilt_files();
  spoils.push_back(
      {"another size",
       [](const std::string& p) { write_frame(p.substr(0, p.size() - 5), 3, scene_frame(3, 12, 16)); },
       "is 12x16 pixels, expected 16x12"});
  for (const Spoil& spoil : spoils) {
    SCOPED_TRACE(spoil.what);
    Scratch s;
    write_scene(s, 4);
    spoil.apply(s.frame(3));
    RunResult r = run_strellix({"-F", "4"}, s.seq, s.root, 60);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "(1) model initialization ...\n    computing the median over 4 initial frames...\n");
    EXPECT_NE(r.err.find(s.frame(3)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(spoil.complaint), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(s.path("InitialModel.png")));
    EXPECT_FALSE(file_exists(s.path("bin000001.png")));
  }
}

TEST(HostileInput, UnusableBootBackgroundEndsWithCodeOne) {
  for (const Spoil& spoil : spoilt_files()) {
    SCOPED_TRACE(spoil.what);
    Scratch s;
    write_scene(s, 2);
    const std::string stored = s.path("InitialModel.png");
    spoil.apply(stored);
    RunResult r = run_strellix({"-Boot", "1"}, s.seq, s.root, 60);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("ATTENTION: Cannot grab file " + stored), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(spoil.complaint), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(s.path("bin000001.png")));
  }
}

// A spoilt frame 5 in the calibration stretch (n 6) and in the online
// stretch (n 2): the loop stops there with code 5 after the report, and
// the masks of frames 1 to 4 are complete.
TEST(HostileInput, UnusableLoopFrameStopsWithCodeFiveAndCompleteEarlierMasks) {
  std::vector<Spoil> spoils = spoilt_files();
  spoils.push_back(
      {"another size",
       [](const std::string& p) { write_frame(p.substr(0, p.size() - 5), 5, scene_frame(5, 17, 12)); },
       "is 17x12 pixels, expected 16x12"});
  for (const char* layers : {"6", "2"}) {
    for (const Spoil& spoil : spoils) {
      SCOPED_TRACE(std::string(spoil.what) + ", n " + layers);
      Scratch s;
      write_scene(s, 8);
      spoil.apply(s.frame(5));
      RunResult r = run_strellix({"-F", "3", "-end", "8", "-n", layers, "-SmodBG"}, s.seq, s.root, 60);
      ASSERT_FALSE(r.timed_out);
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.exit_code, 5);
      EXPECT_NE(r.out.find(" 4  5 \n\nN. of images:"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("Hit any key to continue...\n"), std::string::npos);
      EXPECT_NE(r.err.find(s.frame(5)), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(spoil.complaint), std::string::npos) << r.err;
      expect_only_complete_masks(s.root, 16, 12, 1, 4);
      EXPECT_FALSE(file_exists(s.path("bin000005.png")));
      EXPECT_FALSE(file_exists(s.path("seqBGrepresentation.5.ppm")));
      EXPECT_EQ(read_file(s.path("seqBGrepresentation.4.ppm")).size(), 13u + 16 * 12 * 3);
    }
  }
}

// Grey, 16-bit and alpha PNG frames are brought to three 8-bit channels:
// the masks are exactly those of the same pictures stored as 8-bit colour.
TEST(HostileInput, OtherPngKindsGiveTheMasksOfTheirColourEquivalents) {
  struct Kind {
    const char* what;
    std::function<cv::Mat(const cv::Mat&)> stored;  // what is written
    std::function<cv::Mat(const cv::Mat&)> colour;  // what the program must see
  };
  auto grey = [](const cv::Mat& f) {
    cv::Mat g;
    cv::cvtColor(f, g, cv::COLOR_BGR2GRAY);
    return g;
  };
  auto grey_as_colour = [grey](const cv::Mat& f) {
    cv::Mat c;
    cv::cvtColor(grey(f), c, cv::COLOR_GRAY2BGR);
    return c;
  };
  auto same = [](const cv::Mat& f) { return f; };
  const std::vector<Kind> kinds = {
      {"grey", grey, grey_as_colour},
      {"grey 16-bit",
       [grey](const cv::Mat& f) {
         cv::Mat d;
         grey(f).convertTo(d, CV_16U, 257.0);
         return d;
       },
       grey_as_colour},
      {"colour 16-bit",
       [](const cv::Mat& f) {
         cv::Mat d;
         f.convertTo(d, CV_16U, 257.0);
         return d;
       },
       same},
      {"colour with alpha",
       [](const cv::Mat& f) {
         cv::Mat a;
         cv::cvtColor(f, a, cv::COLOR_BGR2BGRA);
         return a;
       },
       same},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.what);
    Scratch as_kind, as_colour;
    for (int k = 1; k <= 8; ++k) {
      ASSERT_TRUE(write_frame(as_kind.seq, k, kind.stored(scene_frame(k))));
      ASSERT_TRUE(write_frame(as_colour.seq, k, kind.colour(scene_frame(k))));
    }
    const std::vector<std::string> switches = {"-F", "3", "-end", "8", "-n", "2"};
    RunResult r = run_strellix(switches, as_kind.seq, as_kind.root, 60);
    RunResult c = run_strellix(switches, as_colour.seq, as_colour.root, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(c.exit_code, 0) << c.err;
    EXPECT_EQ(r.err, "");
    int foreground = 0;
    for (int k = 1; k <= 8; ++k) {
      cv::Mat mask = read_mask(as_kind.root, k);
      ASSERT_FALSE(mask.empty()) << k;
      EXPECT_TRUE(same_pixels(mask, read_mask(as_colour.root, k))) << "mask " << k;
      foreground += count_value(mask, 255);
    }
    EXPECT_GT(foreground, 0) << "the scene must show its object";
  }
}

TEST(HostileInput, TinyFramesRunThroughBothStretches) {
  for (cv::Size size : {cv::Size(1, 1), cv::Size(2, 3), cv::Size(3, 3), cv::Size(4, 4)}) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    Scratch s;
    for (int k = 1; k <= 8; ++k) {
      cv::Mat frame = solid_frame(size.width, size.height, BACKGROUND);
      if (k >= 6) frame.at<cv::Vec3b>(0, 0) = OBJECT;
      ASSERT_TRUE(write_frame(s.seq, k, frame));
    }
    RunResult r = run_strellix({"-F", "3", "-end", "8", "-n", "3", "-w2d", "4", "-w1d", "3", "-SmodBG"},
                               s.seq, s.root, 60);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(" 8 \n\nN. of images:"), std::string::npos) << r.out;
    expect_only_complete_masks(s.root, size.width, size.height, 1, 8);
    const std::string header =
        "P6\n" + std::to_string(size.width) + " " + std::to_string(size.height) + "\n255\n";
    EXPECT_EQ(read_file(s.path("seqBGrepresentation.8.ppm")).size(),
              header.size() + 3u * size.width * size.height);
  }
}

TEST(HostileInput, ExtremeSwitchValues) {
  Scratch s;
  write_scene(s, 3);
  {  // a model far beyond memory is refused before it is allocated
    RunResult r = run_strellix({"-n", "2147483647", "-F", "3"}, s.seq, s.root, 60);
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.signal, 0);
    EXPECT_NE(r.err.find("not enough memory: 2147483647 layers"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(s.path("bin000001.png")));
  }
  {  // so is a median store of as many frames
    RunResult r = run_strellix({"-F", "2147483647"}, s.seq, s.root, 60);
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_NE(r.err.find("not enough memory: 5 layers and the median's frame store"), std::string::npos)
        << r.err;
    EXPECT_FALSE(file_exists(s.path("bin000001.png")));
  }
  {  // the last frame that exists ends the widest range normally
    RunResult r = run_strellix({"-F", "3", "-n", "2", "-end", "2147483647"}, s.seq, s.root, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(
        r.out.find(" 2  3  4 \n\nN. of images:                                                 2147483647\n"),
        std::string::npos)
        << r.out;
    expect_only_complete_masks(s.root, 16, 12, 1, 3);
  }
}

// Each layer of a one-pixel model costs far more than its 12 bytes of
// pixels: the estimate must count the allocator's share, or a layer count
// that looks small enough runs the machine out of memory.
TEST(HostileInput, LayerCountIsJudgedWithTheCostOfEachAllocation) {
  const double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE);
  const long long layers = 500000000;  // 6 GB of pixels, about 68 GB of blocks
  if (memory <= 0 || memory > 60e9) GTEST_SKIP() << "machine too large for this check";
  Scratch s;
  ASSERT_TRUE(write_frame(s.seq, 1, solid_frame(1, 1, BACKGROUND)));
  RunResult r = run_strellix({"-n", std::to_string(layers), "-F", "1"}, s.seq, s.root, 60);
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.signal, 0);
  EXPECT_NE(r.err.find("not enough memory: 500000000 layers"), std::string::npos) << r.err;
}

TEST(HostileInput, SequenceNamesOfAnyShape) {
  {  // empty: the frames are "1.png" ... in the current directory
    Scratch s;
    for (int k = 1; k <= 3; ++k) ASSERT_TRUE(write_frame(s.root + "/", k, scene_frame(k)));
    RunResult r = run_strellix({"-F", "3", "-SmodBG"}, "", s.root, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(file_exists(s.path("InitialModel.png")));
    EXPECT_TRUE(file_exists(s.path("BGrepresentation.2.ppm")));
    expect_only_complete_masks(s.root, 16, 12, 1, 2);
  }
  {  // bytes that are not ASCII, and not even UTF-8
    Scratch s;
    const std::string seq = s.root + "/s\xC3\xA9q\xFF\x01 ";
    for (int k = 1; k <= 3; ++k) ASSERT_TRUE(write_frame(seq, k, scene_frame(k)));
    RunResult r = run_strellix({"-F", "3", "-SmodBG"}, seq, s.root, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(file_exists(s.path("s\xC3\xA9q\xFF\x01 BGrepresentation.2.ppm")));
    expect_only_complete_masks(s.root, 16, 12, 1, 2);
  }
  {  // a base name whose rendering name just fits the file system's limit
    Scratch s;
    const std::string base(230, 'b');
    const std::string seq = s.root + "/" + base;
    for (int k = 1; k <= 3; ++k) ASSERT_TRUE(write_frame(seq, k, scene_frame(k)));
    RunResult r = run_strellix({"-F", "3", "-SmodBG"}, seq, s.root, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(file_exists(s.path(base + "BGrepresentation.2.ppm")));
    expect_only_complete_masks(s.root, 16, 12, 1, 2);
  }
  {  // one too long for any file: the first frame cannot even be looked for
    Scratch s;
    const std::string seq = s.root + "/" + std::string(300, 'x');
    RunResult r = run_strellix({}, seq, s.root, 60);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "ATTENTION: Cannot grab file " + seq + "1.png");
    EXPECT_NE(r.err.find("File name too long"), std::string::npos) << r.err;
  }
}

TEST(HostileInput, VideoThatCannotBeUsed) {
  const std::vector<Spoil> spoils = {
      {"missing", [](const std::string&) {}, "No such file or directory"},
      {"empty", [](const std::string& p) { write_bytes(p, ""); }, "not a video this program can read"},
      {"random bytes", [](const std::string& p) { write_bytes(p, random_bytes(50000)); },
       "not a video this program can read"},
      {"FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0644); }, "not a regular file"},
      {"directory", [](const std::string& p) { mkdir(p.c_str(), 0755); }, "not a regular file"},
  };
  for (const Spoil& spoil : spoils) {
    SCOPED_TRACE(spoil.what);
    Scratch s;
    const std::string video = s.seq + ".avi";
    spoil.apply(video);
    RunResult r = run_strellix({"-f"}, s.seq, s.root, 60);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "Output for video " + video + "\nATTENTION: Cannot grab file " + s.frame(1));
    EXPECT_NE(r.err.find("cannot open video file " + video + ": " + spoil.complaint), std::string::npos)
        << r.err;
    EXPECT_FALSE(file_exists(s.path("bin000001.png")));
  }
}

// A video cut short ends the range where it breaks, like a missing frame.
TEST(HostileInput, TruncatedVideoEndsTheRangeWhereItBreaks) {
  Scratch s;
  const std::string video = s.seq + ".avi";
  {
    cv::VideoWriter writer(video, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, cv::Size(16, 12));
    if (!writer.isOpened()) GTEST_SKIP() << "no video encoder here";
    for (int k = 1; k <= 40; ++k) writer.write(scene_frame(k));
  }
  const std::string whole = read_file(video);
  write_bytes(video, whole.substr(0, whole.size() / 2));
  RunResult r = run_strellix({"-f", "-F", "3", "-n", "2", "-end", "40"}, s.seq, s.root, 60);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("N. of images:                                                 40\n"),
            std::string::npos);
  EXPECT_FALSE(file_exists(s.path("bin000040.png")));
  expect_only_complete_masks(s.root, 16, 12, 1, 5);
}

// A skip beyond the video's end: no first frame, and the video is named.
TEST(HostileInput, VideoWithTooFewFramesForTheSkip) {
  Scratch s;
  const std::string video = s.seq + ".avi";
  {
    cv::VideoWriter writer(video, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, cv::Size(16, 12));
    if (!writer.isOpened()) GTEST_SKIP() << "no video encoder here";
    for (int k = 1; k <= 5; ++k) writer.write(scene_frame(k));
  }
  RunResult r = run_strellix({"-f", "-skip", "2147483647"}, s.seq, s.root, 60);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("video file " + video + " has no frame 2147483647"), std::string::npos) << r.err;
}
