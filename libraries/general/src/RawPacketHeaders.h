// The IPv4 and UDP headers that the raw send path writes in front of a
// payload: pure byte work without I/O, so that it is checked against golden
// bytes. Multi-byte fields are big-endian; addresses are taken in network
// byte order as they are kept everywhere and copied as they are.
#pragma once

#include <cstdint>

namespace ZEQ {

constexpr int kIpv4HeaderLength = 20;
constexpr int kUdpHeaderLength = 8;

// The Internet checksum over `length` bytes (an even count): the sum of the
// big-endian 16-bit words, carries folded back twice, complemented.
std::uint16_t InternetChecksum(const std::uint8_t* data, int length);

// Writes the 20-byte IPv4 header for a UDP datagram carrying payloadSize
// bytes: version 4, header length 5 words, no type of service,
// identification, flags or fragment offset, the low 8 bits of ttl, protocol
// 17, and the header checksum.
void WriteIpv4Header(std::uint8_t* header, int payloadSize, int ttl, std::uint32_t sourceAddress,
                     std::uint32_t destinationAddress);

// Writes the 8-byte UDP header: both ports, length payloadSize + 8, and a
// checksum of 0 (none).
void WriteUdpHeader(std::uint8_t* header, std::uint16_t sourcePort, std::uint16_t destinationPort,
                    int payloadSize);

}  // namespace ZEQ
