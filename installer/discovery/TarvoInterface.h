// The installer's end of the units' device-link protocol: the device-link
// socket, serviced on the main thread through the program's main loop, and
// the store of the units' probe answers. The units answer the probe to this
// socket; every first answer from an address raises OnResponseAdded, which
// the installer's subclass turns into a row of the device table.
//
// The class also stands for the device-link connection layer, whose events
// are the other notification slots. The installer never opens a connection,
// so that layer is only its dispatch rule (a datagram that is not a probe
// answer comes from an address without a connection and is dropped) and the
// 500 ms timer that would service the connections under the lock.
//
// Construction starts the socket layer (version 2.0), opens and binds the
// socket and starts the timer and the read notifications; without a working
// main loop, socket layer or socket the interface stays inert: nothing is
// received and SendProbe sends nothing. A socket that cannot be bound or
// whose address cannot be read back stays open without timer or
// notifications; its probes still go out, naming port 0 for the answers.
//
// Everything runs on the main loop's thread. The loop must outlive the
// interface, or Teardown must be called while it still exists.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "DeviceLinkSocket.h"
#include "ResponseList.h"
#include "platform/MainLoop.h"
#include "platform/MessageBox.h"
#include "platform/Sockets.h"

namespace discovery {

// How the interface starts and ends the socket layer and tells the user that
// it could not start it. The program uses the platform's calls; tests
// substitute them to reach the failure path, which a working system never
// takes.
struct SocketLayerCalls {
  int (*start)(int major, int minor) = platform::StartSockets;
  void (*cleanup)() = platform::CleanupSockets;
  bool (*showMessage)(const char* caption, const char* text) = platform::ShowMessageBox;
};

// The user's message when the socket layer cannot give version 2.0.
constexpr const char* kWinsockVersionText = "Requires WINSOCK.dll version 2.0 or greater\n\r";
constexpr const char* kWinsockVersionCaption = "Winsock Version Incorrect";
// The period of the connection layer's timer.
constexpr unsigned kLinkTimerMs = 500;

class TarvoInterface {
 public:
  explicit TarvoInterface(platform::MainLoop& loop, const SocketLayerCalls& sockets = {});
  virtual ~TarvoInterface();
  TarvoInterface(const TarvoInterface&) = delete;
  TarvoInterface& operator=(const TarvoInterface&) = delete;

  // One probe run (see DeviceLinkProbe.h): 0 and nothing sent without a
  // socket, else 1.
  int SendProbe() const;
  // The stored answer at the 0-based position, or null.
  const Response* ResponseAt(int position) const { return responses_.At(position); }
  int responseCount() const { return responses_.count(); }

  // Stops receiving and servicing, closes the socket, ends the socket layer
  // and drops the stored answers, in that order. Later calls do nothing.
  void Teardown();

  // The state the notifications and tests see.
  bool enabled() const { return enabled_ != 0; }
  bool stopAcknowledged() const { return stopAcknowledged_ != 0; }
  bool hasSocket() const { return link_ != nullptr && link_->handle() != platform::kInvalidSocket; }
  // True while the socket's answers are received (bound, address known).
  bool listening() const { return link_ != nullptr && link_->listening(); }
  // The port and address that the probes name for the answers.
  std::uint16_t answerPort() const { return link_ != nullptr ? link_->port() : 0; }
  std::uint32_t answerAddress() const { return link_ != nullptr ? link_->address() : 0; }
  // How often the timer has serviced the connection layer.
  unsigned timerTicks() const { return timerTicks_; }

 protected:
  // The notifications, in the order of the device-link library's slots.
  // Only OnResponseAdded is ever raised here: the others belong to the
  // connection layer, which the installer leaves idle. The base does
  // nothing on any of them.
  virtual void OnConnectionNotice(std::uint32_t address);
  virtual void OnRequestAbandoned(std::uint32_t address);
  virtual void OnConnectionAccepted(std::uint32_t address);
  virtual void OnConnectionClosed(std::uint32_t address);
  // A response from a new address was stored at position n - 1.
  virtual void OnResponseAdded(int n);
  virtual void OnDataReceived(std::uint32_t address);
  virtual void OnElementRemoved(const void* element);

 private:
  bool start_sockets();
  void start_servicing();
  void on_readable();
  void on_timer();
  void acknowledge_stop();

  platform::MainLoop& loop_;
  SocketLayerCalls sockets_;
  bool socketsStarted_ = false;
  std::unique_ptr<DeviceLinkSocket> link_;
  ResponseList responses_;
  int enabled_ = 1;
  int stopAcknowledged_ = 0;
  int timerId_ = 0;
  bool watching_ = false;
  std::unique_ptr<std::mutex> lock_;
  unsigned timerTicks_ = 0;
};

}  // namespace discovery
