#include "output/signal_cleanup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>
#include <cstring>
#include <filesystem>

#include "test_support.h"

namespace {

using respmat::RemovedOnSignal;
using respmat::testing::TempDir;
using respmat::testing::write_bytes;

// Runs `body` in a child process, which exits with 0 should the body return;
// returns the child's wait status.
template <typename Body>
int status_of_child(Body body) {
  const pid_t child = ::fork();
  if (child == 0) {
    body();
    ::_exit(0);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  return status;
}

bool ended_by(int status, int signal) { return WIFSIGNALED(status) && WTERMSIG(status) == signal; }

// A child that registers a file and is then ended by `signal`, which the test runner
// leaves at its default action.
int register_then_raise(const std::string &path, int signal) {
  return status_of_child([&] {
    const rlimit no_core = {0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    write_bytes(path, "partial");
    const RemovedOnSignal cleanup(path);
    ::raise(signal);
  });
}

TEST(RemovedOnSignal, EverySignalThatEndsTheProcessRemovesTheFileFirst) {
  TempDir dir;
  const std::string path = dir.file("out.tmp");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGXFSZ, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                           SIGPROF, SIGRTMIN, SIGRTMAX}) {
    SCOPED_TRACE(strsignal(signal));
    EXPECT_TRUE(ended_by(register_then_raise(path, signal), signal));
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

// A forked child (os.fork, a pool's worker) inherits the handler and the registration;
// a signal that ends it must leave the parent's file to the parent.
TEST(RemovedOnSignal, OnlyTheProcessThatRegisteredTheFileRemovesIt) {
  TempDir dir;
  const std::string path = dir.file("out.tmp");
  const int parent = status_of_child([&] {
    write_bytes(path, "partial");
    const RemovedOnSignal cleanup(path);
    const int child = status_of_child([] { ::raise(SIGTERM); });
    if (!ended_by(child, SIGTERM) || !std::filesystem::exists(path)) ::_exit(1);
    ::raise(SIGTERM);
  });
  EXPECT_TRUE(ended_by(parent, SIGTERM)) << parent;
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
