// The flags that describe a model (a phase table or an optics table), shared by every
// command that computes one, and the flags of the `model` command's outputs.
#ifndef RESPMAT_APP_MODEL_FLAGS_H
#define RESPMAT_APP_MODEL_FLAGS_H

#include <optional>
#include <set>
#include <string>

#include "app/flags.h"
#include "commands/model_command.h"

namespace respmat {

// Whether m may be chosen (-r, -m): not where the measured matrix fixes it.
enum class ChoosesM { yes, no };

// "Phase model:" and "Optics model:".
[[nodiscard]] FlagList<ModelSource> model_source_flags(ChoosesM chooses_m);

// The form of a written matrix: -f, --digits, --labels.
[[nodiscard]] FlagList<MatrixForm> matrix_form_flags();

// Every flag of `respmat model`.
[[nodiscard]] FlagList<ModelOptions> model_command_flags();

// What is contradictory among the model's flags once all are read, or has no
// effect: each such flag is refused, never ignored. `plane_alone` lets --plane stand
// without --optics (correct, where it chooses an optics-style orbit's column).
[[nodiscard]] FlagProblem model_source_conflict(const ModelSource &source, const std::set<std::string> &given,
                                                bool plane_alone = false);
[[nodiscard]] FlagProblem matrix_form_conflict(const MatrixForm &form, const std::set<std::string> &given);
[[nodiscard]] FlagProblem model_command_conflict(const ModelOptions &options, const std::set<std::string> &given);

// --help's and --version's definitions, the same in every command.
template <typename Options>
[[nodiscard]] FlagSection<Options> help_flags() {
  const auto taken_by_the_reader = [](const FlagUse &, Options &) -> FlagProblem { return std::nullopt; };
  return {"",
          {{"help", 'h', nullptr, "show this help and exit", "usage on standard output; reads and writes nothing else",
            taken_by_the_reader},
           {"version", 0, nullptr, "show the version and exit", "`respmat <version>`; reads and writes nothing else",
            taken_by_the_reader}}};
}

}  // namespace respmat

#endif
