#include "output/signal_cleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/stop_request.h"

namespace respmat {
namespace {

// The signals whose default action ends the process, with or without a core dump.
// SIGKILL and SIGSTOP cannot be caught; SIGCHLD, SIGURG, SIGWINCH and SIGCONT do not
// end it.
std::vector<int> ending_signals() {
  std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,
                              SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,   SIGXCPU, SIGXFSZ,
                              SIGVTALRM, SIGPROF, SIGIO, SIGSYS};
#ifdef SIGSTKFLT
  signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
  return signals;
}

enum SlotState : int { kFree, kFilling, kArmed };

// A path the handler may remove, and the process that may remove it: the handler
// takes them only from an armed slot, and they are written only while the slot is
// being filled.
struct Slot {
  std::atomic<int> state{kFree};
  pid_t owner = 0;
  char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slot states");

std::array<Slot, 8> slots;

// Set once the tool asks that long work be stopped rather than cut short.
std::atomic<bool> stops_long_work{false};
struct sigaction armed = {};

extern "C" void remove_and_end(int signal) {
  // Long work that looks for a stop request ends by itself within a moment and
  // removes its own files; the handler stays in place for the next signal.
  if ((signal == SIGINT || signal == SIGTERM) && stops_long_work.load(std::memory_order_relaxed) &&
      long_work_running()) {
    const int saved_errno = errno;
    request_stop(signal);
    sigaction(signal, &armed, nullptr);
    errno = saved_errno;
    return;
  }
  // A forked child shares the slots but not the files: they are its parent's to keep.
  const pid_t self = ::getpid();
  for (Slot &slot : slots)
    if (slot.state.load(std::memory_order_acquire) == kArmed && slot.owner == self) ::unlink(slot.path);
  // SA_RESETHAND has put back the default action, which now ends the process.
  ::raise(signal);
}

void take_over_default_signals() {
  const std::vector<int> signals = ending_signals();
  armed.sa_handler = remove_and_end;
  armed.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&armed.sa_mask);
  for (const int signal : signals) sigaddset(&armed.sa_mask, signal);
  for (const int signal : signals) {
    struct sigaction current = {};
    if (sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == SIG_DFL)
      sigaction(signal, &armed, nullptr);
  }
}

std::once_flag installed;

}  // namespace

void stop_long_work_on_signals() {
  stops_long_work.store(true, std::memory_order_relaxed);
  std::call_once(installed, take_over_default_signals);
}

RemovedOnSignal::RemovedOnSignal(const std::string &path) {
  std::call_once(installed, take_over_default_signals);
  if (path.size() >= PATH_MAX) return;
  for (int i = 0; i < static_cast<int>(slots.size()); ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire))
      continue;
    slots[i].owner = ::getpid();
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(kArmed, std::memory_order_release);
    slot_ = i;
    return;
  }
}

RemovedOnSignal::~RemovedOnSignal() {
  if (slot_ >= 0) slots[static_cast<std::size_t>(slot_)].state.store(kFree, std::memory_order_release);
}

}  // namespace respmat
