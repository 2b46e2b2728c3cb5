// Fuzz target for the telnet client's byte parser, which reads whatever a
// unit (or anything answering on port 23) sends, and for the exit-status
// reading of the shell's answer. Every step is checked against the rules the
// session relies on: a one-byte state that is Data, Iac or a verb; replies of
// exactly IAC, verb, option with the verb from the reply table; the unasked
// terminal type and window size only after a reply about options 24 and 31;
// never more data bytes out than bytes in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "telnet/RemoteShell.h"
#include "telnet/TelnetProtocol.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsVerb(std::uint8_t byte) { return byte >= telnet::kWill && byte <= telnet::kDont; }

void CheckStep(const TelnetStep& step, std::uint8_t stateBefore, std::uint8_t byte) {
  const int kinds =
      (step.hasData ? 1 : 0) + (step.replyLength > 0 ? 1 : 0) + (step.unknownCommand >= 0 ? 1 : 0);
  Check(kinds <= 1);
  if (step.replyLength > 0) {
    Check(step.replyLength == 3 && IsVerb(stateBefore));
    Check(step.reply[0] == telnet::kIac && step.reply[2] == byte);
    Check(step.reply[1] == TelnetProtocol::ReplyVerb(stateBefore, byte));
  }
  const bool announces =
      step.replyLength > 0 && (byte == telnet::kTerminalType || byte == telnet::kWindowSize);
  Check((step.announcement != nullptr) == announces);
  if (step.unknownCommand >= 0) {
    Check(stateBefore == TelnetProtocol::kStateIac && step.unknownCommand == byte);
    Check(!IsVerb(byte) && byte != telnet::kIac);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TelnetProtocol protocol;
  std::size_t dataBytes = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t before = protocol.getState();
    const TelnetStep step = protocol.Feed(data[i]);
    CheckStep(step, before, data[i]);
    const std::uint8_t after = protocol.getState();
    Check(after == TelnetProtocol::kStateData || after == TelnetProtocol::kStateIac ||
          IsVerb(after));
    if (step.hasData) ++dataBytes;
  }
  Check(dataBytes <= size);

  const std::string response(reinterpret_cast<const char*>(data), size);
  const int status = ReadExitStatus(response);
  if (size < 9) Check(status == -1);
  return 0;
}
