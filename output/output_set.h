// The output room: results written without ever destroying one. A file is replaced
// whole through a temporary file beside it (replace_file.h), removed again when a
// signal ends the run (signal_cleanup.h); a descriptor the process has open is
// written in place (output_sink.h). A command's outputs are written as one set
// (below); the model's text comes from workers on every core (model_writer.h), rows
// one at a time from row_writers.h, optics-style tables from table_text.h and JSON
// summaries from json_text.h.
#ifndef RESPMAT_OUTPUT_OUTPUT_SET_H
#define RESPMAT_OUTPUT_OUTPUT_SET_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "output/output_sink.h"

namespace respmat {

// The same file, or the same place for a file yet to be made ("out.csv" and
// "./out.csv"), through links too.
[[nodiscard]] bool same_file(const std::string &a, const std::string &b);

// An output and what it holds, for messages: "matrix", "heat map", "summary".
struct NamedOutput {
  std::string path;
  std::string role;
};

// An output written over an input, or two outputs named for one place, would lose
// one of them: the usage failure that names it, "X: is also an input" or "X: is
// named for both the matrix and the heat map". An output that names a descriptor the
// process has open ("-", /dev/stdout) is written in place and is no input's file.
// An input "-" is standard input, compared as the file it comes from.
[[nodiscard]] std::optional<Failure> clashing_outputs(const std::vector<std::string> &inputs,
                                                      const std::vector<NamedOutput> &outputs);

// A regular file of at least `bytes` that its file system has no room for: the
// failure that refuses it before anything is computed. Outputs that are not regular
// files are not checked.
[[nodiscard]] std::optional<Failure> refuse_what_cannot_fit(const std::string &path, std::uint64_t bytes);

// A command's outputs, written as one set: each opened in turn, all completed before
// any is put in place, then put in place from the last opened to the first, so that a
// failure leaves every old file as it was and the output opened first (the command's
// main result) is the last to change.
class OutputSet {
 public:
  // Outputs naming descriptor 1 ("-", /dev/stdout) write to `standard_output`.
  explicit OutputSet(std::FILE *standard_output) : standard_output_(standard_output) {}

  // Opens the output at `path`: its place in the set, or nothing with the failure
  // that refused it (the folder, when it is the folder that takes no temporary file).
  [[nodiscard]] std::optional<std::size_t> open(const std::string &path, std::optional<Failure> &failure);
  [[nodiscard]] std::FILE *stream(std::size_t output) const { return opened_[output].sink->stream(); }
  [[nodiscard]] bool is_standard_output(std::size_t output) const {
    return opened_[output].sink->is_standard_output();
  }
  // An output whose writer reported failure, or whose stream's error indicator is
  // set, has failed for the reason errno gives: its failure. Nothing when written.
  [[nodiscard]] std::optional<Failure> check(std::size_t output, bool written = true) const;
  // The failure of `output` for the system's reason `error_number`; standard output
  // is named as such.
  [[nodiscard]] Failure failure_of(std::size_t output, int error_number) const;
  // When `path` is given, opens it and writes the text `text_of()` makes, which is
  // made only then (a large covariance costs). False, with the failure, when either fails.
  template <class TextOf>
  [[nodiscard]] bool put_text(const std::optional<std::string> &path, const TextOf &text_of,
                              std::optional<Failure> &failure) {
    if (!path) return true;
    const std::optional<std::size_t> output = open(*path, failure);
    if (!output) return false;
    std::fputs(text_of().c_str(), stream(*output));
    return !(failure = check(*output));
  }
  // Whether any output opened goes to standard output.
  [[nodiscard]] bool writes_standard_output() const;
  // Completes every output, then puts each in place.
  [[nodiscard]] std::optional<Failure> commit();

 private:
  struct Opened {
    std::string path;
    std::unique_ptr<OutputSink> sink;
  };
  std::FILE *standard_output_;
  std::vector<Opened> opened_;
};

}  // namespace respmat

#endif
