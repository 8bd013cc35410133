// Every allocation of each reader made to fail in turn: the operation must report
// the failure through its result (or leave its operands as they were), leak nothing,
// and give exactly the normal result whenever it reports success.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/driver.h"
#include "failing_malloc.h"
#include "matrix/matrix.h"
#include "matrix/matrix_reference.h"
#include "test_support.h"
#include "text/text.h"

namespace {

using respmat::testing::TempDir;
using respmat::testing::read_bytes;
using respmat::testing::write_bytes;

// Runs `attempt` with allocation n failing, for n = 1, 2, ..., until a run needs no
// failure. `attempt` returns what the operation produced; `verify(result, failed)`
// checks and releases it outside the failing scope. Returns the number of
// allocations the operation makes.
template <typename Attempt, typename Verify>
std::int64_t sweep_allocations(Attempt attempt, Verify verify) {
  // A first run outside the count, for anything the C library sets up once.
  verify(attempt(), false);
  for (std::int64_t n = 1;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
    const std::int64_t live_before = respmat::testing::live_allocations();
    respmat::testing::fail_allocation_number(n);
    auto result = attempt();
    const bool failed = respmat::testing::stop_failing_allocations();
    verify(result, failed);
    EXPECT_EQ(respmat::testing::live_allocations(), live_before) << "leaked";
    if (!failed || ::testing::Test::HasFailure()) return n - 1;
  }
}

std::string render(const Matrix M) {
  std::string text = std::to_string(matrix_rows(M)) + "x" + std::to_string(matrix_cols(M)) + ":";
  char number[32];
  for (int32_t r = 0; r < matrix_rows(M); ++r)
    for (int32_t c = 0; c < matrix_cols(M); ++c) {
      std::snprintf(number, sizeof number, "%a,", M[r][c]);
      text += number;
    }
  return text;
}

std::string render(StringTable table) {
  std::string text;
  for (int32_t r = 0; r < carray_count(table); ++r) {
    for (int32_t c = 0; c < carray_count(table[r]); ++c) text += std::string(table[r][c]) + "|";
    text += "\n";
  }
  return text;
}

// Text that makes every reader allocate in each of its ways: a comment, quotes,
// rows of several lengths, an empty line and a last line without a line end.
constexpr char kTable[] =
    "# header\n1,2,\"3,4\"\r\n5,6\n\n7.5,-8e3,9,10,11\r12,13,14";

TEST(AllocationFailure, TableReadReportsAFailedLineInsteadOfATruncatedTable) {
  TempDir dir;
  const std::string path = dir.file("t.csv");
  write_bytes(path, kTable);
  for (const char *sep : {",", static_cast<const char *>(nullptr)}) {
    StringTable whole = table_read(path.c_str(), sep, '"', "#");
    ASSERT_NE(whole, nullptr);
    const std::string expected = render(whole);
    table_free(whole);
    const auto allocations = sweep_allocations(
        [&] { return table_read(path.c_str(), sep, '"', "#"); },
        [&](StringTable table, bool failed) {
          if (table != nullptr) {
            EXPECT_EQ(render(table), expected);
          }
          if (!failed) {
            EXPECT_NE(table, nullptr);
          }
          table_free(table);
        });
    EXPECT_GT(allocations, 10);
  }
}

TEST(AllocationFailure, MatrixLoadTextReportsOrLoadsEverything) {
  TempDir dir;
  const std::string path = dir.file("m.csv");
  write_bytes(path, kTable);
  Matrix whole = matrix_load_text(path.c_str(), 1, ",", '"', "#");
  ASSERT_NE(whole, nullptr);
  const std::string expected = render(whole);
  matrix_free(whole);
  for (const bool reference : {false, true}) {
    SCOPED_TRACE(reference ? "through the table reader" : "fast loader");
    sweep_allocations(
        [&] {
          return reference ? respmat::detail::load_text_reference(path.c_str(), 1, ",", '"', "#")
                           : matrix_load_text(path.c_str(), 1, ",", '"', "#");
        },
        [&](Matrix M, bool failed) {
          if (M != nullptr) {
            EXPECT_EQ(render(M), expected);
          }
          if (!failed) {
            EXPECT_NE(M, nullptr);
          }
          matrix_free(M);
        });
  }
}

TEST(AllocationFailure, MatrixAllocReleasesWhatItGotSoFar) {
  sweep_allocations([] { return matrix_alloc(5, 3); },
                    [](Matrix M, bool failed) {
                      if (!failed) {
                        ASSERT_NE(M, nullptr);
                      }
                      if (M != nullptr) {
                        EXPECT_EQ(matrix_rows(M), 5);
                        EXPECT_EQ(matrix_cols(M), 3);
                      }
                      matrix_free(M);
                    });
}

TEST(AllocationFailure, DriverReportsMemoryRunningOutInsteadOfAborting) {
  TempDir dir;
  const std::string response = dir.file("response.csv");
  const std::string phases = dir.file("phases.csv");
  const std::string output = dir.file("er.csv");
  write_bytes(response, "1,2,3\n4,5,6\n");
  write_bytes(phases, "0\n0.25\n0.5\n");
  const respmat::DriverPaths paths{response.c_str(), phases.c_str(), output.c_str()};
  write_bytes(output, "previous\n");
  std::FILE *sink = std::tmpfile();
  ASSERT_EQ(respmat::run_driver(paths, sink, sink), respmat::kExitOk);
  const std::string expected = read_bytes(output);
  write_bytes(output, "previous\n");
  for (const bool reference : {false, true}) {
    SCOPED_TRACE(reference ? "straightforward job" : "fast job");
    sweep_allocations(
        [&] {
          return reference ? respmat::run_driver_reference(paths, sink, sink)
                           : respmat::run_driver(paths, sink, sink);
        },
        [&](int status, bool failed) {
          if (!failed) {
            EXPECT_EQ(status, respmat::kExitOk);
          }
          EXPECT_EQ(read_bytes(output), status == respmat::kExitOk ? expected : "previous\n");
          write_bytes(output, "previous\n");
        });
  }
  std::fclose(sink);
}

}  // namespace
