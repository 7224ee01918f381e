#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "driver/console.h"
#include "driver/display.h"

using namespace strellix;

namespace {

struct ChildResult {
  int exit_code = -1;  // -1 when a signal ended it
  std::string out, err;
};

std::string read_all_from(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text;
}

// Runs body in a forked child with standard output and error captured; the
// child is killed if it takes longer than ten seconds.
ChildResult run_in_child(const std::function<int()>& body) {
  ChildResult result;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    const int code = body();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  result.out = read_all_from(out_pipe[0]);
  result.err = read_all_from(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

struct PseudoTerminal {
  int master = -1;
  int slave = -1;
  PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    const char* name = ptsname(master);
    if (name) slave = open(name, O_RDWR | O_NOCTTY);
  }
  ~PseudoTerminal() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
  tcflag_t local_flags() const {
    termios t{};
    tcgetattr(slave, &t);
    return t.c_lflag;
  }
};

bool wait_until(const std::function<bool()>& condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Abstract sockets need no file, so a test can stand in for a local display.
int listen_abstract(const std::string& name) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void end_with_code_42(int) {
  _exit(42);
}

constexpr const char* no_display_notice = "Strellixplus: no display available, running without windows\n";

int use_every_window_call() {
  open_window("seq", 50, 1);
  open_window("Output", 400, 1);
  show_in_window("Output", cv::Mat(4, 4, CV_8UC1, cv::Scalar(255)));
  const auto start = std::chrono::steady_clock::now();
  const int key = wait_window_key(5000);
  const auto waited = std::chrono::steady_clock::now() - start;
  close_window("Output");
  close_window("seq");
  if (key != -1) return 3;
  if (waited > std::chrono::seconds(2)) return 4;
  return display_available() ? 5 : 0;
}

}  // namespace

TEST(Console, KeyWaitOnATerminalTakesOneKeyWithoutEchoAndRestoresTheSettings) {
  PseudoTerminal pty;
  ASSERT_GE(pty.slave, 0);
  ASSERT_TRUE(pty.local_flags() & ICANON);
  ASSERT_TRUE(pty.local_flags() & ECHO);

  auto waiting = std::async(std::launch::async, [&] { wait_key_on_terminal(pty.slave); });
  ASSERT_TRUE(wait_until([&] { return !(pty.local_flags() & (ICANON | ECHO)); }));
  EXPECT_NE(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::ready)
      << "returned before a key";

  ASSERT_EQ(write(pty.master, "k", 1), 1);
  if (waiting.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    (void)!write(pty.master, "kkkk\n", 5);  // let the thread end before failing
    waiting.wait();
    FAIL() << "the key did not end the wait";
  }
  EXPECT_TRUE(pty.local_flags() & ICANON);
  EXPECT_TRUE(pty.local_flags() & ECHO);

  // The key was not echoed back to the terminal.
  pollfd entry = {pty.master, POLLIN, 0};
  EXPECT_EQ(poll(&entry, 1, 100), 0);
}

TEST(Console, KeyTypedBeforeTheWaitAnswersIt) {
  PseudoTerminal pty;
  ASSERT_GE(pty.slave, 0);
  termios quiet{};
  tcgetattr(pty.slave, &quiet);
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(pty.slave, TCSANOW, &quiet);
  ASSERT_EQ(write(pty.master, "q", 1), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto waiting = std::async(std::launch::async, [&] { wait_key_on_terminal(pty.slave); });
  if (waiting.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    (void)!write(pty.master, "kkkk\n", 5);
    waiting.wait();
    FAIL() << "a key typed before the wait was lost";
  }
  EXPECT_TRUE(pty.local_flags() & ICANON);
  EXPECT_FALSE(pty.local_flags() & ECHO);
}

TEST(Console, SignalDuringTheKeyWaitRestoresTheTerminalAndReachesTheEarlierHandler) {
  for (const bool earlier_handler : {false, true}) {
    PseudoTerminal pty;
    ASSERT_GE(pty.slave, 0);
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(10);
      if (earlier_handler) signal(SIGTERM, end_with_code_42);
      wait_key_on_terminal(pty.slave);
      _exit(0);
    }
    ASSERT_GT(pid, 0);
    const bool went_raw = wait_until([&] { return !(pty.local_flags() & ICANON); });
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(went_raw);
    if (earlier_handler) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42);
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    }
    EXPECT_TRUE(pty.local_flags() & ICANON);
    EXPECT_TRUE(pty.local_flags() & ECHO);
  }
}

TEST(Console, KeyWaitReturnsAtOnceWithoutATerminal) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  wait_key_on_terminal(ends[0]);  // a pipe is no terminal: no read, no block
  wait_key_on_terminal(-1);
  close(ends[0]);
  close(ends[1]);

  // In a new session there is no controlling terminal to open.
  const ChildResult child = run_in_child([] {
    if (setsid() < 0) return 9;
    wait_console_key();
    return 0;
  });
  EXPECT_EQ(child.exit_code, 0);
}

TEST(Console, PrintFormatsAndShowsAtOnce) {
  const ChildResult child = run_in_child([] {
    console_init();
    console_print("    processing frame no. ");
    console_print("%d ", 17);
    console_print("%s%%%s\n", "a", "b");
    _exit(0);  // no exit-time flush: the text must already be out
    return 1;
  });
  EXPECT_EQ(child.exit_code, 0);
  EXPECT_EQ(child.out, "    processing frame no. 17 a%b\n");
  EXPECT_EQ(child.err, "");
}

TEST(Console, BrokenOrClosedStandardOutputDoesNotEndTheRun) {
  const ChildResult broken = run_in_child([] {
    int ends[2];
    if (pipe(ends) != 0) return 9;
    dup2(ends[1], 1);
    close(ends[1]);
    close(ends[0]);  // nobody reads any more
    console_init();
    for (int i = 0; i < 2000; ++i) console_print("frame %d of a long run\n", i);
    std::fputs("survived\n", stderr);
    return 0;
  });
  EXPECT_EQ(broken.exit_code, 0);
  EXPECT_EQ(broken.err, "survived\n");

  char dir_template[] = "/tmp/strellix-console-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string file = std::string(dir_template) + "/out.bin";
  const ChildResult closed = run_in_child([&] {
    close(1);
    console_init();
    // A file opened later must not take over the console's descriptor.
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd == 1) return 7;
    console_print("text for the console\n");
    close(fd);
    return 0;
  });
  EXPECT_EQ(closed.exit_code, 0);
  FILE* written = std::fopen(file.c_str(), "rb");
  ASSERT_NE(written, nullptr);
  EXPECT_EQ(std::fgetc(written), EOF);
  std::fclose(written);
  std::remove(file.c_str());
  rmdir(dir_template);
}

TEST(Display, ReachabilityFollowsWhatListens) {
  EXPECT_FALSE(x_display_reachable(""));
  EXPECT_FALSE(x_display_reachable("nonsense"));
  EXPECT_FALSE(x_display_reachable(":"));
  EXPECT_FALSE(x_display_reachable(":abc"));
  EXPECT_FALSE(x_display_reachable(":1x"));
  EXPECT_FALSE(x_display_reachable(":99999999"));
  EXPECT_FALSE(x_display_reachable("host::0"));
  EXPECT_FALSE(x_display_reachable(":987"));
  EXPECT_FALSE(x_display_reachable(":987.0"));

  // A local display, on the abstract socket a server also offers.
  const int number = 900 + static_cast<int>(getpid() % 80);
  const std::string local = ":" + std::to_string(number);
  const int listener = listen_abstract("/tmp/.X11-unix/X" + std::to_string(number));
  ASSERT_GE(listener, 0);
  EXPECT_TRUE(x_display_reachable(local));
  EXPECT_TRUE(x_display_reachable(local + ".0"));
  EXPECT_TRUE(x_display_reachable("unix" + local));
  EXPECT_FALSE(x_display_reachable(":" + std::to_string(number + 1)));
  close(listener);
  EXPECT_FALSE(x_display_reachable(local));

  // A display over TCP on the loopback address, port 6000 + number.
  const int tcp = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(tcp, 4), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(tcp, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int port = ntohs(address.sin_port);
  if (port > 6000) {
    const std::string remote = "127.0.0.1:" + std::to_string(port - 6000);
    EXPECT_TRUE(x_display_reachable(remote));
    EXPECT_TRUE(x_display_reachable(remote + ".1"));
    close(tcp);
    EXPECT_FALSE(x_display_reachable(remote));
  } else {
    close(tcp);
  }
}

TEST(Display, WithoutADisplayWindowCallsDoNothingAndNoteItOnce) {
  const ChildResult unset = run_in_child([] {
    unsetenv("DISPLAY");
    return use_every_window_call();
  });
  EXPECT_EQ(unset.exit_code, 0);
  EXPECT_EQ(unset.out, "");
  EXPECT_EQ(unset.err, no_display_notice);

  const ChildResult empty = run_in_child([] {
    setenv("DISPLAY", "", 1);
    return use_every_window_call();
  });
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(empty.err, no_display_notice);

  // Set, but nothing listens there.
  const ChildResult dead = run_in_child([] {
    setenv("DISPLAY", ":987", 1);
    return use_every_window_call();
  });
  EXPECT_EQ(dead.exit_code, 0);
  EXPECT_EQ(dead.out, "");
  EXPECT_EQ(dead.err, no_display_notice);

  // Only a window request brings the notice.
  const ChildResult quiet = run_in_child([] {
    unsetenv("DISPLAY");
    const bool shown = wait_window_key(20) != -1 || display_available();
    close_window("Output");
    return shown ? 1 : 0;
  });
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.err, "");
}
