// Synthetic input for end-to-end runs: small colour frames written as the
// numbered PNG files the program reads, and mask files read back.
#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <string>
#include <vector>

#include "strellix/strellix.hpp"

// A frame of one colour (blue, green, red byte order).
cv::Mat solid_frame(int width, int height, const cv::Vec3b& bgr);

// Paints the rectangle [x, x+w) x [y, y+h), cut to the frame.
void paint_rect(cv::Mat& frame, int x, int y, int w, int h, const cv::Vec3b& bgr);

// Frame t of a textured background whose blue flickers with t.
cv::Mat textured_frame(int width, int height, int t);

// A small scene that gives every stage of the model work: a textured
// background with a flicker, a block crossing it, and beside the block its
// shadow (the background at 80 % brightness, hue and saturation kept); a
// small block runs along the top rows, through the corners.
std::vector<cv::Mat> scene_with_shadow(int count, int width = 40, int height = 30);

// Writes `frame` as "<prefix><k>.png"; true on success.
bool write_frame(const std::string& prefix, long long k, const cv::Mat& frame);

// Writes frames first_number, first_number+1, ... from the list.
bool write_frames(const std::string& prefix, int first_number, const std::vector<cv::Mat>& frames);

// The mask "bin%.6d.png" of frame k in `dir`, as a one-channel image (empty
// when missing).
cv::Mat read_mask(const std::string& dir, long long k);

// Number of pixels equal to 255 / to 0 in a one-channel mask.
int count_value(const cv::Mat& mask, int value);

// True when the two images have the same size, type and bytes.
bool same_pixels(const cv::Mat& a, const cv::Mat& b);

// The masks of frames [from, to) applied to `s` in turn.
std::vector<cv::Mat> run_masks(strellix::Subtractor& s, const std::vector<cv::Mat>& frames, std::size_t from,
                               std::size_t to);
