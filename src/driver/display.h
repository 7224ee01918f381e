// Windows, when a display can be reached. Without one every call here does
// nothing, and the first window request prints one notice on standard error.
#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace strellix {

// How long a shown frame waits for a key, in milliseconds.
constexpr int display_delay_ms = 20;

// True when windows can be shown; decided once, from DISPLAY, before any
// GUI call (the GUI toolkit ends the process when it cannot open a display).
bool display_available();

// True when something accepts connections at the X display named by a
// DISPLAY value (":N", ":N.S", "unix:N", "host:N", "[v6 address]:N").
bool x_display_reachable(const std::string& display);

void open_window(const std::string& title, int x, int y);
void show_in_window(const std::string& title, const cv::Mat& image);
// Waits up to delay_ms for a key in a window; -1 when none came or there
// is no display.
int wait_window_key(int delay_ms);
void close_window(const std::string& title);

}  // namespace strellix
