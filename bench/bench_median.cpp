// Times the initial-background median against the decoding of its frames.
//
// Reads the first frames of the pedestrian video, then times, each over
// several repeats: decoding (VideoCapture::read), filling the frame store
// (allocation plus store_frame for every frame), compute_median, and a
// plain reference that sorts the values of every pixel-channel in full.
// Prints the median time of each and the ratio compute / decode, and checks
// that the reference and compute_median agree byte for byte.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include "io/plane_convert.h"
#include "io/plane_set.h"
#include "model/temporal_median.h"

namespace {

constexpr int FRAME_COUNT = 100;
constexpr int REPEATS = 5;
constexpr int SORT_REPEATS = 2;

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median_of(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n % 2 != 0 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
}

// Decodes the first `count` frames; returns false when the video gives fewer.
bool decode_frames(const std::string& path, int count, std::vector<cv::Mat>& frames)
{
    cv::VideoCapture capture(path);
    if (!capture.isOpened()) {
        return false;
    }
    frames.assign(static_cast<std::size_t>(count), cv::Mat());
    for (int k = 0; k < count; ++k) {
        if (!capture.read(frames[static_cast<std::size_t>(k)])) {
            return false;
        }
    }
    return true;
}

// The plain way: gather the values of each pixel-channel and sort them.
void full_sort_median(const std::vector<PlaneSet<unsigned char>>& frames, int frame_count,
                      std::size_t pixel_count, PlaneSet<unsigned char> result)
{
    std::vector<unsigned char> values(static_cast<std::size_t>(frame_count));
    for (std::size_t j = 0; j < pixel_count; ++j) {
        for (int c = 0; c < 3; ++c) {
            for (int l = 0; l < frame_count; ++l) {
                values[static_cast<std::size_t>(l)] = frames[static_cast<std::size_t>(l)][c][j];
            }
            std::sort(values.begin(), values.end());
            const int half = frame_count / 2;
            result[c][j] = frame_count % 2 != 0
                               ? values[static_cast<std::size_t>(half)]
                               : static_cast<unsigned char>(
                                     (values[static_cast<std::size_t>(half - 1)] +
                                      values[static_cast<std::size_t>(half)]) / 2);
        }
    }
}

bool same_planes(const PlaneSet<unsigned char> a, const PlaneSet<unsigned char> b,
                 std::size_t pixel_count)
{
    for (int c = 0; c < 3; ++c) {
        if (!std::equal(a[c], a[c] + pixel_count, b[c])) {
            return false;
        }
    }
    return true;
}

void run_for_frame_count(const std::vector<PlaneSet<unsigned char>>& planes, int frame_count,
                         std::size_t pixel_count, double decode_time)
{
    std::vector<double> store_times;
    std::vector<double> compute_times;
    PlaneSet<unsigned char> result = alloc_byte_planes(3, pixel_count);
    for (int r = 0; r < REPEATS; ++r) {
        auto start = std::chrono::steady_clock::now();
        FrameStore* store = alloc_frame_store(frame_count, pixel_count);
        for (int k = 0; k < frame_count; ++k) {
            store_frame(store, k, planes[static_cast<std::size_t>(k)]);
        }
        store_times.push_back(seconds_since(start));
        start = std::chrono::steady_clock::now();
        compute_median(store, result);
        compute_times.push_back(seconds_since(start));
        free_frame_store(store);
    }

    std::vector<double> sort_times;
    PlaneSet<unsigned char> reference = alloc_byte_planes(3, pixel_count);
    for (int r = 0; r < SORT_REPEATS; ++r) {
        const auto start = std::chrono::steady_clock::now();
        full_sort_median(planes, frame_count, pixel_count, reference);
        sort_times.push_back(seconds_since(start));
    }

    const double store_time = median_of(store_times);
    const double compute_time = median_of(compute_times);
    const double sort_time = median_of(sort_times);
    std::printf("F = %d\n", frame_count);
    std::printf("  store (alloc + store_frame): %8.1f ms\n", store_time * 1e3);
    std::printf("  compute_median:              %8.1f ms\n", compute_time * 1e3);
    std::printf("  full-sort reference:         %8.1f ms\n", sort_time * 1e3);
    std::printf("  ratio compute / decode:      %8.3f\n", compute_time / decode_time);
    std::printf("  ratio (store + compute) / decode: %.3f\n", (store_time + compute_time) / decode_time);
    std::printf("  speed-up over full sort:     %8.1fx\n", sort_time / compute_time);
    std::printf("  results agree with full sort: %s\n",
                same_planes(result, reference, pixel_count) ? "yes" : "NO");
    free_planes(reference, 3);
    free_planes(result, 3);
}

// The shared data lies beside the checkout: <checkout>/../shared/data.
std::string default_video_path()
{
    std::string source = __FILE__;
    const std::size_t slash = source.find_last_of('/');
    const std::string bench_dir = slash == std::string::npos ? "." : source.substr(0, slash);
    return bench_dir + "/../../shared/data/vtest.avi";
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : default_video_path();
    if (!std::ifstream(path).good()) {
        std::printf("%s not found: benchmark skipped\n", path.c_str());
        return 0;
    }

    std::vector<cv::Mat> frames;
    std::vector<double> decode_times;
    for (int r = 0; r < REPEATS; ++r) {
        const auto start = std::chrono::steady_clock::now();
        if (!decode_frames(path, FRAME_COUNT, frames)) {
            std::printf("%s does not give %d frames: benchmark skipped\n", path.c_str(), FRAME_COUNT);
            return 0;
        }
        decode_times.push_back(seconds_since(start));
    }
    const double decode_time = median_of(decode_times);
    const int width = frames[0].cols;
    const int height = frames[0].rows;
    const std::size_t pixel_count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::printf("%d frames of %dx%d from %s, median of %d repeats (full sort: %d)\n", FRAME_COUNT,
                width, height, path.c_str(), REPEATS, SORT_REPEATS);
    std::printf("decode (VideoCapture::read): %8.1f ms\n", decode_time * 1e3);

    std::vector<PlaneSet<unsigned char>> planes(FRAME_COUNT);
    for (int k = 0; k < FRAME_COUNT; ++k) {
        planes[static_cast<std::size_t>(k)] = alloc_byte_planes(3, pixel_count);
        image_to_planes(frames[static_cast<std::size_t>(k)], static_cast<int>(pixel_count),
                        planes[static_cast<std::size_t>(k)]);
    }

    run_for_frame_count(planes, FRAME_COUNT, pixel_count, decode_time);
    run_for_frame_count(planes, FRAME_COUNT - 1, pixel_count, decode_time);

    for (auto& p : planes) {
        free_planes(p, 3);
    }
    return 0;
}
