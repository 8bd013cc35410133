// Replaces a file all at once: the new contents go to a temporary file beside it,
// which is renamed over the target only when everything was written, so the target
// always holds either its old contents or the whole new ones.
#ifndef RESPMAT_APP_REPLACE_FILE_H
#define RESPMAT_APP_REPLACE_FILE_H

#include <cstdio>
#include <string>

namespace respmat {

class FileReplacement {
 public:
  explicit FileReplacement(std::string target);
  FileReplacement(const FileReplacement &) = delete;
  FileReplacement &operator=(const FileReplacement &) = delete;
  // Removes the temporary file unless commit() succeeded.
  ~FileReplacement();

  // Creates the temporary file. Returns false (and sets errno) when it cannot.
  [[nodiscard]] bool open();
  // The stream to write the new contents to; valid between open() and commit().
  [[nodiscard]] std::FILE *stream() const { return stream_; }
  // Flushes, syncs and closes the temporary file and renames it over the target.
  // Returns false (and sets errno) when any step fails; the target is then untouched.
  [[nodiscard]] bool commit();

 private:
  std::string target_;
  std::string temporary_;
  std::FILE *stream_ = nullptr;
  bool committed_ = false;
};

}  // namespace respmat

#endif
