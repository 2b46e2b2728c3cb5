// Writes the run report of N made-up units (SyntheticReport.h) into a
// folder through the program's own writer, for the browser check of the
// page.
//
// Usage: html_report_generator FOLDER UNITS
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SyntheticReport.h"
#include "shell/RunReport.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: html_report_generator FOLDER UNITS\n");
    return 2;
  }
  std::string error;
  const RunReport report = testsupport::SyntheticReport(std::strtoul(argv[2], nullptr, 10));
  if (!WriteRunReport(argv[1], report, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
