#include "driver/display.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <opencv2/highgui.hpp>

namespace strellix {

namespace {

constexpr int connect_timeout_ms = 500;
constexpr int probe_timeout_ms = 5000;
constexpr int probe_attempts = 3;
constexpr int probe_retry_pause_ms = 200;
const char* const probe_window_title = "Strellixplus display check";
constexpr int x_tcp_base_port = 6000;

// Waits for a non-blocking connect to finish; true when it succeeded.
bool finish_connect(int fd, int result) {
  if (result == 0) return true;
  if (errno == EAGAIN) return true;  // a local listener with a full queue is still there
  if (errno != EINPROGRESS) return false;
  pollfd entry = {fd, POLLOUT, 0};
  int ready;
  while ((ready = poll(&entry, 1, connect_timeout_ms)) < 0 && errno == EINTR) {
  }
  if (ready <= 0) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

bool connect_and_close(int family, const sockaddr* address, socklen_t length) {
  const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected = finish_connect(fd, connect(fd, address, length));
  close(fd);
  return connected;
}

// abstract: the name lives in the abstract namespace, not in the file system.
bool unix_socket_reachable(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
  return connect_and_close(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length);
}

bool tcp_reachable(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool reached = false;
  for (addrinfo* a = found; a && !reached; a = a->ai_next) {
    reached = connect_and_close(a->ai_family, a->ai_addr, a->ai_addrlen);
  }
  freeaddrinfo(found);
  return reached;
}

bool windows_switched_off = false;
bool notice_printed = false;

void announce_no_windows() {
  if (notice_printed) return;
  notice_printed = true;
  std::fputs("Strellixplus: no display available, running without windows\n", stderr);
  std::fflush(stderr);
}

bool windows_usable() {
  return !windows_switched_off && display_available();
}

// The GUI reports its failures as exceptions (cv::Exception derives from
// std::exception); after one the run goes on without windows.
void switch_windows_off() {
  windows_switched_off = true;
  announce_no_windows();
}

}  // namespace

bool x_display_reachable(const std::string& display) {
  const std::string::size_type colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = display.substr(0, colon);
  const std::string screen_part = display.substr(colon + 1);

  std::size_t digits = 0;
  while (digits < screen_part.size() && std::isdigit(static_cast<unsigned char>(screen_part[digits])))
    ++digits;
  if (digits == 0 || digits > 5) return false;
  if (digits < screen_part.size() && screen_part[digits] != '.') return false;
  const int number = std::atoi(screen_part.substr(0, digits).c_str());

  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    return unix_socket_reachable(path, false) || unix_socket_reachable(path, true);
  }
  if (host[0] == '/') {
    // A socket path given whole (as some launchers set it).
    return unix_socket_reachable(display.substr(0, colon + 1 + digits), false);
  }
  if (!host.empty() && host.back() == ':') return false;  // a protocol this program does not speak
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const int port = x_tcp_base_port + number;
  if (port > 65535) return false;
  return tcp_reachable(host, port);
}

namespace {

// The GUI toolkit ends the process when the display refuses it (no
// authorisation, a server that is not X, a server in the middle of a reset)
// and can wait forever on one that never answers. So a child opens a window
// first, and windows are used only if it succeeds in time. The child then
// stays connected until this process has its own connection: a server
// whose last client leaves resets itself, and would refuse us meanwhile.
pid_t probe_child = -1;
int probe_release_fd = -1;

enum ProbeResult { PROBE_WINDOW_OPENED, PROBE_REFUSED, PROBE_NO_ANSWER };

ProbeResult wait_for_ready_byte(int fd) {
  pollfd entry = {fd, POLLIN, 0};
  int ready;
  while ((ready = poll(&entry, 1, probe_timeout_ms)) < 0 && errno == EINTR) {
  }
  if (ready == 0) return PROBE_NO_ANSWER;
  if (ready < 0) return PROBE_REFUSED;
  char byte = 0;
  ssize_t got;
  while ((got = read(fd, &byte, 1)) < 0 && errno == EINTR) {
  }
  return got == 1 ? PROBE_WINDOW_OPENED : PROBE_REFUSED;
}

void reap_probe_child(bool kill_it) {
  if (probe_release_fd >= 0) close(probe_release_fd);  // the child's cue to leave
  probe_release_fd = -1;
  if (probe_child <= 0) return;
  if (kill_it) kill(probe_child, SIGKILL);
  int status = 0;
  while (waitpid(probe_child, &status, 0) < 0 && errno == EINTR) {
  }
  probe_child = -1;
}

[[noreturn]] void run_probe_child(int ready_fd, int release_fd) {
  const int null_device = open("/dev/null", O_RDWR);
  if (null_device >= 0) {
    dup2(null_device, STDOUT_FILENO);
    dup2(null_device, STDERR_FILENO);
  }
  try {
    cv::namedWindow(probe_window_title, cv::WINDOW_AUTOSIZE);
    cv::destroyWindow(probe_window_title);
  } catch (...) {
    _exit(1);
  }
  const char ready = 1;
  if (write(ready_fd, &ready, 1) != 1) _exit(1);
  char byte;
  while (read(release_fd, &byte, 1) < 0 && errno == EINTR) {
  }
  _exit(0);  // no exit handlers: they belong to the parent
}

ProbeResult probe_in_child() {
  int ready_pipe[2], release_pipe[2];
  if (pipe(ready_pipe) != 0) return PROBE_REFUSED;
  if (pipe(release_pipe) != 0) {
    close(ready_pipe[0]);
    close(ready_pipe[1]);
    return PROBE_REFUSED;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child == 0) {
    close(ready_pipe[0]);
    close(release_pipe[1]);
    run_probe_child(ready_pipe[1], release_pipe[0]);
  }
  close(ready_pipe[1]);
  close(release_pipe[0]);
  probe_child = child;
  probe_release_fd = release_pipe[1];
  const ProbeResult result = child > 0 ? wait_for_ready_byte(ready_pipe[0]) : PROBE_REFUSED;
  close(ready_pipe[0]);
  if (result != PROBE_WINDOW_OPENED) reap_probe_child(true);
  return result;
}

// A refusal can be passing (a reset under way), so the probe is tried again
// a few times before the windows are given up; a display that does not
// answer at all is given up at once.
bool windows_can_be_opened() {
  for (int attempt = 0; attempt < probe_attempts; ++attempt) {
    if (attempt > 0) usleep(probe_retry_pause_ms * 1000);
    const ProbeResult result = probe_in_child();
    if (result == PROBE_WINDOW_OPENED) return true;
    if (result == PROBE_NO_ANSWER) return false;
  }
  return false;
}

}  // namespace

bool display_available() {
  static const bool available = [] {
    const char* display = std::getenv("DISPLAY");
    return display && *display && x_display_reachable(display) && windows_can_be_opened();
  }();
  return available;
}

void open_window(const std::string& title, int x, int y) {
  if (!windows_usable()) {
    announce_no_windows();
    return;
  }
  try {
    cv::namedWindow(title, cv::WINDOW_AUTOSIZE);
    cv::moveWindow(title, x, y);
  } catch (const std::exception&) {
    switch_windows_off();
  }
  // Connected now (or given up): the probe's child may leave.
  reap_probe_child(false);
}

void show_in_window(const std::string& title, const cv::Mat& image) {
  if (!windows_usable()) {
    announce_no_windows();
    return;
  }
  if (image.empty()) return;  // nothing to show; not a reason to give up the windows
  try {
    cv::imshow(title, image);
  } catch (const std::exception&) {
    switch_windows_off();
  }
}

int wait_window_key(int delay_ms) {
  if (!windows_usable()) return -1;
  try {
    return cv::waitKey(delay_ms);
  } catch (const std::exception&) {
    switch_windows_off();
    return -1;
  }
}

void close_window(const std::string& title) {
  if (!windows_usable()) return;
  try {
    cv::destroyWindow(title);
  } catch (const std::exception&) {
    switch_windows_off();
  }
}

}  // namespace strellix
