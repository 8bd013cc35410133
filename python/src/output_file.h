// Output files replaced whole: the contents go to a temporary file beside the target
// that is renamed over it only when complete, so a failed write leaves the target as
// it was.
#ifndef RESPMAT_PYTHON_SRC_OUTPUT_FILE_H
#define RESPMAT_PYTHON_SRC_OUTPUT_FILE_H

#include <pybind11/pybind11.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <type_traits>

#include "output/replace_file.h"
#include "errors.h"
#include "interruptible.h"

namespace respmat::python {

// Calls write(stream, stop) on the temporary file with the GIL released; raises the
// matching OSError when the file cannot be created, written or renamed. A writer that
// returns bool reports its own failure with false and errno. Ctrl-C stops the write
// (see run_interruptibly): the target is then not replaced and the temporary file is
// removed.
template <typename Write>
void replace_file(const FileName &target, Write write) {
  struct Outcome {
    bool failed = false;
    int error = 0;
  };
  const Outcome outcome = run_interruptibly([&](const std::atomic<bool> &stop) {
    Outcome written;
    FileReplacement output(target.native);
    written.failed = !output.open();
    if (!written.failed) {
      if constexpr (std::is_same_v<std::invoke_result_t<Write &, std::FILE *, const std::atomic<bool> &>, bool>)
        written.failed = !write(output.stream(), stop);
      else
        write(output.stream(), stop);
      written.failed = written.failed || stop || !output.commit();
    }
    written.error = errno;
    return written;
  });
  // A stream error that left errno unset is still a failed write.
  if (outcome.failed) raise_os_error(outcome.error != 0 ? outcome.error : EIO, target);
}

}  // namespace respmat::python

#endif
