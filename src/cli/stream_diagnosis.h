// Why a stream cannot be read, found out by asking its server directly:
// the video library only says that it could not open it. A user who gave
// the URL wants to hear "refused", "HTTP 404" or "time-out", and, for an
// mp4 served over HTTP that cannot be streamed, how to make it streamable.
#pragma once

#include <string>

namespace strellix::cli {

// One clause ("the connection to example.org:80 was refused", "the server
// answered HTTP 404 Not Found", ...), "" when nothing wrong was found. It
// connects to the URL's host (any scheme with a known port); for http://
// it also asks for the first bytes, to learn the server's answer and, for
// an mp4 whose index comes after its media data, to say so. Each step
// gives up after `timeout` seconds.
std::string why_stream_fails(const std::string& url, double timeout);

// For an mp4's first bytes: true when its media data ("mdat") comes before
// its index ("moov"), so that a reader must fetch the end of the file first.
bool index_after_media(const std::string& first_bytes);

}  // namespace strellix::cli
