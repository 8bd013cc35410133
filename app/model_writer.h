// Writes the model matrix as comma-separated text, row by row, without holding it.
#ifndef RESPMAT_APP_MODEL_WRITER_H
#define RESPMAT_APP_MODEL_WRITER_H

#include <cstdint>
#include <cstdio>

namespace respmat {

// Writes the m x m model matrix for `phases` (at least m values) to `stream`: the
// same text as filling the matrix with model_entry() and writing it with
// matrix_write_csv(), whatever the number of threads. Worker threads (`threads`; 0
// chooses as detail::choose_threads() does, 1 computes everything on the calling
// thread) compute and format chunks of rows; the calling thread writes them in order
// and, when the stream is a file, starts the kernel's write-back of what it has
// written while the rest is computed.
//
// Returns 0 when every byte was handed to the stream, otherwise the errno of the
// first write that failed (ENOMEM when memory ran out): the job stops there, nothing
// more is computed or written, and the stream's contents are incomplete.
[[nodiscard]] int write_model_csv(const double *phases, std::int32_t m, std::FILE *stream, int threads);

}  // namespace respmat

#endif
