#include "matrix/parallel_load.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "matrix/matrix_reference.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using namespace respmat::detail;
using respmat::testing::TempDir;

// One contiguous block, as an array library would hold it.
struct Block final : RowDestination {
  std::int32_t cols = 0;
  std::vector<double> values;
  bool reserve(std::int32_t r, std::int32_t c) override {
    cols = c;
    values.assign(static_cast<std::size_t>(r) * static_cast<std::size_t>(c), -1.0);
    return true;
  }
  double *row(std::int32_t index) override { return values.data() + static_cast<std::size_t>(index) * cols; }
};

struct Loaded {
  TextLoadResult result;
  std::vector<std::uint64_t> bits;
};

Loaded load(const std::string &path, TextLoadOptions options) {
  Block block;
  Loaded loaded{load_text(path.c_str(), options, block), {}};
  for (double value : block.values) loaded.bits.push_back(std::bit_cast<std::uint64_t>(value));
  return loaded;
}

std::vector<std::uint64_t> bits_of(const Matrix M) {
  std::vector<std::uint64_t> bits;
  for (std::int32_t r = 0; r < matrix_rows(M); ++r)
    for (std::int32_t c = 0; c < matrix_cols(M); ++c) bits.push_back(std::bit_cast<std::uint64_t>(M[r][c]));
  return bits;
}

// Every thread count and chunk size gives what the table reader and atof give.
void expect_same_as_reference(const std::string &path, TextLoadOptions options,
                              const std::vector<std::size_t> &chunk_sizes) {
  const respmat::OwnedMatrix reference(
      load_text_reference(path.c_str(), options.drop_rows, options.sep, options.quote, options.skip));
  ASSERT_TRUE(reference);
  // Held whole, then read in windows of a few bytes (growing for longer lines), which
  // start threads for every window: two, sharing the chunks of the window, are enough.
  for (const std::size_t window : {std::size_t{0}, std::size_t{2}, std::size_t{29}})
    for (int threads : {1, 2, 7})
      for (std::size_t chunk : chunk_sizes) {
        if (window != 0 && (threads != 2 || chunk != chunk_sizes.front())) continue;
        options.threads = threads;
        options.chunk_bytes = chunk;
        options.largest_copy = window != 0 ? 1 : 0;
        options.window_bytes = window;
        const Loaded loaded = load(path, options);
        ASSERT_EQ(loaded.result.status, TextLoadStatus::kOk);
        ASSERT_EQ(loaded.result.rows, matrix_rows(reference.get()));
        ASSERT_EQ(loaded.result.cols, matrix_cols(reference.get()));
        ASSERT_EQ(loaded.bits, bits_of(reference.get()))
            << threads << " threads, chunks of " << chunk << ", windows of " << window;
      }
}

TEST(TextLoad, AnyThreadsAndChunksEqualTheReferenceOnHostileText) {
  const TempDir dir;
  const std::string path = dir.file("hostile.csv");
  std::mt19937 rng(12);
  static constexpr char kBytes[] = "0123456789.-+eE,,,;\r\n\n\0 \t\"#xinfa";
  const std::string alphabet(kBytes, sizeof kBytes - 1);
  const char *separators[] = {",", ";", ",;", " ", "", nullptr};
  for (int trial = 0; trial < 200; ++trial) {
    std::string text(rng() % 400, ' ');
    for (char &c : text) c = alphabet[rng() % alphabet.size()];
    respmat::testing::write_bytes(path, text);
    TextLoadOptions options;
    options.sep = separators[trial % 6];
    options.quote = trial % 5 == 0 ? '"' : '\0';
    options.skip = trial % 7 == 0 ? "#" : trial % 11 == 0 ? "" : nullptr;
    options.drop_rows = static_cast<std::int32_t>(trial % 4) - 1;
    expect_same_as_reference(path, options, {1, 2, 17, 1 << 20});
    if (HasFatalFailure()) FAIL() << "input " << trial << ": " << testing::PrintToString(text);
  }
}

// Fields shaped like numbers, where the loader reads them in place: numbers cut short
// or followed by text, more digits than the fast form takes, and separators that can
// be part of a number (which must not be read in place).
TEST(TextLoad, NumberShapedFieldsEqualTheReference) {
  const TempDir dir;
  const std::string path = dir.file("numbers.csv");
  std::mt19937 rng(31);
  // Every kind of line end, and separators that are line ends themselves.
  const std::string_view pieces[] = {"0", "7", "12345678", "99999999999", "-", ".", "e", "E-", "e+3", "e22",
                                     "e-23", "x", " ", "1.5", "9007199254740993", "\n", "\r\n", "\r",
                                     std::string_view("\0", 1)};
  const char *separators[] = {",", ";", ".", "e", "-", "7", "\r", "\n"};
  for (int trial = 0; trial < 300; ++trial) {
    std::string text;
    for (int field = static_cast<int>(rng() % 40); field >= 0; --field) {
      for (int k = static_cast<int>(rng() % 5); k >= 0; --k) text += pieces[rng() % std::size(pieces)];
      text += separators[trial % std::size(separators)];
    }
    respmat::testing::write_bytes(path, text);
    TextLoadOptions options;
    options.sep = separators[trial % std::size(separators)];
    expect_same_as_reference(path, options, {3, 1 << 20});
    if (HasFatalFailure()) FAIL() << "input " << trial << ": " << testing::PrintToString(text);
  }
}

// Numbers as other programs write them (17 to 19 digits and shorter) over the range of
// doubles and at midpoints between neighbours, and the number corpora, read in place.
TEST(TextLoad, LongDecimalsEqualTheReference) {
  std::mt19937_64 rng(19);
  std::string text;
  char field[400];
  for (int k = 0; k < 3000; ++k) {
    const double x = k % 4 ? std::bit_cast<double>(rng()) : std::ldexp(double(rng() >> 11), -53) - 0.5;
    const char *formats[] = {"%.18Le,", "%.17Lg,", "%.16Lg,", "%.10Le,", "%.6Lf,", "%.18Le\n"};  // a midpoint last
    const long double y = k % 6 == 5 ? (static_cast<long double>(x) + std::nextafter(x, x * 2)) / 2 : x;
    text.append(field, std::snprintf(field, sizeof field, formats[k % 6], y));
  }
  for (const char *name : {"parse-number-fxx-more-test-cases.txt", "parse-number-fxx-lemire-fast-float.txt"}) {
    std::ifstream in(std::string(RESPMAT_TEST_DATA_DIR "/floats/") + name);
    for (std::string line; std::getline(in, line);) text += line.substr(31) + '\n';
  }
  const TempDir dir;
  respmat::testing::write_bytes(dir.file("long.csv"), text);
  expect_same_as_reference(dir.file("long.csv"), {}, {4096, 1 << 20});
}

TEST(TextLoad, AnyThreadsAndChunksEqualTheReferenceOnRealFiles) {
  for (const std::string &path : {std::string(RESPMAT_TEST_DATA_DIR "/optics/sps_q20_model_bpms.csv"),
                                 std::string(RESPMAT_TEST_DATA_DIR "/optics/iota_v8.3_model_bpms.csv"),
                                 std::string(RESPMAT_TEST_DATA_DIR "/example_er.csv")})
    expect_same_as_reference(path, {}, {64, 4096, 1 << 20});
}

TEST(TextLoad, AByteOrderMarkIsNoPartOfTheFirstField) {
  const TempDir dir;
  const std::string path = dir.file("marked.csv");
  respmat::testing::write_bytes(path, "\xEF\xBB\xBF" "1.5,2\n3,4\n");
  expect_same_as_reference(path, {}, {1, 1 << 20});
  EXPECT_EQ(load(path, {}).bits.front(), std::bit_cast<std::uint64_t>(1.5));
  // A mark with nothing after it still makes a line, as "\n" alone does.
  respmat::testing::write_bytes(path, "\xEF\xBB\xBF");
  expect_same_as_reference(path, {}, {1, 1 << 20});
}

// Another process truncates the file between the two passes over its windows: the
// load fails as a read, where a mapped file would have ended the process.
TEST(TextLoad, AFileTruncatedWhileItLoadsIsAReadError) {
  const TempDir dir;
  const std::string path = dir.file("shrinking.csv");
  std::string lines;
  for (int line = 0; line < 2000; ++line) lines += "1.25,2.5,3.75\n";
  struct Truncating final : RowDestination {
    Block block;
    std::string path;
    bool reserve(std::int32_t rows, std::int32_t cols) override {
      std::filesystem::resize_file(path, 100);
      return block.reserve(rows, cols);
    }
    double *row(std::int32_t index) override { return block.row(index); }
  };
  for (const std::size_t window : {std::size_t{4096}, std::size_t{1} << 20}) {
    respmat::testing::write_bytes(path, lines);
    Truncating truncating;
    truncating.path = path;
    TextLoadOptions options;
    options.largest_copy = 1;
    options.window_bytes = window;
    const TextLoadResult result = load_text(path.c_str(), options, truncating);
    EXPECT_EQ(result.status, TextLoadStatus::kReadError) << window;
    EXPECT_EQ(result.error, EIO);
  }
}

TEST(TextLoad, PipesFifosAndStandardInputGiveWhatTheFileGives) {
  std::string text = "\xEF\xBB\xBF";
  for (int line = 0; line < 3000; ++line) text += std::to_string(line * 0.37) + ",1e-3," + std::to_string(line) + "\n";
  for (const respmat::testing::InputKind kind : respmat::testing::kInputKinds) {
    const auto load_matrix = [](const std::string &path) {
      const respmat::OwnedMatrix M(matrix_load_text(path.c_str(), 0, ",", 0, nullptr));
      return M ? bits_of(M.get()) : std::vector<std::uint64_t>{};
    };
    const auto loaded = respmat::testing::read_through(kind, text, load_matrix);
    EXPECT_EQ(loaded.size(), 9000u) << respmat::testing::name_of(kind);
    EXPECT_EQ(loaded, respmat::testing::read_through(respmat::testing::InputKind::file, text, load_matrix));
  }
}

TEST(TextLoad, ReportsWhyAFileCannotBeLoaded) {
  const TempDir dir;
  Block block;
  TextLoadResult result = load_text(dir.file("missing.csv").c_str(), {}, block);
  EXPECT_EQ(result.status, TextLoadStatus::kCannotOpen);
  EXPECT_EQ(result.error, ENOENT);
  result = load_text(dir.path().c_str(), {}, block);
  EXPECT_EQ(result.status, TextLoadStatus::kReadError);
  EXPECT_EQ(result.error, EISDIR);

  struct NoRoom final : RowDestination {
    bool reserve(std::int32_t, std::int32_t) override { return false; }
    double *row(std::int32_t) override { return nullptr; }
  } no_room;
  respmat::testing::write_bytes(dir.file("a.csv"), "1,2\n3,4\n");
  EXPECT_EQ(load_text(dir.file("a.csv").c_str(), {}, no_room).status, TextLoadStatus::kNoMemory);

  // Memory running out while the rows are made, with other threads waiting for them:
  // the load fails as out of memory rather than waiting forever.
  struct HalfMade final : RowDestination {
    Block block;
    bool reserve(std::int32_t rows, std::int32_t cols) override { return block.reserve(rows, cols); }
    bool make_rows(std::int32_t rows, const std::function<void(std::int32_t)> &rows_ready) override {
      rows_ready(rows / 2);
      return false;
    }
    double *row(std::int32_t index) override { return block.row(index); }
  };
  std::string lines;
  for (int line = 0; line < 200; ++line) lines += "1.5,2.5,3.5\n";
  respmat::testing::write_bytes(dir.file("b.csv"), lines);
  for (int threads : {1, 2, 7}) {
    HalfMade half_made;
    TextLoadOptions options;
    options.threads = threads;
    options.chunk_bytes = 64;
    EXPECT_EQ(load_text(dir.file("b.csv").c_str(), options, half_made).status, TextLoadStatus::kNoMemory) << threads;
  }
}

// The caller's stop flag (Ctrl-C in the Python module) ends the load at the next chunk.
TEST(TextLoad, StopsAtTheNextChunkOnceAskedTo) {
  const TempDir dir;
  std::string lines;
  for (int line = 0; line < 400; ++line) lines += "1.5,2.5\n";
  respmat::testing::write_bytes(dir.file("a.csv"), lines);
  struct StopAtFirstRow final : RowDestination {
    Block block;
    std::atomic<bool> stop{false};
    bool reserve(std::int32_t rows, std::int32_t cols) override { return block.reserve(rows, cols); }
    double *row(std::int32_t index) override {
      stop = true;
      return block.row(index);
    }
  };
  for (int threads : {1, 2}) {
    StopAtFirstRow destination;
    TextLoadOptions options;
    options.threads = threads;
    options.chunk_bytes = 64;
    options.stop = &destination.stop;
    EXPECT_EQ(load_text(dir.file("a.csv").c_str(), options, destination).status, TextLoadStatus::kStopped);
    EXPECT_GT(std::count(destination.block.values.begin(), destination.block.values.end(), -1.0), 600) << threads;
  }
}

}  // namespace
