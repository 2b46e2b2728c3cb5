// The unit's root shell as far as the installer uses it: it expands $rsa,
// ${rsa} and $?, runs the few commands an install needs against the unit's
// folder, and keeps the last exit status for "echo $?". It does no I/O on the
// connection; TelnetService echoes the line, sends the output and the prompt,
// and acts on the outcome (a restart closes the connection).
#pragma once

#include <atomic>
#include <string>

#include "UnitConfig.h"

namespace unitsim {

struct ShellOutcome {
  enum Action { kNone, kRanScript, kRestart, kExit };
  Action action = kNone;
  std::string expanded;  // the line after expansion
  std::string output;    // what the command prints, each line ending in CR LF
  int status = 0;
  std::string scriptPath;  // for kRanScript and kRestart: the expanded path
};

class UnitShell {
 public:
  // scriptRuns counts the unit's script runs over all its connections.
  UnitShell(const UnitConfig& unit, std::string unitFolder, std::atomic<int>& scriptRuns);
  ShellOutcome Run(const std::string& line);
  int lastStatus() const { return lastStatus_; }

 private:
  std::string Expand(const std::string& line) const;
  void Ditto(const std::string& args, ShellOutcome* outcome) const;
  void Chmod(const std::string& args, ShellOutcome* outcome) const;
  void Textto(const std::string& args, ShellOutcome* outcome) const;
  void RunScript(const std::string& path, ShellOutcome* outcome) const;

  const UnitConfig& unit_;
  std::string folder_;
  std::atomic<int>& scriptRuns_;
  int lastStatus_ = 0;
};

}  // namespace unitsim
