// How the frame conversion's colour cache fares on a sequence: replays its
// indexing over the frames (the cache itself keeps no counts) and reports
// the share of pixels whose colour was converted before (hits), the first
// conversions (fills), and how much of the cache one frame touches.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "colour/cached_model_space.h"

struct ColourCacheStats {
  double hit_rate = 0.0;              // of all pixels
  double fills_per_100 = 0.0;         // first conversions per 100 pixels
  double blocks_mib = 0.0;            // blocks allocated by the end
  double lines_mib_per_frame = 0.0;   // distinct 64-byte lines read per frame
  double blocks_mib_per_frame = 0.0;  // and the blocks they lie in
};

inline ColourCacheStats colour_cache_stats(const std::vector<cv::Mat>& frames) {
  std::vector<char> seen(std::size_t{1} << 24, 0);
  std::vector<char> block_made(std::size_t{1} << 12, 0);
  std::size_t pixels = 0, fills = 0, blocks = 0;
  double lines = 0.0, blocks_touched = 0.0;
  for (const cv::Mat& frame : frames) {
    std::unordered_set<std::size_t> frame_lines, frame_blocks;
    for (int r = 0; r < frame.rows; ++r) {
      const unsigned char* px = frame.ptr<unsigned char>(r);
      for (int c = 0; c < frame.cols; ++c, px += 3) {
        const std::size_t colour = (std::size_t{px[2]} << 16) | (std::size_t{px[1]} << 8) | px[0];
        const strellix::ColourCacheSlot slot = strellix::colour_cache_slot(px[2], px[1], px[0]);
        ++pixels;
        if (!seen[colour]) {
          seen[colour] = 1;
          ++fills;
        }
        if (!block_made[slot.block]) {
          block_made[slot.block] = 1;
          ++blocks;
        }
        frame_blocks.insert(slot.block);
        frame_lines.insert((slot.block * strellix::COLOUR_CACHE_BLOCK_BYTES +
                            slot.entry * strellix::COLOUR_CACHE_ENTRY_BYTES) /
                           64);
      }
    }
    lines += static_cast<double>(frame_lines.size());
    blocks_touched += static_cast<double>(frame_blocks.size());
  }
  ColourCacheStats s;
  if (pixels == 0 || frames.empty()) return s;
  const double mib = 1024.0 * 1024.0, block = static_cast<double>(strellix::COLOUR_CACHE_BLOCK_BYTES);
  s.hit_rate = 1.0 - static_cast<double>(fills) / static_cast<double>(pixels);
  s.fills_per_100 = 100.0 * static_cast<double>(fills) / static_cast<double>(pixels);
  s.blocks_mib = static_cast<double>(blocks) * block / mib;
  s.lines_mib_per_frame = lines / static_cast<double>(frames.size()) * 64.0 / mib;
  s.blocks_mib_per_frame = blocks_touched / static_cast<double>(frames.size()) * block / mib;
  return s;
}

inline void print_colour_cache_stats(const std::string& label, const ColourCacheStats& s) {
  std::printf(
      "  colour cache, %s: hits %.2f%% of pixels, fills %.3f per 100 pixels, %.1f MiB of blocks made;"
      " per frame %.2f MiB of lines read in %.1f MiB of blocks\n",
      label.c_str(), 100.0 * s.hit_rate, s.fills_per_100, s.blocks_mib, s.lines_mib_per_frame,
      s.blocks_mib_per_frame);
}
