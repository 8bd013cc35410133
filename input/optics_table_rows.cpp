#include "input/optics_table_rows.h"

#include <tuple>
#include <unordered_map>

#include "input/optics_table_model.h"
#include "text/field_text.h"

namespace respmat {
namespace {

std::optional<Failure> number_at(const OpticsTable &table, const std::string &path, std::size_t r, std::size_t column,
                                 double &value) {
  if (const auto reason = detail::read_finite_field(table.rows[r][column], value))
    return content_failure(path, "column " + table.columns[column] + ": " + *reason, table.lines[r]);
  return std::nullopt;
}

std::optional<Failure> rows_of(const OpticsTable &table, const std::string &path, const std::vector<std::size_t> &chosen,
                               bool dispersion, OpticsRows &rows) {
  const std::optional<std::size_t> name = table.column("NAME"), s = table.column("S"), k1l = table.column("K1L");
  const std::optional<std::size_t> dx = table.column("DX");
  if (dispersion && !dx)  // the option asked for it, as the model's own DX
    return Failure{Failure::Kind::usage, path, 0, path + ": has no column DX, the dispersion --rf fixed needs"};
  const char *needed[] = {"BETX", "MUX", "BETY", "MUY"};
  std::size_t columns[4];
  for (int c = 0; c < 4; ++c) {
    const std::optional<std::size_t> column = table.column(needed[c]);
    if (!column) return content_failure(path, std::string("has no column ") + needed[c] + ", which the quadrupoles need");
    columns[c] = *column;
  }
  for (const std::size_t r : chosen) {
    OpticsElement x{name ? table.rows[r][*name] : std::to_string(r), 0.0, 0.0, 0.0};
    if (s)
      if (auto failure = number_at(table, path, r, *s, x.s)) return failure;
    OpticsElement y = x;
    if (dispersion)
      if (auto failure = number_at(table, path, r, *dx, x.dispersion)) return failure;
    for (const auto &[element, beta, mu] : {std::tuple{&x, columns[0], columns[1]}, std::tuple{&y, columns[2], columns[3]}}) {
      if (auto failure = number_at(table, path, r, beta, element->beta)) return failure;
      if (auto failure = number_at(table, path, r, mu, element->mu)) return failure;
      if (element->beta < 0.0)
        return content_failure(path, "column " + table.columns[beta] + ": a beta function cannot be negative",
                               table.lines[r]);
    }
    std::optional<double> strength;
    if (k1l) {
      double value = 0.0;
      if (auto failure = number_at(table, path, r, *k1l, value)) return failure;
      strength = value;
    }
    rows.x.push_back(std::move(x));
    rows.y.push_back(std::move(y));
    rows.k1l.push_back(strength);
  }
  return std::nullopt;
}

}  // namespace

std::optional<Failure> optics_table_quadrupoles(const OpticsTable &table, const std::string &path,
                                                const std::optional<std::string> &match, bool dispersion,
                                                OpticsRows &quadrupoles) {
  std::vector<std::size_t> chosen;
  if (auto failure = chosen_rows(table, match, "--quadrupoles-match", "QUADRUPOLE", chosen)) return failure;
  if (chosen.empty()) return content_failure(path, "no quadrupole is selected");
  return rows_of(table, path, chosen, dispersion, quadrupoles);
}

std::optional<Failure> optics_table_named_rows(const OpticsTable &table, const std::string &path,
                                               const std::vector<std::string> &names, OpticsRows &rows) {
  const std::optional<std::size_t> name = table.column("NAME");
  if (!name) return content_failure(path, "has no column NAME, by which the monitors are found");
  std::unordered_map<std::string, std::size_t> first;
  for (std::size_t r = table.rows.size(); r-- > 0;) first[table.rows[r][*name]] = r;
  std::vector<std::size_t> chosen;
  for (const std::string &n : names) {
    const auto found = first.find(n);
    if (found == first.end()) return content_failure(path, "has no row named " + detail::quoted_field(n));
    chosen.push_back(found->second);
  }
  return rows_of(table, path, chosen, false, rows);
}

}  // namespace respmat
