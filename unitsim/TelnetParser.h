// The server side of the telnet byte stream: takes what the client sends one
// byte at a time and says what each byte completed — a data byte, an option
// message (WILL/WONT/DO/DONT and its option), a sub-negotiation with its
// contents, or another telnet command. It does no I/O, so the service logs
// exactly what the installer's telnet client answered.
#pragma once

#include <cstdint>
#include <string>

namespace unitsim {

constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240;

struct TelnetItem {
  enum Kind { kNothing, kData, kOption, kSubnegotiation, kCommand } kind = kNothing;
  std::uint8_t byte = 0;    // the data byte, the option verb, or the command
  std::uint8_t option = 0;  // for kOption and kSubnegotiation
  std::string payload;      // a sub-negotiation's bytes after the option, IAC IAC undone
};

class TelnetParser {
 public:
  TelnetItem Feed(std::uint8_t byte);

 private:
  enum State { kText, kAfterIac, kAfterVerb, kInSub, kInSubIac } state_ = kText;
  std::uint8_t verb_ = 0;
  std::string sub_;
};

const char* VerbName(std::uint8_t verb);

}  // namespace unitsim
