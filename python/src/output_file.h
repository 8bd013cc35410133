// Output files replaced whole: the contents go to a temporary file beside the target
// that is renamed over it only when complete, so a failed write leaves the target as
// it was.
#ifndef RESPMAT_PYTHON_SRC_OUTPUT_FILE_H
#define RESPMAT_PYTHON_SRC_OUTPUT_FILE_H

#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstdio>
#include <type_traits>

#include "job/replace_file.h"
#include "errors.h"

namespace respmat::python {

// Calls write(stream) on the temporary file with the GIL released; raises the
// matching OSError when the file cannot be created, written or renamed. A writer that
// returns bool reports its own failure with false and errno.
template <typename Write>
void replace_file(const FileName &target, Write write) {
  bool failed = false;
  int error = 0;
  {
    pybind11::gil_scoped_release release;
    FileReplacement output(target.native);
    failed = !output.open();
    if (!failed) {
      if constexpr (std::is_same_v<std::invoke_result_t<Write &, std::FILE *>, bool>)
        failed = !write(output.stream());
      else
        write(output.stream());
      failed = failed || !output.commit();
    }
    error = errno;
  }
  // A stream error that left errno unset is still a failed write.
  if (failed) raise_os_error(error != 0 ? error : EIO, target);
}

}  // namespace respmat::python

#endif
