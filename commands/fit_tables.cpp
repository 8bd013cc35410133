#include "commands/fit_tables.h"
#include "output/json_text.h"

#include <cstdint>
#include <cstdio>
#include <utility>

namespace respmat {
namespace {

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// ",value" after `text`, with no string of its own: a covariance has millions.
void append_number(std::string &text, double value) {
  char field[32];
  text.append(field, static_cast<std::size_t>(std::snprintf(field, sizeof field, ",%.17g", value)));
}

}  // namespace

std::string parameters_text(const ResponseFit &fit) {
  std::string text = "kind,name,value,error\n";
  for (const FitParameter &p : fit.parameters)
    text += p.kind + "," + p.name + "," + number_text(p.value) + "," + number_text(p.error) + "\n";
  return text;
}

std::vector<std::string> covariance_names(const ResponseFit &fit) {
  std::vector<std::string> names;
  for (const FitParameter &p : fit.parameters)
    if (p.fitted) names.push_back(p.kind + ":" + p.name);
  return names;
}

std::string covariance_text(const ResponseFit &fit) {
  const std::vector<std::string> names = covariance_names(fit);
  std::string text;
  for (const std::string &name : names) text += "," + name;
  text += "\n";
  for (std::size_t r = 0; r < names.size(); ++r) {
    text += names[r];
    for (std::size_t c = 0; c < names.size(); ++c)
      append_number(text, fit.covariance.at(static_cast<std::int32_t>(r), static_cast<std::int32_t>(c)));
    text += "\n";
  }
  return text;
}

nlohmann::json fit_summary(const ResponseFit &fit) {
  nlohmann::json summary = {{"chi2_reduced", finite_or_null(fit.chi2_reduced)},
                            {"rms_before", finite_or_null(fit.rms_before)},
                            {"rms_after", finite_or_null(fit.rms_after)},
                            {"points", fit.points},
                            {"iterations", fit.iterations},
                            {"converged", true}};
  nlohmann::json list = nlohmann::json::array();
  for (const FitParameter &p : fit.parameters)
    list.push_back({{"kind", p.kind}, {"name", p.name}, {"value", p.value}, {"error", finite_or_null(p.error)}});
  summary["parameters"] = std::move(list);
  return summary;
}

}  // namespace respmat
