#include "engine/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "core/atomic_write.h"

namespace strellix {

namespace {

const char MAGIC[12] = {'S', 'T', 'R', 'E', 'L', 'L', 'I', 'X', 'S', 'T', 'A', 'T'};
constexpr std::size_t HEADER_BYTES = 72;
constexpr std::size_t CHUNK_BYTES = std::size_t{1} << 16;
// Frames beyond this many pixels are refused everywhere else too.
constexpr long long MAX_STATE_PIXELS = 1LL << 27;

// CRC-32 (the polynomial of zip and PNG), one byte at a time.
class Crc32 {
 public:
  static std::uint32_t update(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = make_table();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
  }

 private:
  static std::array<std::uint32_t, 256> make_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return table;
  }
};

void put_u32(unsigned char* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put_u64(unsigned char* at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t get_u32(const unsigned char* at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  return v;
}
std::uint64_t get_u64(const unsigned char* at) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  return v;
}
// The same bits seen as another type of the same size: floats are stored
// as their bits, so that a value comes back exactly.
template <typename To, typename From>
To same_bits(From from) {
  static_assert(sizeof(To) == sizeof(From), "only types of one size share their bits");
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

int full_width(int half_width) {
  return 2 * half_width + 1;
}

std::size_t pixel_count(const StateHeader& h) {
  return static_cast<std::size_t>(h.width) * static_cast<std::size_t>(h.height);
}

// The header word of the mask options; 0 when there are none.
int mask_options(const Parameters& p) {
  return p.shadow_value + 256 * p.post_median;
}

bool is_fast(const StateHeader& h) {
  return h.parameters.numerics == Numerics::fast;
}

std::array<unsigned char, HEADER_BYTES> encode_header(const StateHeader& h) {
  std::array<unsigned char, HEADER_BYTES> b{};
  std::memcpy(b.data(), MAGIC, sizeof MAGIC);
  const Parameters& p = h.parameters;
  const int options = mask_options(p);
  put_u32(&b[12], is_fast(h)     ? STATE_FORMAT_FAST
                  : options == 0 ? STATE_FORMAT_EXACT
                                 : STATE_FORMAT_MASK_OPTIONS);
  const int fields[8] = {p.layers,  p.width_1d, p.width_2d, p.median_frames,
                         p.threads, h.width,    h.height,   options};
  for (int i = 0; i < 8; ++i) put_u32(&b[16 + 4 * i], static_cast<std::uint32_t>(fields[i]));
  put_u64(&b[48], same_bits<std::uint64_t>(p.threshold));
  put_u64(&b[56], same_bits<std::uint64_t>(p.learning_rate));
  put_u64(&b[64], static_cast<std::uint64_t>(h.frames_applied));
  return b;
}

// Gathers the file's bytes in chunks, keeping the running checksum.
class ChunkWriter {
 public:
  explicit ChunkWriter(const StateSink& sink) : sink_(sink) { chunk_.reserve(CHUNK_BYTES); }
  void bytes(const unsigned char* data, std::size_t size) {
    while (size > 0) {
      const std::size_t room = CHUNK_BYTES - chunk_.size();
      const std::size_t take = size < room ? size : room;
      chunk_.insert(chunk_.end(), data, data + take);
      data += take;
      size -= take;
      if (chunk_.size() == CHUNK_BYTES) flush();
    }
  }
  void floats(const float* values, std::size_t count) {
    unsigned char four[4];
    for (std::size_t i = 0; i < count; ++i) {
      put_u32(four, same_bits<std::uint32_t>(values[i]));
      bytes(four, 4);
    }
  }
  void shorts(const std::int16_t* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint16_t v = static_cast<std::uint16_t>(values[i]);
      const unsigned char two[2] = {static_cast<unsigned char>(v & 0xFFu),
                                    static_cast<unsigned char>(v >> 8)};
      bytes(two, 2);
    }
  }
  bool finish() {
    unsigned char four[4];
    put_u32(four, Crc32::update(crc_, chunk_.data(), chunk_.size()));
    chunk_.insert(chunk_.end(), four, four + 4);
    ok_ = ok_ && sink_(chunk_.data(), chunk_.size());
    return ok_;
  }

 private:
  void flush() {
    crc_ = Crc32::update(crc_, chunk_.data(), chunk_.size());
    ok_ = ok_ && sink_(chunk_.data(), chunk_.size());
    chunk_.clear();
  }
  const StateSink& sink_;
  std::vector<unsigned char> chunk_;
  std::uint32_t crc_ = 0;
  bool ok_ = true;
};

}  // namespace

std::uint64_t state_file_bytes(const StateHeader& h) {
  // Each factor is bounded by the header checks, so no product overflows.
  const std::uint64_t pixels = pixel_count(h);
  const std::uint64_t w2 = static_cast<std::uint64_t>(full_width(h.parameters.width_2d));
  const std::uint64_t layers = static_cast<std::uint64_t>(h.parameters.layers);
  if (layers + 1 > (UINT64_MAX / 16) / (pixels > 0 ? pixels : 1)) return 0;
  if (is_fast(h)) return HEADER_BYTES + 4 + 5 * pixels + 6 * layers * pixels + 4;
  return HEADER_BYTES + 4 * w2 * w2 + 2 * pixels + 12 * (layers + 1) * pixels + 4;
}

bool write_state(const StateSink& sink, const StateHeader& header, const StateBuffers& from) {
  const std::size_t pixels = pixel_count(header);
  const int w2 = full_width(header.parameters.width_2d);
  ChunkWriter out(sink);
  const std::array<unsigned char, HEADER_BYTES> head = encode_header(header);
  out.bytes(head.data(), head.size());
  for (int r = 0; r < w2; ++r) out.floats(from.rate_kernel_2d[r], static_cast<std::size_t>(w2));
  out.bytes(from.seg_mask, pixels);
  out.bytes(from.filtered_mask, pixels);
  for (int c = 0; c < 3; ++c) out.floats(from.frame_planes[c], pixels);
  for (int k = 0; k < header.parameters.layers; ++k)
    for (int c = 0; c < 3; ++c) out.floats(from.layers[k][c], pixels);
  return out.finish();
}

bool write_state(const StateSink& sink, const StateHeader& header, const FastStateBuffers& from) {
  const std::size_t pixels = pixel_count(header);
  ChunkWriter out(sink);
  const std::array<unsigned char, HEADER_BYTES> head = encode_header(header);
  out.bytes(head.data(), head.size());
  out.floats(from.rate, 1);
  out.bytes(from.seg_mask, pixels);
  out.bytes(from.filtered_mask, pixels);
  out.bytes(from.last_frame, 3 * pixels);
  std::vector<std::int16_t> plane(pixels);
  for (int p = 0; p < 3 * header.parameters.layers; ++p) {
    from.get(p, plane.data());
    out.shorts(plane.data(), pixels);
  }
  return out.finish();
}

namespace {

// The state's bytes into the file at `path`, atomically.
template <class Buffers>
void write_state_file(const std::string& path, const StateHeader& header, const Buffers& from) {
  const bool written = write_file_atomic(
      path,
      [&](int fd) {
        return write_state(
            [fd](const unsigned char* data, std::size_t size) { return write_all(fd, data, size); }, header,
            from);
      },
      true, nullptr);
  if (!written) throw std::runtime_error("strellix: cannot write the state file " + path);
}

}  // namespace

void write_state(const std::string& path, const StateHeader& header, const StateBuffers& from) {
  write_state_file(path, header, from);
}

void write_state(const std::string& path, const StateHeader& header, const FastStateBuffers& from) {
  write_state_file(path, header, from);
}

StateReader::StateReader(ByteSource& source, const std::string& name) : source_(source), name_(name) {
  unsigned char b[HEADER_BYTES];
  const std::size_t got = source_.read(b, sizeof b);
  if (got < sizeof MAGIC + 4 || std::memcmp(b, MAGIC, sizeof MAGIC) != 0)
    throw std::runtime_error(name_ + ": not a state file of this library");
  const std::uint32_t format = get_u32(&b[12]);
  if (format > STATE_FORMAT) {
    throw std::runtime_error(name_ + ": a state file of format " + std::to_string(format) +
                             ", written by a newer version; this one reads formats up to " +
                             std::to_string(STATE_FORMAT));
  }
  if (format == 0) throw std::runtime_error(name_ + ": damaged: unknown format 0");
  if (got < sizeof b) throw std::runtime_error(name_ + ": truncated inside its header");
  int fields[8];
  for (int i = 0; i < 8; ++i) fields[i] = static_cast<int>(get_u32(&b[16 + 4 * i]));
  Parameters& p = header_.parameters;
  p.layers = fields[0];
  p.width_1d = fields[1];
  p.width_2d = fields[2];
  p.median_frames = fields[3];
  p.threads = fields[4];
  p.threshold = same_bits<double>(get_u64(&b[48]));
  p.learning_rate = same_bits<double>(get_u64(&b[56]));
  header_.width = fields[5];
  header_.height = fields[6];
  header_.frames_applied = static_cast<long long>(get_u64(&b[64]));
  // Format 1 has no mask options, format 2 always some, the fast format
  // either; the word's value range is checked with the other parameters.
  const bool options_fit = format == STATE_FORMAT_EXACT          ? fields[7] == 0
                           : format == STATE_FORMAT_MASK_OPTIONS ? fields[7] > 0 && fields[7] < 65536
                                                                 : fields[7] >= 0 && fields[7] < 65536;
  if (!options_fit)
    throw std::runtime_error(name_ + ": damaged header: mask options " + std::to_string(fields[7]) +
                             " in format " + std::to_string(format));
  p.shadow_value = fields[7] % 256;
  p.post_median = fields[7] / 256;
  // The format says the numeric mode.
  p.numerics = format == STATE_FORMAT_FAST ? Numerics::fast : Numerics::exact;
  try {
    validate(p);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(name_ + ": damaged header: " + e.what());
  }
  if (header_.width < 1 || header_.height < 1 ||
      static_cast<long long>(header_.width) * header_.height > MAX_STATE_PIXELS ||
      header_.frames_applied < 0) {
    throw std::runtime_error(name_ + ": damaged header: frame " + std::to_string(header_.width) + "x" +
                             std::to_string(header_.height) + ", " + std::to_string(header_.frames_applied) +
                             " frames applied");
  }
  const std::uint64_t expected = state_file_bytes(header_);
  if (expected == 0 || source_.size() != expected) {
    throw std::runtime_error(name_ + ": " + std::to_string(source_.size()) +
                             " bytes, but its header announces " + std::to_string(expected) +
                             (source_.size() < expected ? " (truncated)" : ""));
  }
  crc_ = Crc32::update(0, b, sizeof b);
}

// Exactly `size` bytes into `into`, into the checksum as they come.
void StateReader::take(unsigned char* into, std::size_t size) {
  while (size > 0) {
    const std::size_t want = size < CHUNK_BYTES ? size : CHUNK_BYTES;
    const std::size_t got = source_.read(into, want);
    if (got != want) throw std::runtime_error(name_ + ": truncated while it was read");
    crc_ = Crc32::update(crc_, into, got);
    into += got;
    size -= got;
  }
}

void StateReader::check_sum() {
  const std::uint32_t computed = crc_;
  unsigned char stored[4];
  if (source_.read(stored, 4) != 4) throw std::runtime_error(name_ + ": truncated before its checksum");
  if (get_u32(stored) != computed)
    throw std::runtime_error(name_ + ": damaged: its checksum does not match its content");
}

void StateReader::expect_numerics(Numerics numerics) const {
  if (header_.parameters.numerics != numerics)
    throw std::runtime_error(name_ + ": a state of the " + numerics_name(header_.parameters.numerics) +
                             " numerics, not of the " + numerics_name(numerics));
}

void StateReader::read_tables(const StateBuffers& to) {
  expect_numerics(Numerics::exact);
  auto take_floats = [&](float* into, std::size_t count) {
    take(reinterpret_cast<unsigned char*>(into), 4 * count);
    for (std::size_t i = 0; i < count; ++i) {
      unsigned char four[4];
      std::memcpy(four, into + i, 4);
      into[i] = same_bits<float>(get_u32(four));  // the bytes are little-endian whatever the machine
    }
  };
  const std::size_t pixels = pixel_count(header_);
  const int w2 = full_width(header_.parameters.width_2d);
  for (int r = 0; r < w2; ++r) take_floats(to.rate_kernel_2d[r], static_cast<std::size_t>(w2));
  take(to.seg_mask, pixels);
  take(to.filtered_mask, pixels);
  for (int c = 0; c < 3; ++c) take_floats(to.frame_planes[c], pixels);
  for (int k = 0; k < header_.parameters.layers; ++k)
    for (int c = 0; c < 3; ++c) take_floats(to.layers[k][c], pixels);
  check_sum();
}

void StateReader::read_fast_tables(const FastStateBuffers& to) {
  expect_numerics(Numerics::fast);
  const std::size_t pixels = pixel_count(header_);
  unsigned char four[4];
  take(four, 4);
  *to.rate = same_bits<float>(get_u32(four));
  take(to.seg_mask, pixels);
  take(to.filtered_mask, pixels);
  take(to.last_frame, 3 * pixels);
  std::vector<unsigned char> bytes(2 * pixels);
  std::vector<std::int16_t> plane(pixels);
  for (int p = 0; p < 3 * header_.parameters.layers; ++p) {
    take(bytes.data(), bytes.size());
    for (std::size_t i = 0; i < pixels; ++i)
      plane[i] =
          static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    to.put(p, plane.data());
  }
  check_sum();
}

FileByteSource::FileByteSource(const std::string& path) : path_(path) {
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0)
    throw std::runtime_error("strellix: cannot open the state file " + path + ": " + std::strerror(errno));
  struct stat info;
  std::string refused;
  if (fstat(fd_, &info) != 0)
    refused = std::strerror(errno);
  else if (!S_ISREG(info.st_mode))
    refused = "not a regular file";
  if (!refused.empty()) {
    close(fd_);
    throw std::runtime_error("strellix: cannot read the state file " + path + ": " + refused);
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
}

FileByteSource::~FileByteSource() {
  close(fd_);
}

std::size_t FileByteSource::read(void* to, std::size_t count) {
  unsigned char* into = static_cast<unsigned char*>(to);
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd_, into + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw std::runtime_error("strellix: cannot read the state file " + path_ + ": " + std::strerror(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

std::size_t MemoryByteSource::read(void* to, std::size_t count) {
  const std::size_t take = count < size_ - at_ ? count : size_ - at_;
  if (take == 0) return 0;
  std::memcpy(to, data_ + at_, take);
  at_ += take;
  return take;
}

}  // namespace strellix
