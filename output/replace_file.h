// Replaces a file all at once: the new contents go to a temporary file beside it,
// which is renamed over the target only when everything was written, so the target
// always holds either its old contents or the whole new ones.
//
// The target keeps its identity: when it exists, the new file gets its permission
// bits, its group and, where the process may give it, its owner; when it is a
// symbolic link (or a chain of them), the file at the end of the chain is replaced,
// with the temporary file beside that one, and the links stay. The temporary file is
// named after the replaced one, "<name>.tmp.<pid>.<n>", with the name cut short where
// the whole would pass the folder's limit on name length. While it exists, a signal
// that ends the process removes it first (see signal_cleanup.h).
//
// A target that exists but is not a regular file (a device such as /dev/null, a pipe,
// a terminal) is written in place: there is nothing there to replace atomically, and a
// file renamed over it would destroy it.
#ifndef RESPMAT_OUTPUT_REPLACE_FILE_H
#define RESPMAT_OUTPUT_REPLACE_FILE_H

#include <cstdio>
#include <optional>
#include <string>

#include "output/signal_cleanup.h"

namespace respmat {

class FileReplacement {
 public:
  explicit FileReplacement(std::string target);
  FileReplacement(const FileReplacement &) = delete;
  FileReplacement &operator=(const FileReplacement &) = delete;
  // Removes the temporary file unless commit() succeeded.
  ~FileReplacement();

  // Creates the temporary file. Returns false (and sets errno) when it cannot, or
  // when the target's links or permissions cannot be read or carried over.
  [[nodiscard]] bool open();
  // After open() failed: the path that refused, the folder when the temporary file
  // could not be made there, otherwise the target.
  [[nodiscard]] const std::string &failed_path() const { return failed_path_; }
  // The stream to write the new contents to; valid between open() and commit().
  [[nodiscard]] std::FILE *stream() const { return stream_; }
  // Flushes, syncs and closes the temporary file and renames it over the target:
  // complete(), then put_in_place(). Returns false (and sets errno) when any step
  // fails; the target is then untouched. A target written in place is only flushed
  // and closed.
  [[nodiscard]] bool commit();
  // The two steps apart, for outputs that are put in place together once all are
  // complete: the flush, sync and close, which may find the disk full, and the
  // rename, which needs no space.
  [[nodiscard]] bool complete();
  [[nodiscard]] bool put_in_place();

 private:
  std::string target_;
  std::string replaced_;  // the file that the rename replaces: target_ with its links followed
  std::string temporary_;
  std::string failed_path_;
  std::optional<RemovedOnSignal> cleanup_;
  std::FILE *stream_ = nullptr;
  bool in_place_ = false;
  bool committed_ = false;

  [[nodiscard]] bool open_in_place();
  [[nodiscard]] bool open_beside(const std::string &replaced);
};

}  // namespace respmat

#endif
