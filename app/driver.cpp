#include "app/driver.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/driver_output.h"
#include "app/heat_map.h"
#include "app/model.h"
#include "app/model_rows.h"
#include "app/model_writer.h"
#include "app/replace_file.h"
#include "text/number_text.h"
#include "text/first_line_fields.h"
#include "text/line_source.h"
#include "text/owned_file.h"

namespace respmat {
namespace detail {

// Takes C strings, so that reporting memory running out needs no memory.
void report(std::FILE *err, const char *file, const char *reason) {
  std::fprintf(err, "respmat: %s: %s\n", file, reason);
}
void report(std::FILE *err, const char *file, const std::string &reason) {
  report(err, file, reason.c_str());
}

std::string errno_reason() { return errno != 0 ? std::strerror(errno) : "cannot be read"; }

std::string too_few_phases(std::int64_t rows, std::int32_t m) {
  return "has " + std::to_string(rows) + " rows, but the response matrix needs " +
         std::to_string(m) + " phases";
}

}  // namespace detail
namespace {

using detail::errno_reason;
using detail::OwnedFile;
using detail::report;
using detail::too_few_phases;

void report(std::FILE *err, const std::string &file, const std::string &reason) {
  report(err, file.c_str(), reason.c_str());
}

constexpr char kUsageHint[] = "try 'respmat --help'";

void report_usage(std::FILE *err, const std::string &what) {
  std::fprintf(err, "respmat: %s; %s\n", what.c_str(), kUsageHint);
}

// An input as the job names it: given by the user, or the default beside the run folder.
struct InputFile {
  std::string path;
  bool is_default = false;
};

// A default input that is missing is most often a run from the wrong folder: say
// where the file was looked for and how to name it instead.
void report_input_failure(std::FILE *err, const InputFile &input, int error_number) {
  if (input.is_default && error_number == ENOENT) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(input.path, ignored).lexically_normal();
    report(err, absolute.empty() ? input.path : absolute.string(),
           std::string(std::strerror(ENOENT)) +
               "; the inputs are expected in the parent folder, or can be given with --response and --phases");
    return;
  }
  errno = error_number;
  report(err, input.path, errno_reason());
}

// What the model depends on: m and the first m phases.
struct Inputs {
  std::int32_t m = 0;
  std::vector<double> phases;
};

OwnedFile open_input(const InputFile &input, std::FILE *err) {
  errno = 0;
  OwnedFile file(std::fopen(input.path.c_str(), "rb"));
  if (!file) report_input_failure(err, input, errno);
  return file;
}

// m is the number of fields of the response file's first line (0 without lines).
std::optional<std::int32_t> read_response_width(const InputFile &response, std::FILE *err) {
  const OwnedFile file = open_input(response, err);
  if (!file) return std::nullopt;
  errno = 0;
  const std::optional<std::int64_t> fields = detail::count_first_line_fields(file.get());
  if (!fields) {
    report(err, response.path, errno_reason());
    return std::nullopt;
  }
  if (*fields > INT32_MAX) {
    report(err, response.path, "has more columns than the tool can handle");
    return std::nullopt;
  }
  return static_cast<std::int32_t>(*fields);
}

// The first phase of the bare command's reading that is not a number, and how many.
struct NonNumericPhases {
  std::int64_t count = 0;
  std::int64_t first_line = 0;
  std::string first_text;
  double first_value = 0.0;
};

// Column 0 of the first m lines, each field read like atof, as the bare command
// always has.
std::optional<std::vector<double>> read_phases_like_atof(const InputFile &input, std::int32_t m,
                                                         std::FILE *err, NonNumericPhases &non_numeric) {
  const OwnedFile file = open_input(input, err);
  if (!file) return std::nullopt;
  std::vector<double> phases;
  detail::LineSource lines(file.get());
  std::string_view line;
  errno = 0;
  while (static_cast<std::int64_t>(phases.size()) < m && lines.next(line)) {
    const std::size_t comma = line.find(',');
    const char *end = line.data() + (comma == std::string_view::npos ? line.size() : comma);
    phases.push_back(detail::parse_number(line.data(), end));
    double whole = 0.0;
    if (!detail::parse_whole_number(line.data(), end, whole) && non_numeric.count++ == 0) {
      non_numeric.first_line = static_cast<std::int64_t>(phases.size());
      non_numeric.first_text = quoted_field(std::string_view(line.data(), static_cast<std::size_t>(end - line.data())));
      non_numeric.first_value = phases.back();
    }
  }
  // Even when no phase is needed, a phases file that cannot be read is reported.
  if (m == 0) static_cast<void>(lines.next(line));
  if (lines.failed()) {
    report(err, input.path, errno_reason());
    return std::nullopt;
  }
  return phases;
}

void warn_non_numeric(std::FILE *err, const InputFile &input, const NonNumericPhases &non_numeric) {
  if (non_numeric.count == 0) return;
  std::fprintf(err, "respmat: warning: %s:%lld: column 0: %s is not a number, read as %.17g; %lld phase%s not a number\n",
               input.path.c_str(), static_cast<long long>(non_numeric.first_line), non_numeric.first_text.c_str(),
               non_numeric.first_value, static_cast<long long>(non_numeric.count),
               non_numeric.count == 1 ? " is" : "s are");
}

// Reads m and the phases the job asks for; returns the exit status.
int read_inputs(const JobOptions &options, std::FILE *err, Inputs &inputs) {
  const InputFile phases_file{options.phases.value_or(kDefaultPhases), !options.phases};
  std::optional<std::int32_t> m = options.monitors;
  if (!m && (options.response || !options.phases)) {
    m = read_response_width({options.response.value_or(kDefaultResponse), !options.response}, err);
    if (!m) return kExitBadInput;
  }
  NonNumericPhases non_numeric;
  if (!options.strict_phases && m) {
    auto phases = read_phases_like_atof(phases_file, *m, err, non_numeric);
    if (!phases) return kExitBadInput;
    inputs.phases = std::move(*phases);
  } else {
    PhaseTableResult table = load_phase_table(phases_file.path, options.column,
                                              m ? std::optional<std::int64_t>(*m) : std::nullopt);
    if (table.error) {
      const PhaseTableError &e = *table.error;
      if (e.kind == PhaseTableError::Kind::io) {
        report_input_failure(err, phases_file, e.error_number);
        return kExitBadInput;
      }
      if (e.kind == PhaseTableError::Kind::usage) {
        report_usage(err, e.message());
        return kExitUsage;
      }
      std::fprintf(err, "respmat: %s\n", e.message().c_str());
      return kExitBadInput;
    }
    inputs.phases = std::move(table.phases);
    if (!m) {
      if (inputs.phases.size() > static_cast<std::size_t>(INT32_MAX)) {
        report(err, phases_file.path, "has more rows than the tool can handle");
        return kExitBadInput;
      }
      m = static_cast<std::int32_t>(inputs.phases.size());
    }
  }
  inputs.m = *m;
  if (static_cast<std::int64_t>(inputs.phases.size()) < inputs.m) {
    report(err, phases_file.path,
           options.monitors ? "has " + std::to_string(inputs.phases.size()) + " rows, but " +
                                  std::to_string(inputs.m) + " monitors need as many phases"
                            : too_few_phases(static_cast<std::int64_t>(inputs.phases.size()), inputs.m));
    return kExitBadInput;
  }
  warn_non_numeric(err, phases_file, non_numeric);  // only a run that goes on warns
  return kExitOk;
}

bool same_file(const std::string &a, const std::string &b) {
  std::error_code ignored;
  return std::filesystem::equivalent(a, b, ignored);
}

// A result written over an input, or over the other result, would lose it.
std::optional<std::string> overwritten_file(const JobOptions &options) {
  std::vector<std::string> inputs = {options.phases.value_or(kDefaultPhases)};
  if (!options.monitors) inputs.push_back(options.response.value_or(kDefaultResponse));
  std::vector<std::string> outputs;
  if (options.output != "-") outputs.push_back(options.output);
  if (options.heatmap) outputs.push_back(*options.heatmap);
  for (const std::string &output : outputs)
    for (const std::string &input : inputs)
      if (same_file(output, input)) return output + " is also an input";
  if (outputs.size() == 2 && (outputs[0] == outputs[1] || same_file(outputs[0], outputs[1])))
    return outputs[0] + " is named for both the matrix and the heat map";
  return std::nullopt;
}

// Where the model goes: the matrix stream, and the picture beside it if asked for.
struct ModelSinks {
  std::FILE *matrix;
  HeatMap *picture;
};

enum class WriteOutcome { ok, matrix_failed, picture_failed };

// Streams the model's rows to the sinks. The plain comma-separated matrix takes the
// tool's fastest writer, which stops at its first failed write and leaves that
// write's errno in `error`; the others take the rows one at a time.
WriteOutcome write_model(const JobOptions &options, const Inputs &inputs, const ModelSinks &sinks, int &error) {
  if (options.format == OutputFormat::csv && sinks.picture == nullptr) {
    error = write_model_csv(inputs.phases.data(), inputs.m, sinks.matrix, options.threads);
    return error == 0 ? WriteOutcome::ok : WriteOutcome::matrix_failed;
  }
  if (sinks.picture != nullptr && !sinks.picture->start()) return WriteOutcome::picture_failed;
  if (options.format == OutputFormat::bin) write_bin_header(inputs.m, inputs.m, sinks.matrix);
  ModelRows rows(inputs.phases.data(), inputs.m);
  for (std::int32_t i = 0; i < inputs.m; ++i) {
    const std::vector<double> &row = rows.row(i);
    if (options.format == OutputFormat::bin)
      write_bin_row(row, sinks.matrix);
    else
      write_csv_row(row, sinks.matrix);
    if (sinks.picture != nullptr && !sinks.picture->add_row(row)) return WriteOutcome::picture_failed;
  }
  if (options.format == OutputFormat::csv) write_csv_end(sinks.matrix);
  if (sinks.picture != nullptr && !sinks.picture->finish()) return WriteOutcome::picture_failed;
  return WriteOutcome::ok;
}

std::unique_ptr<FileReplacement> open_replacement(const std::string &path, std::FILE *err) {
  auto file = std::make_unique<FileReplacement>(path);
  if (!file->open()) {
    report(err, path.c_str(), std::strerror(errno));
    file.reset();
  }
  return file;
}

// Writes the outputs: the matrix (to a file replaced whole, or to `out`) and the
// picture. Files are replaced only when everything was written.
int write_outputs(const JobOptions &options, const Inputs &inputs, std::FILE *out, std::FILE *err) {
  const bool to_stdout = options.output == "-";
  std::unique_ptr<FileReplacement> matrix_file;
  if (!to_stdout && !(matrix_file = open_replacement(options.output, err))) return kExitWriteFailed;
  std::unique_ptr<FileReplacement> picture_file;
  if (options.heatmap && !(picture_file = open_replacement(*options.heatmap, err))) return kExitWriteFailed;
  std::optional<HeatMap> picture;
  if (picture_file) picture.emplace(picture_file->stream(), inputs.m, kAmplitude);
  const ModelSinks sinks{to_stdout ? out : matrix_file->stream(), picture ? &*picture : nullptr};
  errno = 0;
  int matrix_error = 0;
  switch (write_model(options, inputs, sinks, matrix_error)) {
    case WriteOutcome::ok:
      break;
    case WriteOutcome::matrix_failed:
      report(err, to_stdout ? "standard output" : options.output.c_str(), std::strerror(matrix_error));
      return kExitWriteFailed;
    case WriteOutcome::picture_failed:
      report(err, options.heatmap->c_str(), errno != 0 ? std::strerror(errno) : "cannot be written");
      return kExitWriteFailed;
  }
  picture.reset();
  if (picture_file && !picture_file->commit()) {
    report(err, options.heatmap->c_str(), std::strerror(errno));
    return kExitWriteFailed;
  }
  if (to_stdout) {
    if (std::fflush(out) != 0 || std::ferror(out)) {
      report(err, "standard output", errno_reason());
      return kExitWriteFailed;
    }
  } else if (!matrix_file->commit()) {
    report(err, options.output.c_str(), std::strerror(errno));
    return kExitWriteFailed;
  }
  return kExitOk;
}

// Prints m, then writes the outputs. The outputs are written whatever becomes of the
// "m=" line; its failure is reported last, with a status of its own.
int write_job(const JobOptions &options, const Inputs &inputs, std::FILE *out, std::FILE *err) {
  std::FILE *m_stream = options.output == "-" ? err : out;
  std::fprintf(m_stream, "m=%d\n", inputs.m);
  errno = 0;
  const bool m_line_failed = std::fflush(m_stream) != 0 || std::ferror(m_stream);
  const int m_line_errno = errno;
  int status = kExitOk;
  // Memory running out on the way is a failed write like any other; the temporary
  // files go away with their owners.
  try {
    status = write_outputs(options, inputs, out, err);
  } catch (const std::bad_alloc &) {
    report(err, options.output.c_str(), std::strerror(ENOMEM));
    return kExitWriteFailed;
  }
  if (status == kExitOk && m_line_failed) {
    errno = m_line_errno;
    report(err, m_stream == out ? "standard output" : "standard error", errno_reason());
    return kExitStdoutFailed;
  }
  return status;
}

}  // namespace

int run_job(const JobOptions &options, std::FILE *out, std::FILE *err) {
  Inputs inputs;
  try {
    if (const auto clash = overwritten_file(options)) {
      report_usage(err, *clash);
      return kExitUsage;
    }
    if (const int status = read_inputs(options, err, inputs); status != kExitOk) return status;
  } catch (const std::bad_alloc &) {
    report(err, options.phases ? options.phases->c_str() : kDefaultPhases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
  return write_job(options, inputs, out, err);
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
    report(err, paths.phases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
}

}  // namespace respmat
