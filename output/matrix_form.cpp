#include "output/matrix_form.h"

namespace respmat {

const char *format_name(OutputFormat format) {
  switch (format) {
    case OutputFormat::csv:
      return "csv";
    case OutputFormat::bin:
      return "bin";
    case OutputFormat::tfs:
      break;
  }
  return "tfs";
}

std::optional<OutputFormat> parse_output_format(std::string_view name) {
  for (const OutputFormat format : {OutputFormat::csv, OutputFormat::bin, OutputFormat::tfs})
    if (name == format_name(format)) return format;
  return std::nullopt;
}

ModelText matrix_text(const MatrixForm &form, const ResponseModel &model,
                      const std::vector<TableHeaderValue> &description) {
  ModelText text;
  text.rows.digits = form.digits;
  if (form.format == OutputFormat::tfs) {
    text = optics_style_table(model, form.digits, description);
  } else if (form.labels) {
    text.rows.row_names = model.monitor_names();
    for (const std::string &name : model.corrector_names()) (text.header += ',') += name;
    text.header += '\n';
  }
  return text;
}

}  // namespace respmat
