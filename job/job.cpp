#include "job/job.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/owned_file.h"
#include "base/worker_threads.h"
#include "job/heat_map.h"
#include "job/model.h"
#include "job/model_rows.h"
#include "job/model_writer.h"
#include "job/output_sink.h"
#include "job/row_text.h"
#include "job/table_text.h"
#include "text/byte_order_mark.h"
#include "text/first_line_fields.h"
#include "text/line_source.h"
#include "text/number_text.h"

namespace respmat {
namespace detail {

std::string too_few_phases(std::int64_t rows, std::int32_t m) {
  return "has " + std::to_string(rows) + " rows, but the response matrix needs " +
         std::to_string(m) + " phases";
}

// Compared by their resolved paths too, so that "out.csv" and "./out.csv" clash
// before either exists.
bool same_file(const std::string &a, const std::string &b) {
  std::error_code ignored;
  if (std::filesystem::equivalent(a, b, ignored)) return true;
  const auto resolved = [](const std::string &path) {
    std::error_code failed;
    std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, failed), failed);
    return failed ? std::filesystem::path() : place;
  };
  const std::filesystem::path place = resolved(a);
  return !place.empty() && place == resolved(b);
}

}  // namespace detail
namespace {

using detail::OwnedFile;

// A failure on `path`, "path: reason"; the reason is the system's when `error_number`
// is set.
JobError failure(JobError::Kind kind, const std::string &path, int error_number, const std::string &reason) {
  return {kind, path, error_number, path + ": " + reason};
}

// A failure the system explains by errno (0: the file simply "cannot be read").
JobError system_failure(JobError::Kind kind, const std::string &path, int error_number) {
  return failure(kind, path, error_number, error_number != 0 ? std::strerror(error_number) : "cannot be read");
}

JobError usage_failure(const std::string &what) { return {JobError::Kind::usage, {}, 0, what}; }

// An input as the job names it: given by the user, or the default beside the run folder.
struct InputFile {
  std::string path;
  bool is_default = false;
};

// A default input that is missing is most often a run from the wrong folder: say
// where the file was looked for and how to name it instead.
JobError input_failure(const InputFile &input, int error_number) {
  if (input.is_default && error_number == ENOENT) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(input.path, ignored).lexically_normal();
    return failure(JobError::Kind::input, absolute.empty() ? input.path : absolute.string(), ENOENT,
                   std::string(std::strerror(ENOENT)) +
                       "; the inputs are expected in the parent folder, or can be given with --response and --phases");
  }
  return system_failure(JobError::Kind::input, input.path, error_number);
}

OwnedFile open_input(const InputFile &input, std::optional<JobError> &error) {
  errno = 0;
  OwnedFile file(std::fopen(input.path.c_str(), "rb"));
  if (!file) error = input_failure(input, errno);
  return file;
}

// m is the number of fields of the response file's first line (0 without lines).
std::optional<std::int32_t> read_response_width(const InputFile &response, std::optional<JobError> &error) {
  const OwnedFile file = open_input(response, error);
  if (!file) return std::nullopt;
  errno = 0;
  const std::optional<std::int64_t> fields = detail::count_first_line_fields(file.get());
  if (!fields) {
    error = system_failure(JobError::Kind::input, response.path, errno);
    return std::nullopt;
  }
  if (*fields > INT32_MAX) {
    error = failure(JobError::Kind::input, response.path, 0, "has more columns than the tool can handle");
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
                                                         std::optional<JobError> &error,
                                                         NonNumericPhases &non_numeric) {
  const OwnedFile file = open_input(input, error);
  if (!file) return std::nullopt;
  std::vector<double> phases;
  detail::LineSource lines(file.get());
  std::string_view line;
  errno = 0;
  while (static_cast<std::int64_t>(phases.size()) < m && lines.next(line)) {
    if (phases.empty()) line.remove_prefix(detail::byte_order_mark_length(line));
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
    error = system_failure(JobError::Kind::input, input.path, errno);
    return std::nullopt;
  }
  return phases;
}

std::string non_numeric_warning(const InputFile &input, const NonNumericPhases &non_numeric) {
  char value[32];
  std::snprintf(value, sizeof value, "%.17g", non_numeric.first_value);
  return "warning: " + input.path + ":" + std::to_string(non_numeric.first_line) + ": column 0: " +
         non_numeric.first_text + " is not a number, read as " + value + "; " + std::to_string(non_numeric.count) +
         (non_numeric.count == 1 ? " phase is" : " phases are") + " not a number";
}

// The phase table's failure as the job's.
JobError phase_table_failure(const PhaseTableError &e, const InputFile &phases_file) {
  switch (e.kind) {
    case PhaseTableError::Kind::io:
      return input_failure(phases_file, e.error_number);
    case PhaseTableError::Kind::usage:
      return {JobError::Kind::usage, e.file, 0, e.message()};
    case PhaseTableError::Kind::content:
      break;
  }
  return {JobError::Kind::input, e.file, 0, e.message()};
}

// Reads the optics table and makes its model.
std::optional<JobError> read_optics_model(const JobOptions &options, ModelInputs &inputs) {
  const std::string &path = *options.optics;
  const OpticsTableResult table = read_optics_table(path);
  if (table.error_number != 0) return system_failure(JobError::Kind::input, path, table.error_number);
  if (!table.error.empty()) return JobError{JobError::Kind::input, path, 0, table.error};
  OpticsModelOptions model_options = options.optics_model;
  model_options.monitor_count = options.monitors;
  OpticsModelResult made = optics_model(table.table, path, model_options);
  if (!made.model)
    return JobError{made.usage ? JobError::Kind::usage : JobError::Kind::input, path, 0, std::move(made.error)};
  inputs.m = made.model->rows();
  inputs.model = std::make_unique<OpticsModel>(std::move(*made.model));
  inputs.source = path;
  return std::nullopt;
}

// Reads m and the phases the job asks for into `inputs`, and the warnings about
// them into `result`.
std::optional<JobError> read_inputs(const JobOptions &options, ModelInputs &inputs, JobResult &result) {
  if (options.optics) {
    std::optional<JobError> error = read_optics_model(options, inputs);
    if (!error) result.m = inputs.m;
    return error;
  }
  const InputFile phases_file{options.phases.value_or(kDefaultPhases), !options.phases};
  std::optional<JobError> error;
  std::optional<std::int32_t> m = options.monitors;
  if (!m && (options.response || !options.phases)) {
    m = read_response_width({options.response.value_or(kDefaultResponse), !options.response}, error);
    if (!m) return error;
  }
  NonNumericPhases non_numeric;
  if (!options.strict_phases && m) {
    auto phases = read_phases_like_atof(phases_file, *m, error, non_numeric);
    if (!phases) return error;
    inputs.phases = std::move(*phases);
  } else {
    PhaseTableResult table = load_phase_table(phases_file.path, options.column,
                                              m ? std::optional<std::int64_t>(*m) : std::nullopt);
    if (table.error) return phase_table_failure(*table.error, phases_file);
    inputs.phases = std::move(table.phases);
    if (!m) {
      if (inputs.phases.size() > static_cast<std::size_t>(INT32_MAX))
        return failure(JobError::Kind::input, phases_file.path, 0, "has more rows than the tool can handle");
      m = static_cast<std::int32_t>(inputs.phases.size());
    }
  }
  inputs.m = *m;
  if (static_cast<std::int64_t>(inputs.phases.size()) < inputs.m) {
    return failure(JobError::Kind::input, phases_file.path, 0,
                   options.monitors ? "has " + std::to_string(inputs.phases.size()) + " rows, but " +
                                          std::to_string(inputs.m) + " monitors need as many phases"
                                    : detail::too_few_phases(static_cast<std::int64_t>(inputs.phases.size()), inputs.m));
  }
  if (non_numeric.count != 0) result.warnings.push_back(non_numeric_warning(phases_file, non_numeric));
  result.m = inputs.m;
  inputs.model = std::make_unique<PhaseModel>(inputs.phases.data(), inputs.m, options.amplitude, options.offset);
  inputs.source = phases_file.path;
  return std::nullopt;
}

using detail::same_file;

// A result written over an input, or over the other result, would lose it.
std::optional<std::string> overwritten_file(const JobOptions &options) {
  std::vector<std::string> inputs;
  if (options.optics) {
    inputs.push_back(*options.optics);
  } else {
    inputs.push_back(options.phases.value_or(kDefaultPhases));
    if (!options.monitors) inputs.push_back(options.response.value_or(kDefaultResponse));
  }
  std::vector<std::string> outputs;
  if (!named_descriptor(options.output)) outputs.push_back(options.output);
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

// What an optics-style table says of the model in its header.
std::vector<TableHeaderValue> model_description(const JobOptions &options, const ResponseModel &model) {
  std::vector<TableHeaderValue> values;
  if (options.optics) {
    values.push_back({"PLANE", std::string(plane_name(options.optics_model.plane))});
    values.push_back({"LATTICE", std::string(lattice_name(options.optics_model.lattice))});
    values.push_back({"SCALE", options.optics_model.scale});
  } else {
    values.push_back({"LATTICE", std::string("line")});
    values.push_back({"AMPLITUDE", options.amplitude});
    values.push_back({"OFFSET", options.offset});
  }
  values.push_back({"MONITORS", std::int64_t{model.rows()}});
  values.push_back({"CORRECTORS", std::int64_t{model.cols()}});
  return values;
}

// The text of the matrix in the format the job asks for.
ModelText model_text(const JobOptions &options, const ResponseModel &model) {
  ModelText text;
  text.rows.digits = options.digits;
  if (options.format == OutputFormat::tfs) {
    text = optics_style_table(model, options.digits, model_description(options, model));
  } else if (options.labels) {
    text.rows.row_names = model.monitor_names();
    for (const std::string &name : model.corrector_names()) (text.header += ',') += name;
    text.header += '\n';
  }
  return text;
}

// Streams the model's rows to the sinks. The text forms take the tool's fastest
// writer, which stops at its first failed write and leaves that write's errno in
// `error`; with a picture beside them, and in the binary form, rows go one at a time.
WriteOutcome write_model(const JobOptions &options, const ResponseModel &model, const ModelSinks &sinks, int &error) {
  const ModelText text = model_text(options, model);
  if (options.format != OutputFormat::bin && sinks.picture == nullptr) {
    error = write_model_text(model, text, sinks.matrix, options.threads);
    return error == 0 ? WriteOutcome::ok : WriteOutcome::matrix_failed;
  }
  if (sinks.picture != nullptr && !sinks.picture->start()) return WriteOutcome::picture_failed;
  if (options.format == OutputFormat::bin)
    write_bin_header(model.rows(), model.cols(), sinks.matrix);
  else
    std::fputs(text.header.c_str(), sinks.matrix);
  const RowText row_text(text.rows, model.cols());
  RowTextWriter text_rows(row_text, sinks.matrix);
  ModelRows rows(model);
  for (std::int32_t i = 0; i < model.rows(); ++i) {
    const std::vector<double> &row = rows.row(i);
    errno = 0;
    if (options.format == OutputFormat::bin)
      write_bin_row(row, sinks.matrix);
    else
      text_rows.write(i, row, rows.reach());
    // The first failed write ends the job: nothing more is computed.
    if (std::ferror(sinks.matrix)) {
      error = errno != 0 ? errno : EIO;
      return WriteOutcome::matrix_failed;
    }
    if (sinks.picture != nullptr && !sinks.picture->add_row(row, rows.reach())) return WriteOutcome::picture_failed;
  }
  if (options.format != OutputFormat::bin) std::fputs(text.trailer.c_str(), sinks.matrix);
  if (sinks.picture != nullptr && !sinks.picture->finish()) return WriteOutcome::picture_failed;
  return WriteOutcome::ok;
}

JobError output_failure(const std::string &path, int error_number) {
  return failure(JobError::Kind::output, path, error_number, std::strerror(error_number));
}

// The failure of the matrix's output: standard output is named as such.
JobError matrix_failure(const JobOptions &options, const OutputSink &sink, int error_number) {
  if (sink.is_standard_output())
    return failure(JobError::Kind::standard_output, "standard output", error_number,
                   error_number != 0 ? std::strerror(error_number) : "cannot be read");
  return output_failure(options.output, error_number);
}

// The smallest the matrix's text or binary form can be: every entry at least one
// byte and a separator or line end, or the binary form's exact size.
std::uint64_t smallest_output(const JobOptions &options, const ResponseModel &model) {
  const auto entries = static_cast<std::uint64_t>(model.rows()) * static_cast<std::uint64_t>(model.cols());
  if (options.format == OutputFormat::bin) return 8 + 8 * entries;
  return 2 * entries + 1;
}

// A matrix that cannot fit in its file system's free space is refused before any
// row is computed. Outputs other than regular files are not checked.
std::optional<JobError> refuse_what_cannot_fit(const JobOptions &options, const ResponseModel &model) {
  if (named_descriptor(options.output)) return std::nullopt;
  std::error_code ignored;
  const std::filesystem::path target = std::filesystem::absolute(options.output, ignored);
  if (std::filesystem::exists(target, ignored) && !std::filesystem::is_regular_file(target, ignored))
    return std::nullopt;
  struct statvfs space;
  if (::statvfs(target.parent_path().c_str(), &space) != 0) return std::nullopt;
  const std::uint64_t free = static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
  const std::uint64_t needed = smallest_output(options, model);
  if (needed <= free) return std::nullopt;
  return failure(JobError::Kind::output, options.output, ENOSPC,
                 "needs at least " + std::to_string(needed) + " bytes, but its file system has " +
                     std::to_string(free) + " bytes free");
}

std::unique_ptr<OutputSink> open_sink(const std::string &path, std::FILE *standard_output,
                                      std::optional<JobError> &error) {
  std::string refused;
  std::unique_ptr<OutputSink> sink = OutputSink::open(path, standard_output, refused);
  if (!sink) error = output_failure(refused, errno);
  return sink;
}

// The picture's title and axes: what was modelled from which file, and the names of
// the monitors and correctors where the inputs give them.
HeatMapStyle picture_style(const JobOptions &options, const ModelInputs &inputs) {
  HeatMapStyle style;
  style.title = "model response matrix: " + std::filesystem::path(inputs.source).filename().string();
  if (options.optics) {
    style.title += std::string(", ") + plane_name(options.optics_model.plane) + " plane, " +
                   lattice_name(options.optics_model.lattice);
    style.row_names = inputs.model->monitor_names();
    style.column_names = inputs.model->corrector_names();
  }
  return style;
}

// Writes the outputs: the matrix and the picture. Every output is completed before
// any file is put in place, the matrix last, so a failure leaves every old file as
// it was.
std::optional<JobError> write_outputs(const JobOptions &options, const ModelInputs &inputs, std::FILE *standard_output) {
  if (auto refusal = refuse_what_cannot_fit(options, *inputs.model)) return refusal;
  std::optional<JobError> error;
  const std::unique_ptr<OutputSink> matrix = open_sink(options.output, standard_output, error);
  if (!matrix) return error;
  std::unique_ptr<OutputSink> picture_file;
  if (options.heatmap && !(picture_file = open_sink(*options.heatmap, standard_output, error))) return error;
  std::optional<HeatMap> picture;
  if (picture_file)
    picture.emplace(picture_file->stream(), picture_format(*options.heatmap), inputs.model->rows(),
                    inputs.model->cols(), options.range.value_or(inputs.model->bound()), picture_style(options, inputs));
  const ModelSinks sinks{matrix->stream(), picture ? &*picture : nullptr};
  errno = 0;
  int matrix_error = 0;
  switch (write_model(options, *inputs.model, sinks, matrix_error)) {
    case WriteOutcome::ok:
      break;
    case WriteOutcome::matrix_failed:
      return matrix_failure(options, *matrix, matrix_error);
    case WriteOutcome::picture_failed:
      if (errno != 0) return output_failure(*options.heatmap, errno);
      return failure(JobError::Kind::output, *options.heatmap, 0, "cannot be written");
  }
  picture.reset();
  if (picture_file && !picture_file->complete()) return output_failure(*options.heatmap, errno);
  if (!matrix->complete()) return matrix_failure(options, *matrix, errno);
  if (picture_file && !picture_file->put_in_place()) return output_failure(*options.heatmap, errno);
  if (!matrix->put_in_place()) return output_failure(options.output, errno);
  return std::nullopt;
}

}  // namespace

std::optional<JobError> read_model(const JobOptions &options, ModelInputs &inputs, JobResult &result) {
  return read_inputs(options, inputs, result);
}

ModelText matrix_text(const JobOptions &options, const ResponseModel &model) { return model_text(options, model); }

JobResult run_job(const JobOptions &options, const JobHooks &hooks) {
  JobResult result;
  ModelInputs inputs;
  try {
    if (const auto clash = overwritten_file(options)) {
      result.error = usage_failure(*clash);
      return result;
    }
    if ((result.error = read_inputs(options, inputs, result))) return result;
    if (options.threads == 0)
      if (const auto setting = detail::malformed_threads_setting())
        result.warnings.push_back("warning: RESPMAT_THREADS=" + quoted_field(*setting) +
                                  " is not a whole number from 0 to 1024; one thread per core is used");
  } catch (const std::bad_alloc &) {
    result.error = system_failure(JobError::Kind::input, options.phases.value_or(kDefaultPhases), ENOMEM);
    return result;
  }
  if (hooks.inputs_read) hooks.inputs_read(result);
  // Memory running out on the way is a failed write like any other; the temporary
  // files go away with their owners.
  try {
    result.error = write_outputs(options, inputs, hooks.standard_output);
  } catch (const std::bad_alloc &) {
    result.error = output_failure(options.output, ENOMEM);
  }
  return result;
}

}  // namespace respmat
