// The readers on arbitrary bytes through a pipe, as `cat table | respmat -p /dev/stdin`
// hands them over: a pipe can be read once only, so the phase table and the text
// loader must give through it exactly what they give on the same bytes in a file,
// with or without a byte-order mark before them.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <optional>
#include <string>
#include <thread>

#include "fuzz_test_support.h"
#include "input/phase_table.h"
#include "respmat/owners.hpp"

using respmat::fuzz::check;

namespace {

// read(path) where `path` names a pipe that a thread fills with `bytes`.
template <typename Read>
auto read_piped(const std::string &bytes, Read read) {
  int ends[2];
  check(::pipe2(ends, O_CLOEXEC) == 0, "pipe");
  std::jthread writer([&, in = ends[1]] { respmat::testing::feed(in, bytes); });
  auto result = read("/proc/self/fd/" + std::to_string(ends[0]));
  ::close(ends[0]);  // a reader that stopped early ends the writing
  return result;
}

bool same_phases(const respmat::PhaseTableResult &a, const respmat::PhaseTableResult &b) {
  if (a.error || b.error) return a.error && b.error && a.error->reason == b.error->reason && a.error->line == b.error->line;
  return a.phases == b.phases;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const respmat::fuzz::ScratchFile scratch("piped");
  std::signal(SIGPIPE, SIG_IGN);
  FuzzedDataProvider in(data, size);
  const std::uint8_t choice = in.ConsumeIntegral<std::uint8_t>();
  const std::int64_t limit = in.ConsumeIntegralInRange<std::int64_t>(0, 16);
  std::optional<respmat::PhaseColumn> column;
  if (choice % 4 == 1) column = respmat::PhaseColumn{"", choice / 4 % 4};
  if (choice % 4 >= 2) column = respmat::PhaseColumn{choice % 4 == 2 ? "mux" : "phase", 0};
  const std::optional<std::int64_t> rows = choice & 0x80 ? std::optional<std::int64_t>(limit) : std::nullopt;
  const std::string text = (choice & 0x40 ? "\xEF\xBB\xBF" : "") + in.ConsumeRemainingBytesAsString();

  const char *path = scratch.write(text);
  const respmat::PhaseTableResult from_file = respmat::load_phase_table(path, column, rows);
  const respmat::PhaseTableResult piped =
      read_piped(text, [&](const std::string &name) { return respmat::load_phase_table(name, column, rows); });
  check(same_phases(from_file, piped), "a phase table read through a pipe differs from the file");

  const respmat::OwnedMatrix loaded(matrix_load_text(path, 0, ",", 0, nullptr));
  const respmat::OwnedMatrix loaded_piped(
      read_piped(text, [](const std::string &name) { return matrix_load_text(name.c_str(), 0, ",", 0, nullptr); }));
  check(respmat::fuzz::same_matrix(loaded.get(), loaded_piped.get()), "a text loaded through a pipe differs from the file");
  return 0;
}
