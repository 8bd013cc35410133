#include "job/optics_model.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <regex>
#include <utility>

#include "job/phase_table.h"
#include "text/number_text.h"

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
  RowChoice(std::optional<std::regex> pattern, const char *keyword, const char *plane_keyword)
      : pattern_(std::move(pattern)), keyword_(keyword), plane_keyword_(plane_keyword) {}

  [[nodiscard]] bool given() const { return pattern_.has_value(); }

  [[nodiscard]] bool chooses(const std::string &name, const std::string *keyword) const {
    if (pattern_) return std::regex_search(name, *pattern_);
    return keyword != nullptr && (same_word(*keyword, keyword_) || same_word(*keyword, plane_keyword_));
  }

 private:
  std::optional<std::regex> pattern_;
  const char *keyword_;
  const char *plane_keyword_;
};

// The columns of the table that the model reads.
struct Columns {
  std::optional<std::size_t> name, keyword, s, beta, mu;
};

struct Failure {
  std::string message;
  bool usage = false;
};

std::optional<std::regex> compile(const std::optional<std::string> &pattern, const char *option, Failure &failure) {
  if (!pattern) return std::nullopt;
  try {
    return std::regex(*pattern, std::regex::ECMAScript);
  } catch (const std::regex_error &) {
    failure = {std::string(option) + " '" + *pattern + "': not a regular expression", true};
    return std::nullopt;
  }
}

// Reads field `column` of row `r` as a finite number; `what` names it in messages.
bool number_at(const OpticsTable &table, const std::string &path, std::size_t r, std::size_t column, double &value,
               Failure &failure) {
  const std::string &text = table.rows[r][column];
  if (detail::parse_whole_number(text.data(), text.data() + text.size(), value) && std::isfinite(value)) return true;
  failure.message = path + ":" + std::to_string(table.lines[r]) + ": column " + table.columns[column] + ": " +
                    quoted_field(text) + " is not a finite number";
  return false;
}

bool element_at(const OpticsTable &table, const std::string &path, std::size_t r, const Columns &columns,
                OpticsElement &element, Failure &failure) {
  element.name = columns.name ? table.rows[r][*columns.name] : std::to_string(r);
  if (columns.s && !number_at(table, path, r, *columns.s, element.s, failure)) return false;
  if (!number_at(table, path, r, *columns.beta, element.beta, failure) ||
      !number_at(table, path, r, *columns.mu, element.mu, failure))
    return false;
  if (element.beta < 0.0) {
    failure.message = path + ":" + std::to_string(table.lines[r]) + ": column " + table.columns[*columns.beta] +
                      ": a beta function cannot be negative";
    return false;
  }
  return true;
}

// sin(2 pi t) and cos(2 pi t) with t reduced to [-1/2, 1/2] first: phase advances
// run to many turns, and 2 pi t would lose the fraction that matters.
double sine_of_turns(double t) { return std::sin(2.0 * std::numbers::pi * (t - std::nearbyint(t))); }

}  // namespace

const char *plane_name(Plane plane) { return plane == Plane::x ? "x" : "y"; }
const char *lattice_name(Lattice lattice) { return lattice == Lattice::line ? "line" : "ring"; }

OpticsModel::OpticsModel(std::vector<OpticsElement> monitors, std::vector<OpticsElement> correctors, Lattice lattice,
                         double scale, double tune, bool correctors_at_monitors)
    : monitors_(std::move(monitors)),
      correctors_(std::move(correctors)),
      lattice_(lattice),
      scale_(scale),
      tune_(tune),
      correctors_at_monitors_(correctors_at_monitors) {
  for (const OpticsElement &m : monitors_) monitor_roots_.push_back(std::sqrt(m.beta));
  for (const OpticsElement &c : correctors_) corrector_roots_.push_back(std::sqrt(c.beta));
  ring_factor_ = lattice_ == Lattice::ring ? scale_ / (2.0 * std::sin(std::numbers::pi * tune_)) : scale_;
}

bool OpticsModel::downstream(const OpticsElement &monitor, const OpticsElement &corrector) const {
  return monitor.s > corrector.s || (correctors_at_monitors_ && monitor.s == corrector.s);
}

std::int32_t OpticsModel::row(std::int32_t i, double *out) const {
  const OpticsElement &monitor = monitors_[static_cast<std::size_t>(i)];
  const double root = monitor_roots_[static_cast<std::size_t>(i)] * ring_factor_;
  const std::int32_t cols = this->cols();
  if (lattice_ == Lattice::ring) {
    for (std::int32_t j = 0; j < cols; ++j) {
      const auto k = static_cast<std::size_t>(j);
      const double advance = std::fabs(monitor.mu - correctors_[k].mu);
      out[j] = root * corrector_roots_[k] * std::cos(std::numbers::pi * (2.0 * advance - tune_));
    }
    return cols;
  }
  std::int32_t reach = 0;
  for (std::int32_t j = 0; j < cols; ++j) {
    const auto k = static_cast<std::size_t>(j);
    if (!downstream(monitor, correctors_[k])) {
      out[j] = 0.0;
      continue;
    }
    out[j] = root * corrector_roots_[k] * sine_of_turns(monitor.mu - correctors_[k].mu);
    reach = j + 1;
  }
  return reach;
}

double OpticsModel::bound() const {
  const auto largest = [](const std::vector<double> &roots) {
    return roots.empty() ? 0.0 : *std::max_element(roots.begin(), roots.end());
  };
  return std::fabs(ring_factor_) * largest(monitor_roots_) * largest(corrector_roots_);
}

std::vector<std::string> OpticsModel::monitor_names() const {
  std::vector<std::string> names;
  for (const OpticsElement &m : monitors_) names.push_back(m.name);
  return names;
}

std::vector<std::string> OpticsModel::corrector_names() const {
  std::vector<std::string> names;
  for (const OpticsElement &c : correctors_) names.push_back(c.name);
  return names;
}

OpticsModelResult optics_model(const OpticsTable &table, const std::string &path, const OpticsModelOptions &options) {
  const PlaneNames plane = names_of(options.plane);
  Failure failure;
  const RowChoice monitor_choice(compile(options.monitors_match, "--monitors-match", failure), "MONITOR",
                                 plane.monitor);
  const RowChoice corrector_choice(compile(options.correctors_match, "--correctors-match", failure), "KICKER",
                                   plane.corrector);
  if (!failure.message.empty()) return {std::nullopt, failure.message, true};

  Columns columns{table.column("NAME"), table.column("KEYWORD"), table.column("S"), table.column(plane.beta),
                  table.column(plane.mu)};
  for (const auto &[column, name] : {std::pair{columns.beta, plane.beta}, std::pair{columns.mu, plane.mu},
                                     std::pair{columns.s, "S"}}) {
    if (!column && (options.lattice == Lattice::line || std::string(name) != "S"))
      return {std::nullopt, path + ": has no column " + name + ", which the model needs"};
  }
  if (options.lattice == Lattice::ring) columns.s.reset();

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
    if (!element_at(table, path, r, columns, element, failure)) return {std::nullopt, failure.message};
    if (monitor) monitors.push_back(element);
    if (corrector) correctors.push_back(std::move(element));
  }
  if (options.monitor_count) {
    if (static_cast<std::size_t>(*options.monitor_count) > monitors.size())
      return {std::nullopt, path + ": has " + std::to_string(monitors.size()) + " monitors, but " +
                                std::to_string(*options.monitor_count) + " are asked for"};
    monitors.resize(static_cast<std::size_t>(*options.monitor_count));
  }
  if (monitors.empty()) return {std::nullopt, path + ": no monitor is selected"};
  const bool at_monitors = options.correctors_at_monitors.value_or(correctors.empty() && !corrector_choice.given());
  if (at_monitors) correctors = monitors;
  if (correctors.empty()) return {std::nullopt, path + ": no corrector is selected"};

  double tune = 0.0;
  if (options.lattice == Lattice::ring) {
    const std::optional<double> q = table.header_number(plane.tune);
    if (!q || !std::isfinite(*q))
      return {std::nullopt, path + ": has no header value " + plane.tune + ", the tune a ring needs"};
    if (*q == std::nearbyint(*q))
      return {std::nullopt, path + ": the tune " + plane.tune + " is a whole number, where a ring has no closed orbit"};
    tune = *q;
  }
  return {OpticsModel(std::move(monitors), std::move(correctors), options.lattice, options.scale, tune, at_monitors),
          {}};
}

}  // namespace respmat
