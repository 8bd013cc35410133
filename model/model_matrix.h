// A model's whole matrix, computed on every core.
#ifndef RESPMAT_MODEL_MODEL_MATRIX_H
#define RESPMAT_MODEL_MODEL_MATRIX_H

#include <atomic>
#include <cstdint>

#include "model/response_model.h"

namespace respmat {

// The whole rows x cols matrix of `model` into out[0 .. rows*cols), row by row, on up
// to one thread per core: entry for entry what the writers write, whatever the
// number of threads. Once *stop is set, no further row is begun and `out` is left
// part written. With `reach`, reach[i] is the reach of row i.
void model_matrix(const ResponseModel &model, double *out, const std::atomic<bool> *stop = nullptr,
                  std::int32_t *reach = nullptr);

}  // namespace respmat

#endif
