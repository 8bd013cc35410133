// Writes the model matrix as comma-separated text, row by row, without holding it.
#ifndef RESPMAT_APP_MODEL_WRITER_H
#define RESPMAT_APP_MODEL_WRITER_H

#include <cstdint>
#include <cstdio>

namespace respmat {

// Writes the m x m model matrix for `phases` (at least m values) to `stream`: the
// same text as filling the matrix with model_entry() and writing it with
// matrix_write_csv(). Stream errors are left in the stream's error indicator.
void write_model_csv(const double *phases, std::int32_t m, std::FILE *stream);

}  // namespace respmat

#endif
