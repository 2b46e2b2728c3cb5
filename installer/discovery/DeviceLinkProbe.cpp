// The device-link probe and its sending (see DeviceLinkProbe.h).
#include "DeviceLinkProbe.h"

#include <cstring>
#include <string>

#include "AddressList.h"
#include "platform/NameLookup.h"

namespace discovery {

namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
// The host name is read into a buffer of this size (one more than its limit).
constexpr int kHostNameRoom = 51;

// Sends the probe to every address of the list file, updating *port as the
// lines say. Without a socket the lines are skipped, their ports too.
void SendToListedAddresses(const std::uint8_t* probe, std::uint16_t* port) {
  AddressListFile list;
  if (!list.IsOpen()) return;
  const platform::SocketHandle socket = platform::OpenUdpSocket();
  if (socket == platform::kInvalidSocket) return;
  std::string line;
  while (list.NextLine(&line)) {
    const std::uint32_t address = ResolveAddress(line.c_str(), port);
    // Address 0 is no destination: Windows refuses the send, and Linux would
    // hand the probe to this computer itself.
    if (address != 0) platform::SendTo(socket, probe, kProbeLength, address, *port);
  }
  platform::CloseSocket(socket);
}

}  // namespace

void BuildProbe(std::uint16_t answerPort, std::uint32_t answerAddress,
                std::uint8_t probe[kProbeLength]) {
  std::memset(probe, 0, kProbeLength);
  probe[1] = 0x01;
  probe[2] = 2;
  probe[4] = static_cast<std::uint8_t>(answerPort >> 8);
  probe[5] = static_cast<std::uint8_t>(answerPort & 0xFF);
  std::memcpy(probe + 6, &answerAddress, 4);
}

std::uint16_t ProbeServicePort() {
  const std::uint16_t port = platform::ServicePortByName(kProbeServiceName);
  return port != 0 ? port : kDefaultProbePort;
}

std::uint32_t OwnHostAddress() {
  char name[kHostNameRoom];
  std::uint32_t address = 0;
  if (!platform::LocalHostName(name, sizeof name) || !platform::LookupHostAddress(name, &address)) {
    return 0;
  }
  return address;
}

int BroadcastDatagram(const void* data, int length, std::uint16_t port) {
  const bool started = platform::StartSockets(1, 1) == 0;
  int result = kBroadcastNoSocket;
  const platform::SocketHandle socket = platform::OpenUdpSocket();
  if (socket != platform::kInvalidSocket) {
    result = platform::SetBroadcast(socket, true) == 0
                 ? platform::SendTo(socket, data, length, kLimitedBroadcast, port)
                 : kBroadcastNotEnabled;
    platform::CloseSocket(socket);
  }
  if (started) platform::CleanupSockets();
  return result;
}

int SendProbe(platform::SocketHandle deviceLinkSocket, std::uint16_t answerPort,
              std::uint32_t answerAddress) {
  if (deviceLinkSocket == platform::kInvalidSocket) return 0;
  std::uint8_t probe[kProbeLength];
  BuildProbe(answerPort, answerAddress, probe);
  std::uint16_t port = ProbeServicePort();
  SendToListedAddresses(probe, &port);
  BroadcastDatagram(probe, kProbeLength, port);
  return 1;
}

}  // namespace discovery
