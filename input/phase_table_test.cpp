#include "input/phase_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "respmat/matrix.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using respmat::PhaseColumn;
using respmat::PhaseTableError;
using respmat::load_phase_table;
using respmat::testing::InputKind;
using respmat::testing::TempDir;
using respmat::testing::kInputKinds;
using respmat::testing::read_bytes;
using respmat::testing::read_through;
using respmat::testing::write_bytes;

const std::string kIota = RESPMAT_EXAMPLES_DIR "/optics/iota_v8.3_twiss.tfs";

PhaseColumn column(const char *text) { return *PhaseColumn::parse(text); }

// Column 0 of a comma-separated file, read the way the tool has always read phases.
std::vector<double> column_zero(const std::string &path) {
  const respmat::OwnedMatrix m(matrix_load_text(path.c_str(), 0, ",", 0, nullptr));
  std::vector<double> values;
  for (std::int32_t r = 0; r < matrix_rows(m.get()); ++r) values.push_back(m.get()[r][0]);
  return values;
}

PhaseTableError failure(const std::string &path, const std::optional<PhaseColumn> &col) {
  auto result = load_phase_table(path, col);
  EXPECT_TRUE(result.error.has_value()) << path;
  return result.error.value_or(PhaseTableError{});
}

TEST(PhaseTable, OpticsColumnByIndexAsFarAsAsked) {
  std::vector<double> first_three = column_zero(RESPMAT_TEST_DATA_DIR "/optics/iota_v8.3_model_bpms.csv");
  first_three.resize(3);
  EXPECT_EQ(load_phase_table(kIota, column("5"), 3).phases, first_three);  // column 5 is MUX
}

TEST(PhaseTable, OpticsTableNeedsANumericColumnThatExists) {
  PhaseTableError e = failure(kIota, std::nullopt);
  EXPECT_EQ(e.kind, PhaseTableError::Kind::usage);
  EXPECT_EQ(e.columns.at(0), "S");  // NAME and KEYWORD hold strings
  EXPECT_NE(std::find(e.columns.begin(), e.columns.end(), "MUY"), e.columns.end());
  for (const char *bad : {"NAME", "1", "NOPE", "*", "99999"})
    EXPECT_EQ(failure(kIota, column(bad)).kind, PhaseTableError::Kind::usage) << bad;
  EXPECT_NE(failure(kIota, column("KEYWORD")).message().find("column KEYWORD holds %s values, not numbers"),
            std::string::npos);
}

TEST(PhaseTable, DamagedOpticsTablesNameTheLine) {
  TempDir dir;
  const std::string path = dir.file("t.tfs");
  const std::string head = "@ Q1 %le 0.27\n@ TITLE %s \"a b\"\n* NAME S MUX\n$ %s %le %le\n";
  write_bytes(path, head + "\"A B\" 1 0.25\n\n\"C\" 2 x\n");
  PhaseTableError e = failure(path, column("MUX"));
  EXPECT_EQ(e.message(), path + ":7: column MUX: \"x\" is not a number");
  write_bytes(path, head + "\"A B\" 1\n");
  EXPECT_EQ(failure(path, column("MUX")).message(), path + ":5: has 2 fields, but the table names 3 columns");
  write_bytes(path, "* NAME S MUX\n\"A\" 1 0.25\n");
  EXPECT_EQ(failure(path, column("MUX")).line, 2);
  write_bytes(path, "@ only header values\n");
  EXPECT_EQ(failure(path, column("MUX")).kind, PhaseTableError::Kind::content);
}

TEST(PhaseTable, CommaSeparatedColumnsByIndexOrHeaderName) {
  TempDir dir;
  const std::string path = dir.file("p.csv");
  write_bytes(path, "name,\"Phase\"\nA,0.25\n\"B,C\",-1e-3 \nD,junk\n");
  auto result = load_phase_table(path, column("phase"), 2);
  ASSERT_FALSE(result.error) << result.error->message();
  EXPECT_EQ(result.phases, (std::vector<double>{0.25, -1e-3}));
  EXPECT_EQ(failure(path, column("phase")).message(), path + ":4: column phase: \"junk\" is not a number");
  EXPECT_TRUE(failure(path, std::nullopt).message().starts_with(path + ":1: column 0: \"name\" is not a number; "));
  const PhaseTableError unknown = failure(path, column("mux"));
  EXPECT_EQ(unknown.kind, PhaseTableError::Kind::usage);
  EXPECT_EQ(unknown.columns, (std::vector<std::string>{"name", "\"Phase\""}));

  write_bytes(path, "0.5,1\n,2\ninf\n\x1b[2J\n");
  EXPECT_EQ(failure(path, column("1")).message(), path + ":3: column 1: is missing: the line has 1 fields");
  EXPECT_EQ(failure(path, std::nullopt).message(), path + ":2: column 0: is empty");
  write_bytes(path, "inf\n");
  EXPECT_EQ(failure(path, std::nullopt).message(), path + ":1: column 0: \"inf\" is not a finite number");
  write_bytes(path, "\x1b[2J\n");
  EXPECT_EQ(failure(path, std::nullopt).reason, "\"?[2J\" is not a number");
  EXPECT_EQ(failure(path, column("b")).message(), path + ": has no column named \"b\" in its header line; "
                                                          "the columns to choose from are ?[2J");
}

TEST(PhaseTable, UnreadableFilesGiveTheirErrno) {
  TempDir dir;
  EXPECT_EQ(failure(dir.file("missing.csv"), std::nullopt).message(), dir.file("missing.csv") + ": " + std::strerror(ENOENT));
  EXPECT_EQ(failure(dir.path().string(), column("MUX")).error_number, EISDIR);
}

// What a reader of phase tables makes of `bytes`, as data that compare.
std::pair<std::vector<double>, std::string> read_phases_through(InputKind kind, const std::string &bytes,
                                                                const std::optional<PhaseColumn> &col,
                                                                std::optional<std::int64_t> rows = std::nullopt) {
  return read_through(kind, bytes, [&](const std::string &path) {
    auto result = load_phase_table(path, col, rows);
    return std::make_pair(result.phases, result.error ? result.error->reason : std::string());
  });
}

TEST(PhaseTable, PipesFifosAndStandardInputGiveWhatTheFileGives) {
  std::string long_csv = "name,phase\n";
  for (int k = 0; k < 3000; ++k) long_csv += "BPM" + std::to_string(k) + "," + std::to_string(k * 0.001) + "\n";
  const std::string optics = read_bytes(kIota);
  for (const InputKind kind : kInputKinds) {
    SCOPED_TRACE(respmat::testing::name_of(kind));
    const auto by_name = read_phases_through(kind, long_csv, column("phase"));
    EXPECT_EQ(by_name.first.size(), 3000u);
    EXPECT_EQ(by_name, read_phases_through(InputKind::file, long_csv, column("phase")));
    EXPECT_EQ(read_phases_through(kind, long_csv, column("1"), 5), read_phases_through(InputKind::file, long_csv, column("1"), 5));
    const auto mux = read_phases_through(kind, optics, column("MUX"));
    EXPECT_EQ(mux.first.size(), 21u);
    EXPECT_EQ(mux, read_phases_through(InputKind::file, optics, column("MUX")));
    EXPECT_EQ(read_phases_through(kind, optics, column("MUY"), 3).first.size(), 3u);
  }
}

TEST(PhaseTable, TablesAsPeopleWriteThem) {
  TempDir dir;
  const std::string path = dir.file("p.csv");
  const auto phases = [&](const std::string &bytes, const char *col, std::optional<std::int64_t> rows = std::nullopt) {
    write_bytes(path, bytes);
    auto result = load_phase_table(path, col ? std::optional(column(col)) : std::nullopt, rows);
    EXPECT_FALSE(result.error) << bytes << ": " << result.error->message();
    return result.phases;
  };
  const std::vector<double> two{0.25, 0.5};
  // A byte-order mark is no part of the first name or phase; blank lines at the end are no rows.
  EXPECT_EQ(phases("\xEF\xBB\xBFphase\n0.25\n0.5\n", "phase"), two);
  EXPECT_EQ(phases("\xEF\xBB\xBF" "0.25\n0.5\n\n \n\n", nullptr), two);
  EXPECT_EQ(phases("\xEF\xBB\xBF\n\n@ Q1 %le 1\n* NAME MUX\n$ %s %le\nA 0.25\n\nB 0.5\n", "MUX"), two);
  // Quoted phases are numbers; by index as by name, a first line that names the columns is skipped.
  EXPECT_EQ(phases("\"0.25\"\n\" 0.5\"\n", nullptr), two);
  EXPECT_EQ(phases("name,phase\nA,0.25\nB,0.5\n", "1"), two);
  EXPECT_EQ(phases("phase\n0.25\n0.5\n", nullptr), two);
  // An exact name wins over one that differs in case.
  EXPECT_EQ(phases("Mux,mux\n0.25,1\n0.5,2\n", "Mux"), two);
  EXPECT_EQ(phases("* NAME mux MUX\n$ %s %le %le\nA 1 0.25\nB 2 0.5\n", "MUX"), two);

  write_bytes(path, "0.25\n\n0.5\n");  // a blank line before a phase is an empty phase
  EXPECT_EQ(failure(path, std::nullopt).message(), path + ":2: column 0: is empty");
  write_bytes(path, "name,x\nA,0.25\n");
  EXPECT_EQ(failure(path, std::nullopt).message(),
            path + ":1: column 0: \"name\" is not a number; if the first line names the columns, choose by name the "
                   "one whose rows hold phases, such as \"name\"");
  EXPECT_EQ(failure(path, column("2")).kind, PhaseTableError::Kind::usage);
  write_bytes(path, "MUX,x,mux\n1,2,3\n");
  const PhaseTableError clash = failure(path, column("Mux"));
  EXPECT_EQ(clash.kind, PhaseTableError::Kind::usage);
  EXPECT_EQ(clash.message(), path + ": has 2 columns named \"Mux\": MUX (column 0), mux (column 2); choose one by its index");
}

TEST(PhaseTable, OpticsColumnsOfferedInOneLinePhasesFirst) {
  const std::string message = failure(kIota, std::nullopt).message();
  const std::string offered = message.substr(message.find("choose from are ") + 16);
  EXPECT_TRUE(offered.starts_with("MUX, MUY, PHIX, PHIY, MU1, MU2, MU3, S, BETX")) << offered;
  EXPECT_LE(offered.size(), 120u) << offered;
  EXPECT_TRUE(offered.ends_with(" more")) << offered;
}

TEST(PhaseColumn, DigitsAreAnIndexAnythingElseAName) {
  EXPECT_EQ(PhaseColumn::parse("12")->index, 12);
  EXPECT_EQ(PhaseColumn::parse("-1")->name, "-1");
  EXPECT_FALSE(PhaseColumn::parse("99999999999"));
}

}  // namespace
