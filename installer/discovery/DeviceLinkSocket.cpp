// The device-link socket (see DeviceLinkSocket.h).
#include "DeviceLinkSocket.h"

#include <vector>

#include "DeviceLinkProbe.h"

namespace discovery {

namespace {

// The answers to one probe run arrive in a burst, all while the main thread
// is still sending the run's unicasts and not reading: a thousand units
// overflow the system's default buffer and their answers are lost.
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;

}  // namespace

DeviceLinkSocket::DeviceLinkSocket() {
  socket_ = platform::OpenUdpSocket();
  if (socket_ == platform::kInvalidSocket) return;
  platform::SetReuseAddress(socket_, true);
  platform::SetReceiveBufferSize(socket_, kSocketBufferBytes);
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
