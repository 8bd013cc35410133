// The phase-table reader on arbitrary files, comma-separated or optics tables, with
// the column chosen by index or by name: a result is either phases, all finite and
// no more than asked for, or one failure that reads as one line.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <string>

#include "input/phase_table.h"
#include "fuzz_test_support.h"

using respmat::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const respmat::fuzz::ScratchFile file("phase-table");
  FuzzedDataProvider in(data, size);
  const std::uint8_t choice = in.ConsumeIntegral<std::uint8_t>();
  const std::int64_t limit = in.ConsumeIntegralInRange<std::int64_t>(0, 64);
  std::optional<respmat::PhaseColumn> column;
  if (choice % 4 == 1) column = respmat::PhaseColumn{"", choice / 4 % 8};
  if (choice % 4 >= 2) column = respmat::PhaseColumn{choice % 4 == 2 ? "mux" : "S", 0};
  const char *path = file.write(in.ConsumeRemainingBytesAsString());

  const respmat::PhaseTableResult result =
      respmat::load_phase_table(path, column, choice & 0x80 ? std::optional<std::int64_t>(limit) : std::nullopt);
  if (result.error) {
    const std::string message = result.error->message();
    check(result.phases.empty(), "a failure returned phases");
    check(message.find('\n') == std::string::npos, "a failure message spans lines");
    for (const char c : message) check(c != '\x1b', "a failure message carries an escape byte");
    return 0;
  }
  if (choice & 0x80) check(static_cast<std::int64_t>(result.phases.size()) <= limit, "more phases than asked for");
  for (const double phase : result.phases) check(std::isfinite(phase), "a phase is not finite");
  return 0;
}
