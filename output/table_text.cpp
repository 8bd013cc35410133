#include "output/table_text.h"

#include <cstdio>

namespace respmat {
namespace {

// Names are padded to a column, as such tables are usually laid out for reading.
constexpr int kNameWidth = 16;

std::string header_line(const TableHeaderValue &entry) {
  char line[128];
  if (const auto *text = std::get_if<std::string>(&entry.value))
    std::snprintf(line, sizeof line, "@ %-*s %%s \"%s\"\n", kNameWidth, entry.name.c_str(), text->c_str());
  else if (const auto *number = std::get_if<double>(&entry.value))
    std::snprintf(line, sizeof line, "@ %-*s %%le %.17g\n", kNameWidth, entry.name.c_str(), *number);
  else
    std::snprintf(line, sizeof line, "@ %-*s %%d %lld\n", kNameWidth, entry.name.c_str(),
                  static_cast<long long>(std::get<std::int64_t>(entry.value)));
  return line;
}

}  // namespace

ModelText optics_style_table(const ResponseModel &model, int digits, const std::vector<TableHeaderValue> &header) {
  ModelText text;
  for (const TableHeaderValue &entry : header) text.header += header_line(entry);
  std::string types = "$ %s";
  text.header += "* NAME";
  for (const std::string &name : model.corrector_names()) {
    (text.header += ' ') += name;
    types += " %le";
  }
  text.header += '\n' + types + '\n';
  text.rows.separator = ' ';
  text.rows.digits = digits;
  text.rows.row_names = model.monitor_names();
  text.rows.quote_names = true;
  text.trailer.clear();
  return text;
}

}  // namespace respmat
