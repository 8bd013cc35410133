// respmat: model orbit response matrices, and their comparison, fit and correction.
//
// Without arguments: reads ../reponsematx_H0.1A.csv (only its column count m is used)
// and column 0 of the first m rows of ../realmachinephases.csv, prints "m=<m>", and
// writes the m x m lower-triangular model matrix to er.csv in the working directory.
// Commands and their flags (see --help) name other inputs, models and outputs.
#include <csignal>
#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/report.h"
#include "base/stop_request.h"
#include "output/signal_cleanup.h"
#include "respmat/version.h"

namespace {

// --help and --version write only to standard output; a failed write is reported.
int print(const std::string &text) {
  std::fputs(text.c_str(), stdout);
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
  const respmat::Voice voice(line.command);
  switch (line.action) {
    case respmat::CommandLine::Action::help:
      return print(line.text);
    case respmat::CommandLine::Action::version:
      return print(std::string("respmat ") + respmat_version() + "\n");
    case respmat::CommandLine::Action::usage_error:
      voice.usage(stderr, line.text);
      return respmat::kExitUsage;
    case respmat::CommandLine::Action::run:
      break;
  }
  // Ctrl-C or a termination ends long work early, writing nothing, and then the run
  // by that signal, as the caller expects of a program that was interrupted.
  respmat::stop_long_work_on_signals();
  int status = respmat::kExitOk;
  try {
    status = respmat::run_reported(line.options, stdout, stderr, voice);
  } catch (const respmat::StopRequested &) {
  }
  if (const int signal = respmat::stop_request()) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return 128 + signal;
  }
  return status;
}
