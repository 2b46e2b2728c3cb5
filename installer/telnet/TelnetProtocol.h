// The client side of the telnet protocol as a byte-at-a-time state machine
// with no I/O: each received byte goes in, and what the session must do with
// it comes out (append a data byte to the response, send an option reply and
// perhaps an unasked sub-negotiation, or report an unknown command). Keeping
// the protocol free of sockets lets it be tested with golden byte scripts and
// fuzzed; TelnetSession only carries the bytes in and out.
#pragma once

#include <cstdint>

// Telnet command and option bytes (RFC 854, 858, 1073, 1091).
namespace telnet {
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kTerminalType = 24;
constexpr std::uint8_t kWindowSize = 31;

// IAC SB TERMINAL-TYPE IS "XTERM" IAC SE, sent unasked after the reply to
// any message about option 24.
extern const std::uint8_t kTerminalTypeIs[11];
// IAC SB NAWS, width 80, height 25, IAC SE, sent unasked after the reply to
// any message about option 31.
extern const std::uint8_t kWindowSize80x25[9];
}  // namespace telnet

// What one received byte asks of the session. At most one of the three
// kinds is present; a byte may also ask for nothing (IAC, a verb).
struct TelnetStep {
  bool hasData = false;
  std::uint8_t data = 0;
  // Three bytes IAC, verb, option when replyLength is 3.
  int replyLength = 0;
  std::uint8_t reply[3] = {0, 0, 0};
  // Sent as a second message right after the reply (option 24 or 31).
  const std::uint8_t* announcement = nullptr;
  int announcementLength = 0;
  // The command byte after an IAC that the client does not handle, or -1.
  int unknownCommand = -1;
};

class TelnetProtocol {
 public:
  // The parser state is one byte: Data 0, Iac 255, or the verb (WILL, WONT,
  // DO, DONT) that followed an IAC and now waits for its option byte.
  static constexpr std::uint8_t kStateData = 0;
  static constexpr std::uint8_t kStateIac = 255;

  TelnetStep Feed(std::uint8_t byte);
  std::uint8_t getState() const { return state_; }

  // The verb answering a received verb about an option: the three options
  // the client supports are always accepted, every other one refused.
  static std::uint8_t ReplyVerb(std::uint8_t received, std::uint8_t option);

 private:
  TelnetStep feed_command(std::uint8_t option);

  std::uint8_t state_ = kStateData;
};
