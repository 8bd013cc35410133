// Writes a model matrix as text, row by row, without holding it.
#ifndef RESPMAT_OUTPUT_MODEL_WRITER_H
#define RESPMAT_OUTPUT_MODEL_WRITER_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "model/response_model.h"
#include "output/row_text.h"

namespace respmat {

// The whole text of a matrix: the header, one line per row, the trailer. The default
// is the library's comma-separated form, which ends with an empty line.
struct ModelText {
  std::string header;
  RowTextFormat rows;
  std::string trailer = "\n";
};

// Writes `model` to `stream` as `text` says, the same bytes whatever the number of
// threads. Worker threads (`threads`; 0 chooses as detail::choose_threads() does, 1
// computes everything on the calling thread, which is one of the workers) compute
// and format chunks of rows and write them in order. When the stream is a regular
// file, what has been written is synced on a thread of its own while the rest is
// computed, so that the caller's final sync finds little left.
//
// Returns 0 when every byte was handed to the stream, otherwise the errno of the
// first write that failed (ENOMEM when memory ran out; the errno of a failed sync):
// the job stops there, nothing more is computed or written, and the stream's
// contents are incomplete.
[[nodiscard]] int write_model_text(const ResponseModel &model, const ModelText &text, std::FILE *stream, int threads);

}  // namespace respmat

#endif
