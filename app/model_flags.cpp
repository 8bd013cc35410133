#include "app/model_flags.h"

#include <cstdint>

namespace respmat {
namespace {

// The most writer threads worth asking for.
constexpr int kMaxThreads = 1024;

FlagProblem read_finite(const FlagUse &use, double &target) {
  const auto number = finite_number(use.value);
  if (!number) return use.bad("expected a finite number");
  target = *number;
  return std::nullopt;
}

// The flags that belong to the phase model, and those that belong to the optics model.
constexpr const char *kPhaseModelFlags[] = {"response", "phases", "column", "amplitude", "offset"};
constexpr const char *kOpticsModelFlags[] = {"plane", "lattice", "scale", "monitors-match", "correctors-match",
                                             "correctors-at-monitors", "rf", "momentum-compaction", "circumference"};

FlagProblem read_nonzero(const FlagUse &use, std::optional<double> &target) {
  const auto number = finite_number(use.value);
  if (!number || *number == 0.0) return use.bad("expected a finite number other than 0");
  target = *number;
  return std::nullopt;
}

// "Phase model:": the phase table, its column, m and the constants.
FlagSection<ModelSource> phase_model_section(ChoosesM chooses_m) {
  using S = ModelSource;
  FlagSection<S> phase{"Phase model", {}};
  if (chooses_m == ChoosesM::yes)
    phase.flags.push_back({"response", 'r', "FILE",
                           "response matrix; m = the field count of its first line\n"
                           "(default ../reponsematx_H0.1A.csv)",
                           "response matrix; m = the field count of its first line (default "
                           "`../reponsematx_H0.1A.csv`)",
                           [](const FlagUse &use, S &s) { return read_file_name(use, s.response); }, true});
  phase.flags.push_back({"phases", 'p', "FILE",
                         "phase table, in turns (default ../realmachinephases.csv):\n"
                         "comma-separated, or an optics table ('@', '*' lines)",
                         "phase table, in turns (default `../realmachinephases.csv`): comma-separated, or an optics "
                         "table",
                         [](const FlagUse &use, S &s) { return read_file_name(use, s.phases); }, true});
  phase.flags.push_back({"column", 'c', "COL",
                         "phase column: a 0-based index, or a name looked up\n"
                         "case-insensitively in the table's header (default 0;\n"
                         "required for optics tables)",
                         nullptr, [](const FlagUse &use, S &s) -> FlagProblem {
                           if (!(s.column = PhaseColumn::parse(use.value)))
                             return use.bad("expected a column index or name");
                           return std::nullopt;
                         }});
  if (chooses_m == ChoosesM::yes)
    phase.flags.push_back({"monitors", 'm', "N",
                           "use m = N and read no response file (with --optics: keep\n"
                           "the first N monitors)",
                           "use m = N and read no response file; with `--optics`, keep the first N monitors",
                           [](const FlagUse &use, S &s) -> FlagProblem {
                             const auto count = count_of(use.value, INT32_MAX);
                             if (!count) return use.bad("expected a count of monitors");
                             s.monitors = *count;
                             return std::nullopt;
                           }});
  phase.flags.push_back({"amplitude", 0, "A", "the amplitude (default 0.47247222310000003)",
                         "the phase model's amplitude, a double (default 0.47247222310000003)",
                         [](const FlagUse &use, S &s) { return read_finite(use, s.amplitude); }});
  phase.flags.push_back({"offset", 0, "D", "the offset in radians (default 0.1696)",
                         "the phase model's offset in radians, a double (default 0.1696); the same extended-precision "
                         "steps",
                         [](const FlagUse &use, S &s) { return read_finite(use, s.offset); }});

  return phase;
}

// "Optics model:": the optics table and how its model is made.
FlagSection<ModelSource> optics_model_section() {
  using S = ModelSource;
  return {
      "Optics model",
      {{"optics", 0, "FILE",
        "optics table with columns NAME, S, BETX, MUX, BETY, MUY\n"
        "(phases in turns), KEYWORD where present, and the tunes\n"
        "Q1, Q2 among its header values",
        "the model of an optics table (see [The optics model](#the-optics-model)); not with `-r`, `-p`, `-c`, "
        "`--amplitude`, `--offset`",
        [](const FlagUse &use, S &s) { return read_file_name(use, s.optics); }, true},
       {"plane", 0, "x|y", "BETX, MUX, Q1 or BETY, MUY, Q2 (default x)",
        "with `--optics`: BETX, MUX, Q1 or BETY, MUY, Q2 (default x)",
        [](const FlagUse &use, S &s) -> FlagProblem {
          const auto plane = parse_plane(use.value);
          if (!plane) return use.bad("expected x or y");
          s.optics_model.plane = *plane;
          return std::nullopt;
        }},
       {"lattice", 0, "line|ring",
        "a line: sqrt(bi bj) sin(2 pi (mui - muj)) for monitors\n"
        "downstream of the corrector, else 0; a ring:\n"
        "sqrt(bi bj) cos(2 pi |mui - muj| - pi Q) / (2 sin pi Q)\n"
        "(default line)",
        "with `--optics` (default line)",
        [](const FlagUse &use, S &s) -> FlagProblem {
          const auto lattice = parse_lattice(use.value);
          if (!lattice) return use.bad("expected line or ring");
          s.optics_model.lattice = *lattice;
          return std::nullopt;
        }},
       {"scale", 0, "K", "times K, e.g. a kick per ampere (default 1)",
        "with `--optics`: every entry times K, such as a kick per ampere (default 1)",
        [](const FlagUse &use, S &s) { return read_finite(use, s.optics_model.scale); }},
       {"monitors-match", 0, "REGEX",
        "monitors are the rows whose NAME matches (default:\n"
        "KEYWORD MONITOR, or HMONITOR for x, VMONITOR for y)",
        "with `--optics`: the monitors are the rows whose NAME contains a match (ECMAScript's common syntax)",
        [](const FlagUse &use, S &s) -> FlagProblem {
          s.optics_model.monitors_match = std::string(use.value);
          return std::nullopt;
        }},
       {"correctors-match", 0, "REGEX",
        "correctors are the rows whose NAME matches\n"
        "(default: KEYWORD KICKER, or HKICKER for x, VKICKER for y)",
        "with `--optics`: the correctors are the rows whose NAME contains a match (ECMAScript's common syntax)",
        [](const FlagUse &use, S &s) -> FlagProblem {
          s.optics_model.correctors_match = std::string(use.value);
          return std::nullopt;
        }},
       {"correctors-at-monitors", 0, nullptr,
        "a corrector at every monitor (the default when\n"
        "no corrector is selected)",
        "with `--optics`: a corrector at every monitor (the default when no corrector is selected)",
        [](const FlagUse &, S &s) -> FlagProblem {
          s.optics_model.correctors_at_monitors = true;
          return std::nullopt;
        }},
       {"rf", 0, "free|fixed",
        "a ring's x plane at a fixed RF frequency: less\n"
        "eta_i eta_j / (alpha_c C), eta from DX (default free)",
        "with `--optics`, a ring, x plane: `fixed` holds the RF frequency, so the response is "
        "G − K η_i η_j / (α_c C), η from the column DX (per unit δ = Δp/p), α_c from the header value ALFA, C from "
        "LENGTH (see [A fixed RF frequency](#a-fixed-rf-frequency)); `free` (the default) leaves G",
        [](const FlagUse &use, S &s) -> FlagProblem {
          const auto rf = parse_rf(use.value);
          if (!rf) return use.bad("expected free or fixed");
          s.optics_model.rf = *rf;
          return std::nullopt;
        }},
       {"momentum-compaction", 0, "A", "with --rf fixed: alpha_c instead of the header ALFA",
        "with `--rf fixed`: the momentum compaction α_c instead of the header value ALFA",
        [](const FlagUse &use, S &s) { return read_nonzero(use, s.optics_model.momentum_compaction); }},
       {"circumference", 0, "C", "with --rf fixed: C in metres instead of the header LENGTH",
        "with `--rf fixed`: the circumference C, in the unit of S and DX, instead of the header value LENGTH",
        [](const FlagUse &use, S &s) { return read_nonzero(use, s.optics_model.circumference); }}}};
}

}  // namespace

FlagList<ModelSource> model_source_flags(ChoosesM chooses_m) {
  return {phase_model_section(chooses_m), optics_model_section()};
}

FlagList<MatrixForm> matrix_form_flags() {
  using F = MatrixForm;
  return {{"",
           {{"format", 'f', "FMT",
             "csv (default); bin (rows, cols as little-endian int32,\n"
             "then the doubles row by row); or tfs (an optics-style\n"
             "table: a column per corrector, a row per monitor)",
             "`csv` (default); `bin`: the library's binary matrix form (rows, cols as little-endian int32, then the "
             "doubles row by row); `tfs`: an optics-style table",
             [](const FlagUse &use, F &form) -> FlagProblem {
               const auto format = parse_output_format(use.value);
               if (!format) return use.bad("expected csv, bin or tfs");
               form.format = *format;
               return std::nullopt;
             }},
            {"digits", 0, "N",
             "significant digits of csv and tfs, 1 to 17 (default 16;\n"
             "17 reads back exactly)",
             "significant digits of `csv` and `tfs`, 1 to 17 (default 16, `%.16lg`); 17 reads back exactly",
             [](const FlagUse &use, F &form) -> FlagProblem {
               const auto digits = count_of(use.value, 17);
               if (!digits || *digits < 1) return use.bad("expected 1 to 17 significant digits");
               form.digits = *digits;
               return std::nullopt;
             }},
            {"labels", 0, nullptr,
             "csv: a header row of corrector names and a first column\n"
             "of monitor names (indices where the inputs name none)",
             "`csv`: a header row of corrector names (its first cell empty) and a first column of monitor names; "
             "indices where the inputs name none",
             [](const FlagUse &, F &form) -> FlagProblem {
               form.labels = true;
               return std::nullopt;
             }}}}};
}

FlagList<ModelOptions> model_command_flags() {
  using M = ModelOptions;
  FlagList<M> list = lifted(model_source_flags(ChoosesM::yes), &M::source);
  FlagSection<M> outputs{"Outputs",
                         {{"output", 'o', "FILE", "default er.csv; \"-\" writes the matrix to standard output",
                           "default `er.csv`; `-` writes the matrix to standard output (and `m=` to standard error)",
                           [](const FlagUse &use, M &options) { return read_file_name(use, options.output); }}}};
  const FlagList<M> form = lifted(matrix_form_flags(), &M::form);
  for (const Flag<M> &flag : form.front().flags) outputs.flags.push_back(flag);
  outputs.flags.push_back({"heatmap", 0, "FILE", "also draw the matrix: PNG, SVG or PDF by the extension",
                           "also draw the model matrix as a heat map: SVG for a FILE named `.svg`, PDF for `.pdf` (in "
                           "any case), else PNG",
                           [](const FlagUse &use, M &options) -> FlagProblem {
                             if (use.value == "-" || use.value.empty())
                               return use.bad("expected a file name for the picture");
                             options.heatmap = std::string(use.value);
                             return std::nullopt;
                           }});
  outputs.flags.push_back({"range", 0, "R",
                           "the picture's colour scale runs from -R to R (default: the\n"
                           "largest entry the model can have)",
                           "with `--heatmap`: the colour scale runs from −R to R (default: the largest entry the "
                           "model can have)",
                           [](const FlagUse &use, M &options) -> FlagProblem {
                             const auto range = finite_number(use.value);
                             if (!range || !(*range > 0.0)) return use.bad("expected a number above 0");
                             options.range = *range;
                             return std::nullopt;
                           }});
  outputs.flags.push_back({"units", 0, "TEXT", "the entries' units, on the colour bar (default: orbit per\nunit kick)",
                           "with `--heatmap`: the entries' units, in the colour bar's label (default `orbit per unit "
                           "kick`)",
                           [](const FlagUse &use, M &options) -> FlagProblem {
                             options.units = std::string(use.value);
                             return std::nullopt;
                           }});
  outputs.flags.push_back({"threads", 0, "N", "writer threads (default 0: one per core)",
                           "threads for writing the matrix, 0 to 1024; 0 (the default) is one per core",
                           [](const FlagUse &use, M &options) -> FlagProblem {
                             const auto threads = count_of(use.value, kMaxThreads);
                             if (!threads) return use.bad("expected 0 (one per core) to 1024 threads");
                             options.form.threads = *threads;
                             return std::nullopt;
                           }});
  for (const Flag<M> &flag : help_flags<M>().flags) outputs.flags.push_back(flag);
  list.push_back(std::move(outputs));
  return list;
}

FlagProblem model_source_conflict(const ModelSource &source, const std::set<std::string> &given, bool plane_alone) {
  if (source.response && source.monitors) return "--response, --monitors: both give m; use one";
  if (source.optics) {
    for (const char *name : kPhaseModelFlags)
      if (given.contains(name)) return std::string("--") + name + ": belongs to the phase model, not to --optics";
  } else {
    for (const std::string name : kOpticsModelFlags)
      if (given.contains(name) && !(plane_alone && name == "plane")) return "--" + name + ": needs --optics";
  }
  if (source.optics)
    if (auto problem = rf_problem(source.optics_model)) return problem;
  if (given.contains("correctors-match") && given.contains("correctors-at-monitors"))
    return "--correctors-match: has no effect with --correctors-at-monitors, which puts a corrector at every monitor";
  return std::nullopt;
}

FlagProblem model_command_conflict(const ModelOptions &options, const std::set<std::string> &given) {
  if (auto problem = model_source_conflict(options.source, given)) return problem;
  if (auto problem = matrix_form_conflict(options.form, given)) return problem;
  if (given.contains("range") && !options.heatmap) return "--range: needs --heatmap";
  if (given.contains("units") && !options.heatmap) return "--units: needs --heatmap";
  // The text forms alone are written on several threads; beside a picture, or in the
  // binary form, rows go one at a time.
  if (given.contains("threads") && (options.form.format == OutputFormat::bin || options.heatmap))
    return "--threads: applies to the text forms written without --heatmap";
  return std::nullopt;
}

FlagProblem matrix_form_conflict(const MatrixForm &form, const std::set<std::string> &given) {
  if (given.contains("labels") && form.format != OutputFormat::csv) return "--labels: applies to the csv format only";
  if (given.contains("digits") && form.format == OutputFormat::bin) return "--digits: applies to the text formats only";
  return std::nullopt;
}

}  // namespace respmat
