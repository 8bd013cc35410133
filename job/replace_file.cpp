#include "job/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace respmat {
namespace {

namespace fs = std::filesystem;

// As the system's own limit on links followed in one path lookup.
constexpr int kMaxLinks = 40;

// The file that opening `path` for writing would reach: the end of its chain of
// symbolic links (a relative link is taken from its link's folder), which need not
// exist yet. Nothing, with errno set, when a link cannot be read or the chain is
// too long.
std::optional<std::string> end_of_links(fs::path path) {
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (status.type() == fs::file_type::not_found) return path.string();
    if (error) {
      errno = error.value();
      return std::nullopt;
    }
    if (status.type() != fs::file_type::symlink) return path.string();
    const fs::path link = fs::read_symlink(path, error);
    if (error) {
      errno = error.value();
      return std::nullopt;
    }
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  errno = ELOOP;
  return std::nullopt;
}

}  // namespace

FileReplacement::FileReplacement(std::string target) : target_(std::move(target)) {}

FileReplacement::~FileReplacement() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool FileReplacement::open_in_place() {
  const int fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  stream_ = ::fdopen(fd, "w");
  if (stream_ == nullptr) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return false;
  }
  in_place_ = true;
  return true;
}

bool FileReplacement::open() {
  // stat() follows every link, also the kernel's own ones such as /dev/stdout.
  struct stat reached;
  if (::stat(target_.c_str(), &reached) == 0 && !S_ISREG(reached.st_mode)) return open_in_place();
  const std::optional<std::string> replaced = end_of_links(target_);
  if (!replaced) return false;
  struct stat existing;
  const bool exists = ::stat(replaced->c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) return false;
  // O_EXCL with a fresh name per attempt: never reuse or follow someone else's file.
  // A new file gets the permissions a plain fopen would give it (0666 under the
  // umask); a replaced one is created private and then given the old file's bits.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = *replaced + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(attempt);
    // Registered before it exists, so that no signal can come between.
    cleanup_.emplace(name);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (fd < 0) {
      const int saved = errno;
      cleanup_.reset();
      if (saved == EEXIST) continue;
      errno = saved;
      return false;
    }
    const bool mode_kept = !exists || ::fchmod(fd, existing.st_mode & 0777) == 0;
    stream_ = mode_kept ? ::fdopen(fd, "w") : nullptr;
    if (stream_ == nullptr) {
      const int saved = errno;
      ::close(fd);
      ::unlink(name.c_str());
      cleanup_.reset();
      errno = saved;
      return false;
    }
    temporary_ = std::move(name);
    replaced_ = *replaced;
    return true;
  }
  errno = EEXIST;
  return false;
}

bool FileReplacement::complete() {
  std::FILE *stream = stream_;
  stream_ = nullptr;
  bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
  int saved = errno;
  if (ok && !in_place_ && ::fsync(::fileno(stream)) != 0) {
    ok = false;
    saved = errno;
  }
  if (std::fclose(stream) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  errno = saved;
  return ok;
}

bool FileReplacement::put_in_place() {
  if (!in_place_ && std::rename(temporary_.c_str(), replaced_.c_str()) != 0) return false;
  committed_ = true;
  return true;
}

bool FileReplacement::commit() { return complete() && put_in_place(); }

}  // namespace respmat
