// Shared helpers for the test executables: scratch folders and whole-file I/O.
#ifndef RESPMAT_TESTS_TEST_SUPPORT_H
#define RESPMAT_TESTS_TEST_SUPPORT_H

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "base/owned_file.h"

namespace respmat::testing {

// A scratch folder removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir() {
    std::random_device entropy;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("respmat-test-" + std::to_string(entropy()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  [[nodiscard]] const std::filesystem::path &path() const { return path_; }
  [[nodiscard]] std::string file(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void write_bytes(const std::string &path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using respmat::detail::OwnedFile;

// A read-only stream over `bytes`, backed by a real (seekable) temporary file.
inline OwnedFile stream_over(std::string_view bytes) {
  OwnedFile file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

// Everything written to `file` so far.
inline std::string contents_of(std::FILE *file) {
  std::fflush(file);
  std::string text;
  std::rewind(file);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  return text;
}

}  // namespace respmat::testing

#endif
