// The block-reading loader and the block-writing csv writer against the
// straightforward table-and-atof loader and printf writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "respmat/matrix.h"
#include "matrix/matrix_reference.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::OwnedFile;
using respmat::testing::TempDir;
using respmat::testing::contents_of;
using respmat::testing::write_bytes;

// Same shape and the same bits in every element.
::testing::AssertionResult identical(const Matrix a, const Matrix b) {
  if (a == nullptr || b == nullptr)
    return (a == nullptr) == (b == nullptr) ? ::testing::AssertionSuccess()
                                            : ::testing::AssertionFailure() << "one is null";
  if (matrix_rows(a) != matrix_rows(b) || matrix_cols(a) != matrix_cols(b))
    return ::testing::AssertionFailure() << matrix_rows(a) << "x" << matrix_cols(a) << " vs "
                                         << matrix_rows(b) << "x" << matrix_cols(b);
  for (int32_t r = 0; r < matrix_rows(a); ++r)
    if (std::memcmp(a[r], b[r], sizeof(double) * static_cast<std::size_t>(matrix_cols(a))) != 0)
      return ::testing::AssertionFailure() << "row " << r << " differs";
  return ::testing::AssertionSuccess();
}

std::string random_field(std::mt19937_64 &rng) {
  const char *spellings[] = {"", "1", "-2.5", "+3", " 4e2", "0x1p-3", "inf", "-nan", "abc", "\"5\"",
                             "'6,7'", "1e400", "12junk", " ", "\t9", ".5", "-.", "nan(12)",
                             "123456789.123456789123", "4.9e-324", "\xff"};
  std::string field = spellings[rng() % std::size(spellings)];
  if (rng() % 4 == 0) field += spellings[rng() % std::size(spellings)];
  return field;
}

std::string random_text(std::mt19937_64 &rng, const std::string &sep) {
  const char *line_ends[] = {"\n", "\r\n", "\r", std::string_view("\0", 1).data()};
  std::string text;
  const int lines = static_cast<int>(rng() % 8);
  for (int l = 0; l < lines; ++l) {
    if (rng() % 6 == 0) text += "#";
    const int fields = static_cast<int>(rng() % 6);
    for (int f = 0; f < fields; ++f) text += (f ? sep : "") + random_field(rng);
    const char *eol = line_ends[rng() % std::size(line_ends)];
    text.append(eol, *eol ? std::strlen(eol) : 1);
  }
  if (rng() % 3 == 0 && !text.empty()) text.pop_back();
  return text;
}

TEST(MatrixLoadTextFast, EqualsTheTableAndAtofLoaderOnRandomText) {
  std::mt19937_64 rng(4242);
  TempDir dir;
  const std::string path = dir.file("m.txt");
  const char *separators[] = {",", ";", ", ", "::", "", nullptr};
  const char quotes[] = {0, '"', '\''};
  const char *skips[] = {nullptr, "#", "", "1"};
  for (int trial = 0; trial < 4000; ++trial) {
    const char *sep = separators[rng() % std::size(separators)];
    const std::string text = random_text(rng, sep ? sep : " ");
    write_bytes(path, text);
    const char quote = quotes[rng() % std::size(quotes)];
    const char *skip = skips[rng() % std::size(skips)];
    const int32_t drop = static_cast<int32_t>(rng() % 4) - 1;
    OwnedMatrix fast(matrix_load_text(path.c_str(), drop, sep, quote, skip));
    OwnedMatrix reference(respmat::detail::load_text_reference(path.c_str(), drop, sep, quote, skip));
    ASSERT_TRUE(fast);
    ASSERT_TRUE(identical(fast.get(), reference.get()))
        << testing::PrintToString(text) << " sep " << (sep ? sep : "(white space)") << " quote "
        << int(quote) << " skip " << (skip ? skip : "(none)") << " drop " << drop;
  }
}

TEST(MatrixLoadTextFast, EqualsTheReferenceOnRealPhaseTables) {
  for (const char *name : {"lhcb1_inj2018_model_bpms.csv", "lhcb1_2018-10-27_measured_total_phase.csv",
                           "sps_q20_model_bpms.csv"}) {
    const std::string path = std::string(RESPMAT_TEST_DATA_DIR "/optics/") + name;
    OwnedMatrix fast(matrix_load_text(path.c_str(), 0, ",", 0, nullptr));
    OwnedMatrix reference(respmat::detail::load_text_reference(path.c_str(), 0, ",", 0, nullptr));
    ASSERT_TRUE(fast);
    EXPECT_EQ(matrix_cols(fast.get()), 3);
    EXPECT_TRUE(identical(fast.get(), reference.get())) << name;
  }
}

// Rows enough to be gathered into huge pages while other threads already convert the
// first ones: every thread count gives the reference's values.
TEST(MatrixLoadTextFast, RowsMadeWhileConvertingEqualTheReference) {
  std::mt19937_64 rng(77);
  TempDir dir;
  const std::string path = dir.file("large.csv");
  std::string text;
  char number[32];
  for (int row = 0; row < 700; ++row) {
    for (int col = 0; col < 1500; ++col) {
      std::snprintf(number, sizeof number, "%s%.4g", col == 0 ? "" : ",", std::ldexp(double(rng() >> 11), -52) - 0.5);
      text += number;
    }
    text += '\n';
  }
  write_bytes(path, text);
  OwnedMatrix reference(respmat::detail::load_text_reference(path.c_str(), 0, ",", 0, nullptr));
  for (const char *threads : {"1", "2", "7"}) {
    ::setenv("RESPMAT_THREADS", threads, 1);
    OwnedMatrix fast(matrix_load_text(path.c_str(), 0, ",", 0, nullptr));
    ASSERT_TRUE(fast);
    EXPECT_TRUE(identical(fast.get(), reference.get())) << threads << " threads";
  }
  // With holes of a row's size left in the heap the first rows are not side by side,
  // and they are handed out without being gathered.
  std::vector<OwnedMatrix> kept;
  for (int block = 0; block < 64; ++block) {
    OwnedMatrix row_sized(matrix_alloc(1, 1500));
    if (block % 2 == 0) kept.push_back(std::move(row_sized));
  }
  ::setenv("RESPMAT_THREADS", "2", 1);
  OwnedMatrix fast(matrix_load_text(path.c_str(), 0, ",", 0, nullptr));
  ASSERT_TRUE(fast);
  EXPECT_TRUE(identical(fast.get(), reference.get())) << "rows in the heap's holes";
  ::unsetenv("RESPMAT_THREADS");
}

TEST(MatrixWriteCsvFast, EqualsPrintfOutputForRandomMatrices) {
  std::mt19937_64 rng(31337);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t rows = static_cast<int32_t>(rng() % 6);
    const int32_t cols = static_cast<int32_t>(rng() % 6);
    OwnedMatrix M(matrix_alloc(rows, cols));
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < cols; ++c) {
        const std::uint64_t bits = rng();
        std::memcpy(&M.get()[r][c], &bits, sizeof bits);
        if (rng() % 3 == 0) M.get()[r][c] = static_cast<double>(rng() % 1000) / 8;
      }
    for (char transposed : {0, 1}) {
      OwnedFile fast(std::tmpfile()), reference(std::tmpfile());
      matrix_write_csv(M.get(), fast.get(), transposed);
      respmat::detail::write_csv_reference(M.get(), reference.get(), transposed);
      ASSERT_EQ(contents_of(fast.get()), contents_of(reference.get()));
    }
  }
}

TEST(MatrixWriteCsvFast, WritesRowsLongerThanItsBlock) {
  OwnedMatrix M(matrix_alloc(2, 20000));
  for (int32_t c = 0; c < 20000; ++c) M.get()[0][c] = M.get()[1][c] = 1.0 / (c + 3);
  OwnedFile fast(std::tmpfile()), reference(std::tmpfile());
  matrix_write_csv(M.get(), fast.get(), 0);
  respmat::detail::write_csv_reference(M.get(), reference.get(), 0);
  EXPECT_EQ(contents_of(fast.get()), contents_of(reference.get()));
}

}  // namespace
