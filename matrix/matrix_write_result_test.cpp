#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "respmat/matrix.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::OwnedFile;
using respmat::testing::TempDir;

// Each saver and each stream writer, on a matrix small enough to wait in the stream's
// buffer until the close and on one large enough to be refused while it is written.
int save(int kind, const Matrix M, const char *path) {
  return kind == 0   ? matrix_save_csv(M, path, 0)
         : kind == 1 ? matrix_save_text(M, path, 1, "w")
                     : matrix_save_bin(M, path);
}
int write(int kind, const Matrix M, std::FILE *stream) {
  return kind == 0   ? matrix_write_csv(M, stream, 0)
         : kind == 1 ? matrix_write_text(M, stream, 0, "%g", ";")
                     : matrix_write_bin(M, stream);
}

TEST(MatrixSaveAndWrite, ReturnZeroOnlyWhenEveryByteReachedTheFile) {
  const bool have_full_device = std::filesystem::exists("/dev/full");
  TempDir dir;
  respmat::testing::write_bytes(dir.file("read-only"), "");
  for (const int size : {1, 300}) {
    const OwnedMatrix M(matrix_alloc_zeroed(size, size));
    for (int kind = 0; kind < 3; ++kind) {
      SCOPED_TRACE("writer " + std::to_string(kind) + ", size " + std::to_string(size));
      const std::string path = dir.file("m" + std::to_string(kind));
      EXPECT_EQ(save(kind, M.get(), path.c_str()), 0);
      EXPECT_GT(std::filesystem::file_size(path), 0u);
      EXPECT_NE(save(kind, M.get(), dir.file("no/such/folder").c_str()), 0);
      EXPECT_NE(save(kind, M.get(), dir.path().c_str()), 0);

      OwnedFile fine(std::tmpfile());
      EXPECT_EQ(write(kind, M.get(), fine.get()), 0);
      OwnedFile refusing(std::fopen(dir.file("read-only").c_str(), "r"));
      EXPECT_NE(write(kind, M.get(), refusing.get()), 0);
      if (have_full_device) {
        EXPECT_NE(save(kind, M.get(), "/dev/full"), 0);
        OwnedFile full(std::fopen("/dev/full", "w"));
        EXPECT_NE(write(kind, M.get(), full.get()), 0);
      }
    }
  }
}

}  // namespace
