// Arbitrary argument vectors for the switch readers, shared by the fuzzing
// harness and the regression tests that replay its findings.
//
// The input's first byte picks what is exercised: the run's own reading of
// every switch (even), or one raw Lread_switch call (odd) with a value count
// and a name taken from the byte or from the input's last entry. The rest is
// split at NUL bytes into the entries after the program's name.
//
// A switch error normally ends the process; install_throwing_exit_hook makes
// it throw SwitchExit instead, so one process can take input after input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/run_setup.h"
#include "driver/seq_names.h"
#include "driver/switches.h"

namespace strellix {

struct SwitchExit {
  int code;
};

[[noreturn]] inline void throw_switch_exit(int code) {
  throw SwitchExit{code};
}

inline void install_throwing_exit_hook() {
  switch_exit_hook = throw_switch_exit;
}

constexpr std::size_t max_switch_entries = 64;

inline const char* const* fuzzed_switch_names(std::size_t& count) {
  static const char* const names[] = {"-ini", "-end",      "-n",      "-w1d", "-w2d",      "-e",    "-F",
                                      "-lr",  "-SmaskMOD", "-SmodBG", "-f",   "-ShowMask", "-skip", "-Boot"};
  count = sizeof names / sizeof *names;
  return names;
}

inline std::vector<std::string> split_switch_entries(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> entries(1);
  for (std::size_t i = 0; i < size && entries.size() <= max_switch_entries; ++i) {
    if (data[i] == 0)
      entries.emplace_back();
    else
      entries.back() += static_cast<char>(data[i]);
  }
  if (entries.size() > max_switch_entries) entries.resize(max_switch_entries);
  return entries;
}

// The readers only ever drop entries: what is left is the original vector
// with some entries taken out, in the same order, still null-terminated.
inline const char* switch_vector_problem(int argc, char** argv, const std::vector<char*>& original) {
  if (argc < 1 || static_cast<std::size_t>(argc) > original.size()) return "count out of range";
  if (argv[0] != original[0]) return "program name moved";
  if (argv[argc] != nullptr) return "vector not null-terminated";
  std::size_t next = 1;
  for (int i = 1; i < argc; ++i) {
    while (next < original.size() && original[next] != argv[i]) ++next;
    if (next == original.size()) return "entry not from the original vector, or out of order";
    ++next;
  }
  return nullptr;
}

inline const char* read_switches_like_the_run(int& argc, char** argv) {
  RunSettings s = read_run_settings(argc, argv);
  settings_refused(s);
  if (argc > 1) {
    SeqNames names = split_seq_name(argv[1]);
    if (names.dir + names.base != names.prefix) return "sequence name split loses text";
    frame_file_name(names.prefix, static_cast<long long>(s.ini) - 1);
    rendering_file_name(names.base, s.end);
    initial_model_name(names.dir);
    video_file_name(names.prefix);
  }
  return nullptr;
}

inline const char* read_one_switch_raw(int& argc, char** argv, const std::vector<char*>& original, int k,
                                       const char* name) {
  int lowest = -1;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) {
      lowest = i;
      break;
    }
  static const char absent[] = "absent";
  const int before = argc;
  const char* result = Lread_switch(argc, argv, name, k, absent);
  if (lowest < 0) {
    if (result != absent || argc != before) return "absent switch changed something";
    return nullptr;
  }
  if (argc != before - (k + 1)) return "wrong number of entries removed";
  if (k == 0 && result != original[lowest]) return "flag result is not the switch";
  if (k == 1 && result != original[lowest + 1]) return "value is not the next entry";
  if (k > 1) {
    std::string joined = original[lowest + 1];
    for (int j = 2; j <= k; ++j) joined += std::string(" ") + original[lowest + j];
    if (joined != result) return "joined values differ";
  }
  return nullptr;
}

// Null when the input was handled soundly, else what went wrong. Needs
// install_throwing_exit_hook first.
inline const char* switch_input_problem(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return nullptr;
  const std::uint8_t mode = data[0];
  std::vector<std::string> entries = split_switch_entries(data + 1, size - 1);

  static char program[] = "Strellixplus";
  std::vector<char*> argv;
  argv.push_back(program);
  for (std::string& e : entries) argv.push_back(&e[0]);
  argv.push_back(nullptr);
  const std::vector<char*> original(argv.begin(), argv.end() - 1);
  int argc = static_cast<int>(original.size());

  const char* problem = nullptr;
  try {
    if ((mode & 1) == 0) {
      problem = read_switches_like_the_run(argc, argv.data());
    } else {
      const int k = (mode >> 1) & 3;
      std::size_t name_count = 0;
      const char* const* names = fuzzed_switch_names(name_count);
      const char* name = (mode & 8) == 0 ? names[(mode >> 4) % name_count] : original.back();
      problem = read_one_switch_raw(argc, argv.data(), original, k, name);
    }
  } catch (const SwitchExit& e) {
    if (e.code != 2) return "switch error with an exit code other than 2";
  }
  if (problem != nullptr) return problem;
  return switch_vector_problem(argc, argv.data(), original);
}

}  // namespace strellix
