#include "commands/model_command.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/worker_threads.h"
#include "model/model_rows.h"
#include "output/output_set.h"
#include "output/row_writers.h"
#include "picture/heat_map.h"
#include "text/field_text.h"

namespace respmat {
namespace {

// The smallest the matrix's text or binary form can be: every entry at least one
// byte and a separator or line end, or the binary form's exact size.
std::uint64_t smallest_output(const MatrixForm &form, const ResponseModel &model) {
  const auto entries = static_cast<std::uint64_t>(model.rows()) * static_cast<std::uint64_t>(model.cols());
  if (form.format == OutputFormat::bin) return 8 + 8 * entries;
  return 2 * entries + 1;
}

// The picture's title, axes and scale: what was modelled from which file, the names
// of the monitors and correctors where the inputs give them, and the entries' units.
HeatMapStyle picture_style(const ModelOptions &options, const ModelInputs &inputs) {
  const ModelSource &source = options.source;
  HeatMapStyle style;
  style.quantity = "response";
  style.units = options.units;
  style.title = "model response matrix: " + std::filesystem::path(inputs.source).filename().string();
  if (source.optics) {
    style.title += std::string(", ") + plane_name(source.optics_model.plane) + " plane, " +
                   lattice_name(source.optics_model.lattice);
    style.row_names = inputs.model->monitor_names();
    style.column_names = inputs.model->corrector_names();
  }
  return style;
}

enum class WriteOutcome { ok, matrix_failed, picture_failed };

// Streams the rows one at a time to the matrix's stream and the picture: for the
// binary form, and for text beside a picture. The first failed write ends it.
WriteOutcome write_rows(const ModelOptions &options, const ResponseModel &model, const ModelText &text,
                        std::FILE *matrix, HeatMap *picture) {
  if (picture != nullptr && !picture->start()) return WriteOutcome::picture_failed;
  const bool binary = options.form.format == OutputFormat::bin;
  if (binary)
    write_bin_header(model.rows(), model.cols(), matrix);
  else
    std::fputs(text.header.c_str(), matrix);
  const RowText row_text(text.rows, model.cols());
  RowTextWriter text_rows(row_text, matrix);
  ModelRows rows(model);
  for (std::int32_t i = 0; i < model.rows(); ++i) {
    const std::vector<double> &row = rows.row(i);
    errno = 0;
    if (binary)
      write_bin_row(row, matrix);
    else
      text_rows.write(i, row, rows.reach());
    if (std::ferror(matrix)) return WriteOutcome::matrix_failed;
    if (picture != nullptr && !picture->add_row(row, rows.reach())) return WriteOutcome::picture_failed;
  }
  if (!binary) std::fputs(text.trailer.c_str(), matrix);
  if (picture != nullptr && !picture->finish()) return WriteOutcome::picture_failed;
  return WriteOutcome::ok;
}

// Writes the matrix and the picture as one set, the matrix put in place last.
std::optional<Failure> write_outputs(const ModelOptions &options, const ModelInputs &inputs,
                                     std::FILE *standard_output) {
  const ResponseModel &model = *inputs.model;
  if (auto refusal = refuse_what_cannot_fit(options.output, smallest_output(options.form, model))) return refusal;
  OutputSet outputs(standard_output);
  std::optional<Failure> failure;
  const std::optional<std::size_t> matrix = outputs.open(options.output, failure);
  if (!matrix) return failure;
  std::optional<std::size_t> picture_file;
  if (options.heatmap && !(picture_file = outputs.open(*options.heatmap, failure))) return failure;
  const ModelText text = matrix_text(
      options.form, model,
      table_header(options.source, {"model", MatrixLayout::monitors_by_correctors, model.rows(), model.cols(), {}}));
  // The text forms alone take the fastest writer, on every core; it stops at its
  // first failed write and says why.
  if (!picture_file && options.form.format != OutputFormat::bin) {
    if (const int error = write_model_text(model, text, outputs.stream(*matrix), options.form.threads))
      return outputs.failure_of(*matrix, error);
    return outputs.commit();
  }
  std::optional<HeatMap> picture;
  if (picture_file)
    picture.emplace(outputs.stream(*picture_file), picture_format(*options.heatmap), model.rows(), model.cols(),
                    options.range.value_or(model.bound()), picture_style(options, inputs));
  errno = 0;
  switch (write_rows(options, model, text, outputs.stream(*matrix), picture ? &*picture : nullptr)) {
    case WriteOutcome::ok:
      break;
    case WriteOutcome::matrix_failed:
      return outputs.failure_of(*matrix, errno);
    case WriteOutcome::picture_failed:
      return outputs.failure_of(*picture_file, errno);
  }
  picture.reset();
  return outputs.commit();
}

}  // namespace

std::vector<TableHeaderValue> table_header(const ModelSource &source, const MatrixDescription &description) {
  std::vector<TableHeaderValue> values{{"TYPE", description.holds}};
  if (source.optics) {
    values.push_back({"PLANE", std::string(plane_name(source.optics_model.plane))});
    values.push_back({"LATTICE", std::string(lattice_name(source.optics_model.lattice))});
    values.push_back({"SCALE", source.optics_model.scale});
  } else {
    values.push_back({"LATTICE", std::string("line")});
    values.push_back({"AMPLITUDE", source.amplitude});
    values.push_back({"OFFSET", source.offset});
  }
  for (const TableHeaderValue &constant : description.constants)
    for (TableHeaderValue &value : values)
      if (value.name == constant.name) value.value = constant.value;
  values.push_back({"LAYOUT", std::string(layout_name(description.layout))});
  values.push_back({"MONITORS", std::int64_t{description.monitors}});
  values.push_back({"CORRECTORS", std::int64_t{description.correctors}});
  return values;
}

CommandResult run_model(const ModelOptions &options, const CommandHooks &hooks) {
  CommandResult result;
  ModelInputs inputs;
  try {
    std::vector<NamedOutput> outputs{{options.output, "matrix"}};
    if (options.heatmap) outputs.push_back({*options.heatmap, "heat map"});
    if ((result.error = clashing_outputs(options.source.files(), outputs))) return result;
    if ((result.error = read_model(options.source, inputs, result.warnings))) return result;
    result.m = inputs.m;
    if (options.form.threads == 0)
      if (const auto setting = detail::malformed_threads_setting())
        result.warnings.push_back("warning: RESPMAT_THREADS=" + detail::quoted_field(*setting) +
                                  " is not a whole number from 0 to 1024; one thread per core is used");
  } catch (const std::bad_alloc &) {
    result.error = unreadable(options.source.phases.value_or(kDefaultPhases), ENOMEM);
    return result;
  }
  if (!std::isfinite(inputs.model->bound())) {
    result.error = content_failure(inputs.source, "the model's entries are past the range of doubles");
    return result;
  }
  if (hooks.inputs_read) hooks.inputs_read(result);
  // Memory running out on the way is a failed write like any other; the temporary
  // files go away with their owners.
  try {
    result.error = write_outputs(options, inputs, hooks.standard_output);
  } catch (const std::bad_alloc &) {
    result.error = unwritable(options.output, ENOMEM);
  }
  return result;
}

}  // namespace respmat
