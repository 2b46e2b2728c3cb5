// IPv4 and UDP header bytes for the raw send path.
#include "RawPacketHeaders.h"

#include <cstring>

namespace ZEQ {

namespace {

void PutBigEndian16(std::uint8_t* at, unsigned value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

}  // namespace

std::uint16_t InternetChecksum(const std::uint8_t* data, int length) {
  std::uint32_t sum = 0;
  for (int i = 0; i + 1 < length; i += 2)
    sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  // Folding twice is enough: after the first fold the sum is at most
  // 0xFFFF plus one carry.
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

void WriteIpv4Header(std::uint8_t* header, int payloadSize, int ttl, std::uint32_t sourceAddress,
                     std::uint32_t destinationAddress) {
  std::memset(header, 0, kIpv4HeaderLength);
  header[0] = 0x45;
  PutBigEndian16(header + 2,
                 static_cast<unsigned>(kIpv4HeaderLength + kUdpHeaderLength + payloadSize));
  header[8] = static_cast<std::uint8_t>(ttl);
  header[9] = 17;
  std::memcpy(header + 12, &sourceAddress, 4);
  std::memcpy(header + 16, &destinationAddress, 4);
  PutBigEndian16(header + 10, InternetChecksum(header, kIpv4HeaderLength));
}

void WriteUdpHeader(std::uint8_t* header, std::uint16_t sourcePort, std::uint16_t destinationPort,
                    int payloadSize) {
  PutBigEndian16(header, sourcePort);
  PutBigEndian16(header + 2, destinationPort);
  PutBigEndian16(header + 4, static_cast<unsigned>(kUdpHeaderLength + payloadSize));
  PutBigEndian16(header + 6, 0);
}

}  // namespace ZEQ
