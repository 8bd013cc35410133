#include "input/measured_matrix.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace {

using respmat::testing::InputKind;
using respmat::testing::read_through;

// What the reader makes of `bytes`, as data that compare; messages name the input "input".
auto read_matrix_through(InputKind kind, const std::string &bytes) {
  return read_through(kind, bytes, [](const std::string &path) {
    const respmat::MeasuredMatrixResult read = respmat::read_measured_matrix(path);
    const std::string message = read.failure ? read.failure->message : "";
    const std::string error = message.starts_with(path) ? "input" + message.substr(path.size()) : message;
    return std::make_tuple(read.matrix.values.values, read.matrix.values.cols, read.matrix.row_names,
                           read.matrix.column_names, error);
  });
}

// Rows of named monitors, enough lines to be read in pieces on every core.
std::string named_csv(int rows, const std::string &first_cell = "") {
  std::string text = "\xEF\xBB\xBF" + first_cell + ",C0,C1,C2\n";
  for (int r = 0; r < rows; ++r)
    text += "M" + std::to_string(r) + "," + std::to_string(r * 0.25) + ",-1e-3,\"" + std::to_string(r) + "\"\n\n";
  return text;
}

TEST(MeasuredMatrix, PipesFifosAndStandardInputGiveWhatTheFileGives) {
  std::string optics = "\xEF\xBB\xBF@ TITLE %s \"orm\"\n* NAME C0 C1\n$ %s %le %le\n";
  for (int r = 0; r < 3000; ++r) optics += "M" + std::to_string(r) + " " + std::to_string(r) + " 0.5\n";
  for (const std::string &bytes : {named_csv(3000), optics}) {
    const auto from_file = read_matrix_through(InputKind::file, bytes);
    EXPECT_EQ(std::get<0>(from_file).size(), 3000u * std::get<1>(from_file));
    EXPECT_EQ(std::get<2>(from_file).size(), 3000u);
    EXPECT_EQ(std::get<4>(from_file), "");
    for (const InputKind kind : respmat::testing::kInputKinds)
      EXPECT_EQ(read_matrix_through(kind, bytes), from_file) << respmat::testing::name_of(kind);
  }
}

// Rows are read on several threads; the error is still the first line's that fails.
TEST(MeasuredMatrix, NamesTheFirstLineThatFails) {
  std::string text = named_csv(3000);
  const auto spoil = [&](int monitor, const std::string &with) {
    const std::size_t at = text.find("\nM" + std::to_string(monitor) + ",") + 1;
    text.replace(at, text.find('\n', at) - at, with);
  };
  spoil(2500, "M2500,1,2");
  spoil(1500, "M1500,1,x,3");
  const std::string first_failure = std::get<4>(read_matrix_through(InputKind::file, text));
  EXPECT_EQ(first_failure, "input:3002: column 2: \"x\" is not a number");
  EXPECT_EQ(std::get<4>(read_matrix_through(InputKind::file, ",A,B\nM,1\n")), "input:2: has 1 values, but the header names 2");
  EXPECT_EQ(std::get<4>(read_matrix_through(InputKind::file, "1,2\n\n3\n")), "input:3: has 1 values, but the first row has 2");
  EXPECT_EQ(std::get<4>(read_matrix_through(InputKind::file, "\xEF\xBB" "1,2\n")),
            "input:1: is neither comma-separated numbers nor an optics table");
}

// A frame's index may carry a name, which takes the header's first cell; a first
// line of a name and numbers is a row, refused as before.
TEST(MeasuredMatrix, AHeaderWithTheIndexsNameIsAHeader) {
  EXPECT_EQ(read_matrix_through(InputKind::file, named_csv(40, "monitor")),
            read_matrix_through(InputKind::file, named_csv(40)));
  EXPECT_EQ(std::get<4>(read_matrix_through(InputKind::file, "M0,1,2\nM1,3,4\n")),
            "input:1: column 0: \"M0\" is not a number");
}

}  // namespace
