// Long work that Ctrl-C stops: the work runs with the GIL released on a thread of
// its own, while the calling thread looks for signals every 50 ms, so that
// KeyboardInterrupt comes promptly rather than when the work ends. Work that does not
// take `stop` stops on the process's stop request, made meanwhile.
#ifndef RESPMAT_PYTHON_SRC_INTERRUPTIBLE_H
#define RESPMAT_PYTHON_SRC_INTERRUPTIBLE_H

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>

#include "base/stop_request.h"

namespace respmat::python {

inline constexpr std::chrono::milliseconds kSignalCheckInterval{50};

// Needs the GIL. Returns work(stop). When a signal handler raises meanwhile (Ctrl-C's
// KeyboardInterrupt), sets `stop`, waits for the work to notice it and end, and raises
// that exception; the work's result is then dropped. The work must not touch Python.
template <typename Work>
auto run_interruptibly(Work work) {
  std::atomic<bool> stop{false};
  auto done = std::async(std::launch::async, [&] { return work(static_cast<const std::atomic<bool> &>(stop)); });
  for (;;) {
    bool finished = false;
    {
      pybind11::gil_scoped_release release;
      finished = done.wait_for(kSignalCheckInterval) == std::future_status::ready;
    }
    if (finished) return done.get();
    if (PyErr_CheckSignals() != 0) {
      pybind11::error_already_set interrupted;
      stop = true;
      // The analysis's loops look for the process's request (base/stop_request.h).
      request_stop(SIGINT);
      {
        pybind11::gil_scoped_release release;
        done.wait();
      }
      withdraw_stop_request();
      throw interrupted;
    }
  }
}

}  // namespace respmat::python

#endif
