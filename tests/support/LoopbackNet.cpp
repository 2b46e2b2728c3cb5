// Loopback addresses and sockets for tests (see LoopbackNet.h).
#include "LoopbackNet.h"

#include <cstring>

namespace testsupport {

std::uint32_t Address(const std::string& text) {
  std::uint32_t address = 0;
  platform::ParseAddress(text.c_str(), &address);
  return address;
}

std::uint32_t AddressOfOctets(int a, int b, int c, int d) {
  const unsigned char octets[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                   static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  std::uint32_t value = 0;
  std::memcpy(&value, octets, sizeof value);
  return value;
}

std::uint32_t Loopback() { return Address("127.0.0.1"); }

std::string AddressText(std::uint32_t address) {
  char text[32];
  platform::FormatAddress(address, text, sizeof text);
  return text;
}

LoopbackListener::LoopbackListener(int backlog) {
  socket_ = platform::OpenTcpSocket();
  if (socket_ == platform::kInvalidSocket) return;
  if (platform::Bind(socket_, Loopback(), 0) != 0 || platform::Listen(socket_, backlog) != 0 ||
      platform::GetLocalAddress(socket_, nullptr, &port_) != 0) {
    platform::CloseSocket(socket_);
    socket_ = platform::kInvalidSocket;
  }
}

LoopbackListener::~LoopbackListener() {
  if (socket_ != platform::kInvalidSocket) platform::CloseSocket(socket_);
}

platform::SocketHandle LoopbackListener::Accept(int timeoutMs, platform::SocketAddressIn* from) {
  if (!isListening() || platform::WaitReadable(socket_, timeoutMs) != 1) {
    return platform::kInvalidSocket;
  }
  return platform::Accept(socket_, from);
}

FullListener::FullListener() {
  if (!listener_.isListening()) return;
  for (int i = 0; i < 16 && !full_; ++i) {
    const platform::SocketHandle client = platform::OpenTcpSocket();
    if (client == platform::kInvalidSocket) return;
    clients_.push_back(client);
    platform::SetNonBlocking(client, true);
    if (platform::Connect(client, Loopback(), listener_.port()) == 0) continue;
    full_ = platform::WaitWritable(client, 300) == 0;
  }
}

FullListener::~FullListener() {
  for (platform::SocketHandle client : clients_) platform::CloseSocket(client);
}

ConnectedPair::ConnectedPair() {
  LoopbackListener listener;
  if (!listener.isListening()) return;
  client = platform::OpenTcpSocket();
  if (client == platform::kInvalidSocket) return;
  if (platform::Connect(client, Loopback(), listener.port()) != 0) return;
  server = listener.Accept(5000);
}

ConnectedPair::~ConnectedPair() {
  if (client != platform::kInvalidSocket) platform::CloseSocket(client);
  if (server != platform::kInvalidSocket) platform::CloseSocket(server);
}

bool ConnectedPair::isConnected() const {
  return client != platform::kInvalidSocket && server != platform::kInvalidSocket;
}

}  // namespace testsupport
