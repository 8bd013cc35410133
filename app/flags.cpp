#include "app/flags.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "picture/heat_map.h"
#include "text/field_text.h"

namespace respmat {
namespace {

// Where the help of a flag starts on its line.
constexpr std::size_t kHelpColumn = 23;

// The flag's spelling in the manual: "`-r`, `--response FILE`".
// A bar inside a table's cell is escaped.
std::string doc_names(const std::string &names) {
  std::string escaped;
  for (const char c : names) {
    if (c == '|') escaped += '\\';
    escaped += c;
  }
  const std::size_t comma = escaped.find(", ");
  if (comma == std::string::npos) return "`" + escaped + "`";
  return "`" + escaped.substr(0, comma) + "`, `" + escaped.substr(comma + 2) + "`";
}

std::string joined_lines(const std::string &text) {
  std::string joined = text;
  for (char &c : joined)
    if (c == '\n') c = ' ';
  return joined;
}

}  // namespace

FlagScan scan_flags(int argc, char **argv, const std::vector<FlagName> &names,
                    const std::function<FlagProblem(const FlagUse &)> &take) {
  // Codes: a short flag's own character, long-only flags from 256 on.
  std::vector<option> options;
  std::string short_options = ":";  // a missing value is reported as ':'
  std::set<std::string> inputs;  // the long names of flags whose value names an input
  for (const FlagName &name : names) {
    bool seen = false;
    for (const option &o : options) seen = seen || std::strcmp(o.name, name.long_name) == 0;
    if (seen) continue;
    const int code = name.short_name != 0 ? name.short_name : 256 + static_cast<int>(options.size());
    options.push_back({name.long_name, name.takes_value ? required_argument : no_argument, nullptr, code});
    if (name.reads_input) inputs.insert(name.long_name);
    if (name.short_name != 0) (short_options += name.short_name) += name.takes_value ? ":" : "";
  }
  options.push_back({nullptr, 0, nullptr, 0});
  const auto long_name_of = [&](int code) {
    for (const option &o : options)
      if (o.name != nullptr && o.val == code) return std::string(o.name);
    return std::string();
  };

  FlagScan scan;
  opterr = 0;  // messages are ours, in the tool's one-line form
  optind = 0;  // a fresh scan, even when called more than once
  const auto problem = [&](std::string what) {
    scan.end = FlagScan::End::problem;
    scan.problem = std::move(what);
    return scan;
  };
  std::string standard_input;  // the flag that reads it
  for (int code; (code = getopt_long(argc, argv, short_options.c_str(), options.data(), nullptr)) != -1;) {
    const std::string offending = argv[optind - 1];
    if (code == '?' && optopt == 0) return problem(offending + ": no such option");
    if (code == '?' && offending.starts_with("--"))
      return problem(offending.substr(0, offending.find('=')) + ": takes no value");
    if (code == '?') return problem("-" + std::string(1, static_cast<char>(optopt)) + ": no such option");
    if (code == ':') return problem(offending + ": needs a value");
    const std::string name = long_name_of(code);
    if (name == "help" || name == "version") {
      scan.end = name == "help" ? FlagScan::End::help : FlagScan::End::version;
      return scan;
    }
    if (inputs.contains(name) && std::strcmp(optarg, "-") == 0) {
      if (!standard_input.empty() && standard_input != name)
        return problem("--" + standard_input + ", --" + name +
                       ": both read standard input ('-'), which can be read once");
      standard_input = name;
    } else if (standard_input == name) {
      standard_input.clear();  // given again, with a file: the last one counts
    }
    if (auto what = take({"--" + name, optarg != nullptr ? optarg : ""})) return problem(std::move(*what));
    scan.given.insert(name);
  }
  for (int k = optind; k < argc; ++k) scan.operands.emplace_back(argv[k]);
  return scan;
}

std::string help_text(const std::vector<std::pair<std::string, std::vector<FlagText>>> &sections) {
  std::string text;
  for (const auto &[heading, flags] : sections) {
    if (!heading.empty()) text += heading + ":\n";
    for (const FlagText &flag : flags) {
      std::string line = (flag.names.starts_with("--") ? "      " : "  ") + flag.names;
      line += line.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - line.size(), ' ') : "  ";
      std::size_t start = 0;
      for (std::size_t end; (end = flag.help.find('\n', start)) != std::string::npos; start = end + 1) {
        text += line + flag.help.substr(start, end - start) + "\n";
        line = std::string(kHelpColumn, ' ');
      }
      text += line + flag.help.substr(start) + "\n";
    }
  }
  return text;
}

std::string doc_table(const std::vector<std::pair<std::string, std::vector<FlagText>>> &sections) {
  std::string table = "| Option | Meaning |\n| --- | --- |\n";
  for (const auto &[heading, flags] : sections)
    for (const FlagText &flag : flags)
      table += "| " + doc_names(flag.names) + " | " + (flag.doc.empty() ? joined_lines(flag.help) : flag.doc) + " |\n";
  return table;
}

FlagProblem read_file_name(const FlagUse &use, std::string &target) {
  if (use.value.empty()) return use.bad("expected a file name");
  target = use.value;
  return std::nullopt;
}

FlagProblem read_file_name(const FlagUse &use, std::optional<std::string> &target) {
  std::string name;
  if (auto problem = read_file_name(use, name)) return problem;
  target = std::move(name);
  return std::nullopt;
}

FlagProblem read_plot_name(const FlagUse &use, std::optional<std::string> &target) {
  if (!plot_format(std::string(use.value))) return use.bad("expected a file name ending in .png, .svg or .pdf");
  return read_file_name(use, target);
}

std::optional<double> finite_number(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<int> count_of(std::string_view text, int most) {
  const std::optional<std::int64_t> count = detail::read_count(text, most);
  if (!count) return std::nullopt;
  return static_cast<int>(*count);
}

}  // namespace respmat
