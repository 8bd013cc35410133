#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "respmat/matrix.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::OwnedFile;
using respmat::testing::TempDir;

struct Saver {
  const char *name;
  std::function<int(const Matrix, const char *)> save;
};
const std::vector<Saver> kSavers = {
    {"csv", [](const Matrix M, const char *path) { return matrix_save_csv(M, path, 0); }},
    {"text", [](const Matrix M, const char *path) { return matrix_save_text(M, path, 1, "w"); }},
    {"bin", [](const Matrix M, const char *path) { return matrix_save_bin(M, path); }},
};

struct Writer {
  const char *name;
  std::function<int(const Matrix, std::FILE *)> write;
};
const std::vector<Writer> kWriters = {
    {"csv", [](const Matrix M, std::FILE *stream) { return matrix_write_csv(M, stream, 0); }},
    {"text", [](const Matrix M, std::FILE *stream) { return matrix_write_text(M, stream, 0, "%g", ";"); }},
    {"bin", [](const Matrix M, std::FILE *stream) { return matrix_write_bin(M, stream); }},
};

// Small enough to sit in the stream's buffer until the close, or large enough to be
// refused while it is written.
std::vector<OwnedMatrix> small_and_large() {
  std::vector<OwnedMatrix> shapes;
  shapes.emplace_back(matrix_alloc_zeroed(1, 2));
  shapes.emplace_back(matrix_alloc_zeroed(300, 300));
  return shapes;
}

TEST(MatrixSave, ReturnsZeroOnceWrittenAndFailsOnUnopenablePaths) {
  const OwnedMatrix M(matrix_alloc_zeroed(2, 2));
  TempDir dir;
  for (const Saver &saver : kSavers) {
    SCOPED_TRACE(saver.name);
    EXPECT_EQ(saver.save(M.get(), dir.file(saver.name).c_str()), 0);
    EXPECT_GT(std::filesystem::file_size(dir.file(saver.name)), 0u);
    EXPECT_NE(saver.save(M.get(), dir.file("no/such/folder").c_str()), 0);
    EXPECT_NE(saver.save(M.get(), dir.path().c_str()), 0);
  }
}

TEST(MatrixSave, FullDiskIsAFailureWhetherTheWriteOrTheCloseMeetsIt) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const OwnedMatrix &M : small_and_large())
    for (const Saver &saver : kSavers) {
      SCOPED_TRACE(std::string(saver.name) + " " + std::to_string(matrix_rows(M.get())));
      EXPECT_NE(saver.save(M.get(), "/dev/full"), 0);
    }
}

TEST(MatrixWrite, ReportsAStreamThatRefusesTheText) {
  TempDir dir;
  respmat::testing::write_bytes(dir.file("read-only"), "");
  for (const OwnedMatrix &M : small_and_large())
    for (const Writer &writer : kWriters) {
      SCOPED_TRACE(std::string(writer.name) + " " + std::to_string(matrix_rows(M.get())));
      OwnedFile fine(std::tmpfile());
      EXPECT_EQ(writer.write(M.get(), fine.get()), 0);
      OwnedFile refusing(std::fopen(dir.file("read-only").c_str(), "r"));
      EXPECT_NE(writer.write(M.get(), refusing.get()), 0);
      if (std::filesystem::exists("/dev/full")) {
        OwnedFile full(std::fopen("/dev/full", "w"));
        EXPECT_NE(writer.write(M.get(), full.get()), 0);
      }
    }
}

}  // namespace
