// Shared helpers of the fuzz targets: a scratch file reused by every run of a process,
// bit-exact comparison of matrices, and a failure that stops the fuzzer.
#ifndef RESPMAT_FUZZ_FUZZ_TEST_SUPPORT_H
#define RESPMAT_FUZZ_FUZZ_TEST_SUPPORT_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "respmat/matrix.h"
#include "test_support.h"

namespace respmat::fuzz {

// Reports a disagreement and aborts, so the fuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char *what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void check(bool condition, const char *what) {
  if (!condition) fail(what);
}

// A file in the temporary folder, created once per process, rewritten by every run
// and removed when the process ends.
class ScratchFile {
 public:
  explicit ScratchFile(const char *stem) {
    const char *dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/respmat-fuzz-" + stem + "-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) fail("cannot create a scratch file");
    ::close(fd);
    path_ = pattern;
  }
  ScratchFile(const ScratchFile &) = delete;
  ScratchFile &operator=(const ScratchFile &) = delete;
  ~ScratchFile() { ::unlink(path_.c_str()); }

  // Replaces the file's contents with `bytes`; returns the path.
  const char *write(std::string_view bytes) const {
    std::FILE *file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) fail("cannot write the scratch file");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path_.c_str();
  }
  const char *path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// True when both are null, or both have the same shape and the same bits everywhere.
inline bool same_matrix(const Matrix a, const Matrix b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (matrix_rows(a) != matrix_rows(b) || matrix_cols(a) != matrix_cols(b)) return false;
  const std::size_t row_bytes = static_cast<std::size_t>(matrix_cols(a)) * sizeof(double);
  for (std::int32_t r = 0; r < matrix_rows(a); ++r)
    if (row_bytes != 0 && std::memcmp(a[r], b[r], row_bytes) != 0) return false;
  return true;
}

// Everything written to a temporary stream so far.
using respmat::testing::contents_of;

}  // namespace respmat::fuzz

#endif
