#include "commands/model_inputs.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "input/bare_inputs.h"
#include "input/optics_table.h"

namespace respmat {
namespace {

// An input as the command names it: given by the user, or the default beside the
// run folder.
struct InputFile {
  std::string path;
  bool is_default = false;
};

// A default input that is missing is most often a run from the wrong folder: say
// where the file was looked for and how to name it instead.
Failure with_default_hint(const InputFile &input, Failure failure) {
  if (!input.is_default || failure.error_number != ENOENT) return failure;
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(input.path, ignored).lexically_normal();
  const std::string place = absolute.empty() ? input.path : absolute.string();
  return {Failure::Kind::input, place, ENOENT,
          place + ": " + std::strerror(ENOENT) +
              "; the inputs are expected in the parent folder, or can be given with --response and --phases"};
}

std::optional<Failure> read_optics_model(const ModelSource &source, ModelInputs &inputs) {
  const std::string &path = *source.optics;
  const OpticsTableResult table = read_optics_table(path);
  if (table.failure) return table.failure;
  OpticsModelOptions model_options = source.optics_model;
  model_options.monitor_count = source.monitors;
  std::optional<OpticsModel> made;
  if (auto failure = optics_table_model(table.table, path, model_options, made)) return failure;
  inputs.m = made->rows();
  inputs.model = std::make_unique<OpticsModel>(std::move(*made));
  inputs.source = path;
  inputs.optics_header.header = table.table.header;
  return std::nullopt;
}

// The phases as the bare command reads them: column 0 of the first m lines, like atof.
std::optional<Failure> read_phases_leniently(const InputFile &phases_file, std::int32_t m, ModelInputs &inputs,
                                             std::vector<std::string> &warnings) {
  NonNumericPhases non_numeric;
  if (auto failure = read_phases_like_atof(phases_file.path, m, inputs.phases, non_numeric))
    return with_default_hint(phases_file, std::move(*failure));
  if (static_cast<std::int64_t>(inputs.phases.size()) >= m && non_numeric.count != 0)
    warnings.push_back(non_numeric_warning(phases_file.path, non_numeric));
  return std::nullopt;
}

// The phases of the chosen column, every one a finite number; m is the table's rows
// when not known.
std::optional<Failure> read_phase_column(const ModelSource &source, const InputFile &phases_file,
                                         std::optional<std::int32_t> &m, ModelInputs &inputs) {
  PhaseTableResult table =
      load_phase_table(phases_file.path, source.column, m ? std::optional<std::int64_t>(*m) : std::nullopt);
  if (table.error) return with_default_hint(phases_file, table.error->failure());
  inputs.phases = std::move(table.phases);
  if (!m) {
    if (inputs.phases.size() > static_cast<std::size_t>(INT32_MAX))
      return content_failure(phases_file.path, "has more rows than the tool can handle");
    m = static_cast<std::int32_t>(inputs.phases.size());
  }
  return std::nullopt;
}

std::optional<Failure> read_phase_model(const ModelSource &source, ModelInputs &inputs,
                                        std::vector<std::string> &warnings) {
  const InputFile phases_file{source.phases.value_or(kDefaultPhases), !source.phases};
  std::optional<std::int32_t> m = source.monitors;
  if (!m && (source.response || !source.phases)) {
    const InputFile response{source.response.value_or(kDefaultResponse), !source.response};
    std::int32_t width = 0;
    if (auto failure = read_response_width(response.path, width)) return with_default_hint(response, *failure);
    m = width;
  }
  if (auto failure = !source.strict_phases && m ? read_phases_leniently(phases_file, *m, inputs, warnings)
                                                : read_phase_column(source, phases_file, m, inputs))
    return failure;
  inputs.m = *m;
  const auto rows = static_cast<std::int64_t>(inputs.phases.size());
  if (rows < inputs.m)
    return content_failure(phases_file.path,
                           "has " + std::to_string(rows) + " rows, but " +
                               (source.monitors ? std::to_string(inputs.m) + " monitors need as many phases"
                                                : "the response matrix needs " + std::to_string(inputs.m) + " phases"));
  inputs.model = std::make_unique<PhaseModel>(inputs.phases.data(), inputs.m, source.amplitude, source.offset);
  inputs.source = phases_file.path;
  return std::nullopt;
}

}  // namespace

std::vector<std::string> ModelSource::files() const {
  if (optics) return {*optics};
  std::vector<std::string> files{phases.value_or(kDefaultPhases)};
  if (!monitors) files.push_back(response.value_or(kDefaultResponse));
  return files;
}

std::optional<Failure> read_model(const ModelSource &source, ModelInputs &inputs,
                                  std::vector<std::string> &warnings) {
  return source.optics ? read_optics_model(source, inputs) : read_phase_model(source, inputs, warnings);
}

}  // namespace respmat
