#include "app/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace respmat {

FileReplacement::FileReplacement(std::string target) : target_(std::move(target)) {}

FileReplacement::~FileReplacement() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool FileReplacement::open() {
  // O_EXCL with a fresh name per attempt: never reuse or follow someone else's file.
  // Mode 0666 under the umask gives the result the permissions a plain fopen would.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = target_ + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(attempt);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    stream_ = ::fdopen(fd, "w");
    if (stream_ == nullptr) {
      const int saved = errno;
      ::close(fd);
      ::unlink(name.c_str());
      errno = saved;
      return false;
    }
    temporary_ = std::move(name);
    return true;
  }
  errno = EEXIST;
  return false;
}

bool FileReplacement::commit() {
  std::FILE *stream = stream_;
  stream_ = nullptr;
  bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
  int saved = errno;
  if (ok && ::fsync(::fileno(stream)) != 0) {
    ok = false;
    saved = errno;
  }
  if (std::fclose(stream) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  committed_ = ok;
  errno = saved;
  return ok;
}

}  // namespace respmat
