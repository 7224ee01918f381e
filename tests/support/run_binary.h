// Runs a built program as a child process, as a user or a batch job would,
// without a controlling terminal, so that no test ever waits for a key.
#pragma once

#include <string>
#include <vector>

#include "support/scratch_dir.h"

struct RunResult {
  int exit_code = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;      // the signal that ended it, or 0
  bool timed_out = false;
  std::string out;  // standard output
  std::string err;  // standard error
};

// args[0] is the program path. The child runs in `cwd`, in a new session
// (setsid: no controlling terminal), with standard input from /dev/null.
// DISPLAY is removed from its environment unless `env` sets it; `env`
// entries ("NAME=value") are added or replace existing ones.
RunResult run_binary(const std::vector<std::string>& args, const std::string& cwd, int timeout_seconds = 300,
                     const std::vector<std::string>& env = {});

// The program under test.
RunResult run_strellix(const std::vector<std::string>& switches_after_seq_name, const std::string& seq_name,
                       const std::string& cwd, int timeout_seconds = 300,
                       const std::vector<std::string>& env = {});

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// The names in a directory, "." and ".." left out, sorted; none when it
// cannot be read.
std::vector<std::string> directory_entries(const std::string& dir);

// An empty file at path (emptied if it exists).
void touch_file(const std::string& path);
