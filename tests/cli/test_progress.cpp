// The progress line is for people at a terminal: none of it in a batch
// job or a pipe, one self-rewriting line on a terminal.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/cli_runs.h"
#include "support/scratch_dir.h"

namespace {

// Everything the program writes to its terminal, and its exit status.
std::string run_on_terminal(const std::vector<std::string>& args, int& exit_code) {
  std::vector<std::string> command = {STRELLIX_CLI_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : command) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got > 0) {
      seen.append(buffer, static_cast<std::size_t>(got));
    } else if (!(got < 0 && errno == EINTR)) {
      break;  // EIO once the program has gone
    }
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return seen;
}

}  // namespace

TEST(SegmentProgress, ShownOnATerminalOnly) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-progress");
  const RunResult batch =
      run_cli({"segment", scene + "%d.png", "-o", s.path("batch"), "--median-frames", "5"});
  ASSERT_EQ(batch.exit_code, 0) << batch.err;
  EXPECT_EQ(batch.err, "");
  EXPECT_NE(batch.out.find("40 frames (1-40) segmented"), std::string::npos) << batch.out;

  int code = -1;
  const std::string seen =
      run_on_terminal({"segment", scene + "%d.png", "-o", s.path("terminal"), "--median-frames", "5"}, code);
  EXPECT_EQ(code, 0) << seen;
  // The first frame is drawn at once; the line is erased before the summary.
  EXPECT_NE(seen.find("\rframe 1  1/40\033[K"), std::string::npos) << seen;
  EXPECT_NE(seen.find("\r\033[Kstrellix: 40 frames"), std::string::npos) << seen;
  EXPECT_EQ(seen.find('\n'), seen.rfind('\n')) << "one line of progress, rewritten: " << seen;

  const std::string quiet = run_on_terminal(
      {"segment", scene + "%d.png", "-o", s.path("quiet"), "--median-frames", "5", "-q"}, code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(quiet, "");
}
