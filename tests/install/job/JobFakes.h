// Stand-ins that install-job tests put around a job: a route channel that
// records every request (with the unit's status text at that moment, which
// places the request among the job's steps), a pinger whose answers the test
// scripts and which can hold pings until the test lets them go, a watcher
// that collects the status texts a unit shows, and a telnet shell that logs
// in and then holds the install script until the job goes away.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "install/JobReport.h"
#include "platform/Sockets.h"
#include "transfer/EchoPinger.h"
#include "transfer/RouteRequestChannel.h"
#include "units/unit_table.h"

namespace jobtest {

std::uint32_t Address(const std::string& text);
// The MAC the simulator gives a unit by default, and the tests enter: 02:00
// and the address's octets.
std::array<std::uint8_t, 6> MacOf(const std::string& address);
// The table's record of the address, or null; takes the lock.
tarvo_object* FindUnit(unit_table& table, std::uint32_t address);

struct RouteCall {
  std::string kind;  // "add", "remove", "announce" or "withdraw"
  std::uint32_t destination = 0;
  std::uint32_t mask = 0;
  std::uint32_t nextHop = 0;
  std::uint32_t interfaceAddress = 0;
  std::array<std::uint8_t, 6> mac{};
  std::string unitStatus;  // of the unit named by destination or MAC
  std::chrono::steady_clock::time_point at;
};

class RecordingChannel : public RouteRequestChannel {
 public:
  // The table whose units the status texts are read from; set before use.
  void Watch(unit_table* table) { table_ = table; }
  // Answers adds and announcements as a channel whose helper never started.
  void FailAdds() { addsFail_ = true; }
  int AddHostRoute(std::uint32_t destination, std::uint32_t mask, std::uint32_t nextHop,
                   std::uint32_t interfaceAddress) override;
  int RemoveHostRoute(std::uint32_t destination, std::uint32_t mask) override;
  int AnnounceUnitRoute(std::uint32_t interfaceAddress, const std::uint8_t* mac) override;
  int WithdrawUnitRoute(std::uint32_t interfaceAddress, const std::uint8_t* mac) override;
  // The calls that concern one unit (by its address or its MAC), in order.
  std::vector<RouteCall> CallsFor(std::uint32_t unit, const std::uint8_t* mac);
  std::size_t CallCount();

 private:
  void record(RouteCall call, std::uint32_t unit, const std::uint8_t* mac);
  int record_unit_route(const char* kind, std::uint32_t interfaceAddress, const std::uint8_t* mac);

  unit_table* table_ = nullptr;
  std::atomic<bool> addsFail_{false};
  std::mutex mutex_;
  std::vector<RouteCall> calls_;
};

class ScriptedPinger : public EchoPinger {
 public:
  // Addresses that get no answer; every other address answers.
  void Silence(std::uint32_t address);
  // Holds every ping until Release (or until `count` pings are held at once,
  // when count is not 0), at most for timeoutMs.
  void HoldUntil(int count, unsigned timeoutMs);
  void Release();
  // Waits until at least `count` pings are being held.
  bool WaitHeld(int count, unsigned timeoutMs);
  int MostHeldAtOnce();
  platform::IcmpEchoReply Ping(std::uint32_t address, unsigned timeoutMs, std::uint8_t ttl,
                               unsigned payloadSize) override;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::uint32_t> silent_;
  bool holding_ = false;
  int releaseAt_ = 0;
  unsigned holdMs_ = 0;
  int held_ = 0;
  int mostHeld_ = 0;
};

// Collects the distinct status texts of one unit, polling every millisecond.
class StatusTrail {
 public:
  StatusTrail(unit_table& table, tarvo_object* unit);
  ~StatusTrail();
  std::vector<std::string> Stop();
  // The last text seen so far.
  std::string Latest();

 private:
  void Poll();
  void Sample();

  unit_table& table_;
  tarvo_object* unit_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

// A unit shell on port 23 of an address: prompts for login and password,
// answers every command with a prompt, and holds the command equal to
// holdLine, answering nothing until the client closes the connection.
class HoldingShell {
 public:
  HoldingShell(const std::string& address, const std::string& holdLine);
  ~HoldingShell();
  bool listening() const { return listener_ != platform::kInvalidSocket; }
  bool WaitHolding(unsigned timeoutMs);
  // True once the client closed the connection while it was held.
  bool WaitClosed(unsigned timeoutMs);

 private:
  void Serve();
  bool ReadLine(platform::SocketHandle socket, std::string* line);
  void Say(platform::SocketHandle socket, const std::string& text);

  std::string holdLine_;
  platform::SocketHandle listener_ = platform::kInvalidSocket;
  std::atomic<bool> holding_{false};
  std::atomic<bool> closed_{false};
  std::thread thread_;
};

}  // namespace jobtest
