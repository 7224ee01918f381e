#include "cli/stream_diagnosis.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace strellix::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The first bytes asked of an HTTP server: enough for an mp4's leading
// boxes.
constexpr std::size_t FIRST_BYTES = 64 * 1024;

struct Address {
  std::string scheme, host, port, path;
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The port a scheme uses when the URL names none; "" for one not known here.
std::string default_port(const std::string& scheme) {
  if (scheme == "http") return "80";
  if (scheme == "https") return "443";
  if (scheme == "rtsp") return "554";
  if (scheme == "rtmp") return "1935";
  return "";
}

// scheme://[user@]host[:port][/path], with [v6] hosts; false when the
// text is no such URL.
bool parse_url(const std::string& url, Address& a) {
  const std::size_t colon = url.find("://");
  if (colon == std::string::npos) return false;
  a.scheme = lower(url.substr(0, colon));
  std::string rest = url.substr(colon + 3);
  const std::size_t slash = rest.find_first_of("/?#");
  a.path = slash == std::string::npos ? "/" : rest.substr(slash);
  if (a.path[0] != '/') a.path = "/" + a.path;
  std::string authority = rest.substr(0, slash);
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority = authority.substr(at + 1);
  std::size_t port_colon = std::string::npos;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    a.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size() && authority[close + 1] == ':') port_colon = close + 1;
  } else {
    port_colon = authority.rfind(':');
    a.host = authority.substr(0, port_colon);
  }
  a.port = port_colon == std::string::npos ? default_port(a.scheme) : authority.substr(port_colon + 1);
  return !a.host.empty() && !a.port.empty();
}

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// A connected socket, or -1 with `why` saying what went wrong.
int connect_to(const Address& a, double timeout, std::string& why) {
  addrinfo hints = {};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, &found);
  if (lookup != 0) {
    why = "cannot find the host " + a.host + ": " + gai_strerror(lookup);
    return -1;
  }
  const std::string where = a.host + ":" + a.port;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(static_cast<long long>(std::min(timeout, 1e6) * 1000.0));
  int error = 0;
  int fd = -1;
  for (addrinfo* each = found; each != nullptr && fd < 0; each = each->ai_next) {
    fd = socket(each->ai_family, each->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, each->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    if (connect(fd, each->ai_addr, each->ai_addrlen) != 0 && errno != EINPROGRESS) {
      error = errno;
    } else {
      pollfd ready = {fd, POLLOUT, 0};
      socklen_t length = sizeof error;
      if (poll(&ready, 1, remaining_ms(deadline)) <= 0)
        error = ETIMEDOUT;
      else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    }
    if (error != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd >= 0) return fd;
  if (error == ECONNREFUSED)
    why = "the connection to " + where + " was refused";
  else if (error == ETIMEDOUT)
    why = where + " did not answer within " + seconds_text(timeout) + " s (time-out; see --stream-timeout)";
  else
    why = "cannot connect to " + where + ": " + std::strerror(error);
  return -1;
}

bool send_text(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// The answer's head and the first bytes of its body, until the server
// closes, the bytes are there, or the time is up (`timed_out` then).
std::string receive(int fd, double timeout, bool& timed_out) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(static_cast<long long>(std::min(timeout, 1e6) * 1000.0));
  std::string answer;
  char buffer[16384];
  timed_out = false;
  while (answer.size() < FIRST_BYTES + 16384) {
    pollfd ready = {fd, POLLIN, 0};
    const int polled = poll(&ready, 1, remaining_ms(deadline));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) {
      timed_out = true;
      break;
    }
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  return answer;
}

// What an HTTP server says to a request for the first bytes: "" when its
// answer is a plain success for a stream the video library should read.
std::string ask_http(int fd, const Address& a, double timeout) {
  const std::string request = "GET " + a.path + " HTTP/1.1\r\nHost: " + a.host + "\r\nRange: bytes=0-" +
                              std::to_string(FIRST_BYTES - 1) +
                              "\r\nUser-Agent: strellix\r\nConnection: close\r\n\r\n";
  if (!send_text(fd, request)) return "the server at " + a.host + ":" + a.port + " closed the connection";
  bool timed_out = false;
  const std::string answer = receive(fd, timeout, timed_out);
  const std::size_t head_end = answer.find("\r\n\r\n");
  if (answer.empty() || head_end == std::string::npos) {
    if (timed_out)
      return "the server at " + a.host + ":" + a.port +
             " accepted the connection but sent no answer within " + seconds_text(timeout) +
             " s (time-out; see --stream-timeout)";
    return "the server at " + a.host + ":" + a.port + " closed the connection without an answer";
  }
  const std::string status_line = answer.substr(0, answer.find("\r\n"));
  int code = 0;
  if (std::sscanf(status_line.c_str(), "HTTP/%*d.%*d %d", &code) != 1)
    return "the server at " + a.host + ":" + a.port + " does not answer in HTTP";
  if (code >= 400) {
    const std::size_t text_at = status_line.find(' ');
    return "the server answered HTTP " + status_line.substr(text_at + 1);
  }
  if (code != 200 && code != 206) return "";
  if (index_after_media(answer.substr(head_end + 4)))
    return std::string(
               "it is an mp4 whose index (the moov box) comes after its media data, so it is probably not "
               "streamable") +
           (code == 200 ? " (and the server does not serve byte ranges)" : "") +
           "; move the index to the front: ffmpeg -i IN.mp4 -c copy -movflags +faststart OUT.mp4";
  return "";
}

std::uint64_t big_endian(const std::string& bytes, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int k = 0; k < count; ++k) value = (value << 8) | static_cast<unsigned char>(bytes[at + k]);
  return value;
}

}  // namespace

bool index_after_media(const std::string& bytes) {
  if (bytes.size() < 8 || bytes.compare(4, 4, "ftyp") != 0) return false;  // not an mp4
  std::size_t at = 0;
  while (at + 8 <= bytes.size()) {
    std::uint64_t size = big_endian(bytes, at, 4);
    const std::string type = bytes.substr(at + 4, 4);
    if (type == "moov") return false;
    if (type == "mdat") return true;
    if (size == 1) {
      if (at + 16 > bytes.size()) return false;
      size = big_endian(bytes, at + 8, 8);
    }
    // 0: to the end of the file; below 8: no box at all.
    if (size < 8 || size > bytes.size() - at + (std::uint64_t{1} << 40)) return false;
    at += static_cast<std::size_t>(size);
  }
  return false;
}

std::string why_stream_fails(const std::string& url, double timeout) {
  Address a;
  if (!parse_url(url, a)) return "";
  std::string why;
  const int fd = connect_to(a, timeout, why);
  if (fd < 0) return why;
  if (a.scheme == "http") why = ask_http(fd, a, timeout);
  close(fd);
  return why;
}

}  // namespace strellix::cli
