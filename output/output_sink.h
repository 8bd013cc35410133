// Where an output goes: a file replaced whole once every output is complete, or
// a descriptor the process already has open ("-", /dev/stdout, /dev/stderr,
// /dev/fd/N, /proc/self/fd/N), written in place through that descriptor whatever it
// points at, so that a file it was opened on for appending keeps what it held.
#ifndef RESPMAT_OUTPUT_OUTPUT_SINK_H
#define RESPMAT_OUTPUT_OUTPUT_SINK_H

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "base/owned_file.h"
#include "output/replace_file.h"

namespace respmat {

// The descriptor `path` names, when it names one that is open: 1 for "-" too.
[[nodiscard]] std::optional<int> named_descriptor(const std::string &path);

class OutputSink {
 public:
  // Opens the output at `path`; a path naming descriptor 1 writes to
  // `standard_output`. Returns null with errno set, and in `refused` what refused
  // (the folder, when it is the folder that takes no temporary file), when it cannot
  // be opened.
  static std::unique_ptr<OutputSink> open(const std::string &path, std::FILE *standard_output, std::string &refused);

  [[nodiscard]] std::FILE *stream() const { return stream_; }
  [[nodiscard]] bool is_standard_output() const { return descriptor_ == 1; }
  [[nodiscard]] bool is_file() const { return replacement_ != nullptr; }

  // Writes out what is buffered (and syncs and closes a file). False with errno set
  // when that fails; a file's target is then untouched.
  [[nodiscard]] bool complete();
  // Puts a completed file in place of its target.
  [[nodiscard]] bool put_in_place();

 private:
  std::unique_ptr<FileReplacement> replacement_;
  detail::OwnedFile descriptor_stream_;  // a copy of another descriptor than 1
  std::FILE *stream_ = nullptr;
  int descriptor_ = -1;
};

}  // namespace respmat

#endif
