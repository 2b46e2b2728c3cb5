// The device-link interface's store of probe answers: one answer per unit
// address, in the order the units first answered. A later answer from a known
// address replaces the stored one in its place and raises nothing, so each
// unit reaches the device table once however often it is probed.
//
// Dispatch is the whole of what the interface does with a received datagram,
// kept free of sockets and windows: the interface receives into a buffer with
// kResponseSpareBytes of room after the datagram and calls Dispatch; a
// nonzero result is the notification value (list position plus 1) for
// OnResponseAdded.
#pragma once

#include <cstdint>
#include <list>

#include "ProbeResponse.h"

namespace discovery {

class ResponseList {
 public:
  // The largest datagram the interface reads.
  static constexpr int kReceiveSize = 1500;

  // Stores the answer. An answer with the key of a stored one takes that one's
  // place and the result is 0; any other is appended and the result is its
  // position plus 1.
  int Add(Response response);
  // The answer at the 0-based position, or null.
  const Response* At(int position) const;
  int count() const { return static_cast<int>(responses_.size()); }

  // One datagram of `length` bytes in a buffer with room for
  // kResponseSpareBytes more. A probe answer (02 01, at least 26 bytes) is
  // stored and the result of Add returned; everything else is dropped (the
  // installer holds no device-link connections) and the result is 0.
  int Dispatch(std::uint8_t* buffer, int length);

 private:
  std::list<Response> responses_;
};

}  // namespace discovery
