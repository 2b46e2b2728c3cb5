// Socket helpers and hand-built messages for the simulator's tests.
#include "SimClient.h"

#include <chrono>
#include <cstdio>

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::string Le16(std::uint16_t value) { return testsupport::Bytes({value & 0xFF, value >> 8}); }

std::string Le32(std::uint32_t value) {
  return testsupport::Bytes({static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                             static_cast<int>((value >> 16) & 0xFF),
                             static_cast<int>(value >> 24)});
}

std::uint32_t ReadLe32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint32_t CheckRegister(const std::string& bytes, std::uint32_t start) {
  static const auto table = [] {
    struct Table {
      std::uint32_t entry[256];
    } built{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t value = i;
      for (int bit = 0; bit < 8; ++bit) value = value & 1 ? (value >> 1) ^ 0xEDB88320u : value >> 1;
      built.entry[i] = value;
    }
    return built;
  }();
  std::uint32_t crc = start;
  for (const char c : bytes)
    crc = (crc >> 8) ^ table.entry[(crc ^ static_cast<unsigned char>(c)) & 0xFF];
  return crc;
}

std::string QueryDatagram() {
  std::string datagram = Bytes({0x01, 0x00, 0x01, 0x00, 0x00});
  for (const char* name : {"ReplyTarvoProxy", "ReplyTarvo", "Node", "IPAddress", "NetMask",
                           "FromIP", "MAC", "Group", "Version", "VXMGW"}) {
    datagram += Bytes({0x01, 0x00}) + name + std::string(1, '\0');
  }
  return datagram + Bytes({0x00, 0x00});
}

bool IsReply(const std::string& datagram) {
  return datagram.size() >= 5 && (ReadLe32(datagram, 0) & 0xFFFF0000u) == 0x80010000u;
}

std::string Probe(std::uint32_t address, std::uint16_t port) {
  return testsupport::Bytes({0x00, 0x01, 0x02, 0x00, port >> 8, port & 0xFF}) +
         std::string(reinterpret_cast<const char*>(&address), 4) + std::string(8, '\0');
}

std::string PutRequest(const std::string& name, std::uint32_t size, std::uint32_t modified,
                       std::uint16_t mode) {
  std::string body = Le16(static_cast<std::uint16_t>(38 + name.size()));
  body += Bytes({0x01, 0x00, 0x02, 0x00});  // type put, error flag, kind 2, options
  body += Le32(0) + Le32(size) + Le32(0) + Le32(0) + Le32(0) + Le32(modified) + Le16(mode);
  body += name + std::string(2, '\0');
  return Le32(CheckRegister(body)) + body;
}

std::string Trailer(const std::string& data) {
  return std::string(1, '\0') + Le32(CheckRegister(data));
}

Tcp::Tcp() : socket_(platform::OpenTcpSocket()) {}

Tcp::~Tcp() { Close(); }

bool Tcp::Connect(const char* address, std::uint16_t port) {
  if (socket_ == platform::kInvalidSocket) return false;
  platform::SetNoDelay(socket_, true);
  return platform::Connect(socket_, Ip(address), port) == 0;
}

bool Tcp::Send(const std::string& bytes) {
  return platform::Send(socket_, bytes.data(), static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

bool Tcp::Fill(int timeoutMs) {
  if (closed_ || platform::WaitReadable(socket_, timeoutMs) != 1) return false;
  char buffer[4096];
  const int got = platform::Recv(socket_, buffer, sizeof buffer);
  if (got <= 0) {
    closed_ = true;
    return false;
  }
  pending_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

std::string Tcp::ReadUntil(const std::string& text, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t found;
  while ((found = pending_.find(text)) == std::string::npos) {
    if (closed_ || MsLeft(deadline) == 0) break;
    Fill(MsLeft(deadline));
  }
  const std::size_t end = found == std::string::npos ? pending_.size() : found + text.size();
  const std::string out = pending_.substr(0, end);
  pending_.erase(0, end);
  return out;
}

std::string Tcp::ReadExactly(std::size_t count, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pending_.size() < count && !closed_ && MsLeft(deadline) > 0) Fill(MsLeft(deadline));
  const std::string out = pending_.substr(0, count);
  pending_.erase(0, out.size());
  return out;
}

std::string Tcp::ReadFor(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!closed_ && MsLeft(deadline) > 0) Fill(MsLeft(deadline));
  std::string out;
  out.swap(pending_);
  return out;
}

bool Tcp::WaitClosed(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!closed_ && MsLeft(deadline) > 0) Fill(MsLeft(deadline));
  return closed_;
}

void Tcp::Close() {
  if (socket_ != platform::kInvalidSocket) platform::CloseSocket(socket_);
  socket_ = platform::kInvalidSocket;
}

Udp::Udp() : socket_(platform::OpenUdpSocket()) {}

Udp::~Udp() {
  if (socket_ != platform::kInvalidSocket) platform::CloseSocket(socket_);
}

bool Udp::Bind(const char* address, std::uint16_t port) {
  platform::SetReuseAddress(socket_, true);
  platform::SetBroadcast(socket_, true);
  return platform::Bind(socket_, Ip(address), port) == 0;
}

bool Udp::SendTo(const std::string& bytes, const char* address, std::uint16_t port) {
  platform::SetBroadcast(socket_, true);
  return platform::SendTo(socket_, bytes.data(), static_cast<int>(bytes.size()), Ip(address),
                          port) == static_cast<int>(bytes.size());
}

bool Udp::Receive(std::string* bytes, platform::SocketAddressIn* from, int timeoutMs) {
  if (platform::WaitReadable(socket_, timeoutMs) != 1) return false;
  char buffer[2048];
  platform::SocketAddressIn sender{};
  const int got = platform::RecvFrom(socket_, buffer, sizeof buffer, &sender);
  if (got < 0) return false;
  bytes->assign(buffer, static_cast<std::size_t>(got));
  if (from != nullptr) *from = sender;
  return true;
}

std::uint16_t Udp::port() const {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  platform::GetLocalAddress(socket_, &address, &port);
  return port;
}

bool LoginAsRoot(Tcp& telnet, const char* address) {
  if (!telnet.Connect(address, 23)) return false;
  if (telnet.ReadUntil("\nlogin:", 3000).find("\nlogin:") == std::string::npos) return false;
  telnet.Send("root\n");
  if (telnet.ReadUntil("password:", 3000).find("password:") == std::string::npos) return false;
  telnet.Send("qorvane\n");
  return telnet.ReadUntil("\n# ", 3000).find("\n# ") != std::string::npos;
}

std::string PutFile(Tcp& files, const std::string& name, const std::string& data,
                    std::uint16_t mode) {
  files.Send(PutRequest(name, static_cast<std::uint32_t>(data.size()), 1700000000, mode));
  std::string replies = files.ReadExactly(12, 3000);
  if (replies.size() != 12) return replies;
  files.Send(data);
  files.Send(Trailer(data));
  return replies + files.ReadExactly(12, 5000);
}

bool ReplyCheckValueOk(const std::string& reply) {
  return reply.size() >= 12 && ReadLe32(reply, 0) == CheckRegister(reply.substr(4));
}

}  // namespace simtest
