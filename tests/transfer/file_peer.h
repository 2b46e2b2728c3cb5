// A scripted file-service peer for the transfer tests: it listens on
// 127.0.0.1 (an ephemeral port), accepts one connection and runs the test's
// script on its own thread. The script reads and writes raw bytes, so a test
// can answer with any reply, well formed or not, and look at every byte the
// installer sent. Every read has a deadline, so a wrong exchange fails the
// test instead of hanging it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "LittleEndian.h"
#include "LoopbackNet.h"
#include "platform/Sockets.h"

namespace filetest {

using Bytes = std::vector<std::uint8_t>;

using testsupport::Loopback;
using ZEQ::ReadLe16;
using ZEQ::ReadLe32;
// A reply as the unit sends it: a length field, the error flag and the status,
// and the right check value over its bytes. Its size is the length field,
// kept between 8 (the header) and 12.
Bytes MakeReply(std::uint32_t status, std::uint8_t errorFlag = 0, std::uint16_t length = 12);
// The reply with a wrong check value.
Bytes Damaged(Bytes reply);
// Only the reply's first 8 bytes.
Bytes HeaderOnly(Bytes reply);

// The accepted connection, as the script sees it.
class PeerConnection {
 public:
  explicit PeerConnection(platform::SocketHandle socket) : socket_(socket) {}
  // Reads exactly count bytes; fewer when the installer closed the connection
  // or nothing came within the deadline.
  Bytes Read(std::size_t count, unsigned timeoutMs = 5000);
  // Reads one message by its length field (put request or error notice).
  Bytes ReadMessage();
  // True when the installer closes the connection (or resets it) in time,
  // with nothing more sent.
  bool ReadsEndOfStream(unsigned timeoutMs = 5000);
  void Send(const Bytes& bytes);
  void Close();

 private:
  platform::SocketHandle socket_;
};

class FilePeer {
 public:
  using Script = std::function<void(PeerConnection&)>;
  explicit FilePeer(Script script);
  // Waits for the script to end.
  ~FilePeer();
  FilePeer(const FilePeer&) = delete;
  FilePeer& operator=(const FilePeer&) = delete;

  std::uint16_t port() const { return listener_.port(); }
  void Join();

 private:
  void run(const Script& script);

  testsupport::LoopbackListener listener_;
  std::thread thread_;
};

// A well-behaved unit for a number of puts on one connection: it reads each
// request, accepts it, reads the file's bytes and trailer, checks the
// trailer's check value, and answers 0 (or 1 when the check value is wrong).
struct StoredFile {
  Bytes request;
  Bytes data;
  Bytes trailer;
};
FilePeer::Script AcceptingUnit(int puts, std::vector<StoredFile>* stored);

}  // namespace filetest
