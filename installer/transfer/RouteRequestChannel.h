// The installer's side of the route requests: starts the elevated route
// helper on first need, serves it a pipe, writes 24-byte requests into it and
// remembers every route whose request reached the helper, so that the routes
// can be removed again at exit. One channel lives in the device table and all
// install jobs share it.
//
// The pipe's name is the installer's process id followed by a key made at
// random for each channel; the helper gets both as its arguments. Another
// local user can neither guess the name to take it first nor serve it to a
// helper. Where the system has an installed helper (the Linux package's, in
// a folder only root can write), that one is started; otherwise the copy in
// the installer's folder.
//
// Every operation runs under the channel's one lock, the flush included, so
// at most one helper is ever started and requests never interleave in the
// pipe. The pipe and the launcher are seams: the default constructor uses the
// system's, tests pass their own. The four requests are virtual so that tests
// of the install job can record them instead of starting a helper.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RouteRequest.h"
#include "platform/HelperLauncher.h"
#include "platform/RequestPipe.h"

class RouteRequestChannel {
 public:
  RouteRequestChannel();
  // processId and key name the pipe and are the helper's arguments; an empty
  // key is replaced by a random one. installedHelper is the helper to start
  // when not empty.
  RouteRequestChannel(std::unique_ptr<platform::RequestPipeServer> pipe,
                      std::unique_ptr<platform::HelperLauncher> launcher, unsigned long processId,
                      std::string key = "", std::string installedHelper = "");
  virtual ~RouteRequestChannel();
  RouteRequestChannel(const RouteRequestChannel&) = delete;
  RouteRequestChannel& operator=(const RouteRequestChannel&) = delete;

  // 1 when a connected helper is there (started now if need be), 0 otherwise.
  int EnsureHelper();

  // Addresses in network byte order; mac points to six bytes. Each returns
  // non-zero when the request was written, 0 otherwise.
  virtual int AddHostRoute(std::uint32_t destination, std::uint32_t mask, std::uint32_t nextHop,
                           std::uint32_t interfaceAddress);
  virtual int RemoveHostRoute(std::uint32_t destination, std::uint32_t mask);
  virtual int AnnounceUnitRoute(std::uint32_t interfaceAddress, const std::uint8_t* mac);
  virtual int WithdrawUnitRoute(std::uint32_t interfaceAddress, const std::uint8_t* mac);

 private:
  int send_request(const RouteRequest& request, bool remember);
  int ensure_helper_locked(const RouteRequest* request);
  void forget_ended_helper();
  int launch_helper(const RouteRequest* request);
  int wait_for_helper();
  void log_start_failure(int error, const RouteRequest* request);
  int write_request(const RouteRequest& request);
  std::string helper_path() const;

  std::unique_ptr<platform::RequestPipeServer> pipe_;
  std::unique_ptr<platform::HelperLauncher> launcher_;
  unsigned long processId_;
  std::string key_;
  std::string installedHelper_;
  std::vector<RouteRequest> requests_;
  std::mutex lock_;
};
