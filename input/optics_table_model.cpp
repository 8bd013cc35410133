#include "input/optics_table_model.h"

#include <strings.h>

#include <cmath>
#include <utility>
#include <vector>

#include "input/name_pattern.h"
#include "text/field_text.h"

namespace respmat {
namespace {

// The columns and keywords of one plane.
struct PlaneNames {
  const char *beta;
  const char *mu;
  const char *tune;
  const char *monitor;    // besides MONITOR
  const char *corrector;  // besides KICKER
};

PlaneNames names_of(Plane plane) {
  if (plane == Plane::x) return {"BETX", "MUX", "Q1", "HMONITOR", "HKICKER"};
  return {"BETY", "MUY", "Q2", "VMONITOR", "VKICKER"};
}

bool same_word(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

// Which rows are monitors or correctors: those whose NAME matches the regular
// expression when one is given, else those whose KEYWORD is one of two.
class RowChoice {
 public:
  RowChoice(std::optional<NamePattern> pattern, const char *keyword, const char *plane_keyword)
      : pattern_(std::move(pattern)), keyword_(keyword), plane_keyword_(plane_keyword) {}

  [[nodiscard]] bool given() const { return pattern_.has_value(); }

  [[nodiscard]] bool chooses(const std::string &name, const std::string *keyword) const {
    if (pattern_) return pattern_->found_in(name);
    return keyword != nullptr && (same_word(*keyword, keyword_) || same_word(*keyword, plane_keyword_));
  }

 private:
  std::optional<NamePattern> pattern_;
  const char *keyword_;
  const char *plane_keyword_;
};

// The columns of the table that the model reads.
struct Columns {
  std::optional<std::size_t> name, keyword, s, beta, mu, dispersion;
};

std::optional<NamePattern> compile(const std::optional<std::string> &pattern, const char *option,
                                   std::optional<Failure> &failure) {
  std::optional<NamePattern> compiled;
  if (pattern && !failure) failure = NamePattern::compile(*pattern, option, compiled);
  return compiled;
}

// The failure of field `column` of row `r`.
Failure field_failure(const OpticsTable &table, const std::string &path, std::size_t r, std::size_t column,
                      const std::string &reason) {
  return content_failure(path, "column " + table.columns[column] + ": " + reason, table.lines[r]);
}

std::optional<Failure> number_at(const OpticsTable &table, const std::string &path, std::size_t r,
                                 std::size_t column, double &value) {
  if (const auto reason = detail::read_finite_field(table.rows[r][column], value))
    return field_failure(table, path, r, column, *reason);
  return std::nullopt;
}

std::optional<Failure> element_at(const OpticsTable &table, const std::string &path, std::size_t r,
                                  const Columns &columns, OpticsElement &element) {
  element.name = columns.name ? table.rows[r][*columns.name] : std::to_string(r);
  if (columns.s)
    if (auto failure = number_at(table, path, r, *columns.s, element.s)) return failure;
  if (auto failure = number_at(table, path, r, *columns.beta, element.beta)) return failure;
  if (auto failure = number_at(table, path, r, *columns.mu, element.mu)) return failure;
  if (columns.dispersion)
    if (auto failure = number_at(table, path, r, *columns.dispersion, element.dispersion)) return failure;
  if (element.beta < 0.0) return field_failure(table, path, r, *columns.beta, "a beta function cannot be negative");
  return std::nullopt;
}

// A ring's tune, from the header value of the plane.
std::optional<Failure> ring_tune(const OpticsTable &table, const std::string &path, const PlaneNames &plane,
                                 double &tune) {
  const std::optional<double> q = table.header_number(plane.tune);
  if (!q || !std::isfinite(*q))
    return content_failure(path, std::string("has no header value ") + plane.tune + ", the tune a ring needs");
  if (*q == std::nearbyint(*q))
    return content_failure(path, std::string("the tune ") + plane.tune +
                                     " is a whole number, where a ring has no closed orbit");
  tune = *q;
  return std::nullopt;
}

// What the table lacks for an option: the option asked for it, so it is a usage failure.
Failure lacks(const std::string &path, const std::string &what) {
  return {Failure::Kind::usage, path, 0, path + ": " + what};
}

// A header value the options can stand in for, finite and not 0.
std::optional<Failure> ring_constant(const OpticsTable &table, const std::string &path, const char *header,
                                     const std::optional<double> &given, const char *option, const char *meaning,
                                     const char *user, double &value) {
  if (given) {
    if (!std::isfinite(*given) || *given == 0.0)
      return usage_failure(std::string(option) + ": must be a finite number other than 0");
    value = *given;
    return std::nullopt;
  }
  const std::optional<double> read = table.header_number(header);
  if (!read)
    return lacks(path, std::string("has no header value ") + header + ", the " + meaning + " " + user +
                           " needs (or give " + option + ")");
  if (!std::isfinite(*read) || *read == 0.0)
    return content_failure(path, std::string("the header value ") + header + " (" + meaning +
                                     ") must be a finite number other than 0");
  value = *read;
  return std::nullopt;
}

// alpha_c and C of a ring at a fixed RF frequency.
std::optional<Failure> fixed_rf_of(const OpticsTable &table, const std::string &path,
                                   const OpticsModelOptions &options, std::optional<FixedRf> &fixed) {
  if (options.rf == Rf::free) return std::nullopt;
  FixedRf rf;
  if (auto failure = momentum_compaction(table, path, options, rf.momentum_compaction)) return failure;
  if (auto failure = ring_constant(table, path, "LENGTH", options.circumference, "--circumference", "circumference",
                                   "--rf fixed", rf.circumference))
    return failure;
  fixed = rf;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> rf_problem(const OpticsModelOptions &options) {
  if (options.rf == Rf::free) {
    if (options.momentum_compaction && !options.frequency_change)
      return "--momentum-compaction: has no effect without --rf fixed or --rf-frequency";
    if (options.circumference) return "--circumference: has no effect without --rf fixed";
    return std::nullopt;
  }
  if (options.lattice != Lattice::ring)
    return "--rf fixed: applies to a ring; a line's orbit does not close, so no path length is held";
  if (options.plane != Plane::x)
    return "--rf fixed: applies to the x plane, the plane of the bends and their dispersion";
  return std::nullopt;
}

std::optional<Failure> momentum_compaction(const OpticsTable &table, const std::string &path,
                                           const OpticsModelOptions &options, double &alpha) {
  return ring_constant(table, path, "ALFA", options.momentum_compaction, "--momentum-compaction",
                       "momentum compaction", options.rf == Rf::fixed ? "--rf fixed" : "--rf-frequency", alpha);
}

std::optional<Failure> optics_table_model(const OpticsTable &table, const std::string &path,
                                          const OpticsModelOptions &options, std::optional<OpticsModel> &model) {
  const PlaneNames plane = names_of(options.plane);
  if (auto problem = rf_problem(options)) return usage_failure(*problem);
  std::optional<Failure> failure;
  const RowChoice monitor_choice(compile(options.monitors_match, "--monitors-match", failure), "MONITOR",
                                 plane.monitor);
  const RowChoice corrector_choice(compile(options.correctors_match, "--correctors-match", failure), "KICKER",
                                   plane.corrector);
  if (failure) return failure;

  Columns columns{table.column("NAME"), table.column("KEYWORD"), table.column("S"), table.column(plane.beta),
                  table.column(plane.mu), std::nullopt};
  for (const auto &[column, name] : {std::pair{columns.beta, plane.beta}, std::pair{columns.mu, plane.mu},
                                     std::pair{columns.s, "S"}}) {
    if (!column && (options.lattice == Lattice::line || std::string(name) != "S"))
      return content_failure(path, std::string("has no column ") + name + ", which the model needs");
  }
  if (options.lattice == Lattice::ring) columns.s.reset();
  if (options.rf == Rf::fixed || options.read_dispersion) {
    if (!(columns.dispersion = table.column("DX")))
      return lacks(path, std::string("has no column DX, the dispersion ") +
                             (options.rf == Rf::fixed ? "--rf fixed" : "the momentum offset") + " needs");
  }

  // Without a keyword column or a pattern, every row is a monitor.
  const bool every_row_a_monitor = !monitor_choice.given() && !columns.keyword;
  std::vector<OpticsElement> monitors, correctors;
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    const std::string name = columns.name ? table.rows[r][*columns.name] : std::string();
    const std::string *keyword = columns.keyword ? &table.rows[r][*columns.keyword] : nullptr;
    const bool monitor = every_row_a_monitor || monitor_choice.chooses(name, keyword);
    const bool corrector = corrector_choice.chooses(name, keyword);
    if (!monitor && !corrector) continue;
    OpticsElement element;
    if ((failure = element_at(table, path, r, columns, element))) return failure;
    if (monitor) monitors.push_back(element);
    if (corrector) correctors.push_back(std::move(element));
  }
  if (options.monitor_count) {
    if (static_cast<std::size_t>(*options.monitor_count) > monitors.size())
      return content_failure(path, "has " + std::to_string(monitors.size()) + " monitors, but " +
                                       std::to_string(*options.monitor_count) + " are asked for");
    monitors.resize(static_cast<std::size_t>(*options.monitor_count));
  }
  if (monitors.empty()) return content_failure(path, "no monitor is selected");
  const bool at_monitors = options.correctors_at_monitors.value_or(correctors.empty() && !corrector_choice.given());
  if (at_monitors) correctors = monitors;
  if (correctors.empty()) return content_failure(path, "no corrector is selected");

  double tune = 0.0;
  if (options.lattice == Lattice::ring && (failure = ring_tune(table, path, plane, tune))) return failure;
  std::optional<FixedRf> fixed_rf;
  if ((failure = fixed_rf_of(table, path, options, fixed_rf))) return failure;
  model.emplace(std::move(monitors), std::move(correctors), options.lattice, options.scale, tune, at_monitors,
                fixed_rf);
  return std::nullopt;
}

std::optional<Failure> chosen_rows(const OpticsTable &table, const std::optional<std::string> &pattern,
                                   const char *option, const char *keyword, std::vector<std::size_t> &rows) {
  std::optional<Failure> failure;
  const RowChoice choice(compile(pattern, option, failure), keyword, keyword);
  if (failure) return failure;
  const std::optional<std::size_t> name = table.column("NAME"), kind = table.column("KEYWORD");
  for (std::size_t r = 0; r < table.rows.size(); ++r)
    if (choice.chooses(name ? table.rows[r][*name] : std::string(), kind ? &table.rows[r][*kind] : nullptr))
      rows.push_back(r);
  return std::nullopt;
}

}  // namespace respmat
