// The state file of a model: its parameters, frame size and frame count,
// the current rate, both label buffers, the last frame and every layer, in
// one versioned little-endian file that ends with a CRC-32 of all it
// holds. Formats 1 and 2 hold a model of the exact numerics, format 3 one
// of the fast numerics.
//
//   "STRELLIX" "STAT"  u32 format (1, 2 or 3)
//   i32 layers, width_1d, width_2d, median_frames, threads, frame width, frame height, mask options
//   f64 threshold, learning_rate   i64 frames applied
// formats 1 and 2:
//   f32 rate table [(2 width_2d + 1)^2]   u8 seg_mask [N]   u8 filtered_mask [N]
//   f32 last frame plane c [N] for c = 0, 1, 2
//   f32 layer k plane c [N] for k = 0 .. layers-1, c = 0, 1, 2
// format 3:
//   f32 rate   u8 seg_mask [N]   u8 filtered_mask [N]   u8 last frame, B G R [3 N]
//   i16 layer k coordinate c [N] for k = 0 .. layers-1, c = 0, 1, 2 (units of 1/32767)
// and then
//   u32 CRC-32 of everything before it
//
// The mask options are shadow_value + 256 * post_median. An exact state
// that has none (the word is 0) is written in format 1, which every
// version reads; format 2, the same layout, is an exact state with mask
// options, which versions that know no mask options refuse as newer. A
// fast state is format 3, with or without mask options, which versions
// without the fast numerics refuse as newer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/plane_set.h"
#include "strellix/strellix.hpp"

namespace strellix {

constexpr std::uint32_t STATE_FORMAT_EXACT = 1;
constexpr std::uint32_t STATE_FORMAT_MASK_OPTIONS = 2;
constexpr std::uint32_t STATE_FORMAT_FAST = 3;
// The newest format this version reads.
constexpr std::uint32_t STATE_FORMAT = STATE_FORMAT_FAST;

struct StateHeader {
  Parameters parameters;
  int width = 0;
  int height = 0;
  long long frames_applied = 0;
};

// Where a state's tables live, for writing them out or reading them in.
struct StateBuffers {
  PlaneSet<float> rate_kernel_2d = nullptr;  // 2 width_2d + 1 rows of as many floats
  unsigned char* seg_mask = nullptr;
  unsigned char* filtered_mask = nullptr;
  PlaneSet<float> frame_planes = nullptr;
  PlaneSet<float>* layers = nullptr;
};

// The same for a model of the fast numerics, whose layers live in the
// model's own layout: `get` fills `values` with layer plane p (3 layer +
// coordinate, width * height values in raster order) for writing, `put`
// takes one as it is read.
struct FastStateBuffers {
  float* rate = nullptr;
  unsigned char* seg_mask = nullptr;
  unsigned char* filtered_mask = nullptr;
  unsigned char* last_frame = nullptr;  // width * height pixels of B, G, R
  std::function<void(int plane, std::int16_t* values)> get;
  std::function<void(int plane, const std::int16_t* values)> put;
};

// The bytes of a state, from a file or from memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `count` bytes into `to`; fewer only at the end. Throws
  // std::runtime_error when the bytes cannot be read.
  virtual std::size_t read(void* to, std::size_t count) = 0;
  // All the bytes there are, read or not.
  virtual std::uint64_t size() const = 0;
};

// Reads a state in two steps, so that the caller can allocate the tables
// from the header: the header is checked when the reader is made, the
// rest and the checksum by read_tables(). Everything is refused with a
// std::runtime_error whose message begins with `name` and says what is
// wrong: another kind of file, a newer format, a header out of range, a
// length that does not match the header, a checksum that does not match.
class StateReader {
 public:
  StateReader(ByteSource& source, const std::string& name);
  const StateHeader& header() const { return header_; }
  // The tables of the header's numeric mode (header().parameters.numerics):
  // read_tables() refuses a fast state, read_fast_tables() an exact one.
  void read_tables(const StateBuffers& to);
  void read_fast_tables(const FastStateBuffers& to);

 private:
  void expect_numerics(Numerics numerics) const;
  void take(unsigned char* into, std::size_t size);
  void check_sum();

  ByteSource& source_;
  std::string name_;
  StateHeader header_;
  std::uint32_t crc_ = 0;
};

// The whole file that read_tables() expects after the header, and the file
// of a state, in bytes (0 when the sizes overflow 64 bits).
std::uint64_t state_file_bytes(const StateHeader& header);

// Writes the state to `path`, atomically; throws std::runtime_error naming
// the file when it cannot be written.
void write_state(const std::string& path, const StateHeader& header, const StateBuffers& from);

// The same bytes, in order, to `sink`, which returns false when it cannot
// take them; false then.
using StateSink = std::function<bool(const unsigned char* data, std::size_t size)>;
bool write_state(const StateSink& sink, const StateHeader& header, const StateBuffers& from);
// A state of the fast numerics (header.parameters.numerics is fast).
void write_state(const std::string& path, const StateHeader& header, const FastStateBuffers& from);
bool write_state(const StateSink& sink, const StateHeader& header, const FastStateBuffers& from);

// Reads the state from the file `path` (see StateReader).
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(const std::string& path);  // throws std::runtime_error
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;
  std::size_t read(void* to, std::size_t count) override;
  std::uint64_t size() const override { return size_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t read(void* to, std::size_t count) override;
  std::uint64_t size() const override { return size_; }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace strellix
