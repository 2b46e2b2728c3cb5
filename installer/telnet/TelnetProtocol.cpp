// The telnet client's reply rule and byte parser. Nothing is remembered
// about earlier negotiation: every option message is answered from the fixed
// table as it arrives, which is all a unit's telnet service needs to go on
// to its login prompt.
#include "telnet/TelnetProtocol.h"

namespace telnet {
const std::uint8_t kTerminalTypeIs[11] = {kIac, kSb, kTerminalType, 0,    'X', 'T',
                                          'E',  'R', 'M',           kIac, kSe};
const std::uint8_t kWindowSize80x25[9] = {kIac, kSb, kWindowSize, 0, 80, 0, 25, kIac, kSe};
}  // namespace telnet

namespace {

bool IsSupportedOption(std::uint8_t option) {
  return option == telnet::kSuppressGoAhead || option == telnet::kTerminalType ||
         option == telnet::kWindowSize;
}

bool IsVerb(std::uint8_t byte) { return byte >= telnet::kWill && byte <= telnet::kDont; }

}  // namespace

std::uint8_t TelnetProtocol::ReplyVerb(std::uint8_t received, std::uint8_t option) {
  const bool supported = IsSupportedOption(option);
  // A request that the client do something is answered with what it will
  // do; every statement about the server's side is answered with a request.
  if (received == telnet::kDo) return supported ? telnet::kWill : telnet::kWont;
  return supported ? telnet::kDo : telnet::kDont;
}

TelnetStep TelnetProtocol::Feed(std::uint8_t byte) {
  TelnetStep step;
  switch (state_) {
    case kStateData:
      if (byte == telnet::kIac) {
        state_ = kStateIac;
      } else {
        step.hasData = true;
        step.data = byte;
      }
      break;
    case kStateIac:
      if (IsVerb(byte)) {
        state_ = byte;
      } else if (byte == telnet::kIac) {
        step.hasData = true;
        step.data = telnet::kIac;
        state_ = kStateData;
      } else {
        // SB, SE and every other command are noise; what follows them is
        // data again, so a sub-negotiation's contents reach the response.
        step.unknownCommand = byte;
        state_ = kStateData;
      }
      break;
    default: step = feed_command(byte); break;
  }
  return step;
}

TelnetStep TelnetProtocol::feed_command(std::uint8_t option) {
  TelnetStep step;
  step.replyLength = 3;
  step.reply[0] = telnet::kIac;
  step.reply[1] = ReplyVerb(state_, option);
  step.reply[2] = option;
  // The terminal type and the window size go out right after the reply,
  // whatever the verb was, without waiting for the server to ask.
  if (option == telnet::kTerminalType) {
    step.announcement = telnet::kTerminalTypeIs;
    step.announcementLength = sizeof telnet::kTerminalTypeIs;
  } else if (option == telnet::kWindowSize) {
    step.announcement = telnet::kWindowSize80x25;
    step.announcementLength = sizeof telnet::kWindowSize80x25;
  }
  state_ = kStateData;
  return step;
}
