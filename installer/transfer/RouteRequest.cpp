// Encoding and decoding of the route helper's pipe request.
#include "RouteRequest.h"

#include <cstring>

namespace {

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLe32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

RouteRequest RouteRequest::HostRoute(std::uint32_t command, std::uint32_t destination,
                                     std::uint32_t mask, std::uint32_t nextHop,
                                     std::uint32_t interfaceAddress) {
  RouteRequest request;
  request.command = command;
  request.destination = destination;
  request.mask = mask;
  if (command == RouteCommand::kAddHostRoute) {
    request.nextHop = nextHop;
    request.interfaceAddress = interfaceAddress;
  }
  return request;
}

RouteRequest RouteRequest::UnitRoute(std::uint32_t command, std::uint32_t interfaceAddress,
                                     const std::uint8_t* mac) {
  RouteRequest request;
  request.command = command;
  request.interfaceAddress = interfaceAddress;
  std::memcpy(request.mac, mac, sizeof request.mac);
  return request;
}

void RouteRequest::Encode(std::uint8_t (&bytes)[kBytes]) const {
  std::memset(bytes, 0, kBytes);
  PutLe32(bytes, command);
  if (IsHostRoute()) {
    PutLe32(bytes + 4, destination);
    PutLe32(bytes + 8, mask);
    PutLe32(bytes + 12, nextHop);
  } else {
    std::memcpy(bytes + 4, mac, sizeof mac);
  }
  PutLe32(bytes + 20, interfaceAddress);
}

RouteRequest RouteRequest::Decode(const std::uint8_t (&bytes)[kBytes]) {
  RouteRequest request;
  request.command = GetLe32(bytes);
  if (request.IsHostRoute()) {
    request.destination = GetLe32(bytes + 4);
    request.mask = GetLe32(bytes + 8);
    request.nextHop = GetLe32(bytes + 12);
  } else {
    std::memcpy(request.mac, bytes + 4, sizeof request.mac);
  }
  request.interfaceAddress = GetLe32(bytes + 20);
  return request;
}
