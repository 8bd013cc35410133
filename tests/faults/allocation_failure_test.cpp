// Every allocation of each reader made to fail in turn: the operation must report
// the failure through its result (or leave its operands as they were), leak nothing,
// and give exactly the normal result whenever it reports success.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

#include "app/report.h"
#include "reference_job.h"
#include "respmat/garray.h"
#include "failing_malloc.h"
#include "respmat/matrix.h"
#include "matrix/matrix_reference.h"
#include "test_support.h"
#include "respmat/text.h"

namespace {

using respmat::testing::contents_of;
using respmat::testing::OwnedFile;
using respmat::testing::TempDir;
using respmat::testing::stream_over;
using respmat::testing::read_bytes;
using respmat::testing::write_bytes;

// Runs `attempt` with allocation n failing, for n = 1, 2, ..., until a run needs no
// failure. `prepare` sets up each run outside the failing scope; `attempt` returns
// what the operation produced; `verify(result, failed)` checks it and releases it and
// whatever `prepare` made, again outside. Returns the number of allocations the operation makes.
template <typename Attempt, typename Verify>
std::int64_t sweep_allocations(Attempt attempt, Verify verify,
                               const std::function<void()> &prepare = [] {}) {
  // A first run outside the count, for anything the C library sets up once.
  prepare();
  verify(attempt(), false);
  for (std::int64_t n = 1;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
    const std::int64_t live_before = respmat::testing::live_allocations();
    prepare();
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

OwnedFile pipe_over(const std::string &bytes) {
  int ends[2];
  if (::pipe(ends) != 0) return nullptr;
  const ssize_t wrote = ::write(ends[1], bytes.data(), bytes.size());
  ::close(ends[1]);
  if (wrote != static_cast<ssize_t>(bytes.size())) return nullptr;
  return OwnedFile(::fdopen(ends[0], "rb"));
}

std::string binary_matrix() {
  Matrix M = matrix_alloc(3, 2);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) M[r][c] = r * 10 + c + 0.5;
  OwnedFile file(std::tmpfile());
  matrix_write_bin(M, file.get());
  matrix_free(M);
  return respmat::testing::contents_of(file.get());
}

TEST(AllocationFailure, MatrixReadBinReportsOrReadsEverything) {
  const std::string bytes = binary_matrix();
  const std::string expected = "3x2:0x1p-1,0x1.8p+0,0x1.5p+3,0x1.7p+3,0x1.48p+4,0x1.58p+4,";
  for (const bool from_pipe : {false, true}) {
    SCOPED_TRACE(from_pipe ? "pipe" : "file");
    OwnedFile stream;
    sweep_allocations(
        [&] { return matrix_read_bin(stream.get()); },
        [&](Matrix M, bool failed) {
          if (M != nullptr) {
            EXPECT_EQ(render(M), expected);
          } else {
            EXPECT_TRUE(failed);
          }
          matrix_free(M);
          stream.reset();
        },
        [&] { stream = from_pipe ? pipe_over(bytes) : stream_over(bytes); });
  }
  TempDir dir;
  write_bytes(dir.file("m.bin"), bytes);
  const std::string path = dir.file("m.bin");
  sweep_allocations([&] { return matrix_load_bin(path.c_str()); },
                    [&](Matrix M, bool failed) {
                      if (M != nullptr) {
                        EXPECT_EQ(render(M), expected);
                      } else {
                        EXPECT_TRUE(failed);
                      }
                      matrix_free(M);
                    });
}

// The record as text: fields and element bytes.
std::string render(const GrowArray &ga) {
  if (ga.data == nullptr) return "none";
  std::string text = std::to_string(ga.count) + "/" + std::to_string(ga.capacity) + "/" +
                     std::to_string(ga.min_capacity) + "/" + std::to_string(ga.elem_size) + "/" +
                     std::to_string(ga.fill_percent) + ":";
  text.append(static_cast<const char *>(ga.data), std::size_t{ga.count} * ga.elem_size);
  return text;
}

std::string form_of(bool full) {
  GrowArray ga;
  garray_init(&ga, 4);
  for (std::int32_t v = 0; v < 100; ++v) garray_push(&ga, &v);
  uint32_t length = 0;
  uint8_t *packed = full ? garray_pack_full(&ga, &length) : garray_pack_short(&ga, &length);
  std::string bytes(reinterpret_cast<char *>(packed), length);
  std::free(packed);
  garray_release(&ga);
  return bytes;
}

TEST(AllocationFailure, SerializedFormsReportOrReadEverything) {
  for (const bool full : {true, false}) {
    SCOPED_TRACE(full ? "full form" : "short form");
    const std::string bytes = form_of(full);
    const auto *src = reinterpret_cast<const uint8_t *>(bytes.data());
    GrowArray whole;
    ASSERT_NE(full ? garray_unpack_full_bounded(&whole, src, bytes.size(), nullptr)
                   : garray_unpack_short_bounded(&whole, src, bytes.size(), nullptr),
              nullptr);
    const std::string expected = render(whole);
    garray_release(&whole);
    const auto verify = [&](GrowArray *result, bool failed) {
      if (result != nullptr) {
        EXPECT_EQ(render(*result), expected);
        garray_release(result);
      } else {
        EXPECT_TRUE(failed);
      }
    };
    GrowArray ga;
    sweep_allocations(
        [&] {
          return full ? garray_unpack_full_bounded(&ga, src, bytes.size(), nullptr)
                      : garray_unpack_short_bounded(&ga, src, bytes.size(), nullptr);
        },
        verify);
    for (const bool from_pipe : {false, true}) {
      SCOPED_TRACE(from_pipe ? "pipe" : "file");
      OwnedFile stream;
      sweep_allocations(
          [&] { return full ? garray_read_full(&ga, stream.get()) : garray_read_short(&ga, stream.get()); },
          [&](GrowArray *result, bool failed) {
            verify(result, failed);
            stream.reset();
          },
          [&] { stream = from_pipe ? pipe_over(bytes) : stream_over(bytes); });
    }
  }
}

// What a growth run did: which steps failed, and whether the array still held
// exactly the elements of the steps that succeeded.
struct GrowthOutcome {
  int failed_steps = 0;
  bool intact = false;
  bool no_record = false;
};

TEST(AllocationFailure, GrowthLeavesTheArrayAsItWas) {
  // Each attempt grows an array by 20 pushes, a run of 5 and an insertion at the
  // front, keeping a plain model of what succeeded (no allocation of its own).
  const auto attempt = [] {
    GrowthOutcome outcome;
    auto *ga = static_cast<GrowArray *>(std::malloc(sizeof(GrowArray)));
    if (ga == nullptr || garray_init(ga, sizeof(std::int32_t)) == nullptr) {
      std::free(ga);
      outcome.no_record = true;
      return outcome;
    }
    std::int32_t model[32];
    std::uint32_t size = 0;
    for (std::int32_t v = 0; v < 20; ++v) {
      if (garray_push(ga, &v) == GARRAY_NPOS) {
        ++outcome.failed_steps;
      } else {
        model[size++] = v;
      }
    }
    const std::int32_t run[5] = {100, 101, 102, 103, 104};
    if (garray_append_n(ga, run, 5) == GARRAY_NPOS) {
      ++outcome.failed_steps;
    } else {
      std::memcpy(model + size, run, sizeof run);
      size += 5;
    }
    const std::int32_t first = -1;
    if (garray_insert(ga, &first, 0) == nullptr) {
      ++outcome.failed_steps;
    } else {
      std::memmove(model + 1, model, size * sizeof(std::int32_t));
      model[0] = first;
      ++size;
    }
    outcome.intact = ga->count == size && ga->capacity >= ga->count &&
                     std::memcmp(ga->data, model, size * sizeof(std::int32_t)) == 0;
    garray_destroy(ga);
    return outcome;
  };
  sweep_allocations(attempt, [](const GrowthOutcome &outcome, bool failed) {
    EXPECT_TRUE(outcome.intact || outcome.no_record);
    if (!failed) {
      EXPECT_TRUE(outcome.intact);
      EXPECT_EQ(outcome.failed_steps, 0);
    }
  });
}

// A few header bytes once asked for gigabytes that no data backed.
TEST(HostileHeaders, AskForNoMoreMemoryThanTheirDataBack) {
  constexpr std::size_t kModest = 1 << 25;  // 32 MiB
  respmat::testing::take_largest_request();
  // A full form of no elements with a minimum capacity of 2^32 - 1 bytes.
  const uint8_t min_capacity[] = {0x80, 0x81, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F, 0, 0, 0x70, 0x42};
  GrowArray ga;
  EXPECT_EQ(garray_unpack_full_bounded(&ga, min_capacity, sizeof min_capacity, nullptr), nullptr);
  // A short form claiming 2^31 bytes over a pipe that delivers three.
  OwnedFile pipe = pipe_over(std::string("\x00\x00\x00\x00\x88\x81" "abc", 9));
  EXPECT_EQ(garray_read_short(&ga, pipe.get()), nullptr);
  // A binary matrix claiming 2^31 - 1 rows of no columns.
  OwnedFile file = stream_over(std::string("\xff\xff\xff\x7f\0\0\0\0", 8));
  EXPECT_EQ(matrix_read_bin(file.get()), nullptr);
  EXPECT_LT(respmat::testing::take_largest_request(), kModest);
}

// The tool needs only the number of fields of the response file's first line; it
// once held that line whole, however long.
TEST(HostileHeaders, ALongFirstResponseLineIsCountedInBoundedMemory) {
  TempDir dir;
  const std::string response = dir.file("response.csv");
  const std::string phases = dir.file("phases.csv");
  const std::string output = dir.file("er.csv");
  write_bytes(response, "1," + std::string(std::size_t{48} << 20, ' ') + "\n3,4\n");
  write_bytes(phases, "0\n0.25\n");
  const respmat::DriverPaths paths{response.c_str(), phases.c_str(), output.c_str()};
  std::FILE *sink = std::tmpfile();
  respmat::testing::take_largest_request();
  EXPECT_EQ(respmat::run_driver(paths, sink, sink), respmat::kExitOk);
  EXPECT_LT(respmat::testing::take_largest_request(), std::size_t{4} << 20);
  EXPECT_EQ(contents_of(sink), "m=2\n");
  std::fclose(sink);
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
