// The record query of discovery and the replies to it. The query is a
// DataRecord naming the ten elements the installer wants, each without a
// value, behind the message word 0x00010001 and the record's mode byte; it is
// broadcast to port 55330 on every local network. A unit answers to port
// 55330 with the same framing, its word's bit 31 set, and a record carrying
// its identity.
//
// Building and checking are pure byte work, so the checks a reply must pass
// are tested and fuzzed without sockets; the controller's receiver callback
// only hands each datagram to ParseDiscoveryReply and enters what comes out.
#pragma once

#include <cstdint>
#include <optional>

#include "DiscoveredUnit.h"

namespace ZEQ {
class UDPPacketBuffer;
class UDPSender;
}  // namespace ZEQ

namespace discovery {

constexpr std::uint16_t kRecordPort = 55330;
constexpr std::uint32_t kQueryWord = 0x00010001u;
// The room the query is built in: one Ethernet payload.
constexpr int kQueryBufferSize = 1500;
// The version a reply without one is entered with.
constexpr const char* kUnknownVersion = "Unknown";

// Makes the buffer 1500 bytes and fills it with the query (108 bytes); false,
// and a buffer not to be sent, when the record could not be written.
bool BuildDiscoveryQuery(ZEQ::UDPPacketBuffer* buffer);

// Checks one datagram received on port 55330 and returns what it says about
// the unit, or nothing for a datagram that is not a valid reply: shorter than
// 5 bytes, a message word without bit 31 or with bits 16 to 30 other than 1,
// a record that cannot be read, or a missing or short "IPAddress" (4 bytes),
// "FromIP" (4), "Node" (2), "MAC" (6) or a "Group" that is not a string.
// "Version" defaults to "Unknown" and "VXMGW" to 0.
std::optional<DiscoveredUnit> ParseDiscoveryReply(const void* data, int size);

// Broadcasts one query through the discovery sender, which sends a copy to
// the subnet broadcast address of every local interface. Nothing is sent
// without a sender, and a sender that cannot list the interfaces loses this
// pass's query: the caller runs on the user interface's thread, which an
// exception must not leave. True when the query went to the sender.
bool SendRecordQuery(ZEQ::UDPSender* sender);

}  // namespace discovery
