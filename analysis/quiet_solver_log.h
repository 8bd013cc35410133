// Internal: Ceres Solver speaks through glog on standard error (steps it rejects, a
// rank-deficient covariance), several lines at a time and stamped. The analysis
// reports every outcome through its results, and the tool's messages are one line
// each, so the log stays quiet while a solver works and its level comes back after.
#ifndef RESPMAT_ANALYSIS_QUIET_SOLVER_LOG_H
#define RESPMAT_ANALYSIS_QUIET_SOLVER_LOG_H

#include <glog/logging.h>

#include <mutex>

namespace respmat::analysis {

class QuietSolverLog {
 public:
  QuietSolverLog() {
    const std::lock_guard lock(mutex_);
    if (users_++ == 0) {
      saved_level_ = FLAGS_minloglevel;
      FLAGS_minloglevel = google::GLOG_FATAL;
    }
  }
  ~QuietSolverLog() {
    const std::lock_guard lock(mutex_);
    if (--users_ == 0) FLAGS_minloglevel = saved_level_;
  }
  QuietSolverLog(const QuietSolverLog &) = delete;
  QuietSolverLog &operator=(const QuietSolverLog &) = delete;

 private:
  // Solvers may run on several threads at once: the first one in quiets the log,
  // the last one out restores it.
  inline static std::mutex mutex_;
  inline static int users_ = 0;
  inline static int saved_level_ = 0;
};

}  // namespace respmat::analysis

#endif
