// PLACEHOLDER on the wave1-base branch only: the route-channel work replaces
// this file. Every request reports "not written".
#include "RouteRequestChannel.h"

RouteRequestChannel::RouteRequestChannel() = default;
RouteRequestChannel::~RouteRequestChannel() = default;
int RouteRequestChannel::AddHostRoute(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }
int RouteRequestChannel::RemoveHostRoute(std::uint32_t, std::uint32_t) { return 0; }
int RouteRequestChannel::AnnounceUnitRoute(std::uint32_t, const std::uint8_t*) { return 0; }
int RouteRequestChannel::WithdrawUnitRoute(std::uint32_t, const std::uint8_t*) { return 0; }
