// Removes temporary files when a signal ends the process, so that an interrupted run
// leaves nothing behind. SIGKILL cannot be caught: a killed run still leaves its
// temporary file.
#ifndef RESPMAT_OUTPUT_SIGNAL_CLEANUP_H
#define RESPMAT_OUTPUT_SIGNAL_CLEANUP_H

#include <string>

namespace respmat {

// While alive, the file at `path` is removed if a signal whose default action ends the
// process (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGXCPU, SIGSEGV, the
// real-time signals, …) ends it; the signal then takes its default course, so the exit
// status still says which signal ended the run. The first use takes over those signals
// whose disposition is still the default (a signal the process ignores, as under
// nohup, or handles itself stays as it was).
//
// Only the process that registered the path removes it: a child forked meanwhile
// inherits the handler, and a signal that ends the child leaves the parent's file alone.
//
// A few registrations can be alive at once; past that, or for a path longer than the
// system's limit, a registration removes nothing. Safe with other threads running:
// the handler only reads atomics, calls getpid and unlink, and raises the signal again.
// Takes over the signals as a first RemovedOnSignal does, and from then on SIGINT or
// SIGTERM arriving while long work runs (see base/stop_request.h) asks it to stop
// instead of ending the process: the work ends within a moment, by itself, its files
// removed, and the caller then ends the process by that signal. For a program's
// main; a library leaves the signals to its host.
void stop_long_work_on_signals();

class RemovedOnSignal {
 public:
  explicit RemovedOnSignal(const std::string &path);
  RemovedOnSignal(const RemovedOnSignal &) = delete;
  RemovedOnSignal &operator=(const RemovedOnSignal &) = delete;
  ~RemovedOnSignal();

 private:
  int slot_ = -1;
};

}  // namespace respmat

#endif
