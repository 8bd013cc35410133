#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/flags.h"

namespace {

constexpr const char *kCommands[] = {"model", "compare", "fit", "correct"};

std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The block of docs/cli.md between a command's markers.
std::string::size_type block_start(const std::string &doc, const std::string &command) {
  const std::string marker = "<!-- flags of " + command + " -->\n";
  const auto at = doc.find(marker);
  return at == std::string::npos ? at : at + marker.size();
}

// The manual's tables are the flags' own: RESPMAT_UPDATE_DOCS=1 writes them there.
TEST(FlagTables, TheManualShowsEveryCommandsFlagsAsDefined) {
  const std::string path = RESPMAT_DOCS_DIR "/cli.md";
  std::string doc = read_text(path);
  for (const char *command : kCommands) {
    const auto start = block_start(doc, command);
    ASSERT_NE(start, std::string::npos) << "docs/cli.md has no table of the flags of " << command;
    const auto end = doc.find("<!-- end of flags -->", start);
    ASSERT_NE(end, std::string::npos);
    const std::string table = respmat::flag_table(command);
    if (std::getenv("RESPMAT_UPDATE_DOCS") != nullptr)
      doc.replace(start, end - start, table);
    else
      EXPECT_EQ(doc.substr(start, end - start), table) << command << " (RESPMAT_UPDATE_DOCS=1 rewrites the table)";
  }
  if (std::getenv("RESPMAT_UPDATE_DOCS") != nullptr) std::ofstream(path, std::ios::binary) << doc;
}

respmat::CommandLine parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "respmat");
  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(argument.data());
  return respmat::parse_command_line(static_cast<int>(argv.size()), argv.data());
}

// Every flag is read by one definition: one given to a command that lacks it is
// named, whichever command defines it.
TEST(CommandLine, AFlagOfAnotherCommandIsNamedAsNotApplying) {
  const auto refused = [](std::vector<std::string> arguments) {
    const respmat::CommandLine line = parse(std::move(arguments));
    EXPECT_EQ(line.action, respmat::CommandLine::Action::usage_error);
    return line.text;
  };
  EXPECT_EQ(refused({"--matrix", "m.csv"}), "--matrix: does not apply to 'model'");
  EXPECT_EQ(refused({"fit", "--heatmap", "h.png"}), "--heatmap: does not apply to 'fit'");
  EXPECT_EQ(refused({"compare", "-m", "3"}), "--monitors: does not apply to 'compare', whose m is the measured matrix's");
  EXPECT_EQ(refused({"correct", "--orbit", "o", "--digits", "5"}), "--digits: does not apply to 'correct'");
  EXPECT_EQ(refused({"-p"}), "-p: needs a value");
  const respmat::CommandLine compare = parse({"compare", "--layout", "monitors-by-correctors", "--digits", "5"});
  ASSERT_EQ(compare.action, respmat::CommandLine::Action::run);
  const auto &options = std::get<respmat::CompareOptions>(compare.options);
  EXPECT_EQ(options.measurement.layout, std::optional(respmat::MatrixLayout::monitors_by_correctors));
  EXPECT_EQ(options.form.digits, 5);
}

// --help sets each flag's help from the 24th column, its further lines under it.
TEST(FlagHelp, LinesUpEachFlagsHelp) {
  const std::vector<std::pair<std::string, std::vector<respmat::FlagText>>> sections = {
      {"Inputs", {{"-r, --response FILE", "one\ntwo", ""}, {"--correctors-at-monitors", "three", ""}}}};
  EXPECT_EQ(respmat::help_text(sections),
            "Inputs:\n"
            "  -r, --response FILE  one\n"
            "                       two\n"
            "      --correctors-at-monitors  three\n");
}

}  // namespace
