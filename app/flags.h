// The tool's flags: each defined once, with its help for --help and its row of the
// manual's table beside what it does, so that parsing, --help and docs/cli.md come
// from one list and cannot disagree. A command's flags are sections of such
// definitions over the options it fills; getopt_long reads the command line.
#ifndef RESPMAT_APP_FLAGS_H
#define RESPMAT_APP_FLAGS_H

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace respmat {

// A flag as the user met it: its long name, for messages, and its value.
struct FlagUse {
  std::string name;  // "--response", whichever spelling was used
  std::string_view value;

  // "--format 'xml': expected csv, bin or tfs".
  [[nodiscard]] std::string bad(const std::string &expected) const {
    return name + " '" + std::string(value) + "': " + expected;
  }
};

// What is wrong with a flag's value, or nothing.
using FlagProblem = std::optional<std::string>;

template <typename Options>
struct Flag {
  const char *long_name;
  char short_name;         // 0: none
  const char *value_name;  // "FILE"; null for a flag that takes no value
  const char *help;        // --help's text, lines separated by '\n'
  const char *doc;         // the manual's text (Markdown, one line); null: the help's lines joined
  std::function<FlagProblem(const FlagUse &, Options &)> apply;
  bool reads_input = false;  // its value names an input, "-" standing for standard input
};

// Flags under a heading of --help (an empty heading lists them under the one before).
template <typename Options>
struct FlagSection {
  const char *heading;
  std::vector<Flag<Options>> flags;
};

template <typename Options>
using FlagList = std::vector<FlagSection<Options>>;

// The same flags over options held inside larger ones.
template <typename Outer, typename Inner>
[[nodiscard]] FlagList<Outer> lifted(const FlagList<Inner> &list, Inner Outer::*member) {
  FlagList<Outer> out;
  for (const FlagSection<Inner> &section : list) {
    FlagSection<Outer> &lifted_section = out.emplace_back(FlagSection<Outer>{section.heading, {}});
    for (const Flag<Inner> &flag : section.flags)
      lifted_section.flags.push_back({flag.long_name, flag.short_name, flag.value_name, flag.help, flag.doc,
                                      [apply = flag.apply, member](const FlagUse &use, Outer &options) {
                                        return apply(use, options.*member);
                                      },
                                      flag.reads_input});
  }
  return out;
}

// A flag's name and whether it takes a value: what the reader of the command line
// needs to know of every flag of every command.
struct FlagName {
  const char *long_name;
  char short_name;
  bool takes_value;
  bool reads_input;
};

template <typename Options>
void add_names(const FlagList<Options> &list, std::vector<FlagName> &names) {
  for (const FlagSection<Options> &section : list)
    for (const Flag<Options> &flag : section.flags)
      names.push_back({flag.long_name, flag.short_name, flag.value_name != nullptr, flag.reads_input});
}

// How reading the flags ended.
struct FlagScan {
  enum class End { done, help, version, problem };
  End end = End::done;
  std::string problem;               // for problem: what is wrong, in one line
  std::vector<std::string> operands;  // the arguments that are no flags
  std::set<std::string> given;        // long names of the flags met
};

// Reads argv[1..argc) with getopt_long over `names` (the flags of every command, so
// that one misplaced is recognised), handing each flag to `take` in order; --help and
// --version end the reading where they stand. Standard input can be read once, so
// two inputs named "-" are a problem that names both.
[[nodiscard]] FlagScan scan_flags(int argc, char **argv, const std::vector<FlagName> &names,
                                  const std::function<FlagProblem(const FlagUse &)> &take);

// Applies `use` if `list` holds its flag; nothing when it does not (`found` false).
template <typename Options>
[[nodiscard]] FlagProblem apply_flag(const FlagList<Options> &list, const FlagUse &use, Options &options,
                                     bool &found) {
  for (const FlagSection<Options> &section : list)
    for (const Flag<Options> &flag : section.flags)
      if (use.name == std::string("--") + flag.long_name) {
        found = true;
        return flag.apply(use, options);
      }
  found = false;
  return std::nullopt;
}

// A flag as --help and the manual name it: "-r, --response FILE".
struct FlagText {
  std::string names;  // "-r, --response FILE", "--labels"
  std::string help;
  std::string doc;
};

template <typename Options>
[[nodiscard]] std::vector<std::pair<std::string, std::vector<FlagText>>> flag_texts(const FlagList<Options> &list) {
  std::vector<std::pair<std::string, std::vector<FlagText>>> sections;
  for (const FlagSection<Options> &section : list) {
    auto &texts = sections.emplace_back(section.heading, std::vector<FlagText>{}).second;
    for (const Flag<Options> &flag : section.flags) {
      std::string names = flag.short_name != 0 ? std::string("-") + flag.short_name + ", " : "";
      names += std::string("--") + flag.long_name;
      if (flag.value_name != nullptr) names += std::string(" ") + flag.value_name;
      texts.push_back({names, flag.help, flag.doc != nullptr ? flag.doc : ""});
    }
  }
  return sections;
}

// --help's lines for the sections: a heading line, then each flag with its help
// beside it from the 24th column.
[[nodiscard]] std::string help_text(const std::vector<std::pair<std::string, std::vector<FlagText>>> &sections);

// The manual's table of the sections' flags, in Markdown.
[[nodiscard]] std::string doc_table(const std::vector<std::pair<std::string, std::vector<FlagText>>> &sections);

// Value readers shared by the flags; each returns what is wrong, in the flag's words.
[[nodiscard]] FlagProblem read_file_name(const FlagUse &use, std::string &target);
[[nodiscard]] FlagProblem read_file_name(const FlagUse &use, std::optional<std::string> &target);
// A plot's file, whose name must say its format: .png, .svg or .pdf.
[[nodiscard]] FlagProblem read_plot_name(const FlagUse &use, std::optional<std::string> &target);
// A finite number as C's strtod reads it in the "C" locale, the whole text.
[[nodiscard]] std::optional<double> finite_number(std::string_view text);
// A whole number from 0 to `most`.
[[nodiscard]] std::optional<int> count_of(std::string_view text, int most);

}  // namespace respmat

#endif
