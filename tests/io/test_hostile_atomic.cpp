// Atomic output files under the conditions of a long batch run: writers on
// several threads, names at the file system's limit, targets in the way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "io/atomic_file.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix;

TEST(HostileAtomicFile, NamesAtTheLimitAreWrittenAndTheirTemporaryNamesFit) {
  const ScratchDir scratch("atomic-limit");
  const std::string& dir = scratch.root;
  const std::string name(255, 'n');
  const std::string temporary = temporary_name_for(dir + "/" + name);
  ASSERT_EQ(temporary.compare(0, dir.size() + 2, dir + "/."), 0) << temporary;
  EXPECT_LE(temporary.size() - dir.size() - 1, 255u);

  const std::vector<unsigned char> bytes = {'P', '6', '\n'};
  EXPECT_TRUE(write_file_atomic(dir + "/" + name, bytes));
  EXPECT_EQ(read_file(dir + "/" + name), "P6\n");
  EXPECT_EQ(directory_entries(dir), std::vector<std::string>{name});
}

TEST(HostileAtomicFile, TargetsInTheWayFailAndLeaveNothing) {
  const ScratchDir scratch("atomic-blocked");
  const std::string& dir = scratch.root;
  mkdir((dir + "/blocked.ppm").c_str(), 0755);
  const std::vector<unsigned char> bytes(1000, 7);
  EXPECT_FALSE(write_file_atomic(dir + "/blocked.ppm", bytes));
  EXPECT_FALSE(write_file_atomic(dir + "/missing/x.ppm", bytes));
  EXPECT_FALSE(write_file_atomic(dir + "/" + std::string(256, 'x'), bytes));
  EXPECT_EQ(directory_entries(dir), std::vector<std::string>{"blocked.ppm"});
}

// Masks are written on one thread while renderings are written on another:
// a signal must remove the temporary file of each.
TEST(HostileAtomicFileDeathTest, SignalRemovesTheTemporaryFileOfEveryThread) {
  const ScratchDir scratch("atomic-threads");
  const std::string& dir = scratch.root;
  const std::string first = dir + "/.a.png.tmp";
  const std::string second = dir + "/.b.ppm.tmp";
  touch_file(first);
  touch_file(second);
  EXPECT_EXIT(
      {
        install_temporary_file_cleanup();
        std::thread writer([&] { begin_temporary_file(first); });
        writer.join();
        begin_temporary_file(second);
        std::raise(SIGTERM);
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_EQ(directory_entries(dir), std::vector<std::string>{});

  // A thread that finished its file forgets only its own.
  touch_file(first);
  touch_file(second);
  EXPECT_EXIT(
      {
        install_temporary_file_cleanup();
        std::thread writer([&] {
          begin_temporary_file(first);
          end_temporary_file();
        });
        begin_temporary_file(second);
        writer.join();
        std::raise(SIGINT);
      },
      testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(directory_entries(dir), std::vector<std::string>{".a.png.tmp"});
}

// A signal handled on one thread while writers on other threads keep
// naming and renaming files: whatever moment the signal meets them in,
// only complete files may stay.
TEST(HostileAtomicFile, SignalWhileOtherThreadsNameFilesLeavesOnlyCompleteOnes) {
  const std::vector<unsigned char> bytes(3000, 9);
  for (int round = 0; round < 150; ++round) {
    const ScratchDir scratch("atomic-race");
    const std::string& dir = scratch.root;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      install_temporary_file_cleanup();
      for (int w = 0; w < 3; ++w) {
        std::thread([&, w] {
          for (unsigned k = 0;; ++k)
            write_file_atomic(dir + "/w" + std::to_string(w) + "_" + std::to_string(k % 8), bytes);
        }).detach();
      }
      usleep(static_cast<useconds_t>(200 + 37 * round));
      std::raise(SIGTERM);
      _exit(99);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "round " << round;
    for (const std::string& name : directory_entries(dir)) {
      ASSERT_EQ(name.find(".tmp."), std::string::npos) << "round " << round << " left " << name;
      EXPECT_EQ(read_file(dir + "/" + name).size(), bytes.size()) << name;
    }
  }
}
