// What the simulator's own tests talk to it with: plain sockets through the
// platform seam and byte strings built by hand from the documented message
// layouts. Nothing here comes from the installer or from unitsim, so a test
// that passes shows the simulator keeps the contract, not that two copies of
// one mistake agree.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "ByteText.h"
#include "LoopbackNet.h"
#include "UnitSim.h"
#include "platform/Sockets.h"

namespace simtest {

inline std::uint32_t Ip(const char* text) { return testsupport::Address(text); }
using testsupport::Bytes;
using testsupport::Hex;
std::string Le16(std::uint16_t value);
std::string Le32(std::uint32_t value);
std::uint32_t ReadLe32(const std::string& bytes, std::size_t at);

// The file protocol's check register, table-driven here (the simulator's is
// bitwise); checked against the documented "abc" value in the tests.
std::uint32_t CheckRegister(const std::string& bytes, std::uint32_t start = 0xFFFFFFFFu);

// The 108-byte record query: 01 00 01 00, mode 0, the ten VT_NULL names.
std::string QueryDatagram();
// True for a datagram on 55330 whose word has bit 31 set and bits 16 to 30
// equal to 1, which is what makes it a reply.
bool IsReply(const std::string& datagram);
// The 18-byte device-link probe carrying address:port.
std::string Probe(std::uint32_t address, std::uint16_t port);
// A put request of 38 + n bytes with its check value.
std::string PutRequest(const std::string& name, std::uint32_t size, std::uint32_t modified,
                       std::uint16_t mode);
// The 5-byte data trailer for the data.
std::string Trailer(const std::string& data);

class Tcp {
 public:
  Tcp();
  ~Tcp();
  Tcp(const Tcp&) = delete;
  Tcp& operator=(const Tcp&) = delete;
  bool Connect(const char* address, std::uint16_t port);
  bool Send(const std::string& bytes);
  // Reads until `text` has arrived and returns everything read up to and
  // including it; on time-out or close, returns what arrived.
  std::string ReadUntil(const std::string& text, int timeoutMs);
  std::string ReadExactly(std::size_t count, int timeoutMs);
  // Everything that arrives within the time.
  std::string ReadFor(int ms);
  // True when the peer closes the connection within the time.
  bool WaitClosed(int timeoutMs);
  void Close();

 private:
  bool Fill(int timeoutMs);

  platform::SocketHandle socket_;
  std::string pending_;
  bool closed_ = false;
};

class Udp {
 public:
  Udp();
  ~Udp();
  Udp(const Udp&) = delete;
  Udp& operator=(const Udp&) = delete;
  // Binds address:port (port 0: any), with address reuse as the installer's
  // discovery receiver has it.
  bool Bind(const char* address, std::uint16_t port);
  bool SendTo(const std::string& bytes, const char* address, std::uint16_t port);
  bool Receive(std::string* bytes, platform::SocketAddressIn* from, int timeoutMs);
  std::uint16_t port() const;
  platform::SocketHandle handle() const { return socket_; }

 private:
  platform::SocketHandle socket_;
};

// Logs in as root over a fresh connection and reads up to the first shell
// prompt; false when any prompt did not come.
bool LoginAsRoot(Tcp& telnet, const char* address);

// Puts one file over a connected file-service connection; returns the two
// replies concatenated (24 bytes when all went well).
std::string PutFile(Tcp& files, const std::string& name, const std::string& data,
                    std::uint16_t mode = 0777);

// The text of a 12-byte reply's parts, for assertions.
bool ReplyCheckValueOk(const std::string& reply);

}  // namespace simtest
