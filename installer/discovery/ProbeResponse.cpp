// The device-link answer and its reading (see ProbeResponse.h).
#include "ProbeResponse.h"

#include <cstdio>
#include <cstring>

#include "platform/Sockets.h"

namespace discovery {

namespace {

constexpr int kKeyOffset = 6;
constexpr int kNodeOffset = 18;
constexpr int kPairOffset = 22;
constexpr char kGroupVersionSeparator = '\x1F';

unsigned ReadLe16(const std::uint8_t* at) { return static_cast<unsigned>(at[0] | at[1] << 8); }

// The NUL-terminated string at *at, never read at or beyond `end`; *at moves
// past its terminator.
std::string TakeString(const std::uint8_t*& at, const std::uint8_t* end) {
  if (at >= end) return std::string();
  const void* nul = std::memchr(at, 0, static_cast<std::size_t>(end - at));
  const std::uint8_t* stop = nul != nullptr ? static_cast<const std::uint8_t*>(nul) : end;
  std::string text(reinterpret_cast<const char*>(at), static_cast<std::size_t>(stop - at));
  at = stop < end ? stop + 1 : end;
  return text;
}

std::string AddressText(const std::uint8_t* datagram) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", datagram[kKeyOffset], datagram[kKeyOffset + 1],
                datagram[kKeyOffset + 2], datagram[kKeyOffset + 3],
                static_cast<unsigned>(datagram[4] << 8 | datagram[5]));
  return text;
}

std::string PairText(const std::uint8_t* datagram) {
  char text[16];
  std::snprintf(text, sizeof text, "%ux%u", ReadLe16(datagram + kPairOffset),
                ReadLe16(datagram + kPairOffset + 2));
  return text;
}

}  // namespace

Response BuildResponse(const std::uint8_t* datagram, int length) {
  Response response;
  response.kind = datagram[0];
  response.node = static_cast<std::uint16_t>(ReadLe16(datagram + kNodeOffset));
  std::memcpy(&response.key, datagram + kKeyOffset, 4);
  response.addressText = AddressText(datagram);
  response.pairText = PairText(datagram);
  const std::uint8_t* at = datagram + kResponseMinimum;
  const std::uint8_t* end = datagram + length + kResponseSpareBytes;
  response.text1 = TakeString(at, end);
  response.text2 = TakeString(at, end);
  response.text3 = TakeString(at, end);
  response.text4 = TakeString(at, end);
  return response;
}

std::optional<DiscoveredUnit> UnitFromResponse(const Response* response) {
  if (response == nullptr || response->kind != 2) return std::nullopt;
  const int node = static_cast<std::int16_t>(response->node);
  if (node < 1) return std::nullopt;
  DiscoveredUnit unit;
  const std::string address = response->addressText.substr(0, response->addressText.find(':'));
  if (!platform::ParseAddress(address.c_str(), &unit.address)) return std::nullopt;
  unit.node = node;
  const std::string groupVersion = response->text3.substr(0, kGroupVersionLimit);
  const std::size_t separator = groupVersion.find(kGroupVersionSeparator);
  unit.group = groupVersion.substr(0, separator);
  if (separator != std::string::npos) unit.version = groupVersion.substr(separator + 1);
  return unit;
}

}  // namespace discovery
