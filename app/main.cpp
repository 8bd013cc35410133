// respmat: builds the model response matrix from the machine phases.
//
// Reads ../reponsematx_H0.1A.csv (only its column count m is used) and column 0 of
// the first m rows of ../realmachinephases.csv, prints "m=<m>", and writes the m x m
// lower-triangular model matrix to er.csv in the working directory.
#include <csignal>
#include <cstdio>

#include "app/driver.h"

int main() {
  // A file-size limit must surface as a failed write we can report, not kill us.
  std::signal(SIGXFSZ, SIG_IGN);
  const respmat::DriverPaths paths;
  return respmat::run_driver(paths, stdout, stderr);
}
