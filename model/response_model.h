// The model room: the response matrices a command computes, monitors (rows) by
// correctors (columns), each row computed on its own, in any order and on any thread.
// The phase model (phase_model.h, with its extended-precision sine in scaled_sine.h)
// and the optics model of a line or ring (optics_model.h) are the two kinds; the
// whole matrix comes from model_matrix.h and its rows one at a time from
// model_rows.h. The room knows nothing of files, pictures or commands: its inputs
// are numbers, its outputs rows of doubles.
#ifndef RESPMAT_MODEL_RESPONSE_MODEL_H
#define RESPMAT_MODEL_RESPONSE_MODEL_H

#include <cstdint>
#include <string>
#include <vector>

namespace respmat {

class ResponseModel {
 public:
  virtual ~ResponseModel() = default;

  [[nodiscard]] virtual std::int32_t rows() const = 0;
  [[nodiscard]] virtual std::int32_t cols() const = 0;

  // Writes the entries of row i that the model can reach into out[0, reach) and
  // returns reach; entries [reach, cols()) are 0 by construction (correctors
  // downstream of the monitor) and are left untouched. Safe to call from several
  // threads at once.
  virtual std::int32_t row(std::int32_t i, double *out) const = 0;

  // The most entries row i can reach: what its reach never exceeds.
  [[nodiscard]] virtual std::int32_t reach_limit(std::int32_t /*i*/) const { return cols(); }

  // The largest |entry| the model can have, known before any row is computed: the
  // bound of a picture's colour scale.
  [[nodiscard]] virtual double bound() const = 0;

  // Names of the monitors and correctors; 0-based indices where the inputs name none.
  [[nodiscard]] virtual std::vector<std::string> monitor_names() const = 0;
  [[nodiscard]] virtual std::vector<std::string> corrector_names() const = 0;
};

// "0", "1", … "count - 1": the names of things the inputs do not name.
[[nodiscard]] std::vector<std::string> index_names(std::int32_t count);

}  // namespace respmat

#endif
