// The helper's real broadcaster: a raw UDPSender on port 55330 that sends
// each payload from every interface to its subnet, addressed to
// 255.255.255.255 with a time-to-live of 1, so it reaches only the units on
// the links of this computer.
#pragma once

#include "RouteHelper.h"
#include "UDPSender.h"

class RawRouteBroadcaster : public UnitRouteBroadcaster {
 public:
  static constexpr unsigned short kPort = 55330;

  RawRouteBroadcaster() : sender_(kPort, true) {}
  void Broadcast(const ZEQ::UDPPacketBuffer& payload) override {
    sender_.Broadcast(payload, nullptr, 1);
  }

 private:
  ZEQ::UDPSender sender_;
};
