// The model a command computes and where it comes from: a phase table (with m from
// a response file, an option or the table itself) or an optics table.
#ifndef RESPMAT_COMMANDS_MODEL_INPUTS_H
#define RESPMAT_COMMANDS_MODEL_INPUTS_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "input/optics_table_model.h"
#include "input/phase_table.h"
#include "model/phase_model.h"

namespace respmat {

inline constexpr char kDefaultResponse[] = "../reponsematx_H0.1A.csv";
inline constexpr char kDefaultPhases[] = "../realmachinephases.csv";

// Where the model comes from, as the command line or another front end says.
struct ModelSource {
  // m is taken from `monitors` when set, else from the first line of the response
  // file when `response` is set or `phases` is not, else it is the number of rows
  // of the phase table. Unset files are the defaults above.
  std::optional<std::string> response;
  std::optional<std::string> phases;
  std::optional<PhaseColumn> column;  // unset: column 0; optics tables need one
  std::optional<std::int32_t> monitors;
  // The model of an optics table (its monitors, correctors and beta functions)
  // instead of the model of a phase table; `monitors`, when set, keeps the first so
  // many monitors.
  std::optional<std::string> optics;
  OpticsModelOptions optics_model;
  // The phase model's constants.
  double amplitude = kAmplitude;
  double offset = kPhaseOffset;
  // The bare command keeps its first reading of phases: like atof, a non-numeric
  // phase is 0 and only warned about. Otherwise such a phase is an error.
  bool strict_phases = true;

  // The files the model is read from, which no output may replace.
  [[nodiscard]] std::vector<std::string> files() const;
};

// What the model depends on: m and the first m phases, or the optics table; and the
// model itself, once read.
struct ModelInputs {
  std::int32_t m = 0;
  std::vector<double> phases;
  std::unique_ptr<ResponseModel> model;
  std::string source;  // the file the model comes from, for titles
  OpticsTable optics_header;  // an optics table's header values alone (no rows)
};

// Reads the inputs of the model `source` describes and makes it; the warnings about
// them go to `warnings`.
[[nodiscard]] std::optional<Failure> read_model(const ModelSource &source, ModelInputs &inputs,
                                                std::vector<std::string> &warnings);

}  // namespace respmat

#endif
