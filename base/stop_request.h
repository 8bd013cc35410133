// Stopping long work on a signal. A signal handler asks (request_stop is safe in a
// handler); the long loops (the bounded solver, the nonlinear fits, a heat map's rows)
// look between steps and end early by throwing StopRequested, so that the run writes
// nothing and can end by the signal that asked. The request is one process-wide word:
// every long work of the process stops on it.
#ifndef RESPMAT_BASE_STOP_REQUEST_H
#define RESPMAT_BASE_STOP_REQUEST_H

#include <exception>

namespace respmat {

// Asks long work to stop; `signal` (not 0) says why. Safe in a signal handler.
void request_stop(int signal) noexcept;
// Forgets the request, once the work that it stopped has ended.
void withdraw_stop_request() noexcept;
// The signal of the request; 0 when none is made.
[[nodiscard]] int stop_request() noexcept;

class StopRequested final : public std::exception {
 public:
  [[nodiscard]] const char *what() const noexcept override;
};

// Throws StopRequested when a stop is requested.
void stop_if_requested();

// While one is alive, work runs that looks for requests at least every fraction of a
// second: a signal handler may then ask it to stop rather than end the process there.
class LongWork {
 public:
  LongWork() noexcept;
  ~LongWork();
  LongWork(const LongWork &) = delete;
  LongWork &operator=(const LongWork &) = delete;
};

// True while a LongWork is alive. Safe in a signal handler.
[[nodiscard]] bool long_work_running() noexcept;

}  // namespace respmat

#endif
