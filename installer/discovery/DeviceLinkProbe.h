// The device-link probe: an 18-byte datagram that carries the address of the
// installer's device-link socket, to which every unit that hears it answers.
// One probe run sends it to each address of the list file (AddressList.h) on
// the current probe port, then as a limited broadcast on the port the list
// left current. The probes leave from sockets of their own, never from the
// device-link socket, which only receives.
#pragma once

#include <cstdint>

#include "platform/Sockets.h"

namespace discovery {

constexpr int kProbeLength = 18;
constexpr const char* kProbeServiceName = "ZErovarivad";
constexpr std::uint16_t kDefaultProbePort = 55329;
// BroadcastDatagram's failures before anything was sent.
constexpr int kBroadcastNotEnabled = -2;
constexpr int kBroadcastNoSocket = -3;

// 00 01, then the answer address as a socket address: family 2 (little-
// endian), the port big-endian, the IPv4 address (network byte order) and
// eight zero bytes.
void BuildProbe(std::uint16_t answerPort, std::uint32_t answerAddress,
                std::uint8_t probe[kProbeLength]);

// The "ZErovarivad" port from the services database, or 55329.
std::uint16_t ProbeServicePort();

// The first address of this computer's own host name, or 0: the address the
// probe names for the answers.
std::uint32_t OwnHostAddress();

// Sends one datagram to 255.255.255.255 on the port from a socket of its own
// with broadcasting enabled, between a start and a cleanup of the socket
// layer of its own. The byte count sent (-1 when the send failed),
// kBroadcastNotEnabled or kBroadcastNoSocket.
int BroadcastDatagram(const void* data, int length, std::uint16_t port);

// One probe run as above; the answers are asked to go to answerAddress and
// answerPort. Without a device-link socket nothing is sent and the result
// is 0, else 1. Lines of the list whose address is 0 (an unresolvable name, a
// line without a dot) are not sent to.
int SendProbe(platform::SocketHandle deviceLinkSocket, std::uint16_t answerPort,
              std::uint32_t answerAddress);

}  // namespace discovery
