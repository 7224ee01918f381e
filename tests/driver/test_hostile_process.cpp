// End-to-end: what surrounds the process in an unattended batch: standard
// streams that are closed or lead nowhere, signals in the middle of a run,
// and X displays that refuse or never answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

const cv::Vec3b BACKGROUND(70, 110, 150);
const cv::Vec3b OBJECT(40, 250, 250);

// The sequence and the stream files in root, the run's outputs in work.
struct Scratch : ScratchDir {
  std::string seq = path("seq");
  std::string work = path("work");
  Scratch() : ScratchDir("hostile-process") { mkdir(work.c_str(), 0755); }
};

cv::Mat scene_frame(int k, int width, int height) {
  cv::Mat frame = solid_frame(width, height, BACKGROUND);
  if (k > 3) paint_rect(frame, (3 * k) % (width - 8), height / 4, 8, 8, OBJECT);
  return frame;
}

enum class Stream { TO_FILE, CLOSED, BROKEN_PIPE, TERMINAL };

struct Launch {
  std::vector<std::string> args;
  std::string cwd;
  std::string out_file, err_file;  // for streams TO_FILE
  Stream out = Stream::TO_FILE;
  Stream err = Stream::TO_FILE;
  std::string display;   // empty: no DISPLAY at all
  std::string terminal;  // pseudo-terminal to be the controlling terminal, if any
};

Launch launch_in(const Scratch& s, const std::vector<std::string>& switches) {
  Launch l;
  l.args = {STRELLIX_BINARY, s.seq};
  l.args.insert(l.args.end(), switches.begin(), switches.end());
  l.cwd = s.work;
  l.out_file = s.path("launch.out");
  l.err_file = s.path("launch.err");
  return l;
}

// Starts the program like a batch job would: its own session (no terminal),
// standard input from /dev/null, the output streams as asked.
pid_t launch(const Launch& l) {
  std::vector<char*> argv;
  for (const std::string& a : l.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  setsid();
  // Opening a terminal after setsid makes it the controlling one, with
  // this process in the foreground.
  const int tty = l.terminal.empty() ? -1 : open(l.terminal.c_str(), O_RDWR);
  const int in = open("/dev/null", O_RDONLY);
  dup2(in, 0);
  const Stream modes[2] = {l.out, l.err};
  const std::string files[2] = {l.out_file, l.err_file};
  for (int i = 0; i < 2; ++i) {
    const int fd = i + 1;
    if (modes[i] == Stream::CLOSED) {
      close(fd);
    } else if (modes[i] == Stream::TERMINAL) {
      dup2(tty, fd);
    } else if (modes[i] == Stream::BROKEN_PIPE) {
      int ends[2];
      if (pipe(ends) != 0) _exit(120);
      close(ends[0]);  // nobody will ever read
      dup2(ends[1], fd);
      close(ends[1]);
    } else {
      const int file = open(files[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(file, fd);
      close(file);
    }
  }
  if (l.display.empty())
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", l.display.c_str(), 1);
  if (chdir(l.cwd.c_str()) != 0) _exit(121);
  execv(argv[0], argv.data());
  _exit(122);
}

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct Ending {
  bool timed_out = false;
  int exit_code = -1;
  int signal = 0;
};

Ending wait_for(pid_t pid, double seconds) {
  Ending ending;
  const double deadline = now_seconds() + seconds;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (now_seconds() > deadline) {
      ending.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return ending;
    }
    usleep(10000);
  }
  if (WIFEXITED(status)) ending.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) ending.signal = WTERMSIG(status);
  return ending;
}

// No temporary file, and every mask and rendering present is complete.
// Returns the number of masks.
int expect_complete_outputs(const std::string& dir, int width, int height) {
  int masks = 0;
  const std::size_t ppm_size =
      std::string("P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n").size() +
      3u * width * height;
  for (const std::string& name : directory_entries(dir)) {
    EXPECT_EQ(name.find(".tmp."), std::string::npos) << "left behind: " << name;
    if (name.rfind("bin", 0) == 0) {
      const cv::Mat mask = cv::imread(dir + "/" + name, cv::IMREAD_UNCHANGED);
      EXPECT_FALSE(mask.empty()) << name << " does not decode";
      EXPECT_EQ(mask.size(), cv::Size(width, height)) << name;
      ++masks;
    } else if (name.find(".ppm") != std::string::npos) {
      EXPECT_EQ(read_file(dir + "/" + name).size(), ppm_size) << name;
    }
  }
  return masks;
}

void write_short_scene(const Scratch& s, int last) {
  for (int k = 1; k <= last; ++k) ASSERT_TRUE(write_frame(s.seq, k, scene_frame(k, 24, 18)));
}

// A fake X server on an abstract socket: it either accepts and hangs up at
// once (as a server refusing the client does) or never answers.
struct FakeDisplay {
  int number = -1;
  int listener = -1;
  std::atomic<bool> stop{false};
  std::thread acceptor;

  explicit FakeDisplay(bool answers) {
    for (int candidate = 700 + static_cast<int>(getpid() % 150); candidate < 1000 && listener < 0;
         ++candidate) {
      const std::string path = "/tmp/.X11-unix/X" + std::to_string(candidate);
      struct stat info;
      if (stat(path.c_str(), &info) == 0) continue;
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path + 1, path.data(), path.size());
      const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
      if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd, 64) == 0) {
        listener = fd;
        number = candidate;
      } else {
        close(fd);
      }
    }
    if (answers && listener >= 0) acceptor = std::thread([this] { hang_up_on_everyone(); });
  }
  ~FakeDisplay() {
    stop = true;
    if (acceptor.joinable()) acceptor.join();
    if (listener >= 0) close(listener);
  }
  void hang_up_on_everyone() {
    while (!stop) {
      pollfd entry = {listener, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      const int client = accept(listener, nullptr, nullptr);
      if (client >= 0) close(client);
    }
  }
  std::string name() const { return ":" + std::to_string(number); }
};

const char* const NO_DISPLAY_NOTICE = "Strellixplus: no display available, running without windows\n";

}  // namespace

// Console output that goes nowhere is no reason to stop, nor to report a
// failure: the masks are what the run is for.
TEST(HostileProcess, ClosedOrBrokenStandardStreams) {
  struct Case {
    const char* what;
    Stream out, err;
  };
  const Case cases[] = {
      {"standard output closed", Stream::CLOSED, Stream::TO_FILE},
      {"standard output a broken pipe", Stream::BROKEN_PIPE, Stream::TO_FILE},
      {"both closed", Stream::CLOSED, Stream::CLOSED},
      {"both broken pipes", Stream::BROKEN_PIPE, Stream::BROKEN_PIPE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch s;
    write_short_scene(s, 12);
    Launch l = launch_in(s, {"-F", "3", "-n", "3", "-end", "12", "-SmodBG"});
    l.out = c.out;
    l.err = c.err;
    const Ending ending = wait_for(launch(l), 60);
    ASSERT_FALSE(ending.timed_out);
    EXPECT_EQ(ending.signal, 0);
    EXPECT_EQ(ending.exit_code, 0);
    EXPECT_EQ(expect_complete_outputs(s.work, 24, 18), 12);
    // Nothing written to a closed stream may land in an output file.
    EXPECT_TRUE(file_exists(s.path("InitialModel.png")));
    if (c.err == Stream::TO_FILE) {
      EXPECT_EQ(read_file(s.path("launch.err")), "");
    }
  }
}

// A run stopped by SIGINT or SIGTERM while it writes masks and renderings
// ends by that signal and leaves no temporary file and no partial output.
TEST(HostileProcess, InterruptedRunLeavesOnlyCompleteFiles) {
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(sig));
    Scratch s;
    const std::string& work = s.work;
    // A long sequence made of links to a few frames.
    const int width = 160, height = 120, last = 4000;
    for (int k = 1; k <= 4; ++k)
      ASSERT_TRUE(write_frame(s.path("pattern"), k, scene_frame(k + 3, width, height)));
    for (int k = 1; k <= last; ++k) {
      const std::string target = s.path("pattern") + std::to_string(1 + k % 4) + ".png";
      ASSERT_EQ(symlink(target.c_str(), (s.seq + std::to_string(k) + ".png").c_str()), 0);
    }
    const pid_t pid = launch(launch_in(s, {"-F", "4", "-n", "3", "-end", std::to_string(last), "-SmodBG"}));
    const double deadline = now_seconds() + 60;
    while (!file_exists(work + "/bin000030.png") && now_seconds() < deadline) usleep(2000);
    ASSERT_TRUE(file_exists(work + "/bin000030.png"));
    kill(pid, sig);
    const Ending ending = wait_for(pid, 30);
    ASSERT_FALSE(ending.timed_out);
    EXPECT_EQ(ending.signal, sig) << "exit code " << ending.exit_code;
    const int masks = expect_complete_outputs(work, width, height);
    EXPECT_GE(masks, 30);
    EXPECT_LT(masks, last) << "the run should have been stopped early";
  }
}

// Without a usable display the windows are dropped with one notice, and the
// run goes on: no abort inside the GUI toolkit, no endless wait for it.
TEST(HostileProcess, DisplaysThatCannotBeUsed) {
  FakeDisplay refusing(true);
  FakeDisplay silent(false);
  ASSERT_GE(refusing.listener, 0);
  ASSERT_GE(silent.listener, 0);
  struct Case {
    const char* what;
    std::string display;
  };
  const Case cases[] = {
      {"no DISPLAY", ""},
      {"nothing listens", ":12345"},
      {"not a display name", "nonsense"},
      {"server hangs up at once", refusing.name()},
      {"server never answers", silent.name()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch s;
    write_short_scene(s, 6);
    Launch l = launch_in(s, {"-F", "3", "-n", "2", "-end", "6", "-ShowMask", "1"});
    l.display = c.display;
    const Ending ending = wait_for(launch(l), 60);
    ASSERT_FALSE(ending.timed_out);
    EXPECT_EQ(ending.signal, 0);
    EXPECT_EQ(ending.exit_code, 0);
    EXPECT_EQ(read_file(s.path("launch.err")), NO_DISPLAY_NOTICE);
    EXPECT_NE(read_file(s.path("launch.out")).find("Hit any key to continue...\n"), std::string::npos);
    EXPECT_EQ(expect_complete_outputs(s.work, 24, 18), 6);
  }
}

// On a terminal the final prompt is waited on, as asked; with the console
// text going into a file nobody sees the prompt, and a batch run left in a
// terminal (a detached multiplexer session) must not hang on it.
TEST(HostileProcess, FinalKeyWaitOnlyWhereThePromptCanBeSeen) {
  for (bool prompt_on_terminal : {false, true}) {
    SCOPED_TRACE(prompt_on_terminal ? "output on the terminal" : "output into a file");
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    Scratch s;
    write_short_scene(s, 3);
    Launch l = launch_in(s, {"-F", "3"});
    l.terminal = ptsname(master);
    if (prompt_on_terminal) l.out = Stream::TERMINAL;
    const pid_t pid = launch(l);
    if (prompt_on_terminal) {
      // Still waiting well after its work is done; one key ends it.
      const double deadline = now_seconds() + 30;
      while (!file_exists(s.work + "/bin000002.png") && now_seconds() < deadline) usleep(10000);
      usleep(500000);
      int status = 0;
      EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "ended without waiting for the key";
      ASSERT_EQ(write(master, "x", 1), 1);
    }
    const Ending ending = wait_for(pid, 30);
    close(master);
    ASSERT_FALSE(ending.timed_out);
    EXPECT_EQ(ending.exit_code, 0);
    if (!prompt_on_terminal) {
      const std::string out = read_file(s.path("launch.out"));
      EXPECT_EQ(out.substr(out.size() - 27), "Hit any key to continue...\n");
    }
  }
}
