// Shared helpers for the test executables: scratch folders and whole-file I/O.
#ifndef RESPMAT_TESTS_SUPPORT_TEST_SUPPORT_H
#define RESPMAT_TESTS_SUPPORT_TEST_SUPPORT_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

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

// How a reader is handed its input: a regular file, a pipe (named /proc/self/fd/N),
// a FIFO, or a pipe on standard input named /dev/stdin.
enum class InputKind { file, pipe, fifo, standard_input };
inline constexpr InputKind kInputKinds[] = {InputKind::file, InputKind::pipe, InputKind::fifo,
                                            InputKind::standard_input};
inline const char *name_of(InputKind kind) {
  constexpr const char *kNames[] = {"file", "pipe", "FIFO", "/dev/stdin"};
  return kNames[static_cast<int>(kind)];
}

// Writes `bytes` to the write end `fd` and closes it; a reader that stops early
// (closing its end) ends the writing.
inline void feed(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put <= 0) break;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  ::close(fd);
}

// Returns read(path) where `path` gives `bytes` through an input of `kind`; a thread
// writes the bytes into pipes and FIFOs as the reader takes them.
template <typename Read>
auto read_through(InputKind kind, std::string_view bytes, Read read) {
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early closes the pipe
  TempDir dir;
  if (kind == InputKind::file) {
    write_bytes(dir.file("input"), bytes);
    return read(dir.file("input"));
  }
  if (kind == InputKind::fifo) {
    const std::string path = dir.file("fifo");
    ::mkfifo(path.c_str(), 0600);
    std::jthread writer([&] { feed(::open(path.c_str(), O_WRONLY), bytes); });
    return read(path);
  }
  int ends[2];
  if (::pipe(ends) != 0) throw std::runtime_error("no pipe");
  std::jthread writer([&, in = ends[1]] { feed(in, bytes); });
  if (kind == InputKind::pipe) {
    auto result = read("/proc/self/fd/" + std::to_string(ends[0]));
    ::close(ends[0]);
    return result;
  }
  const int saved = ::dup(0);
  ::dup2(ends[0], 0);
  ::close(ends[0]);
  auto result = read(std::string("/dev/stdin"));
  ::dup2(saved, 0);  // closes the pipe's last read end
  ::close(saved);
  return result;
}

}  // namespace respmat::testing

#endif
