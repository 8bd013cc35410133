#include "app/report.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "output/output_sink.h"

namespace respmat {
namespace {

int exit_status(Failure::Kind kind) {
  switch (kind) {
    case Failure::Kind::usage:
      return kExitUsage;
    case Failure::Kind::input:
      return kExitBadInput;
    case Failure::Kind::output:
    case Failure::Kind::standard_output:
      break;
  }
  return kExitWriteFailed;
}

// A line printed on a stream the caller keeps, and whether it got out.
class StatusLine {
 public:
  explicit StatusLine(std::FILE *stream) : stream_(stream) {}

  void print(const char *text) {
    std::fprintf(stream_, "%s\n", text);
    errno = 0;
    failed_ = std::fflush(stream_) != 0 || std::ferror(stream_);
    error_number_ = errno;
  }

  // Reports a failure of the line once the outputs are written; returns the status.
  [[nodiscard]] int report(std::FILE *out, std::FILE *err, const Voice &voice) const {
    if (!failed_) return kExitOk;
    const char *name = stream_ == out ? "standard output" : "standard error";
    voice.say(err, std::string(name) + ": " + std::strerror(error_number_ != 0 ? error_number_ : EIO));
    return kExitStdoutFailed;
  }

 private:
  std::FILE *stream_;
  bool failed_ = false;
  int error_number_ = 0;
};

std::string formatted(const char *pattern, double a, double b = 0.0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

std::string shape(std::int32_t rows, std::int32_t cols) {
  return std::to_string(rows) + " monitors x " + std::to_string(cols) + " correctors";
}

// The one line of each analysis command.
struct FiguresLine {
  std::string operator()(const std::monostate &) const { return {}; }
  std::string operator()(const ComparisonFigures &c) const {
    return "compare: " + shape(c.rows, c.cols) +
           formatted("; rms measured %.6g, residual %.6g", c.rms_measured, c.rms_residual) + "; " +
           std::to_string(c.outliers) + " outlier" + (c.outliers == 1 ? "" : "s");
  }
  std::string operator()(const FitFigures &f) const {
    const double points = static_cast<double>(f.points);
    if (f.kind == FitKind::calibrations)
      return "fit: calibrations of " + std::to_string(f.monitors) + " monitors and " + std::to_string(f.correctors) +
             " correctors" + formatted(", chi2/dof %.4g over %.0f points", f.chi2_reduced, points) +
             formatted(", rms %.4g -> %.4g", f.rms_before, f.rms_after);
    if (f.kind == FitKind::quadrupoles)
      return "fit: gradient errors of " + std::to_string(f.quadrupoles) + " quadrupoles (" + std::to_string(f.kept) +
             " directions kept)" + formatted(", chi2/dof %.4g over %.0f points", f.chi2_reduced, points) +
             formatted(", rms %.4g -> %.4g", f.rms_before, f.rms_after);
    std::string line = "fit:";
    for (const FitParameter &p : f.parameters) line += " " + p.kind + formatted(" %.10g ± %.2g,", p.value, p.error);
    return line + formatted(" chi2/dof %.4g over %.0f points", f.chi2_reduced, points);
  }
  std::string operator()(const CorrectionFigures &c) const {
    std::string line =
        (c.bounded ? "bounded by the limits, over " + std::to_string(c.singular_values) + " singular values"
                   : "kept " + std::to_string(c.kept) + " of " + std::to_string(c.singular_values) +
                         " singular values") +
        formatted("; rms %.6g before, %.6g predicted after", c.rms_before, c.rms_after_predicted);
    if (c.momentum_offset) line += formatted("; momentum offset %.6g", *c.momentum_offset);
    if (c.rf_frequency_change)
      line += formatted("; RF frequency change %.6g", *c.rf_frequency_change) +
              (c.ultra_relativistic ? " (no GAMMA in the table: ultra-relativistic, 1/gamma^2 = 0)" : "");
    return line;
  }
};

// Runs an analysis command: its warnings, then its line once every output is written.
int run_analysis(const std::function<CommandResult(const CommandHooks &)> &run, std::FILE *out, std::FILE *err,
                 const Voice &voice) {
  CommandHooks hooks;
  hooks.standard_output = out;
  const CommandResult result = run(hooks);
  for (const std::string &warning : result.warnings) voice.say(err, warning);
  if (result.error) return voice.failure(err, *result.error);
  // Data on standard output keeps it to itself: the line goes to standard error then.
  StatusLine line(result.wrote_to_standard_output ? err : out);
  line.print(std::visit(FiguresLine{}, result.figures).c_str());
  return line.report(out, err, voice);
}

}  // namespace

Voice::Voice(std::string command) : prefix_(command.empty() ? "respmat" : "respmat " + command) {}

void Voice::say(std::FILE *err, const std::string &line) const {
  std::fprintf(err, "%s: %s\n", prefix_.c_str(), line.c_str());
}

void Voice::usage(std::FILE *err, const std::string &what) const {
  std::fprintf(err, "%s: %s; try '%s --help'\n", prefix_.c_str(), what.c_str(), prefix_.c_str());
}

int Voice::failure(std::FILE *err, const Failure &failure) const {
  if (failure.kind == Failure::Kind::standard_output && failure.error_number == EPIPE) return kExitClosedPipe;
  if (failure.kind == Failure::Kind::usage)
    usage(err, failure.message);
  else
    say(err, failure.message);
  return exit_status(failure.kind);
}

int report_model_run(const std::function<CommandResult(const CommandHooks &)> &run, bool matrix_to_out,
                     std::FILE *out, std::FILE *err, const Voice &voice) {
  StatusLine size_line(matrix_to_out ? err : out);
  CommandHooks hooks;
  hooks.standard_output = out;
  hooks.inputs_read = [&](const CommandResult &inputs) {
    for (const std::string &warning : inputs.warnings) voice.say(err, warning);
    char text[24];  // formatted without allocating: memory may be short by now
    std::snprintf(text, sizeof text, "m=%d", *inputs.m);
    size_line.print(text);
  };
  const CommandResult result = run(hooks);
  if (result.error) return voice.failure(err, *result.error);
  return size_line.report(out, err, voice);
}

int run_reported(const CommandOptions &options, std::FILE *out, std::FILE *err, const Voice &voice) {
  if (const auto *model = std::get_if<ModelOptions>(&options))
    return report_model_run([&](const CommandHooks &hooks) { return run_model(*model, hooks); },
                            named_descriptor(model->output) == 1, out, err, voice);
  return run_analysis(
      [&](const CommandHooks &hooks) {
        return std::visit(
            [&](const auto &command) -> CommandResult {
              using Options = std::decay_t<decltype(command)>;
              if constexpr (std::is_same_v<Options, CompareOptions>) return run_compare(command, hooks);
              if constexpr (std::is_same_v<Options, FitOptions>) return run_fit(command, hooks);
              if constexpr (std::is_same_v<Options, CorrectOptions>) return run_correct(command, hooks);
              return {};
            },
            options);
      },
      out, err, voice);
}

int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err) {
  try {
    ModelOptions options;
    options.source.response = paths.response;
    options.source.phases = paths.phases;
    options.source.strict_phases = false;
    options.output = paths.output;
    return run_reported(options, out, err);
  } catch (const std::bad_alloc &) {
    // Said without allocating, since memory ran out.
    std::fprintf(err, "respmat: %s: %s\n", paths.phases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
}

}  // namespace respmat
