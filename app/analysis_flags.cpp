#include "app/analysis_flags.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/model_flags.h"
#include "commands/entry_choice.h"

namespace respmat {
namespace {

FlagProblem read_layout(const FlagUse &use, std::optional<MatrixLayout> &layout, const char *expected) {
  layout = parse_layout(use.value);
  if (!layout) return use.bad(expected);
  return std::nullopt;
}

FlagProblem read_layout(const FlagUse &use, MatrixLayout &layout, const char *expected) {
  std::optional<MatrixLayout> read;
  if (auto problem = read_layout(use, read, expected)) return problem;
  layout = *read;
  return std::nullopt;
}

FlagProblem read_threads(const FlagUse &use, int &threads) {
  const auto count = count_of(use.value, 1024);
  if (!count) return use.bad("expected 0 (one per core) to 1024 threads");
  threads = *count;
  return std::nullopt;
}

// The measurement of compare and fit: its file, layout, step, uncertainties and
// where its correctors sit; the outliers and the summary.
template <typename Options>
FlagSection<Options> measurement_section() {
  return {"Measurement",
          {{"measured", 0, "FILE",
            "the measured matrix (default ../reponsematx_H0.1A.csv):\n"
            "comma-separated numbers, optionally with a header row of\n"
            "names and a first column of names (its first cell empty,\n"
            "or the index's name), or an optics-style table",
            nullptr,
            [](const FlagUse &use, Options &o) { return read_file_name(use, o.measurement.measured); }, true},
           {"layout", 0, "L",
            "correctors-by-monitors (default: a row per corrector) or\n"
            "monitors-by-correctors (what respmat model writes); an\n"
            "optics-style table's LAYOUT header gives it, and must agree",
            nullptr,
            [](const FlagUse &use, Options &o) {
              return read_layout(use, o.measurement.layout,
                                 "expected correctors-by-monitors or monitors-by-correctors");
            }},
           {"step", 0, "X", "the corrector change of the measurement (default 1)", nullptr,
            [](const FlagUse &use, Options &o) -> FlagProblem {
              const auto step = finite_number(use.value);
              if (!step || *step == 0.0) return use.bad("expected a finite number other than 0");
              o.measurement.step = *step;
              return std::nullopt;
            }},
           {"sigma", 0, "FILE", "uncertainties, laid out as the measured matrix", nullptr,
            [](const FlagUse &use, Options &o) { return read_file_name(use, o.measurement.sigma); }, true},
           {"corrector-monitors", 0, "LIST",
            "the monitor (index or name) at which each\n"
            "measured corrector sits, for a phase model; without it\n"
            "the matrix must be square",
            nullptr,
            [](const FlagUse &use, Options &o) -> FlagProblem {
              o.measurement.corrector_monitors = std::string(use.value);
              return std::nullopt;
            }},
           {"outlier-k", 0, "K",
            "an entry is an outlier past K sigma (default 5); sigma from\n"
            "--sigma, else 1.4826 x the median absolute deviation",
            nullptr,
            [](const FlagUse &use, Options &o) -> FlagProblem {
              const auto k = finite_number(use.value);
              if (!k || !(*k > 0.0)) return use.bad("expected a number above 0");
              o.outlier_k = *k;
              return std::nullopt;
            }},
           {"summary", 0, "FILE", "also write a summary as JSON", nullptr,
            [](const FlagUse &use, Options &o) { return read_file_name(use, o.summary); }}}};
}

// The model's flags and the matrix's form, for compare and fit.
template <typename Options>
void add_model_and_form(FlagList<Options> &list, FlagSection<Options> outputs) {
  for (FlagSection<Options> &section : lifted(model_source_flags(ChoosesM::no), &Options::model))
    list.push_back(std::move(section));
  const FlagList<Options> form = lifted(matrix_form_flags(), &Options::form);
  for (const Flag<Options> &flag : form.front().flags) outputs.flags.push_back(flag);
  outputs.flags.push_back({"threads", 0, "N", "writer threads (default 0: one per core)", nullptr,
                           [](const FlagUse &use, Options &o) { return read_threads(use, o.form.threads); }});
  for (const Flag<Options> &flag : help_flags<Options>().flags) outputs.flags.push_back(flag);
  list.push_back(std::move(outputs));
}

using C = CorrectOptions;

// Readers of the correct command's values into the member they fill.
std::function<FlagProblem(const FlagUse &, C &)> column(std::optional<PhaseColumn> C::*member) {
  return [member](const FlagUse &use, C &o) -> FlagProblem {
    auto read = PhaseColumn::parse(use.value);
    if (!read) return use.bad("expected a column index or name");
    o.*member = std::move(read);
    return std::nullopt;
  };
}

std::function<FlagProblem(const FlagUse &, C &)> file(std::optional<std::string> C::*member) {
  return [member](const FlagUse &use, C &o) { return read_file_name(use, o.*member); };
}

std::function<FlagProblem(const FlagUse &, C &)> list_of(std::vector<std::string> C::*member) {
  return [member](const FlagUse &use, C &o) -> FlagProblem {
    std::vector<std::string> items = list_items(std::string(use.value));
    for (const std::string &item : items)
      if (item.empty()) return use.bad("expected comma-separated indices or names, none of them empty");
    o.*member = std::move(items);
    return std::nullopt;
  };
}

std::optional<double> non_negative(const FlagUse &use) {
  const auto number = finite_number(use.value);
  if (!number || *number < 0.0) return std::nullopt;
  return number;
}

// The matrix, the orbit and what weighs, excludes or bounds it.
FlagSection<CorrectOptions> correct_input_section() {
  using C = CorrectOptions;
  return {"Inputs",
          {{"matrix", 0, "FILE",
            "the response matrix: CSV, CSV with names (first cell\n"
            "empty), the binary form (.bin) or an optics-style table\n"
            "(respmat model -f tfs); without it the model of the model\n"
            "options (see respmat model --help) is computed",
            "the response matrix: CSV; CSV with names (corrector names in the header, monitor names in the first "
            "column, the header's first cell empty as `model --labels` writes it or the index's name as pandas "
            "does); the binary form (a name ending in `.bin`); an "
            "optics-style table (`model -f tfs`). Without it, the model of the model options is computed as `respmat "
            "model` would write it",
            file(&C::matrix), true},
           {"layout", 0, "L", "monitors-by-correctors (default) or correctors-by-monitors",
            "`monitors-by-correctors` (default, what `model` writes) or `correctors-by-monitors`",
            [](const FlagUse &use, C &o) {
              return read_layout(use, o.layout, "expected monitors-by-correctors or correctors-by-monitors");
            }},
           {"orbit", 0, "FILE",
            "one value per monitor: a column of a CSV or optics-style\n"
            "table; matched by name when both it and the matrix name\n"
            "their monitors, else taken in order",
            "one value per monitor: a column of a CSV table, or of an optics-style table; `-` reads standard input. "
            "When both the orbit and the matrix name their monitors, values are matched by name in any order; a name "
            "without a partner, or one named twice, is an error. Otherwise they are taken in order and the counts "
            "must agree",
            [](const FlagUse &use, C &o) { return read_file_name(use, o.orbit); }, true},
           {"orbit-column", 0, "COL",
            "its column, an index or a name (default 0, or the one\n"
            "after a first column headed as the names; in an\n"
            "optics-style table X or Y by --plane)",
            "the orbit's column, an index or a name (default 0, a header row as in phase tables; the second column "
            "when the header line names the first as the names', `NAME`, `name` or `--orbit-names`, as a pandas "
            "Series writes it; in an optics-style table `X` or `Y` by `--plane`). Weights and uncertainties choose "
            "their default column the same way",
            column(&C::orbit_column)},
           {"orbit-names", 0, "COL",
            "the column of the monitors' names, an index or a name\n"
            "(default: NAME or name, else the first column)",
            "the column of the monitors' names, an index or a name. Default: a column called `NAME` or `name` "
            "wherever it stands (in a CSV table, its header line's), else, when `--orbit-column` chooses another, the "
            "first column if it is not numbers. Weights, uncertainties and limits take their names the default way",
            column(&C::orbit_names)},
           {"weights", 0, "FILE", "one weight per monitor, read like the orbit",
            "one weight ≥ 0 per monitor, read like the orbit. An orbit, weights or limits input (any of them may be a "
            "pipe) larger than 256 MiB is refused",
            file(&C::weights), true},
           {"weights-column", 0, "COL", "its column", "the weights' column, as `--orbit-column`",
            column(&C::weights_column)},
           {"orbit-sigma", 0, "FILE", "the orbit's uncertainty per monitor, read like the\norbit: weight 1/sigma",
            "the orbit's uncertainty σ > 0 per monitor, read like the orbit: each monitor weighs 1/σ. Not with "
            "`--weights`",
            file(&C::orbit_sigma), true},
           {"orbit-sigma-column", 0, "COL", "its column", "the uncertainties' column, as `--orbit-column`",
            column(&C::orbit_sigma_column)},
           {"exclude-monitors", 0, "LIST", "comma-separated 0-based indices or names", nullptr,
            list_of(&C::exclude_monitors)},
           {"exclude-correctors", 0, "LIST", "the same for correctors: their change is 0", nullptr,
            list_of(&C::exclude_correctors)},
           {"limits", 0, "FILE",
            "a line lower,upper per corrector, or name,lower,upper\n"
            "by name: bounds on the change, solved as a bounded\n"
            "least-squares problem",
            "a line `lower,upper` per corrector, or lines `name,lower,upper` (or a table whose header names `lower`, "
            "`upper` and the names' column) matched by name in any order, correctors left out unbounded: bounds on "
            "the change. The bounded problem min ‖W(x + RΔθ)‖² + "
            "α²‖Δθ‖² is then solved to rounding: L-BFGS-B, from the unbounded answer clamped into the box, finds which "
            "correctors sit at a limit, LAPACK solves exactly for the others, and the answer is kept once it meets the "
            "optimality conditions. The singular-value cut does not apply to it; a problem too badly conditioned to "
            "settle is an error that says so",
            file(&C::limits), true}}};
}

// How the singular values are cut and the correction regularised.
FlagSection<CorrectOptions> correction_section() {
  using C = CorrectOptions;
  return {"Correction",
       {{"singular-values", 0, "N", "keep the N largest singular values", nullptr,
         [](const FlagUse &use, C &o) -> FlagProblem {
           const auto count = count_of(use.value, INT32_MAX);
           if (!count) return use.bad("expected a count of singular values");
           o.singular_values = *count;
           return std::nullopt;
         }},
        {"rcond", 0, "R",
         "keep those above R times the largest, 0 <= R < 1 (0: every\n"
         "non-zero one; default: above max(rows, cols) x machine\n"
         "epsilon x the largest)",
         "keep s_k > R·s₁, 0 ≤ R < 1 (0 keeps every non-zero value; default: s_k > max(rows, cols)·ε·s₁, numpy's "
         "rank tolerance)",
         [](const FlagUse &use, C &o) -> FlagProblem {
           const auto cut = finite_number(use.value);
           if (!cut || !(*cut >= 0.0 && *cut < 1.0)) return use.bad("expected a number from 0 up to, not including, 1");
           o.rcond = *cut;
           return std::nullopt;
         }},
        {"tikhonov", 0, "A", "regularisation alpha >= 0 (default 0)", "α ≥ 0 (default 0: the pseudo-inverse)",
         [](const FlagUse &use, C &o) -> FlagProblem {
           const auto alpha = non_negative(use);
           if (!alpha) return use.bad("expected a finite number >= 0");
           o.tikhonov = *alpha;
           return std::nullopt;
         }},
        {"threads", 0, "N",
         "threads of the linear algebra (default RESPMAT_THREADS,\n"
         "else one per core)",
         "threads of the linear algebra (OpenBLAS); default `RESPMAT_THREADS`, else one per core",
         [](const FlagUse &use, C &o) { return read_threads(use, o.threads); }},
        {"rf-column", 0, nullptr,
         "a ring's x plane: one more column, the orbit per unit\n"
         "momentum offset (DX), whose change is the row momentum_offset",
         "with `--optics`, a ring, x plane: one more column in the matrix, the orbit per unit relative momentum "
         "offset δ = Δp/p (the column DX), so the correction also gives δ (row `momentum_offset` of `-o`, unbounded "
         "under `--limits`, excluded by that name)",
         [](const FlagUse &, C &o) -> FlagProblem {
           o.rf_column = true;
           return std::nullopt;
         }},
        {"rf-frequency", 0, "F",
         "with --rf-column: also the RF frequency change\n"
         "df = -(alpha_c - 1/gamma^2) delta F",
         "with `--rf-column`: the RF frequency F, so that the change Δf = −(α_c − 1/γ²)·δ·F (in the unit of F) is "
         "printed and in the summary; α_c from ALFA or `--momentum-compaction`, γ from the header value GAMMA, else "
         "1/γ² = 0 (the ultra-relativistic limit, said so)",
         [](const FlagUse &use, C &o) -> FlagProblem {
           const auto frequency = finite_number(use.value);
           if (!frequency || !(*frequency > 0.0)) return use.bad("expected a frequency above 0");
           o.rf_frequency = *frequency;
           return std::nullopt;
         }}}};
}

// The corrector changes and what else is written beside them.
FlagSection<CorrectOptions> correct_output_section() {
  using C = CorrectOptions;
  return {"Outputs (each replaced whole, none written on failure)",
       {{"output", 'o', "FILE", "name,change per corrector (default correctors.csv)",
         "`name,change` per corrector, after a header line (default `correctors.csv`); names, or 0-based indices "
         "where the matrix names none",
         [](const FlagUse &use, C &o) { return read_file_name(use, o.output); }},
        {"predicted", 0, "FILE", "name,predicted: the orbit after the change, per monitor",
         "`name,predicted`: the orbit after the change, x + RΔθ, per monitor", file(&C::predicted)},
        {"spectrum", 0, "FILE", "value,kept per singular value, largest first",
         "`value,kept` per singular value of the weighted matrix, largest first, no header", file(&C::spectrum)},
        {"summary", 0, "FILE",
         "JSON: rows, cols, kept, alpha, rms_before,\n"
         "rms_after_predicted, max_change, condition_number",
         "JSON: `rows`, `cols` (in use), `kept`, `alpha`, `rms_before`, `rms_after_predicted` (plain rms over the "
         "monitors in use), `max_change`, `condition_number` (s₁ over the smallest kept value; `null` when none is "
         "kept); with `--rf-column` also `momentum_offset`, and with `--rf-frequency` `rf_frequency_change` and "
         "`ultra_relativistic`",
         file(&C::summary)},
        {"spectrum-plot", 0, "FILE", "the singular values on a log scale (PNG, SVG, PDF)",
         "the singular values on a log scale, kept ones filled and cut ones hollow, the cut a dashed line: SVG for a "
         "FILE named `.svg`, PDF for `.pdf`, else PNG",
         [](const FlagUse &use, C &o) -> FlagProblem {
           if (use.value == "-") return use.bad("expected a file name for the picture");
           return read_file_name(use, o.spectrum_plot);
         }},
        {"plot", 0, "FILE",
         "the orbit before and predicted after per monitor, and the\ncorrector changes: PNG, SVG or PDF by the extension",
         "the orbit before and predicted after per monitor, and the corrector changes, in one figure: a FILE named "
         "`.png`, `.svg` or `.pdf` (in any case)",
         [](const FlagUse &use, C &o) { return read_plot_name(use, o.plot); }}}};
}

// What --fit quadrupoles reads besides the measurement, and what it writes.
FlagSection<FitOptions> quadrupole_section() {
  using F = FitOptions;
  const auto file = [](std::optional<std::string> QuadrupoleFitOptions::*member) {
    return [member](const FlagUse &use, F &o) { return read_file_name(use, o.quadrupoles.*member); };
  };
  return {"Quadrupoles (--fit quadrupoles)",
          {{"measured-y", 0, "FILE", "with --plane both: the y plane's measured matrix,\nlaid out as --measured",
            nullptr, file(&QuadrupoleFitOptions::measured_y)},
           {"sigma-y", 0, "FILE", "with --plane both: its uncertainties", nullptr, file(&QuadrupoleFitOptions::sigma_y)},
           {"quadrupoles-match", 0, "REGEX",
            "the quadrupoles are the rows whose NAME matches\n(default: KEYWORD QUADRUPOLE)",
            "the quadrupoles are the rows whose NAME contains a match, read as `--monitors-match` reads its "
            "expression (default: the rows of KEYWORD QUADRUPOLE)",
            [](const FlagUse &use, F &o) -> FlagProblem {
              o.quadrupoles.match = std::string(use.value);
              return std::nullopt;
            }},
           {"calibrations", 0, nullptr,
            "also fit a gain per monitor and a strength per corrector\nin each plane (sum of log gains 0)",
            nullptr,
            [](const FlagUse &, F &o) -> FlagProblem {
              o.quadrupoles.settings.calibrations = true;
              return std::nullopt;
            }},
           {"singular-values", 0, "N", "keep the N largest singular values of the Jacobian", nullptr,
            [](const FlagUse &use, F &o) -> FlagProblem {
              const auto count = count_of(use.value, INT32_MAX);
              if (!count || *count == 0) return use.bad("expected a count of singular values above 0");
              o.quadrupoles.settings.singular_values = *count;
              return std::nullopt;
            }},
           {"rcond", 0, "R",
            "keep those above R times the largest, 0 <= R < 1\n"
            "(default: above max(rows, cols) x machine epsilon x the\nlargest)",
            "keep s_k > R·s₁, 0 ≤ R < 1 (default: s_k > max(rows, cols)·ε·s₁, numpy's rank tolerance)",
            [](const FlagUse &use, F &o) -> FlagProblem {
              const auto r = finite_number(use.value);
              if (!r || *r < 0.0 || *r >= 1.0) return use.bad("expected a number from 0 up to, not including, 1");
              o.quadrupoles.settings.rcond = *r;
              return std::nullopt;
            }},
           {"tikhonov", 0, "A", "regularise the errors towards 0 with alpha >= 0\n(default 0)",
            "α ≥ 0: residuals α·ΔK_q join the fit (default 0)",
            [](const FlagUse &use, F &o) -> FlagProblem {
              const auto alpha = finite_number(use.value);
              if (!alpha || *alpha < 0.0) return use.bad("expected a finite number >= 0");
              o.quadrupoles.settings.tikhonov = *alpha;
              return std::nullopt;
            }},
           {"beta-beating", 0, "FILE",
            "rings: also write name,s,beta_beating_x,beta_beating_y\nat the monitors", nullptr,
            file(&QuadrupoleFitOptions::beta_beating)}}};
}

// --plane of the fit also takes both, for --fit quadrupoles: x from --measured, y
// from --measured-y.
void with_both_planes(FlagList<FitOptions> &list) {
  for (FlagSection<FitOptions> &section : list)
    for (Flag<FitOptions> &flag : section.flags)
      if (std::string_view(flag.long_name) == "plane") {
        flag.value_name = "x|y|both";
        flag.help = "BETX, MUX, Q1 or BETY, MUY, Q2 (default x); both:\nboth planes, with --fit quadrupoles";
        flag.doc = "with `--optics`: BETX, MUX, Q1 or BETY, MUY, Q2 (default x); `both` with `--fit quadrupoles`: "
                   "x from `--measured`, y from `--measured-y`, one error per quadrupole";
        flag.apply = [plane = flag.apply](const FlagUse &use, FitOptions &o) -> FlagProblem {
          o.quadrupoles.both_planes = use.value == "both";
          if (!o.quadrupoles.both_planes) return plane(use, o);
          return std::nullopt;
        };
      }
}

}  // namespace

FlagList<CompareOptions> compare_command_flags() {
  using C = CompareOptions;
  FlagList<C> list{measurement_section<C>()};
  FlagSection<C> outputs{
      "Outputs",
      {{"output", 'o', "FILE", "the residual (default residual.csv), in the measured\nfile's layout", nullptr,
        [](const FlagUse &use, C &o) { return read_file_name(use, o.output); }},
       {"heatmap", 0, "FILE", "also draw the residual: PNG, SVG or PDF by the extension", nullptr,
        [](const FlagUse &use, C &o) -> FlagProblem {
          if (use.value == "-" || use.value.empty()) return use.bad("expected a file name for the picture");
          o.heatmap = std::string(use.value);
          return std::nullopt;
        }},
       {"plot", 0, "FILE", "the residual's rms per monitor and per corrector as bars:\nPNG, SVG or PDF by the extension",
        "the residual's rms per monitor and per corrector as bars: a FILE named `.png`, `.svg` or `.pdf` (in any "
        "case)",
        [](const FlagUse &use, C &o) { return read_plot_name(use, o.plot); }},
       {"units", 0, "TEXT", "the residual's units, on the pictures (default: orbit per\nunit kick)",
        "with `--heatmap` or `--plot`: the residual's units, in the colour bar's label and the bars' axis (default "
        "`orbit per unit kick`)",
        [](const FlagUse &use, C &o) -> FlagProblem {
          o.units = std::string(use.value);
          return std::nullopt;
        }}}};
  add_model_and_form(list, std::move(outputs));
  return list;
}

FlagList<FitOptions> fit_command_flags() {
  using F = FitOptions;
  FlagList<F> list{
      {"Fit",
       {{"fit", 0, "KIND",
         "amplitude-offset (default), or calibrations: a gain per\n"
         "monitor, a strength and a phase offset per corrector\n"
         "(the logs of the gains' sizes sum to 0; on a ring no offsets),\n"
         "or quadrupoles: the gradient errors of the optics table's\n"
         "thin quadrupoles",
         nullptr,
         [](const FlagUse &use, F &o) -> FlagProblem {
           const auto kind = parse_fit_kind(use.value);
           if (!kind) return use.bad("expected amplitude-offset, calibrations or quadrupoles");
           o.kind = *kind;
           return std::nullopt;
         }},
        {"parameters", 0, "FILE", "also write the parameters as CSV: kind,name,value,error", nullptr,
         [](const FlagUse &use, F &o) { return read_file_name(use, o.parameters); }},
        {"covariance", 0, "FILE", "also write the fitted parameters' covariance as CSV",
         "also write the covariance the errors come from, of the parameters fitted (a left-out corrector's are not), "
         "as CSV: a header row and a first column of `kind:name`, 17 significant digits",
         [](const FlagUse &use, F &o) { return read_file_name(use, o.covariance); }},
        {"exclude-outliers", 0, nullptr, "leave out the outliers compare finds", nullptr,
         [](const FlagUse &, F &o) -> FlagProblem {
           o.exclude_outliers = true;
           return std::nullopt;
         }}}},
      measurement_section<F>()};
  FlagSection<F> outputs{"Outputs",
                         {{"output", 'o', "FILE", "also write the fitted model, in the measured file's\nlayout",
                           nullptr, [](const FlagUse &use, F &o) { return read_file_name(use, o.output); }}}};
  list.push_back(quadrupole_section());
  add_model_and_form(list, std::move(outputs));
  with_both_planes(list);
  return list;
}

FlagList<CorrectOptions> correct_command_flags() {
  FlagList<CorrectOptions> list{correct_input_section(), correction_section(), correct_output_section()};
  for (const Flag<CorrectOptions> &flag : help_flags<CorrectOptions>().flags) list.back().flags.push_back(flag);
  for (FlagSection<CorrectOptions> &section : lifted(model_source_flags(ChoosesM::yes), &CorrectOptions::model))
    list.push_back(std::move(section));
  return list;
}

FlagProblem compare_conflict(const CompareOptions &options, const std::set<std::string> &given) {
  if (auto problem = model_source_conflict(options.model, given)) return problem;
  if (auto problem = matrix_form_conflict(options.form, given)) return problem;
  if (options.model.optics && given.contains("corrector-monitors"))
    return "--corrector-monitors: has no effect with --optics, whose table places the correctors";
  if (given.contains("threads") && options.form.format == OutputFormat::bin)
    return "--threads: applies to the text forms only";
  if (given.contains("units") && !options.heatmap && !options.plot) return "--units: needs --heatmap or --plot";
  return std::nullopt;
}

// The flags --fit quadrupoles alone reads, and how it reads the others.
FlagProblem quadrupole_conflict(const FitOptions &options, const std::set<std::string> &given) {
  const QuadrupoleFitOptions &q = options.quadrupoles;
  if (options.kind != FitKind::quadrupoles) {
    for (const char *name : {"measured-y", "sigma-y", "quadrupoles-match", "calibrations", "singular-values", "rcond",
                             "tikhonov", "beta-beating"})
      if (given.contains(name)) return std::string("--") + name + ": needs --fit quadrupoles";
    if (q.both_planes) return "--plane both: needs --fit quadrupoles";
    return std::nullopt;
  }
  if (!options.model.optics) return "--fit quadrupoles: needs --optics, whose table gives the quadrupoles";
  if (options.exclude_outliers) return "--exclude-outliers: does not apply to --fit quadrupoles";
  if (q.both_planes && !q.measured_y) return "--plane both: needs --measured-y, the y plane's measurement";
  if (!q.both_planes && q.measured_y) return "--measured-y: needs --plane both";
  if (q.sigma_y && !q.both_planes) return "--sigma-y: needs --plane both";
  if (q.both_planes && options.measurement.sigma.has_value() != q.sigma_y.has_value())
    return std::string(q.sigma_y ? "--sigma-y: needs --sigma" : "--sigma: needs --sigma-y") +
           " with --plane both, uncertainties for both planes";
  if (q.settings.singular_values && q.settings.rcond) return "--singular-values, --rcond: both choose the cut; use one";
  if (q.beta_beating && options.model.optics_model.lattice != Lattice::ring)
    return "--beta-beating: needs --lattice ring";
  return std::nullopt;
}

FlagProblem fit_conflict(const FitOptions &options, const std::set<std::string> &given) {
  if (auto problem = quadrupole_conflict(options, given)) return problem;
  if (auto problem = model_source_conflict(options.model, given)) return problem;
  if (auto problem = matrix_form_conflict(options.form, given)) return problem;
  if (options.model.optics && given.contains("corrector-monitors"))
    return "--corrector-monitors: has no effect with --optics, whose table places the correctors";
  if (given.contains("outlier-k") && !options.exclude_outliers)
    return "--outlier-k: needs --exclude-outliers, the fit's only use of outliers";
  for (const char *form : {"format", "digits", "labels", "threads"})
    if (given.contains(form) && !options.output)
      return std::string("--") + form + ": applies to the fitted model, written only with -o";
  if (given.contains("threads") && options.form.format == OutputFormat::bin)
    return "--threads: applies to the text forms only";
  return std::nullopt;
}

FlagProblem correct_conflict(const CorrectOptions &options, const std::set<std::string> &given) {
  if (options.orbit.empty()) return "--orbit: is needed, the orbit to correct";
  if (options.singular_values && options.rcond) return "--singular-values, --rcond: both choose the cut; use one";
  if (options.limits && (options.singular_values || options.rcond))
    return std::string(options.rcond ? "--rcond" : "--singular-values") +
           ": has no effect with --limits, whose bounded problem takes no singular-value cut";
  if (options.weights_column && !options.weights) return "--weights-column: needs --weights";
  if (options.weights && options.orbit_sigma) return "--weights, --orbit-sigma: both weigh the monitors; use one";
  if (options.orbit_sigma_column && !options.orbit_sigma) return "--orbit-sigma-column: needs --orbit-sigma";
  if (given.contains("layout") && !options.matrix) return "--layout: needs --matrix; a computed model has no layout";
  if (options.matrix)
    for (const char *name : {"response", "phases", "column", "monitors", "amplitude", "offset", "optics", "lattice",
                             "scale", "monitors-match", "correctors-match", "correctors-at-monitors", "rf",
                             "momentum-compaction", "circumference", "rf-column"})
      if (given.contains(name))
        return std::string("--") + name + ": does not apply with --matrix, which is read as it is";
  if (options.rf_frequency && !options.rf_column) return "--rf-frequency: needs --rf-column, which gives the momentum offset";
  if (options.rf_column) {
    if (!options.model.optics) return "--rf-column: needs --optics, whose column DX gives the orbit per momentum offset";
    if (options.model.optics_model.lattice != Lattice::ring || options.model.optics_model.plane != Plane::x)
      return "--rf-column: applies to a ring's x plane, where the RF frequency moves the momentum and the orbit";
  }
  return model_source_conflict(model_source_of(options), given, true);
}

}  // namespace respmat

