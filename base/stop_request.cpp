#include "base/stop_request.h"

#include <atomic>

namespace respmat {
namespace {

// Signal handlers read and write these: they must be lock-free to be safe there.
std::atomic<int> requested_signal{0};
std::atomic<int> long_works{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets the stop request");

}  // namespace

void request_stop(int signal) noexcept { requested_signal.store(signal, std::memory_order_relaxed); }

void withdraw_stop_request() noexcept { requested_signal.store(0, std::memory_order_relaxed); }

int stop_request() noexcept { return requested_signal.load(std::memory_order_relaxed); }

const char *StopRequested::what() const noexcept { return "stopped by a signal"; }

void stop_if_requested() {
  if (stop_request() != 0) throw StopRequested();
}

LongWork::LongWork() noexcept { long_works.fetch_add(1, std::memory_order_relaxed); }

LongWork::~LongWork() { long_works.fetch_sub(1, std::memory_order_relaxed); }

bool long_work_running() noexcept { return long_works.load(std::memory_order_relaxed) != 0; }

}  // namespace respmat
