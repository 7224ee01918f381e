#include "support/run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::vector<std::string> child_environment(const std::vector<std::string>& env) {
  std::vector<std::string> result;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (entry.rfind("DISPLAY=", 0) == 0) continue;
    result.push_back(entry);
  }
  for (const std::string& add : env) {
    std::string name = add.substr(0, add.find('=') + 1);
    for (auto it = result.begin(); it != result.end();) {
      if (it->rfind(name, 0) == 0)
        it = result.erase(it);
      else
        ++it;
    }
    result.push_back(add);
  }
  return result;
}

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

}  // namespace

RunResult run_binary(const std::vector<std::string>& args, const std::string& cwd, int timeout_seconds,
                     const std::vector<std::string>& env) {
  RunResult result;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;

  std::vector<std::string> env_strings = child_environment(env);
  std::vector<char*> argv_ptrs, env_ptrs;
  for (const std::string& a : args) argv_ptrs.push_back(const_cast<char*>(a.c_str()));
  argv_ptrs.push_back(nullptr);
  for (const std::string& e : env_strings) env_ptrs.push_back(const_cast<char*>(e.c_str()));
  env_ptrs.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    execve(argv_ptrs[0], argv_ptrs.data(), env_ptrs.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);

  double deadline = now_seconds() + timeout_seconds;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_count = 2;
  char buffer[65536];
  while (open_count > 0) {
    double left = deadline - now_seconds();
    if (left <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    int ready = poll(fds, 2, static_cast<int>(left * 1000) + 1);
    if (ready < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

RunResult run_strellix(const std::vector<std::string>& switches, const std::string& seq_name,
                       const std::string& cwd, int timeout_seconds, const std::vector<std::string>& env) {
  std::vector<std::string> args = {STRELLIX_BINARY, seq_name};
  args.insert(args.end(), switches.begin(), switches.end());
  return run_binary(args, cwd, timeout_seconds, env);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> directory_entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void touch_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file != nullptr) std::fclose(file);
}
