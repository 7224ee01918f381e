// Writes a synthetic test sequence together with its ground truth: a
// textured static background with sensor noise and a slow illumination
// drift, crossed by objects of several colours, sizes and speeds that cast
// darker shadows. Every pixel value comes from integer arithmetic and a
// seeded generator of our own, so the same arguments give the same pixels
// on any machine and with any compiler.
//
//   make_sample_scene OUTDIR [--frames N] [--width W --height H] [--seed S]
//
// Output: OUTDIR/frame%d.png (frames 1..N), OUTDIR/groundtruth/gt%06d.png
// (0 static, 50 hard shadow, 170 one-pixel band around objects, 255 moving
// object) and OUTDIR/temporalROI.txt ("first last" scored frame).

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

struct SceneOptions {
  std::string out_dir;
  int frames = 150;
  int width = 160;
  int height = 120;
  uint64_t seed = 1;
};

struct Rgb {
  int r, g, b;
};

enum class Shape { rectangle, ellipse };

// Objects are described relative to the frame so that every size of scene
// shows the same story; coverage of any pixel stays far below half of the
// first hundred frames, so a temporal median there sees the background.
struct MovingObject {
  Shape shape;
  Rgb colour;
  int width_pm, height_pm;  // size, thousandths of the frame width and height
  bool vertical;            // travels along y instead of x
  int lane_pm;              // the fixed coordinate of its centre, thousandths
  int direction;            // +1 towards larger coordinates, -1 back
  int first_start;          // frame at which its first crossing begins
  int crossing_frames;      // frames from entering to having left
  int period;               // frames from one crossing's start to the next
};

const MovingObject kObjects[] = {
    {Shape::rectangle, {200, 40, 45}, 220, 140, false, 250, +1, 22, 40, 70},
    {Shape::ellipse, {40, 70, 200}, 160, 220, false, 560, -1, 28, 55, 80},
    {Shape::rectangle, {235, 220, 90}, 110, 100, false, 800, +1, 24, 30, 45},
    {Shape::ellipse, {130, 60, 160}, 80, 260, true, 820, +1, 35, 60, 90},
    {Shape::rectangle, {225, 225, 230}, 180, 90, false, 420, +1, 45, 22, 60},
    {Shape::ellipse, {45, 40, 50}, 70, 90, false, 120, -1, 50, 90, 120},
};

// Warm, well saturated colours whose mixtures never turn grey, so that the
// hue of background and shadow stays stable under sensor noise.
const Rgb kPalette[] = {{100, 150, 60}, {140, 150, 70}, {180, 140, 70}, {170, 100, 60}};

const int kTextureGrid = 16;     // pixels between texture nodes
const int kShadowNumerator = 4;  // shadows keep 4/5 of the light
const int kShadowDenominator = 5;
const int kGainUnit = 10000;      // illumination gain in 1/10000
const int kGainStepPerFrame = 3;  // +0.03 % per frame ...
const int kGainHalfPeriod = 150;  // ... up for 150 frames, then down again

uint64_t splitmix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

int random_below(uint64_t& state, int range) {
  return static_cast<int>(splitmix64(state) % static_cast<uint64_t>(range));
}

int clamp_byte(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

long long floor_div(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

bool parse_int(const char* text, long long low, long long high, long long* value) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

bool parse_u64(const char* text, uint64_t* value) {
  if (*text == '-' || *text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0') return false;
  *value = v;
  return true;
}

void print_usage() {
  std::fprintf(stderr,
               "usage: make_sample_scene OUTDIR [--frames N] [--width W --height H] [--seed S]\n"
               "  writes OUTDIR/frame%%d.png (1..N, default 150), OUTDIR/groundtruth/gt%%06d.png\n"
               "  and OUTDIR/temporalROI.txt; default size 160x120, seed 1\n");
}

// Returns false (after a message) when the command line is not usable.
bool parse_options(int argc, char** argv, SceneOptions* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    long long v = 0;
    if (arg == "--frames" || arg == "--width" || arg == "--height") {
      long long low = arg == "--frames" ? 1 : 16;
      long long high = arg == "--frames" ? 1000000 : 8192;
      if (!has_value || !parse_int(argv[i + 1], low, high, &v)) {
        std::fprintf(stderr, "make_sample_scene: %s needs a whole number from %lld to %lld\n", arg.c_str(),
                     low, high);
        return false;
      }
      int* target = arg == "--frames"  ? &options->frames
                    : arg == "--width" ? &options->width
                                       : &options->height;
      *target = static_cast<int>(v);
      ++i;
    } else if (arg == "--seed") {
      if (!has_value || !parse_u64(argv[i + 1], &options->seed)) {
        std::fprintf(stderr, "make_sample_scene: --seed needs a non-negative whole number\n");
        return false;
      }
      ++i;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "make_sample_scene: unknown option %s\n", arg.c_str());
      return false;
    } else if (options->out_dir.empty()) {
      options->out_dir = arg;
    } else {
      std::fprintf(stderr, "make_sample_scene: more than one output directory given\n");
      return false;
    }
  }
  if (options->out_dir.empty()) {
    std::fprintf(stderr, "make_sample_scene: no output directory given\n");
    return false;
  }
  return true;
}

// The static scene: colour nodes on a coarse grid, blended bilinearly, with
// a fixed fine grain on top. Stored as interleaved R, G, B.
std::vector<int> make_background(int width, int height, uint64_t seed) {
  uint64_t state = seed ^ 0x6A09E667F3BCC909ULL;
  int nodes_x = width / kTextureGrid + 2;
  int nodes_y = height / kTextureGrid + 2;
  std::vector<Rgb> nodes(static_cast<size_t>(nodes_x) * nodes_y);
  const int palette_size = static_cast<int>(sizeof kPalette / sizeof kPalette[0]);
  for (Rgb& node : nodes) {
    const Rgb& base = kPalette[random_below(state, palette_size)];
    node.r = base.r + random_below(state, 25) - 12;
    node.g = base.g + random_below(state, 25) - 12;
    node.b = base.b + random_below(state, 25) - 12;
  }
  std::vector<int> rgb(static_cast<size_t>(width) * height * 3);
  const int g = kTextureGrid;
  for (int y = 0; y < height; ++y) {
    int ny = y / g, fy = y % g;
    for (int x = 0; x < width; ++x) {
      int nx = x / g, fx = x % g;
      const Rgb& c00 = nodes[static_cast<size_t>(ny) * nodes_x + nx];
      const Rgb& c10 = nodes[static_cast<size_t>(ny) * nodes_x + nx + 1];
      const Rgb& c01 = nodes[static_cast<size_t>(ny + 1) * nodes_x + nx];
      const Rgb& c11 = nodes[static_cast<size_t>(ny + 1) * nodes_x + nx + 1];
      int w00 = (g - fx) * (g - fy), w10 = fx * (g - fy), w01 = (g - fx) * fy, w11 = fx * fy;
      int grain = random_below(state, 11) - 5;
      int* out = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      out[0] = (c00.r * w00 + c10.r * w10 + c01.r * w01 + c11.r * w11 + g * g / 2) / (g * g) + grain;
      out[1] = (c00.g * w00 + c10.g * w10 + c01.g * w01 + c11.g * w11 + g * g / 2) / (g * g) + grain;
      out[2] = (c00.b * w00 + c10.b * w10 + c01.b * w01 + c11.b * w11 + g * g / 2) / (g * g) + grain;
    }
  }
  return rgb;
}

struct Placement {
  bool visible = false;
  int left = 0, top = 0, width = 0, height = 0;
};

// Offset of every shadow from its object (the light comes from up left).
void shadow_offset(int frame_width, int frame_height, int* dx, int* dy) {
  *dx = std::max(1, frame_width * 40 / 1000);
  *dy = std::max(1, frame_height * 60 / 1000);
}

Placement place_object(const MovingObject& object, int frame, int frame_width, int frame_height) {
  Placement place;
  if (frame < object.first_start) return place;
  int since = frame - object.first_start;
  int progress = since % object.period;
  if (progress > object.crossing_frames) return place;
  place.width = std::max(3, object.width_pm * frame_width / 1000);
  place.height = std::max(3, object.height_pm * frame_height / 1000);
  int shadow_dx = 0, shadow_dy = 0;
  shadow_offset(frame_width, frame_height, &shadow_dx, &shadow_dy);
  int extent = object.vertical ? frame_height : frame_width;
  int size = object.vertical ? place.height : place.width;
  int margin = (object.vertical ? shadow_dy : shadow_dx) + 2;
  // Leading edge from just outside one border to just outside the other,
  // shadow included, so objects neither pop up nor vanish inside the frame.
  long long from = -(size + margin);
  long long to = extent + margin;
  long long edge = from + floor_div((to - from) * progress, object.crossing_frames);
  if (object.direction < 0) edge = extent - size - edge;
  int lane = static_cast<int>(static_cast<long long>(object.lane_pm) *
                              (object.vertical ? frame_width : frame_height) / 1000);
  if (object.vertical) {
    place.top = static_cast<int>(edge);
    place.left = lane - place.width / 2;
  } else {
    place.left = static_cast<int>(edge);
    place.top = lane - place.height / 2;
  }
  place.visible = true;
  return place;
}

bool covers(Shape shape, const Placement& place, int x, int y) {
  if (x < place.left || x >= place.left + place.width) return false;
  if (y < place.top || y >= place.top + place.height) return false;
  if (shape == Shape::rectangle) return true;
  // Doubled coordinates put the centre on the grid for even sizes too.
  long long w = place.width, h = place.height;
  long long dx = 2LL * (x - place.left) + 1 - w;
  long long dy = 2LL * (y - place.top) + 1 - h;
  return dx * dx * h * h + dy * dy * w * w <= w * w * h * h;
}

void paint_shape(Shape shape, const Placement& place, int value, int width, int height,
                 std::vector<int>* plane) {
  int x0 = std::max(0, place.left), x1 = std::min(width, place.left + place.width);
  int y0 = std::max(0, place.top), y1 = std::min(height, place.top + place.height);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (covers(shape, place, x, y)) (*plane)[static_cast<size_t>(y) * width + x] = value;
}

int illumination_gain(int frame) {
  int phase = (frame - 1) % (2 * kGainHalfPeriod);
  int ramp = phase < kGainHalfPeriod ? phase : 2 * kGainHalfPeriod - phase;
  return kGainUnit + kGainStepPerFrame * ramp;
}

// Object index per pixel (-1 none; later objects hide earlier ones) and the
// union of all shadows.
void lay_out_frame(int frame, int width, int height, std::vector<int>* object_at,
                   std::vector<int>* shadowed) {
  object_at->assign(static_cast<size_t>(width) * height, -1);
  shadowed->assign(static_cast<size_t>(width) * height, 0);
  int shadow_dx = 0, shadow_dy = 0;
  shadow_offset(width, height, &shadow_dx, &shadow_dy);
  const int object_count = static_cast<int>(sizeof kObjects / sizeof kObjects[0]);
  for (int i = 0; i < object_count; ++i) {
    Placement place = place_object(kObjects[i], frame, width, height);
    if (!place.visible) continue;
    Placement shadow = place;
    shadow.left += shadow_dx;
    shadow.top += shadow_dy;
    paint_shape(kObjects[i].shape, shadow, 1, width, height, shadowed);
    paint_shape(kObjects[i].shape, place, i, width, height, object_at);
  }
}

cv::Mat render_frame(int frame, int width, int height, uint64_t seed, const std::vector<int>& background,
                     const std::vector<int>& object_at, const std::vector<int>& shadowed) {
  cv::Mat image(height, width, CV_8UC3);
  uint64_t noise_state = seed ^ (0xD1B54A32D192ED03ULL * static_cast<uint64_t>(frame));
  int gain = illumination_gain(frame);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image.ptr<uint8_t>(y);
    for (int x = 0; x < width; ++x) {
      size_t p = static_cast<size_t>(y) * width + x;
      int rgb[3];
      int object = object_at[p];
      if (object >= 0) {
        rgb[0] = kObjects[object].colour.r;
        rgb[1] = kObjects[object].colour.g;
        rgb[2] = kObjects[object].colour.b;
      } else {
        for (int c = 0; c < 3; ++c) {
          int v = background[p * 3 + c];
          rgb[c] = shadowed[p] ? (v * kShadowNumerator + kShadowDenominator / 2) / kShadowDenominator : v;
        }
      }
      // Triangular noise from -3 to +3 per channel, four bits each.
      uint64_t bits = splitmix64(noise_state);
      for (int c = 0; c < 3; ++c) {
        int noise = static_cast<int>(bits & 3) + static_cast<int>((bits >> 2) & 3) - 3;
        bits >>= 4;
        int lit = (rgb[c] * gain + kGainUnit / 2) / kGainUnit;
        // OpenCV keeps blue first.
        row[x * 3 + (2 - c)] = static_cast<uint8_t>(clamp_byte(lit + noise));
      }
    }
  }
  return image;
}

bool touches_object(const std::vector<int>& object_at, int width, int height, int x, int y) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      int nx = x + dx, ny = y + dy;
      if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
      if (object_at[static_cast<size_t>(ny) * width + nx] >= 0) return true;
    }
  return false;
}

cv::Mat render_ground_truth(int width, int height, const std::vector<int>& object_at,
                            const std::vector<int>& shadowed) {
  cv::Mat truth(height, width, CV_8UC1);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = truth.ptr<uint8_t>(y);
    for (int x = 0; x < width; ++x) {
      size_t p = static_cast<size_t>(y) * width + x;
      uint8_t label = 0;
      if (object_at[p] >= 0)
        label = 255;
      else if (touches_object(object_at, width, height, x, y))
        label = 170;
      else if (shadowed[p])
        label = 50;
      row[x] = label;
    }
  }
  return truth;
}

std::string numbered(const char* format, int number) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, number);
  return buffer;
}

bool write_text(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

// The first frames are scored only once the model has had time to settle.
int first_scored_frame(int frames) {
  return std::min(21, frames);
}

}  // namespace

int main(int argc, char** argv) {
  SceneOptions options;
  if (!parse_options(argc, argv, &options)) {
    print_usage();
    return 2;
  }
  namespace fs = std::filesystem;
  const std::string truth_dir = (fs::path(options.out_dir) / "groundtruth").string();
  std::error_code error;
  fs::create_directories(truth_dir, error);
  if (error) {
    std::fprintf(stderr, "make_sample_scene: cannot create %s: %s\n", truth_dir.c_str(),
                 error.message().c_str());
    return 1;
  }

  const int width = options.width, height = options.height;
  std::vector<int> background = make_background(width, height, options.seed);
  std::vector<int> object_at, shadowed;
  for (int frame = 1; frame <= options.frames; ++frame) {
    lay_out_frame(frame, width, height, &object_at, &shadowed);
    cv::Mat image = render_frame(frame, width, height, options.seed, background, object_at, shadowed);
    cv::Mat truth = render_ground_truth(width, height, object_at, shadowed);
    std::string image_path = (fs::path(options.out_dir) / numbered("frame%d.png", frame)).string();
    std::string truth_path = (fs::path(truth_dir) / numbered("gt%06d.png", frame)).string();
    bool written = false;
    try {
      written = cv::imwrite(image_path, image) && cv::imwrite(truth_path, truth);
    } catch (const cv::Exception&) {
      written = false;
    }
    if (!written) {
      std::fprintf(stderr, "make_sample_scene: cannot write frame %d into %s\n", frame,
                   options.out_dir.c_str());
      return 1;
    }
  }
  std::string roi_text =
      std::to_string(first_scored_frame(options.frames)) + " " + std::to_string(options.frames) + "\n";
  std::string roi_path = (fs::path(options.out_dir) / "temporalROI.txt").string();
  if (!write_text(roi_path, roi_text)) {
    std::fprintf(stderr, "make_sample_scene: cannot write %s\n", roi_path.c_str());
    return 1;
  }
  std::printf("wrote %d frames of %dx%d (seed %llu) into %s\n", options.frames, width, height,
              static_cast<unsigned long long>(options.seed), options.out_dir.c_str());
  return 0;
}
