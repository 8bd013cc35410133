// respmat: builds the model response matrix from the machine phases.
//
// Without arguments: reads ../reponsematx_H0.1A.csv (only its column count m is used)
// and column 0 of the first m rows of ../realmachinephases.csv, prints "m=<m>", and
// writes the m x m lower-triangular model matrix to er.csv in the working directory.
// The options (see --help) name other inputs, columns and outputs.
#include <csignal>
#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "job/compare_job.h"
#include "job/correct_job.h"
#include "job/job_report.h"
#include "respmat/version.h"

namespace {

// --help and --version write only to standard output; a failed write is reported.
int print(const char *text) {
  std::fputs(text, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::perror("respmat: standard output");
    return respmat::kExitStdoutFailed;
  }
  return respmat::kExitOk;
}

}  // namespace

int main(int argc, char **argv) {
  // A file-size limit must surface as a failed write we can report, not kill us; so
  // must a reader of standard output that went away.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  const respmat::CommandLine line = respmat::parse_command_line(argc, argv);
  switch (line.action) {
    case respmat::CommandLine::Action::help:
      return print(line.help);
    case respmat::CommandLine::Action::version: {
      const std::string text = std::string("respmat ") + respmat_version() + "\n";
      return print(text.c_str());
    }
    case respmat::CommandLine::Action::usage_error:
      respmat::report_usage(stderr, line.error);
      return respmat::kExitUsage;
    case respmat::CommandLine::Action::run:
      break;
  }
  if (line.command == "compare")
    return respmat::run_command_reported(
        [&](std::string &summary) { return respmat::run_compare(line.compare, summary); }, stdout, stderr);
  if (line.command == "fit")
    return respmat::run_command_reported([&](std::string &summary) { return respmat::run_fit(line.compare, summary); },
                                         stdout, stderr);
  if (line.correct) return respmat::run_correct(*line.correct, stdout, stderr);
  return respmat::run_job(line.options, stdout, stderr);
}
