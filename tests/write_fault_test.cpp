// The main job when the disk refuses the output part-way.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "app/report.h"
#include "test_support.h"

namespace {

using respmat::testing::TempDir;

TEST(Job, AFullDiskStopsTheJobWithTheWritesOwnReason) {
  const TempDir dir;
  std::string response = "0";
  for (int j = 1; j < 3000; ++j) response += ",0";
  respmat::testing::write_bytes(dir.file("response.csv"), response + "\n");
  // An infinite phase: its sines leave EDOM in errno, which is not the reason.
  std::string phases = "0.1\ninf\n";
  for (int i = 2; i < 3000; ++i) phases += std::to_string(0.37 * i) + "\n";
  respmat::testing::write_bytes(dir.file("phases.csv"), phases);
  respmat::testing::write_bytes(dir.file("er.csv"), "previous\n");

  // The file size limit stands in for a full disk, in a child process of its own.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string response_path = dir.file("response.csv"), phases_path = dir.file("phases.csv"),
                      output_path = dir.file("er.csv");
    std::FILE *err = std::fopen(dir.file("stderr.txt").c_str(), "w");
    const int status = respmat::run_driver({response_path.c_str(), phases_path.c_str(), output_path.c_str()},
                                           stdout, err);
    std::fclose(err);
    _exit(status);
  }
  int wait_status = 0;
  ASSERT_EQ(waitpid(child, &wait_status, 0), child);
  ASSERT_TRUE(WIFEXITED(wait_status));
  EXPECT_EQ(WEXITSTATUS(wait_status), respmat::kExitWriteFailed);
  EXPECT_EQ(respmat::testing::read_bytes(dir.file("stderr.txt")),
            "respmat: " + dir.file("er.csv") + ": File too large\n");
  EXPECT_EQ(respmat::testing::read_bytes(dir.file("er.csv")), "previous\n");
}

}  // namespace
