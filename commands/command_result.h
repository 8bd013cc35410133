// The commands room: what the tool and the Python module run. Each command is a
// function from its options to one CommandResult (model_command.h, compare_command.h,
// fit_command.h, correct_command.h); it reads its inputs through input/, computes
// with model/ and analysis/, draws with picture/ and writes through output/, and
// prints nothing: the tool's words for a result (messages, exit statuses) live in
// app/, the module's exceptions in python/.
#ifndef RESPMAT_COMMANDS_COMMAND_RESULT_H
#define RESPMAT_COMMANDS_COMMAND_RESULT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/failure.h"
#include "commands/response_fit.h"

namespace respmat {

// What compare found: the residual's size and the numbers of its one line.
struct ComparisonFigures {
  std::int32_t rows = 0;  // monitors
  std::int32_t cols = 0;  // correctors
  double rms_measured = 0.0;
  double rms_residual = 0.0;
  std::size_t outliers = 0;
};

// What fit found.
struct FitFigures {
  FitKind kind = FitKind::amplitude_offset;
  std::int32_t monitors = 0;
  std::int32_t correctors = 0;  // fitted: those left out are not counted
  double chi2_reduced = 0.0;
  std::size_t points = 0;
  double rms_before = 0.0;
  double rms_after = 0.0;
  std::vector<FitParameter> parameters;  // the constants of the whole model (empty for calibrations)
  std::int32_t quadrupoles = 0;          // fitted, of --fit quadrupoles
  std::int32_t kept = 0;                 // directions kept by its singular-value cut
};

// What correct found.
struct CorrectionFigures {
  std::int32_t kept = 0;            // singular values used
  std::size_t singular_values = 0;  // of the matrix in use
  double rms_before = 0.0;
  double rms_after_predicted = 0.0;
  bool bounded = false;  // solved within limits, with no cut: `kept` means nothing then
  std::optional<double> momentum_offset;      // with a momentum offset column
  std::optional<double> rf_frequency_change;  // and an RF frequency
  bool ultra_relativistic = false;            // 1/gamma^2 taken as 0: no GAMMA
};

struct CommandResult {
  std::optional<std::int32_t> m;      // the monitors, known once the inputs are read
  std::vector<std::string> warnings;  // about inputs the command went on with, one line each
  std::optional<Failure> error;       // unset: every output was written
  bool wrote_to_standard_output = false;  // an output went to standard output ("-")
  std::variant<std::monostate, ComparisonFigures, FitFigures, CorrectionFigures> figures;
};

// What a command needs of its caller besides its options.
struct CommandHooks {
  std::FILE *standard_output = stdout;  // receives outputs named "-"
  // Called once the inputs are read (m and the warnings are known), before any
  // output is written; the tool prints its "m=" line here.
  std::function<void(const CommandResult &)> inputs_read;
};

}  // namespace respmat

#endif
