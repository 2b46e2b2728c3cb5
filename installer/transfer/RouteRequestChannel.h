// The installer's side of the route requests: starts the elevated route
// helper on first need, serves it a pipe, writes 24-byte requests into it and
// remembers every route asked for, so that the routes can be removed again at
// exit. One channel lives in the device table and all install jobs share it.
//
// The four requests are virtual so that tests of the install job can record
// them instead of starting a helper.
#pragma once

#include <cstdint>

class RouteRequestChannel {
 public:
  RouteRequestChannel();
  virtual ~RouteRequestChannel();
  RouteRequestChannel(const RouteRequestChannel&) = delete;
  RouteRequestChannel& operator=(const RouteRequestChannel&) = delete;

  // Addresses in network byte order; mac points to six bytes. Each returns
  // non-zero when the request was written, 0 otherwise.
  virtual int AddHostRoute(std::uint32_t destination, std::uint32_t mask, std::uint32_t nextHop,
                           std::uint32_t interfaceAddress);
  virtual int RemoveHostRoute(std::uint32_t destination, std::uint32_t mask);
  virtual int AnnounceUnitRoute(std::uint32_t interfaceAddress, const std::uint8_t* mac);
  virtual int WithdrawUnitRoute(std::uint32_t interfaceAddress, const std::uint8_t* mac);
};
