// The device-link socket (see DeviceLinkSocket.h).
#include "DeviceLinkSocket.h"

#include <vector>

#include "DeviceLinkProbe.h"

namespace discovery {

DeviceLinkSocket::DeviceLinkSocket() {
  socket_ = platform::OpenUdpSocket();
  if (socket_ == platform::kInvalidSocket) return;
  platform::SetReuseAddress(socket_, true);
  if (platform::Bind(socket_, 0, 0) != 0) return;
  if (platform::GetLocalAddress(socket_, nullptr, &port_) != 0) return;
  address_ = OwnHostAddress();
  listening_ = true;
}

DeviceLinkSocket::~DeviceLinkSocket() {
  if (socket_ != platform::kInvalidSocket) platform::CloseSocket(socket_);
}

int DeviceLinkSocket::SendProbe() const { return discovery::SendProbe(socket_, port_, address_); }

int DeviceLinkSocket::Receive(ResponseList* responses) const {
  // The spare bytes behind the datagram let the answer's strings end inside
  // the buffer whatever the unit sent.
  std::vector<std::uint8_t> buffer(ResponseList::kReceiveSize + kResponseSpareBytes);
  const int length =
      platform::RecvFrom(socket_, buffer.data(), ResponseList::kReceiveSize, nullptr);
  return length >= 1 ? responses->Dispatch(buffer.data(), length) : 0;
}

}  // namespace discovery
