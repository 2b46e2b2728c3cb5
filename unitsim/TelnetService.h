// One telnet connection to a unit: the option negotiation the unit starts,
// the login dialogue ("login: ", "password: ", root/qorvane) and the root
// shell, with the telnet and shell knobs applied. Everything the client sends
// is logged: its option answers, sub-negotiations and every line, with how the
// line ended, so tests can hold the installer's client to its contract.
#pragma once

#include <string>

#include "EventLog.h"
#include "TelnetParser.h"
#include "UnitRuntime.h"

namespace unitsim {

class TelnetService {
 public:
  TelnetService(UnitRuntime& unit, EventLog& log, int fd);
  // Serves the connection until either side ends it.
  void Run();

 private:
  bool Send(const std::string& text);
  bool ReadByte(std::uint8_t* byte);
  bool ReadLine(const char* stage, std::string* line);
  void LogItem(const TelnetItem& item);
  bool Login();
  void Shell();
  bool SendPrompt();
  void Swallow(const char* stage);

  UnitRuntime& unit_;
  EventLog& log_;
  int fd_;
  TelnetParser parser_;
  char lastSent_ = 0;
  std::string input_;
  std::size_t inputPos_ = 0;
  bool held_ = false;  // a data byte read after a CR that starts the next line
  std::uint8_t heldByte_ = 0;
};

}  // namespace unitsim
