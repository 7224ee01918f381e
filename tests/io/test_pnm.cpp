#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/atomic_file.h"
#include "io/pnm.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix;

namespace {

class PnmFiles : public testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
  }

  // Reads `bytes` as a PGM; returns the raster as a string ("" for null)
  // and what was printed.
  std::string read(const std::string& bytes, int& height, int& width, std::string& out, std::string& err) {
    const std::string path = write("m.pgm", bytes);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    unsigned char* raster = read_pgm(path, height, width);
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    if (raster == nullptr) return "";
    std::string result(reinterpret_cast<char*>(raster), static_cast<size_t>(height * width));
    std::free(raster);
    return result;
  }

  ScratchDir scratch_{"pnm"};
  const std::string& dir_ = scratch_.root;
};

TEST_F(PnmFiles, ReadsHeadersWithCommentsAndIgnoresMagicAndMaxval) {
  // Leading white space in the raster must survive: one byte ends the header.
  const std::string raster(" \n\x03\x04\x05\x06\x07\x08", 8);
  const std::string headers[] = {
      "P5\n# a comment\n4 2\n255\n",
      "P5\r# ended by CR\r\n\n#second\n\t 4 2\n255\n",
      "P2 4\t2\r100\n",
  };
  for (const std::string& header : headers) {
    int height = -1, width = -1;
    std::string out, err;
    EXPECT_EQ(read(header + raster, height, width, out, err), raster) << header;
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(out + err, "");
  }
}

TEST_F(PnmFiles, ShortRasterLeavesZeros) {
  int height = 0, width = 0;
  std::string out, err;
  EXPECT_EQ(read("P5\n3 2\n255\n\x09\x08\x07\x06", height, width, out, err),
            std::string("\x09\x08\x07\x06\0\0", 6));
}

TEST_F(PnmFiles, EndOfFileBeforeWidthGivesNullSilently) {
  for (const std::string bytes : {"", "P5", "P5\n", "P5\n# unterminated comment"}) {
    int height = 11, width = 12;
    std::string out, err;
    EXPECT_EQ(read(bytes, height, width, out, err), "") << bytes;
    EXPECT_EQ(out + err, "") << bytes;
    EXPECT_EQ(height, 11);  // untouched on failure
    EXPECT_EQ(width, 12);
  }
}

TEST_F(PnmFiles, MalformedHeadersAreRefusedWithAMessage) {
  const std::string bad[] = {
      "P5\n4\n",                    // height missing
      "P5\n-4 2\n255\n",            // signed width
      "P5\n4 +2\n255\n",            // signed height
      "P5\n0 2\n255\n",             // empty image
      "P5\n4 # comment\n2\n255\n",  // comment after the width
      "P5\n99999999999 2\n255\n",   // width overflows an int
      "P5\n65536 65536\n255\n",     // product far beyond any mask
      "P5\n4 2\n256\n",             // two bytes per sample
      "P5\n4 2\nx\n",               // maxval not a number
      "P5LONGMAGIC\n4 2\n255\n",    // magic over 7 characters
  };
  for (const std::string& bytes : bad) {
    int height = 0, width = 0;
    std::string out, err;
    EXPECT_EQ(read(bytes, height, width, out, err), "") << bytes;
    EXPECT_NE(err.find("m.pgm"), std::string::npos) << bytes;
  }
}

TEST_F(PnmFiles, MissingPgmReportsOnStandardOutput) {
  int height = 0, width = 0;
  const std::string path = dir_ + "/none.pgm";
  testing::internal::CaptureStdout();
  EXPECT_EQ(read_pgm(path, height, width), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Errore apertura file " + path + "\n");
}

TEST_F(PnmFiles, PpmHasExactBytesAndReplacesAnOldFile) {
  unsigned char r[] = {255, 0}, g[] = {0, 255}, b[] = {0, 0};
  unsigned char* planes[] = {r, g, b};
  const std::string path = write("out.ppm", "an older, longer file that must disappear");
  EXPECT_EQ(write_ppm(1, 2, planes, path), 1);
  EXPECT_EQ(read_file(path), std::string("P6\n2 1\n255\n\xff\x00\x00\x00\xff\x00", 17));
}

TEST_F(PnmFiles, PpmIntoMissingDirectoryFailsCleanly) {
  unsigned char r[] = {1}, g[] = {2}, b[] = {3};
  unsigned char* planes[] = {r, g, b};
  const std::string path = dir_ + "/missing/out.ppm";
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_ppm(1, 1, planes, path), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Errore apertura file " + path + "\n");
  EXPECT_FALSE(file_exists(path));
}

TEST_F(PnmFiles, PpmThatCannotBeRenamedIntoPlaceLeavesNoTemporary) {
  unsigned char r[] = {1}, g[] = {2}, b[] = {3};
  unsigned char* planes[] = {r, g, b};
  const std::string path = dir_ + "/taken.ppm";  // a non-empty directory
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  write("taken.ppm/inside", "x");
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_ppm(1, 1, planes, path), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Errore apertura file " + path + "\n");
  EXPECT_FALSE(file_exists(temporary_name_for(path)));
}

}  // namespace
