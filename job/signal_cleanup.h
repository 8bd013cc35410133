// Removes temporary files when the process is ended by SIGINT, SIGTERM or SIGHUP, so
// that an interrupted run leaves nothing behind. SIGKILL cannot be caught: a killed
// run still leaves its temporary file.
#ifndef RESPMAT_JOB_SIGNAL_CLEANUP_H
#define RESPMAT_JOB_SIGNAL_CLEANUP_H

#include <string>

namespace respmat {

// While alive, the file at `path` is removed if one of those signals ends the
// process; the signal then takes its default course, so the exit status still says
// which signal ended the run. The first use takes over the signals whose disposition
// is the default (a signal the process ignores, as under nohup, stays ignored).
// A few registrations can be alive at once; past that, or for a path longer than the
// system's limit, a registration removes nothing. Safe with other threads running:
// the handler only reads atomics, calls unlink and raises the signal again.
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
