// The scripted file-service peer.
#include "file_peer.h"

#include <algorithm>
#include <chrono>

#include "transfer/Crc32.h"

namespace filetest {

Bytes MakeReply(std::uint32_t status, std::uint8_t errorFlag, std::uint16_t length) {
  Bytes reply{
      0, 0,        0, 0, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
      0, errorFlag};
  for (int i = 0; i < 4; ++i) reply.push_back(static_cast<std::uint8_t>(status >> (8 * i)));
  reply.resize(std::clamp<std::size_t>(length, 8, 12));
  const std::uint32_t check = Crc32(reply.data() + 4, reply.size() - 4);
  for (int i = 0; i < 4; ++i) reply[i] = static_cast<std::uint8_t>(check >> (8 * i));
  return reply;
}

Bytes Damaged(Bytes reply) {
  reply[0] ^= 0x5A;
  return reply;
}

Bytes HeaderOnly(Bytes reply) {
  reply.resize(8);
  return reply;
}

Bytes PeerConnection::Read(std::size_t count, unsigned timeoutMs) {
  Bytes bytes(count);
  std::size_t got = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || platform::WaitReadable(socket_, static_cast<int>(left.count())) != 1) {
      break;
    }
    const int n = platform::Recv(socket_, bytes.data() + got, static_cast<int>(count - got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

Bytes PeerConnection::ReadMessage() {
  Bytes message = Read(6);
  if (message.size() < 6) return message;
  const std::size_t length = ReadLe16(message.data() + 4);
  if (length <= 6) return message;
  const Bytes rest = Read(length - 6);
  message.insert(message.end(), rest.begin(), rest.end());
  return message;
}

bool PeerConnection::ReadsEndOfStream(unsigned timeoutMs) {
  if (platform::WaitReadable(socket_, static_cast<int>(timeoutMs)) != 1) return false;
  std::uint8_t byte;
  return platform::Recv(socket_, &byte, 1) <= 0;
}

void PeerConnection::Send(const Bytes& bytes) {
  if (!bytes.empty()) platform::Send(socket_, bytes.data(), static_cast<int>(bytes.size()));
}

void PeerConnection::Close() {
  if (socket_ == platform::kInvalidSocket) return;
  platform::CloseSocket(socket_);
  socket_ = platform::kInvalidSocket;
}

FilePeer::FilePeer(Script script) {
  if (listener_.isListening()) thread_ = std::thread([this, script] { run(script); });
}

FilePeer::~FilePeer() { Join(); }

void FilePeer::Join() {
  if (thread_.joinable()) thread_.join();
}

void FilePeer::run(const Script& script) {
  const platform::SocketHandle socket = listener_.Accept(10000);
  if (socket == platform::kInvalidSocket) return;
  PeerConnection connection(socket);
  script(connection);
  connection.Close();
}

FilePeer::Script AcceptingUnit(int puts, std::vector<StoredFile>* stored) {
  return [puts, stored](PeerConnection& unit) {
    for (int i = 0; i < puts; ++i) {
      StoredFile file;
      file.request = unit.ReadMessage();
      if (file.request.size() < 38) return;
      unit.Send(MakeReply(0));
      file.data = unit.Read(ReadLe32(file.request.data() + 14));
      file.trailer = unit.Read(5);
      const bool good = file.trailer.size() == 5 && ReadLe32(file.trailer.data() + 1) ==
                                                        Crc32(file.data.data(), file.data.size());
      unit.Send(MakeReply(good ? 0 : 1));
      stored->push_back(std::move(file));
    }
  };
}

}  // namespace filetest
