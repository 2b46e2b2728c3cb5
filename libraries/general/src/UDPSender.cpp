// The sender's socket set-up, the walk over the interface list and the two
// send paths. Messages and exception texts name the source file broadcaster
// with the line numbers that operators know them by.
#include "UDPSender.h"

#include <cstdint>
#include <cstdio>

#include "ErrorMessage.h"
#include "RawPacketHeaders.h"
#include "VEVException.h"

namespace ZEQ {

namespace {

constexpr const char* kSourceFile = "..\\..\\src\\broadcaster";
constexpr unsigned int kLimitedBroadcast = 0xFFFFFFFFu;
// The list is read into a block with room for 32 system entries (2432 bytes).
constexpr int kInterfaceListBytes = 2432;
constexpr int kInterfaceListEntries = kInterfaceListBytes / platform::kSystemInterfaceEntryBytes;

[[noreturn]] void ThrowWithCode(const char* format, int code) {
  char text[200];
  std::snprintf(text, sizeof text, format, code);
  throw VEVException(text);
}

}  // namespace

UDPSender::UDPSender() : UDPSender(0, false) {}

UDPSender::UDPSender(unsigned short port, bool raw) : port_(port), raw_(raw) {
  socket_ = raw ? platform::OpenRawUdpSocket() : platform::OpenUdpSocket();
  if (socket_ == platform::kInvalidSocket) {
    ErrorMessage(4, kSourceFile, 139, platform::LastSocketError());
    return;
  }
  if (raw) platform::SetHeaderIncluded(socket_, true);
  platform::SetBroadcast(socket_, true);
  platform::SetNonBlocking(socket_, true);
}

UDPSender::~UDPSender() {
  if (socket_ != platform::kInvalidSocket) platform::CloseSocket(socket_);
}

void UDPSender::Broadcast(const UDPPacketBuffer& buffer, Callback callback, int ttl) {
  Broadcast(buffer, port_, callback, ttl);
}

// Every listed interface, from the last to the first, loopback included, to
// its subnet-directed broadcast address (computed from the netmask).
void UDPSender::Broadcast(const UDPPacketBuffer& buffer, unsigned short port, Callback callback,
                          int ttl) {
  const std::vector<platform::InterfaceEntry> entries = list_interfaces();
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const unsigned int sendAddress = entry->address | ~entry->netmask;
    RawSend(buffer, port, port, entry->address, kLimitedBroadcast, sendAddress, callback, ttl);
  }
}

void UDPSender::Broadcast(const UDPPacketBuffer& buffer, unsigned short port,
                          unsigned int interfaceAddress, Callback callback, int ttl) {
  const std::vector<platform::InterfaceEntry> entries = list_interfaces();
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (entry->address != interfaceAddress) continue;
    const unsigned int sendAddress = entry->address | ~entry->netmask;
    RawSend(buffer, port, port, entry->address, kLimitedBroadcast, sendAddress, callback, ttl);
    return;
  }
}

void UDPSender::Broadcast(const UDPPacketBuffer& buffer, unsigned short port,
                          unsigned int sourceAddress, unsigned int sendAddress, Callback callback,
                          int ttl) {
  RawSend(buffer, port, port, sourceAddress, kLimitedBroadcast, sendAddress, callback, ttl);
}

void UDPSender::UnicastSend(const UDPPacketBuffer& buffer, unsigned int address) {
  UnicastSend(buffer, 0, port_, 0, 0, address, 1);
}

void UDPSender::UnicastSend(const UDPPacketBuffer& buffer, unsigned short,
                            unsigned short destinationPort, unsigned int, unsigned int,
                            unsigned int sendAddress, int) {
  if (platform::SendTo(socket_, static_cast<const char*>(buffer), buffer.getSize(), sendAddress,
                       destinationPort) < 0) {
    ThrowWithCode("broadcaster -> UnicastSend sendto failed (%d)", platform::LastSocketError());
  }
}

// The raw path is taken by a raw sender, and by any sender for the limited
// broadcast address (an interface with netmask 0.0.0.0 yields it).
void UDPSender::RawSend(const UDPPacketBuffer& buffer, unsigned short sourcePort,
                        unsigned short destinationPort, unsigned int sourceAddress,
                        unsigned int destinationAddress, unsigned int sendAddress,
                        Callback callback, int ttl) {
  if (!raw_ && sendAddress != kLimitedBroadcast) {
    if (platform::SendTo(socket_, static_cast<const char*>(buffer), buffer.getSize(), sendAddress,
                         destinationPort) < 0) {
      std::printf("%d\n", platform::LastSocketError());
    }
    return;
  }
  // The callback may adjust the payload for this copy (it gets the buffer to
  // change), and the headers go into the prefix of the caller's block.
  auto* packet = const_cast<UDPPacketBuffer*>(&buffer);
  if (callback != nullptr && !callback(packet, sourceAddress)) return;
  auto* raw = static_cast<std::uint8_t*>(buffer.getRawBuffer());
  WriteIpv4Header(raw, buffer.getSize(), ttl, sourceAddress, destinationAddress);
  WriteUdpHeader(raw + kIpv4HeaderLength, sourcePort, destinationPort, buffer.getSize());
  platform::SendTo(socket_, raw, buffer.getRawSize(), sendAddress, destinationPort);
}

std::vector<platform::InterfaceEntry> UDPSender::list_interfaces() {
  std::vector<platform::InterfaceEntry> entries(kInterfaceListEntries);
  const int count = platform::ListInterfaces(socket_, entries.data(), kInterfaceListEntries);
  if (count < 0) ThrowWithCode("broadcaster -> WSAIoctl failed (%d)", platform::LastSocketError());
  entries.resize(static_cast<std::size_t>(count));
  return entries;
}

}  // namespace ZEQ
