#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "respmat/matrix.h"
#include "matrix/matrix_test_support.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::bits_of;
using respmat::testing::matrix_of;
using respmat::testing::OwnedFile;
using respmat::testing::read_bytes;
using respmat::testing::stream_over;
using respmat::testing::TempDir;
using respmat::testing::values_of;
using respmat::testing::write_bytes;
using Values = std::vector<double>;

// The stored form of a header and of a run of elements.
std::string header(std::int32_t rows, std::int32_t cols) {
  std::string bytes(8, '\0');
  std::memcpy(bytes.data(), &rows, 4);
  std::memcpy(bytes.data() + 4, &cols, 4);
  return bytes;
}
std::string elements(const Values &values) {
  return {reinterpret_cast<const char *>(values.data()), values.size() * sizeof(double)};
}

std::string stored(const Matrix M) {
  OwnedFile file(std::tmpfile());
  matrix_write_bin(M, file.get());
  return respmat::testing::contents_of(file.get());
}

OwnedMatrix read_from(const std::string &bytes) {
  OwnedFile file = stream_over(bytes);
  return OwnedMatrix(matrix_read_bin(file.get()));
}

// Streams with no length to know in advance: one over memory, and the read end of a
// pipe (keep `bytes` within what a pipe buffers).
OwnedFile memory_over(const std::string &bytes) {
  return OwnedFile(fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "rb"));
}
OwnedFile pipe_over(const std::string &bytes) {
  int ends[2];
  if (pipe(ends) != 0) return nullptr;
  EXPECT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(ends[1]);
  return OwnedFile(fdopen(ends[0], "rb"));
}

TEST(MatrixWriteBin, StoresHeaderWordsThenLittleEndianElements) {
  const std::string bytes = stored(matrix_of(2, 3, {1, 2, 3, 4, 5, 6}).get());
  ASSERT_EQ(bytes.size(), 56u);
  EXPECT_EQ(bytes.substr(0, 16), std::string("\2\0\0\0\3\0\0\0\0\0\0\0\0\0\xf0\x3f", 16));
  EXPECT_EQ(bytes, header(2, 3) + elements({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(stored(matrix_of(0, 5).get()), std::string("\0\0\0\0\5\0\0\0", 8));
  EXPECT_EQ(stored(matrix_of(3, 0).get()), header(3, 0));
}

TEST(MatrixReadBin, EmptyShapesComeBackWithBothWords) {
  for (auto [rows, cols] : {std::pair{0, 5}, std::pair{3, 0}}) {
    OwnedMatrix M = read_from(header(rows, cols));
    ASSERT_TRUE(M);
    EXPECT_EQ(matrix_rows(M.get()), rows);
    EXPECT_EQ(matrix_cols(M.get()), cols);
  }
}

TEST(MatrixBin, RoundTripIsBitExactForRandomBitPatterns) {
  const std::uint64_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  OwnedMatrix M(matrix_alloc(7, 5));
  for (int r = 0; r < 7; ++r)
    for (int c = 0; c < 5; ++c) M.get()[r][c] = std::bit_cast<double>(random());
  const double specials[] = {-0.0, 0.0, std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::bit_cast<double>(0x7ff0000000000001ULL),
                             std::bit_cast<double>(0xfff8dead0000beefULL), 5e-324};
  std::memcpy(M.get()[3], specials, 5 * sizeof(double));
  std::memcpy(M.get()[6], specials + 2, 5 * sizeof(double));
  TempDir dir;
  matrix_save_bin(M.get(), dir.file("m.bin").c_str());
  OwnedMatrix back(matrix_load_bin(dir.file("m.bin").c_str()));
  ASSERT_TRUE(back);
  EXPECT_EQ(matrix_rows(back.get()), 7);
  EXPECT_EQ(matrix_cols(back.get()), 5);
  EXPECT_EQ(bits_of(back.get()), bits_of(M.get()));
}

TEST(MatrixBin, SeveralMatricesFollowOneAnotherInAStream) {
  TempDir dir;
  OwnedFile out(std::fopen(dir.file("two.bin").c_str(), "wb"));
  matrix_write_bin(matrix_of(1, 2, {1, 2}).get(), out.get());
  matrix_write_bin(matrix_of(2, 1, {3, 4}).get(), out.get());
  matrix_write_bin(matrix_of(1, 1, {5}).get(), out.get());
  out.reset();
  OwnedFile in(std::fopen(dir.file("two.bin").c_str(), "rb"));
  OwnedMatrix first(matrix_read_bin(in.get()));
  OwnedMatrix second(matrix_read_bin(in.get()));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(values_of(first.get()), (Values{1, 2}));
  EXPECT_EQ(matrix_rows(second.get()), 2);
  EXPECT_EQ(values_of(second.get()), (Values{3, 4}));
  OwnedMatrix target = matrix_of(1, 1, {0});
  matrix_read_bin_into(in.get(), target.get());
  EXPECT_EQ(target.get()[0][0], 5);
  EXPECT_EQ(std::fgetc(in.get()), EOF);
}

TEST(MatrixReadBin, RefusesHeadersAndDataThatDoNotHoldTogether) {
  const std::string full = header(2, 3) + elements({1, 2, 3, 4, 5, 6});
  for (std::size_t length : {0, 3, 7, 8, 16, 47, 55}) EXPECT_FALSE(read_from(full.substr(0, length)));
  EXPECT_FALSE(read_from(header(-1, 3)));
  EXPECT_FALSE(read_from(header(2, -3) + elements({1, 2})));
  // A corrupt header may not make the reader ask for what the file cannot hold.
  EXPECT_FALSE(read_from(header(INT32_MAX, INT32_MAX) + elements({1, 2})));
  EXPECT_FALSE(read_from(header(1, INT32_MAX) + elements({1, 2})));
  TempDir dir;
  EXPECT_EQ(matrix_load_bin(dir.file("missing.bin").c_str()), nullptr);
  write_bytes(dir.file("short.bin"), full.substr(0, 40));
  EXPECT_EQ(matrix_load_bin(dir.file("short.bin").c_str()), nullptr);
}

TEST(MatrixReadBin, StreamsOfUnknownLengthGrowWithTheData) {
  std::vector<double> wide(3 * 20000);
  for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<double>(i) / 7;
  const std::string wide_bytes = header(3, 20000) + elements(wide);
  OwnedMatrix M(matrix_read_bin(memory_over(wide_bytes).get()));
  ASSERT_TRUE(M);
  EXPECT_EQ(values_of(M.get()), wide);
  const std::string cut = wide_bytes.substr(0, wide_bytes.size() - 5);
  EXPECT_FALSE(OwnedMatrix(matrix_read_bin(memory_over(cut).get())));
  const std::string huge = header(INT32_MAX, INT32_MAX) + elements(wide);
  EXPECT_FALSE(OwnedMatrix(matrix_read_bin(memory_over(huge).get())));

  const std::vector<double> tall(9000, 0.5);
  const std::string tall_bytes = header(9000, 1) + elements(tall) + header(0, 2);
  OwnedFile tall_stream = memory_over(tall_bytes);
  OwnedMatrix T(matrix_read_bin(tall_stream.get()));
  ASSERT_TRUE(T);
  EXPECT_EQ(values_of(T.get()), tall);
  OwnedMatrix after(matrix_read_bin(tall_stream.get()));
  ASSERT_TRUE(after);
  EXPECT_EQ(matrix_cols(after.get()), 2);

  OwnedFile piped = pipe_over(header(1, 2) + elements({1.5, -2}));
  OwnedMatrix P(matrix_read_bin(piped.get()));
  ASSERT_TRUE(P);
  EXPECT_EQ(values_of(P.get()), (Values{1.5, -2}));
  OwnedFile piped_huge = pipe_over(header(INT32_MAX, INT32_MAX) + elements({1, 2, 3}));
  EXPECT_FALSE(OwnedMatrix(matrix_read_bin(piped_huge.get())));
}

TEST(MatrixReadBinInto, FillsOnlyTheSharedBlockAndEndsPastTheStoredMatrix) {
  OwnedMatrix M = matrix_of(3, 3, {9, 9, 9, 9, 9, 9, 9, 9, 9});
  OwnedFile small = stream_over(header(1, 2) + elements({1, 2}));
  matrix_read_bin_into(small.get(), M.get());
  EXPECT_EQ(values_of(M.get()), (Values{1, 2, 9, 9, 9, 9, 9, 9, 9}));

  OwnedMatrix two = matrix_of(2, 2, {0, 0, 0, 0});
  OwnedFile large = stream_over(header(3, 4) + elements({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}) +
                                header(1, 1) + elements({42}));
  matrix_read_bin_into(large.get(), two.get());
  EXPECT_EQ(values_of(two.get()), (Values{1, 2, 5, 6}));
  OwnedMatrix next(matrix_read_bin(large.get()));
  ASSERT_TRUE(next);
  EXPECT_EQ(next.get()[0][0], 42);
}

TEST(MatrixReadBinInto, DataThatEndEarlyLeaveTheRestUntouched) {
  OwnedMatrix M = matrix_of(2, 2, {9, 9, 9, 9});
  // One whole element and half of the next.
  OwnedFile cut = stream_over((header(2, 2) + elements({1, 2})).substr(0, 20));
  matrix_read_bin_into(cut.get(), M.get());
  EXPECT_EQ(values_of(M.get()), (Values{1, 9, 9, 9}));
  for (const std::string &bad : {header(1, 1).substr(0, 6), header(-1, 1) + elements({1})}) {
    OwnedFile stream = stream_over(bad);
    matrix_read_bin_into(stream.get(), M.get());
    EXPECT_EQ(values_of(M.get()), (Values{1, 9, 9, 9}));
  }
}

TEST(MatrixSaveBin, UnopenablePathWritesNothing) {
  TempDir dir;
  const std::string path = dir.file("no/such/dir.bin");
  matrix_save_bin(matrix_of(1, 1, {1}).get(), path.c_str());
  EXPECT_EQ(read_bytes(path), "");
}

}  // namespace
