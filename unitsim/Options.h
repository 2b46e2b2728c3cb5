// The command line of unitsim and the unit descriptions it carries. The full
// syntax is the help text in Options.cpp (printed by `unitsim --help`):
//
//   unitsim [--log PATH] [--control HOST:PORT] [--root DIR] [port options]
//           [--config FILE] [--defaults DESC] (--unit DESC | --units N)...
//
// A DESC is a comma-separated list of key=value pairs and bare knob names,
// for example "addr=127.0.0.2,node=7,group=North,version=2.1,exit=3".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UnitConfig.h"

namespace unitsim {

struct Options {
  std::vector<UnitConfig> units;
  std::string logPath;
  bool hasControl = false;
  std::uint32_t controlAddress = 0;
  std::uint16_t controlPort = 0;
  // Files arrive under root/<unit address>/<remote path>.
  std::string root = "unitsim-files";
  std::uint16_t telnetPort = 23;
  std::uint16_t filePort = 4877;
  std::uint16_t queryPort = 55330;
  std::uint16_t probePort = 55329;
  bool help = false;
};

// Fills options from argv; returns an empty string or what is wrong.
std::string ParseOptions(int argc, char** argv, Options* options);

// Applies one DESC to a unit; returns an empty string or what is wrong.
std::string ApplyUnitDescription(const std::string& description, UnitConfig* unit);

const char* HelpText();

}  // namespace unitsim
