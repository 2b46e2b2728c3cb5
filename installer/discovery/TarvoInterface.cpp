// The device-link interface (see TarvoInterface.h).
#include "TarvoInterface.h"

namespace discovery {

TarvoInterface::TarvoInterface(platform::MainLoop& loop, const SocketLayerCalls& sockets)
    : loop_(loop), sockets_(sockets) {
  // Without a loop nothing could be received or serviced, so the socket
  // layer is not even started.
  if (!loop_.IsValid() || !start_sockets()) return;
  link_ = std::make_unique<DeviceLinkSocket>();
  if (link_->listening()) start_servicing();
}

TarvoInterface::~TarvoInterface() { Teardown(); }

bool TarvoInterface::start_sockets() {
  // A start that failed holds no reference on the socket layer, so there is
  // nothing to clean up: cleaning up anyway would end the layer under
  // whoever else started it.
  if (sockets_.start(2, 0) != 0) {
    sockets_.showMessage(kWinsockVersionCaption, kWinsockVersionText);
    return false;
  }
  socketsStarted_ = true;
  return true;
}

void TarvoInterface::start_servicing() {
  lock_ = std::make_unique<std::mutex>();
  timerId_ = loop_.AddTimer(kLinkTimerMs, [this] { on_timer(); });
  // The loop reports the socket readable until it has been read, and a read
  // must never block the main thread.
  platform::SetNonBlocking(link_->handle(), true);
  watching_ = loop_.WatchSocketReadable(link_->handle(), [this] { on_readable(); }) == 0;
}

void TarvoInterface::on_readable() {
  if (enabled_ == 0) return;
  const int n = link_->Receive(&responses_);
  if (n != 0) OnResponseAdded(n);
}

void TarvoInterface::on_timer() {
  if (enabled_ == 0) return;
  const std::lock_guard<std::mutex> hold(*lock_);
  // Teardown may have begun while the lock was awaited.
  if (enabled_ == 0) return;
  // Servicing the connections (keep-alives, retries, time-outs) has nothing
  // to do: the installer never opens one.
  ++timerTicks_;
}

void TarvoInterface::acknowledge_stop() { stopAcknowledged_ = 1; }

int TarvoInterface::SendProbe() const { return link_ != nullptr ? link_->SendProbe() : 0; }

void TarvoInterface::Teardown() {
  enabled_ = 0;
  stopAcknowledged_ = 0;
  if (loop_.IsValid()) {
    if (timerId_ != 0) loop_.KillTimer(timerId_);
    timerId_ = 0;
    // The stop request is handled at once: teardown runs on the loop's
    // thread, so nothing else can be inside the interface meanwhile.
    acknowledge_stop();
  }
  if (link_ != nullptr) {
    if (watching_) loop_.UnwatchSocket(link_->handle());
    watching_ = false;
    link_.reset();
  }
  if (socketsStarted_) sockets_.cleanup();
  socketsStarted_ = false;
  lock_.reset();
  responses_ = ResponseList();
}

void TarvoInterface::OnConnectionNotice(std::uint32_t) {}
void TarvoInterface::OnRequestAbandoned(std::uint32_t) {}
void TarvoInterface::OnConnectionAccepted(std::uint32_t) {}
void TarvoInterface::OnConnectionClosed(std::uint32_t) {}
void TarvoInterface::OnResponseAdded(int) {}
void TarvoInterface::OnDataReceived(std::uint32_t) {}
void TarvoInterface::OnElementRemoved(const void*) {}

}  // namespace discovery
