// The tool's input handling on arbitrary response and phases files: the fast job
// must give the same exit status, standard output and er.csv as the straightforward
// one (both files loaded whole as matrices), and a failed run must leave the
// previous er.csv as it was.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "app/report.h"
#include "reference_job.h"
#include "fuzz_test_support.h"

using respmat::fuzz::check;

namespace {

// A folder of its own for the three files of one process.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char *dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/respmat-fuzz-driver-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) respmat::fuzz::fail("mkdtemp");
    path_ = pattern;
  }
  ~ScratchFolder() {
    for (const char *name : {"response.csv", "phases.csv", "er.csv"}) ::unlink(file(name).c_str());
    ::rmdir(path_.c_str());
  }
  std::string file(const char *name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(),
                                                                static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Run {
  int status;
  std::string out;
  std::string output_file;
};

template <typename Job>
Run run(Job job, const respmat::DriverPaths &paths, const std::string &output) {
  static const char kPrevious[] = "previous result\n";
  write_file(output, kPrevious);
  std::FILE *out = std::tmpfile();
  std::FILE *err = std::tmpfile();
  check(out != nullptr && err != nullptr, "tmpfile");
  const int status = job(paths, out, err);
  Run result{status, respmat::fuzz::contents_of(out), read_file(output)};
  const std::string message = respmat::fuzz::contents_of(err);
  std::fclose(out);
  std::fclose(err);
  if (status != respmat::kExitOk) {
    check(result.output_file == kPrevious, "a failed run touched er.csv");
    check(!message.empty() && message.back() == '\n' && message.find('\n') == message.size() - 1,
          "a failure is not reported in exactly one line");
  } else {
    // Phases that are not numbers are read as before and warned about in one line.
    check(message.empty() || (message.rfind("respmat: warning: ", 0) == 0 &&
                              message.find('\n') == message.size() - 1),
          "a successful run wrote to standard error other than one warning");
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const ScratchFolder folder;
  FuzzedDataProvider in(data, size);
  const std::string response = in.ConsumeRandomLengthString(256);
  const std::string phases = in.ConsumeRemainingBytesAsString();
  // The output grows with the square of m; keep each run small.
  std::size_t commas = 0;
  for (const char c : response) {
    if (c == '\n' || c == '\r' || c == '\0') break;
    commas += c == ',';
  }
  if (commas > 64) return -1;

  const std::string response_path = folder.file("response.csv");
  const std::string phases_path = folder.file("phases.csv");
  const std::string output_path = folder.file("er.csv");
  write_file(response_path, response);
  write_file(phases_path, phases);
  const respmat::DriverPaths paths{response_path.c_str(), phases_path.c_str(), output_path.c_str()};

  const Run fast = run(respmat::run_driver, paths, output_path);
  const Run reference = run(respmat::run_driver_reference, paths, output_path);
  check(fast.status == reference.status, "exit statuses differ");
  check(fast.out == reference.out, "standard output differs");
  check(fast.output_file == reference.output_file, "er.csv differs");
  return 0;
}
