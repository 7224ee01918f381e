// Whole runs of the built program, timed from outside.
//
// The program waits for a key on the console at the end of a run; started
// in a session of its own (no controlling terminal) with standard input
// from /dev/null it has no console to wait on and ends by itself.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

struct WholeRun {
  bool ok = false;
  std::string failure;   // why ok is false
  double wall = 0.0;     // seconds, fork to reaped
  double cpu = 0.0;      // user + system seconds of the child
  long peak_rss_kb = 0;  // the program's maximum resident set, from its start on
};

inline double seconds_of(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

// The high-water mark of a running process's memory, in kB (0 when gone).
inline long high_water_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmHWM:" && status >> value) return value;
    status.ignore(4096, '\n');
  }
  return 0;
}

// Child side: never returns. Only async-signal-safe calls between fork and
// exec; everything it needs is prepared by the parent. `started` closes on
// exec (close-on-exec), which tells the parent the program is running.
[[noreturn]] inline void exec_in_own_session(const char* cwd, const char* out_path, const char* err_path,
                                             char* const* argv, int started) {
  setsid();
  if (chdir(cwd) != 0) {
    _exit(126);
  }
  const int in_fd = open("/dev/null", O_RDONLY);
  const int out_fd = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err_fd = open(err_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in_fd < 0 || out_fd < 0 || err_fd < 0) {
    _exit(126);
  }
  dup2(in_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  execv(argv[0], argv);
  const char failed = 1;
  (void)!write(started, &failed, 1);
  _exit(127);
}

// Runs `program args...` in `cwd` and waits for it. Its standard output and
// error go to stdout.txt and stderr.txt in `cwd`.
inline WholeRun run_program(const std::string& program, const std::vector<std::string>& args,
                            const std::string& cwd) {
  WholeRun result;
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) {
    argv.push_back(&w[0]);
  }
  argv.push_back(nullptr);
  const std::string out_path = cwd + "/stdout.txt";
  const std::string err_path = cwd + "/stderr.txt";

  int started[2];
  if (pipe2(started, O_CLOEXEC) != 0) {
    result.failure = "pipe failed";
    return result;
  }
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    close(started[0]);
    close(started[1]);
    result.failure = "fork failed";
    return result;
  }
  if (pid == 0) {
    close(started[0]);
    exec_in_own_session(cwd.c_str(), out_path.c_str(), err_path.c_str(), argv.data(), started[1]);
  }
  close(started[1]);
  // Until its exec the child is a copy of this process, whose memory the
  // kernel's own peak (ru_maxrss) would count; so the peak is read from the
  // program's own high-water mark while it runs, from its exec on.
  char exec_failed = 0;
  while (read(started[0], &exec_failed, 1) < 0 && errno == EINTR) {
  }
  close(started[0]);
  int status = 0;
  rusage usage{};
  pid_t reaped;
  for (;;) {
    result.peak_rss_kb = std::max(result.peak_rss_kb, high_water_kb(pid));
    reaped = wait4(pid, &status, WNOHANG, &usage);
    if (reaped != 0 && !(reaped < 0 && errno == EINTR)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  result.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (reaped != pid) {
    result.failure = "wait4 failed";
    return result;
  }
  result.cpu = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
  if (WIFSIGNALED(status)) {
    result.failure = "ended by signal " + std::to_string(WTERMSIG(status));
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result.failure = "exit code " + std::to_string(WEXITSTATUS(status)) + " (see " + err_path + ")";
  } else {
    result.ok = true;
  }
  return result;
}
