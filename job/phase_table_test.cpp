#include "job/phase_table.h"

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
using respmat::testing::TempDir;
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
  EXPECT_EQ(failure(path, std::nullopt).message(), path + ":1: column 0: \"name\" is not a number");
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

TEST(PhaseColumn, DigitsAreAnIndexAnythingElseAName) {
  EXPECT_EQ(PhaseColumn::parse("12")->index, 12);
  EXPECT_EQ(PhaseColumn::parse("-1")->name, "-1");
  EXPECT_FALSE(PhaseColumn::parse("99999999999"));
}

}  // namespace
