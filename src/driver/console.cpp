#include "driver/console.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace strellix {

namespace {

void keep_standard_stream_open(int fd) {
  if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
  // The lowest free descriptor is fd itself, as the streams are mended in
  // order 0, 1, 2; dup2 covers anything unexpected.
  const int null_fd = open("/dev/null", O_RDWR);
  if (null_fd < 0 || null_fd == fd) return;
  dup2(null_fd, fd);
  close(null_fd);
}

// Terminal settings to put back if a signal ends the process during a key
// wait, so that the shell is not left without echo.
volatile sig_atomic_t raw_terminal_fd = -1;
termios terminal_settings_before_wait;

const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int ending_signal_count = sizeof ending_signals / sizeof ending_signals[0];
struct sigaction action_before_wait[ending_signal_count];

int ending_signal_slot(int sig) {
  for (int i = 0; i < ending_signal_count; ++i) {
    if (ending_signals[i] == sig) return i;
  }
  return -1;
}

// Puts the terminal back, then hands the signal on to whatever was in charge
// of it before the wait (it is delivered again once this handler returns).
extern "C" void restore_terminal_and_pass_on(int sig) {
  if (raw_terminal_fd >= 0) tcsetattr(raw_terminal_fd, TCSANOW, &terminal_settings_before_wait);
  const int slot = ending_signal_slot(sig);
  if (slot >= 0) {
    sigaction(sig, &action_before_wait[slot], nullptr);
  } else {
    signal(sig, SIG_DFL);
  }
  raise(sig);
}

// A signal the user chose to ignore stays ignored.
void guard_ending_signals(bool guarded[]) {
  for (int i = 0; i < ending_signal_count; ++i) {
    guarded[i] = false;
    if (sigaction(ending_signals[i], nullptr, &action_before_wait[i]) != 0) continue;
    if (action_before_wait[i].sa_handler == SIG_IGN) continue;
    struct sigaction restoring {};
    restoring.sa_handler = restore_terminal_and_pass_on;
    sigemptyset(&restoring.sa_mask);
    guarded[i] = sigaction(ending_signals[i], &restoring, nullptr) == 0;
  }
}

void release_ending_signals(const bool guarded[]) {
  for (int i = 0; i < ending_signal_count; ++i) {
    if (guarded[i]) sigaction(ending_signals[i], &action_before_wait[i], nullptr);
  }
}

}  // namespace

void console_init() {
  for (int fd = 0; fd <= 2; ++fd) keep_standard_stream_open(fd);
  signal(SIGPIPE, SIG_IGN);
}

void console_print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
  // A failed write is of no consequence to the run; forget it.
  std::clearerr(stdout);
}

void wait_key_on_terminal(int fd) {
  termios before{};
  if (tcgetattr(fd, &before) != 0) return;
  termios raw = before;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  terminal_settings_before_wait = before;
  raw_terminal_fd = fd;
  bool guarded[ending_signal_count];
  guard_ending_signals(guarded);
  // TCSANOW keeps keys typed before the wait: one of them answers it.
  if (tcsetattr(fd, TCSANOW, &raw) == 0) {
    unsigned char key = 0;
    while (read(fd, &key, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(fd, TCSANOW, &before);
  }
  release_ending_signals(guarded);
  raw_terminal_fd = -1;
}

// The prompt is worth waiting on only where someone can read it: on a
// terminal, or through a pipe, which may end in one (tee). Written into a
// file or to nowhere, the wait would only hold up a batch.
static bool prompt_can_be_seen() {
  if (isatty(STDOUT_FILENO)) return true;
  struct stat info;
  if (fstat(STDOUT_FILENO, &info) != 0) return false;
  return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
}

void wait_console_key() {
  if (!prompt_can_be_seen()) return;
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  // A background job would be stopped by the terminal on its first read.
  const pid_t foreground = tcgetpgrp(fd);
  if (foreground == -1 || foreground == getpgrp()) wait_key_on_terminal(fd);
  close(fd);
}

}  // namespace strellix
