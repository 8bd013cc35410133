#include "output/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string_view>
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

// Where the name of `file` starts in it: just past its last slash.
std::size_t name_start(const std::string &file) {
  const std::size_t slash = file.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

// The folder that holds `file`, as a path that names it ("." for a bare name).
std::string folder_of(const std::string &file) {
  const std::size_t start = name_start(file);
  if (start == 0) return ".";
  return start == 1 ? "/" : file.substr(0, start - 1);
}

// The folder as a message names it: the working folder by its absolute path, which
// says more than ".".
std::string named_folder(const std::string &folder) {
  std::error_code error;
  const fs::path absolute = folder == "." ? fs::current_path(error) : fs::path(folder);
  return error || absolute.empty() ? folder : absolute.string();
}

// The longest name `folder` may hold (no limit known: as long as any).
std::size_t name_limit(const std::string &folder) {
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : SIZE_MAX;
}

// `name` cut to at most `length` bytes, never inside a UTF-8 character.
std::string_view shortened(std::string_view name, std::size_t length) {
  if (name.size() <= length) return name;
  while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  return name.substr(0, length);
}

// The temporary file beside `file` for this attempt: "<name>.tmp.<pid>.<attempt>",
// the name cut short where the whole would pass `limit`. The process id and the
// attempt keep it apart from other temporaries; O_EXCL guards against the rest.
std::string temporary_name(const std::string &file, std::size_t limit, int attempt) {
  const std::string suffix = ".tmp." + std::to_string(::getpid()) + "." + std::to_string(attempt);
  const std::size_t start = name_start(file);
  const std::size_t room = limit > suffix.size() ? limit - suffix.size() : 0;
  return file.substr(0, start) + std::string(shortened(std::string_view(file).substr(start), room)) + suffix;
}

// True when the system refused to give a file an owner or group: the process lacks
// the privilege (EPERM), or the id has no meaning in its user namespace (EINVAL).
bool may_not_give(int error) { return error == EPERM || error == EINVAL; }

// Gives the new file the old one's group, and its owner where the process may: only
// a privileged process gives a file away, and only to a group of its own. What the
// process may not give is left as the system made it, as a plain write would.
bool keep_ownership(int fd, const struct stat &old) {
  if (::fchown(fd, old.st_uid, old.st_gid) == 0) return true;
  if (!may_not_give(errno)) return false;
  return ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0 || may_not_give(errno);
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
  failed_path_ = target_;
  // stat() follows every link, also the kernel's own ones such as /dev/stdout.
  struct stat reached;
  if (::stat(target_.c_str(), &reached) == 0 && !S_ISREG(reached.st_mode)) return open_in_place();
  const std::optional<std::string> replaced = end_of_links(target_);
  return replaced && open_beside(*replaced);
}

bool FileReplacement::open_beside(const std::string &replaced) {
  const std::string folder = folder_of(replaced);
  struct stat existing;
  const bool exists = ::stat(replaced.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) {
    const int saved = errno;
    failed_path_ = named_folder(folder);
    errno = saved;
    return false;
  }
  const std::size_t limit = name_limit(folder);
  // O_EXCL with a fresh name per attempt: never reuse or follow someone else's file.
  // A new file gets the permissions a plain fopen would give it (0666 under the
  // umask); a replaced one is created private and then given the old file's owner
  // and bits.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = temporary_name(replaced, limit, attempt);
    // Registered before it exists, so that no signal can come between.
    cleanup_.emplace(name);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (fd < 0) {
      const int saved = errno;
      cleanup_.reset();
      if (saved == EEXIST) continue;
      failed_path_ = named_folder(folder);
      errno = saved;
      return false;
    }
    const bool identity_kept =
        !exists || (keep_ownership(fd, existing) && ::fchmod(fd, existing.st_mode & 0777) == 0);
    stream_ = identity_kept ? ::fdopen(fd, "w") : nullptr;
    if (stream_ == nullptr) {
      const int saved = errno;
      ::close(fd);
      ::unlink(name.c_str());
      cleanup_.reset();
      errno = saved;
      return false;
    }
    temporary_ = std::move(name);
    replaced_ = replaced;
    return true;
  }
  failed_path_ = named_folder(folder);
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
