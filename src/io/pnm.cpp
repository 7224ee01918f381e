#include "io/pnm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/atomic_file.h"

namespace strellix {

namespace {

// A search mask larger than this is certainly not one; refusing it keeps a
// damaged header from asking for an absurd allocation.
constexpr long long max_raster_bytes = 1LL << 28;
constexpr int max_magic_length = 7;

struct FileCloser {
  std::FILE* file;
  ~FileCloser() {
    if (file != nullptr) std::fclose(file);
  }
};

bool is_blank(int ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r';
}

bool is_space(int ch) {
  return is_blank(ch) || ch == '\v' || ch == '\f';
}

bool is_digit(int ch) {
  return ch >= '0' && ch <= '9';
}

void refuse_header(const std::string& path, const char* what) {
  std::fprintf(stderr, "Strellixplus: %s is not a usable PGM file: %s\n", path.c_str(), what);
}

enum class Word { ok, end_of_file, too_long };

// The magic word: leading white space skipped, stops at the next.
Word skip_magic(std::FILE* file) {
  int ch = std::fgetc(file);
  while (ch != EOF && is_space(ch)) ch = std::fgetc(file);
  if (ch == EOF) return Word::end_of_file;
  int length = 0;
  while (ch != EOF && !is_space(ch)) {
    if (++length > max_magic_length) return Word::too_long;
    ch = std::fgetc(file);
  }
  if (ch != EOF) std::ungetc(ch, file);
  return Word::ok;
}

// White space and comments between the magic and the width. False at end
// of file.
bool skip_separator(std::FILE* file) {
  for (;;) {
    int ch = std::fgetc(file);
    if (ch == EOF) return false;
    if (is_blank(ch)) continue;
    if (ch == '#') {
      do ch = std::fgetc(file);
      while (ch != EOF && ch != '\n' && ch != '\r');
      if (ch == EOF) return false;
      continue;
    }
    std::ungetc(ch, file);
    return true;
  }
}

// A plain unsigned decimal after optional white space. The byte after the
// digits is left unread. False when there are no digits or the value
// exceeds `limit`.
bool read_decimal(std::FILE* file, long long limit, long long& value) {
  int ch = std::fgetc(file);
  while (ch != EOF && is_space(ch)) ch = std::fgetc(file);
  if (!is_digit(ch)) return false;
  value = 0;
  while (is_digit(ch)) {
    value = value * 10 + (ch - '0');
    if (value > limit) return false;
    ch = std::fgetc(file);
  }
  if (ch != EOF) std::ungetc(ch, file);
  return true;
}

}  // namespace

unsigned char* read_pgm(const std::string& path, int& height, int& width) {
  FileCloser input{std::fopen(path.c_str(), "rb")};
  if (input.file == nullptr) {
    std::printf("Errore apertura file %s\n", path.c_str());
    return nullptr;
  }
  const Word magic = skip_magic(input.file);
  if (magic == Word::end_of_file) return nullptr;
  if (magic == Word::too_long) {
    refuse_header(path, "magic word longer than 7 characters");
    return nullptr;
  }
  if (!skip_separator(input.file)) return nullptr;

  long long w = 0, h = 0, maxval = 0;
  if (!read_decimal(input.file, max_raster_bytes, w) || w == 0) {
    refuse_header(path, "width is not a positive decimal number");
    return nullptr;
  }
  if (!read_decimal(input.file, max_raster_bytes, h) || h == 0) {
    refuse_header(path, "height is not a positive decimal number");
    return nullptr;
  }
  if (w * h > max_raster_bytes) {
    refuse_header(path, "image too large");
    return nullptr;
  }
  if (!read_decimal(input.file, 255, maxval)) {
    refuse_header(path, "maxval is not a decimal number from 0 to 255");
    return nullptr;
  }
  std::fgetc(input.file);  // the single byte that ends the header

  const std::size_t row_bytes = static_cast<std::size_t>(w);
  unsigned char* raster = static_cast<unsigned char*>(checked_calloc(static_cast<std::size_t>(w * h), 1));
  // A short raster is tolerated: what the file lacks stays 0 (not processed).
  for (long long r = 0; r < h; ++r)
    if (std::fread(raster + r * w, 1, row_bytes, input.file) < row_bytes) break;

  height = static_cast<int>(h);
  width = static_cast<int>(w);
  return raster;
}

int write_ppm(int height, int width, const PlaneSet<unsigned char> planes, const std::string& path) {
  if (height < 0 || width < 0) {
    std::printf("Errore apertura file %s\n", path.c_str());
    return 0;
  }
  // The whole file is formed in memory, so that it can appear at once.
  char header[64];
  const int header_length = std::snprintf(header, sizeof header, "P6\n%d %d\n%d\n", width, height, 255);
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(header_length) + 3 * pixels);
  std::memcpy(bytes.data(), header, static_cast<std::size_t>(header_length));
  unsigned char* out = bytes.data() + header_length;
  for (std::size_t i = 0; i < pixels; ++i) {
    *out++ = planes[0][i];
    *out++ = planes[1][i];
    *out++ = planes[2][i];
  }
  if (!write_file_atomic(path, bytes)) {
    std::printf("Errore apertura file %s\n", path.c_str());
    return 0;
  }
  return 1;
}

}  // namespace strellix
