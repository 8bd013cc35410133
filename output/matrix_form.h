// The forms a matrix is written in: comma-separated text, the library's binary form,
// or an optics-style table, and the text of each for a given model.
#ifndef RESPMAT_OUTPUT_MATRIX_FORM_H
#define RESPMAT_OUTPUT_MATRIX_FORM_H

#include <optional>
#include <string_view>
#include <vector>

#include "model/response_model.h"
#include "output/model_writer.h"
#include "output/table_text.h"

namespace respmat {

enum class OutputFormat {
  csv,  // comma-separated text, 16 significant digits unless `digits` says otherwise
  bin,  // the library's binary matrix form (see matrix_write_bin)
  tfs   // an optics-style table: header values, one column per corrector, a row per monitor
};

[[nodiscard]] const char *format_name(OutputFormat format);  // "csv", "bin", "tfs"
// The format a name gives; nothing for any other text.
[[nodiscard]] std::optional<OutputFormat> parse_output_format(std::string_view name);

struct MatrixForm {
  OutputFormat format = OutputFormat::csv;
  int digits = 16;      // significant digits of the text forms, 1 to 17
  bool labels = false;  // csv: a header row of corrector names and a first column of monitor names
  int threads = 0;      // writer threads; 0: one per core
};

// The text form `form` asks for (csv with its digits and labels, or tfs with
// `description` as its header values) of a model's matrix.
[[nodiscard]] ModelText matrix_text(const MatrixForm &form, const ResponseModel &model,
                                    const std::vector<TableHeaderValue> &description);

}  // namespace respmat

#endif
