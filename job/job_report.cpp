#include "job/job_report.h"

#include "job/output_sink.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace respmat {
namespace {

// The one place the tool's usage hint is written.
constexpr char kUsageHint[] = "try 'respmat --help'";

// Prints "respmat: <text>" on `err`.
void print_line(std::FILE *err, const std::string &text) { std::fprintf(err, "respmat: %s\n", text.c_str()); }

int exit_status(JobError::Kind kind) {
  switch (kind) {
    case JobError::Kind::usage:
      return kExitUsage;
    case JobError::Kind::input:
      return kExitBadInput;
    case JobError::Kind::output:
    case JobError::Kind::standard_output:
      break;
  }
  return kExitWriteFailed;
}

// The "m=" line, printed before the outputs are written, and whether it got out.
class SizeLine {
 public:
  explicit SizeLine(std::FILE *stream) : stream_(stream) {}

  void print(const JobResult &inputs, std::FILE *err) {
    for (const std::string &warning : inputs.warnings) print_line(err, warning);
    std::fprintf(stream_, "m=%d\n", *inputs.m);
    errno = 0;
    failed_ = std::fflush(stream_) != 0 || std::ferror(stream_);
    error_number_ = errno;
  }

  // Reports a failure of the line after the outputs were written; returns the status.
  [[nodiscard]] int report(std::FILE *out, std::FILE *err) const {
    if (!failed_) return kExitOk;
    const char *name = stream_ == out ? "standard output" : "standard error";
    std::fprintf(err, "respmat: %s: %s\n", name, error_number_ != 0 ? std::strerror(error_number_) : "cannot be read");
    return kExitStdoutFailed;
  }

 private:
  std::FILE *stream_;
  bool failed_ = false;
  int error_number_ = 0;
};

}  // namespace

void report_usage(std::FILE *err, const std::string &what) {
  std::fprintf(err, "respmat: %s; %s\n", what.c_str(), kUsageHint);
}

int report_failure(const JobError &error, std::FILE *err) {
  if (error.kind == JobError::Kind::usage)
    report_usage(err, error.message);
  else
    print_line(err, error.message);
  return exit_status(error.kind);
}

int run_reported(const std::function<JobResult(const JobHooks &)> &job, bool matrix_to_out, std::FILE *out,
                 std::FILE *err) {
  SizeLine size_line(matrix_to_out ? err : out);
  JobHooks hooks;
  hooks.standard_output = out;
  hooks.inputs_read = [&](const JobResult &inputs) { size_line.print(inputs, err); };
  const JobResult result = job(hooks);
  if (result.error) return report_failure(*result.error, err);
  return size_line.report(out, err);
}

int run_command_reported(const std::function<JobResult(std::string &line)> &command, std::FILE *out, std::FILE *err) {
  std::string line;
  const JobResult result = command(line);
  for (const std::string &warning : result.warnings) print_line(err, warning);
  if (result.error) return report_failure(*result.error, err);
  std::fprintf(out, "%s\n", line.c_str());
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "respmat: standard output: %s\n", std::strerror(errno != 0 ? errno : EIO));
    return kExitStdoutFailed;
  }
  return kExitOk;
}

int run_job(const JobOptions &options, std::FILE *out, std::FILE *err) {
  return run_reported([&](const JobHooks &hooks) { return run_job(options, hooks); },
                      named_descriptor(options.output) == 1, out, err);
}

int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err) {
  try {
    JobOptions options;
    options.response = paths.response;
    options.phases = paths.phases;
    options.output = paths.output;
    options.strict_phases = false;
    return run_job(options, out, err);
  } catch (const std::bad_alloc &) {
    // Said without allocating, since memory ran out.
    std::fprintf(err, "respmat: %s: %s\n", paths.phases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
}

}  // namespace respmat
