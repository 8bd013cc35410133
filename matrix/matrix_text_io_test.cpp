#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "respmat/matrix.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::OwnedFile;
using respmat::testing::TempDir;
using respmat::testing::read_bytes;
using respmat::testing::write_bytes;

OwnedMatrix from_rows(const std::vector<std::vector<double>> &rows, int32_t cols) {
  OwnedMatrix M(matrix_alloc(static_cast<int32_t>(rows.size()), cols));
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (int32_t c = 0; c < cols; ++c) M.get()[r][c] = rows[r][c];
  return M;
}

std::vector<std::vector<double>> values_of(const Matrix M) {
  std::vector<std::vector<double>> rows(matrix_rows(M));
  for (int32_t r = 0; r < matrix_rows(M); ++r) rows[r].assign(M[r], M[r] + matrix_cols(M));
  return rows;
}

std::string csv_of(const Matrix M, char transposed) {
  OwnedFile file(std::tmpfile());
  matrix_write_csv(M, file.get(), transposed);
  return respmat::testing::contents_of(file.get());
}

struct Loaded {
  OwnedMatrix M;
  int32_t rows() const { return matrix_rows(M.get()); }
  int32_t cols() const { return matrix_cols(M.get()); }
};

Loaded load(std::string_view text, int32_t drop_rows = 0, const char *sep = ",", char quote = 0,
            const char *skip = nullptr) {
  TempDir dir;
  write_bytes(dir.file("m.csv"), text);
  Loaded loaded{OwnedMatrix(matrix_load_text(dir.file("m.csv").c_str(), drop_rows, sep, quote, skip))};
  EXPECT_TRUE(loaded.M);
  return loaded;
}

using Rows = std::vector<std::vector<double>>;

TEST(MatrixLoadText, ReadsRowsAndDropsLeadingOnes) {
  Loaded all = load("1,2,3\n4,5,6\n");
  EXPECT_EQ(values_of(all.M.get()), (Rows{{1, 2, 3}, {4, 5, 6}}));
  Loaded dropped = load("1,2,3\n4,5,6\n", 1);
  EXPECT_EQ(values_of(dropped.M.get()), (Rows{{4, 5, 6}}));
  Loaded header = load("# a,b\nx,y\n7,8\n", 1, ",", 0, "#");
  EXPECT_EQ(values_of(header.M.get()), (Rows{{7, 8}}));
}

TEST(MatrixLoadText, FirstRowSetsTheColumnCount) {
  Loaded longer = load("1,2\n3,4,5\n");
  EXPECT_EQ(values_of(longer.M.get()), (Rows{{1, 2}, {3, 4}}));
  Loaded shorter = load("1,2,3\n4\n\n");
  EXPECT_EQ(values_of(shorter.M.get()), (Rows{{1, 2, 3}, {4, 0, 0}, {0, 0, 0}}));
}

TEST(MatrixLoadText, FieldsConvertLikeAtof) {
  Loaded M = load(" 1.5e3,+2,0x10,abc,,\"7\",inf,-nan,12junk\n");
  const Rows v = values_of(M.M.get());
  EXPECT_EQ(v[0][0], 1500.0);
  EXPECT_EQ(v[0][1], 2.0);
  EXPECT_EQ(v[0][2], 16.0);
  EXPECT_EQ(v[0][3], 0.0);
  EXPECT_EQ(v[0][4], 0.0);
  EXPECT_EQ(v[0][5], 0.0);
  EXPECT_EQ(v[0][6], std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(v[0][7]) && std::signbit(v[0][7]));
  EXPECT_EQ(v[0][8], 12.0);
}

TEST(MatrixLoadText, OneColumnFileWithAnEmptyLastLineGetsAZeroRow) {
  Loaded M = load("1\n2\n\n");
  EXPECT_EQ(values_of(M.M.get()), (Rows{{1}, {2}, {0}}));
}

TEST(MatrixLoadText, EmptyInputsAndOverlongDropsGiveNoRows) {
  Loaded empty = load("");
  EXPECT_EQ(empty.rows(), 0);
  EXPECT_EQ(empty.cols(), 0);
  Loaded dropped = load("1,2\n", 5);
  EXPECT_EQ(dropped.rows(), 0);
  EXPECT_EQ(dropped.cols(), 0);
}

TEST(MatrixLoadText, MissingFileGivesNull) {
  TempDir dir;
  EXPECT_EQ(matrix_load_text(dir.file("none.csv").c_str(), 0, ",", 0, nullptr), nullptr);
}

TEST(MatrixWriteCsv, WritesRowsOrColumnsAndAFinalEmptyLine) {
  OwnedMatrix M = from_rows({{1, 2, 3}, {4, 5, 6.5}}, 3);
  EXPECT_EQ(csv_of(M.get(), 0), "1,2,3\n4,5,6.5\n\n");
  EXPECT_EQ(csv_of(M.get(), 1), "1,4\n2,5\n3,6.5\n\n");
  OwnedMatrix tenth = from_rows({{0.1}}, 1);
  EXPECT_EQ(csv_of(tenth.get(), 0), "0.1\n\n");
}

TEST(MatrixWriteCsv, EmptyShapesWriteOneLineFeed) {
  OwnedMatrix no_rows(matrix_alloc(0, 3));
  OwnedMatrix no_cols(matrix_alloc(3, 0));
  for (char transposed : {0, 1}) {
    EXPECT_EQ(csv_of(no_rows.get(), transposed), "\n");
    EXPECT_EQ(csv_of(no_cols.get(), transposed), "\n");
  }
}

TEST(MatrixWriteText, UsesTheCallersFormatAndSeparator) {
  OwnedMatrix M = from_rows({{1.25, -2}}, 2);
  OwnedFile file(std::tmpfile());
  matrix_write_text(M.get(), file.get(), 0, "[%.1f]", " | ");
  EXPECT_EQ(respmat::testing::contents_of(file.get()), "[1.2] | [-2.0]\n\n");
}

TEST(MatrixSaveText, WritesTabSeparatedShortestFormAndSurvivesBadPaths) {
  OwnedMatrix M = from_rows({{0.1, 1e20}, {1.0 / 3, -0.0}}, 2);
  TempDir dir;
  matrix_save_text(M.get(), dir.file("m.tsv").c_str(), 0, "w");
  EXPECT_EQ(read_bytes(dir.file("m.tsv")), "0.1\t1e+20\n0.333333\t-0\n\n");
  matrix_save_text(M.get(), dir.file("no/such/dir.tsv").c_str(), 0, "w");
  matrix_save_csv(M.get(), dir.file("no/such/dir.csv").c_str(), 0);
}

TEST(MatrixSaveCsv, RoundTripsThroughTheLoaderExactly) {
  OwnedMatrix M = from_rows({{0.1, 1.0 / 3, -1e-300, 123456789012345678.0},
                             {5e-324, -0.0, 2.5, std::nextafter(1.0, 2.0)}},
                            4);
  TempDir dir;
  matrix_save_csv(M.get(), dir.file("m.csv").c_str(), 0);
  OwnedMatrix back(matrix_load_text(dir.file("m.csv").c_str(), 0, ",", 0, nullptr));
  // The empty line at the end reads back as one more, short, row of zeros.
  ASSERT_EQ(matrix_rows(back.get()), 3);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 4; ++c) {
      // 16 significant digits are not always enough for the exact double.
      const double x = M.get()[r][c];
      char text[32];
      std::snprintf(text, sizeof text, "%.16g", x);
      EXPECT_EQ(back.get()[r][c], std::atof(text));
    }
}

}  // namespace
