// unitsim: simulated Tarvo units for the tests, benchmarks and the demo. The
// command line is described in Options.h and by `unitsim --help`.
#include <cstdio>

#include "Options.h"
#include "Simulator.h"

int main(int argc, char** argv) {
  unitsim::Options options;
  const std::string problem = unitsim::ParseOptions(argc, argv, &options);
  if (options.help) {
    std::fputs(unitsim::HelpText(), stdout);
    return 0;
  }
  unitsim::Simulator simulator(std::move(options));
  if (!problem.empty()) {
    std::fprintf(stderr, "unitsim: %s (see unitsim --help)\n", problem.c_str());
    simulator.Refuse(problem);
    return 2;
  }
  return simulator.Run();
}
