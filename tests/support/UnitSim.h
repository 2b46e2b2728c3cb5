// The test fixture for simulated units: starts the unitsim program with the
// units a test describes, waits until every unit is up, reads the simulator's
// event log, and stops it. It uses only the platform seam, so the same fixture
// serves native Linux tests and Windows tests under wine (wine starts the
// Linux program, but can neither signal it nor read its exit code).
//
// Lifetime: the fixture listens on 127.0.0.1 and passes that address with
// --control; unitsim connects once all units are up and sends "ready" (or
// "error TEXT"), and ends when the connection closes. So Stop() only closes
// it, and a test that crashes leaves no simulator behind. unitsim's last event
// is "exit", which is how Stop() sees the end where waiting for the process
// is not possible. Its folder (log and stored files, under the build's
// test-scratch) is removed at destruction unless the test has failed.
//
//   testsupport::UnitSim sim;
//   sim.AddUnit(testsupport::SimUnit("127.0.0.2").Group("North").Knob("exit=3"));
//   ASSERT_TRUE(sim.Start()) << sim.Error();
//   ... talk to 127.0.0.2 ...
//   ASSERT_TRUE(sim.WaitForEvent("install", "127.0.0.2", 5000));
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace platform {
struct ProcessHandle;
}

namespace testsupport {

// One unit as the simulator's --unit DESC describes it. Empty or zero fields
// leave the simulator's defaults: the address after the previous unit's
// (127.0.0.2 first), the node from the unit's place, group "Default", no
// version, a MAC of 02:00 and the address, no gateway.
struct SimUnit {
  explicit SimUnit(std::string unitAddress = std::string()) : address(std::move(unitAddress)) {}
  SimUnit& Node(int value) {
    node = value;
    return *this;
  }
  SimUnit& Group(const std::string& value) {
    group = value;
    return *this;
  }
  SimUnit& Version(const std::string& value) {
    version = value;
    return *this;
  }
  SimUnit& Mac(const std::string& value) {
    mac = value;
    return *this;
  }
  SimUnit& Gateway(const std::string& value) {
    gateway = value;
    return *this;
  }
  // A knob or further key as unitsim --help lists them: "refuse-password",
  // "exit=3", "fs-fault=status:9", ...
  SimUnit& Knob(const std::string& value) {
    knobs.push_back(value);
    return *this;
  }

  std::string address;
  int node = 0;
  std::string group;
  std::string version;
  std::string mac;
  std::string gateway;
  std::vector<std::string> knobs;

  std::string Description() const;
};

// One line of the event log. Values are kept as text: strings decoded to
// their bytes, numbers and true/false as written.
struct SimEvent {
  std::string line;
  std::map<std::string, std::string> fields;

  std::string event() const { return Str("event"); }
  std::string unit() const { return Str("unit"); }
  bool Has(const std::string& key) const { return fields.count(key) != 0; }
  std::string Str(const std::string& key) const;
  long long Int(const std::string& key, long long missing = -1) const;
  bool Bool(const std::string& key) const { return Str(key) == "true"; }
};

// Parses one flat JSON object; false when the line is not one.
bool ParseSimEvent(const std::string& line, SimEvent* event);

class UnitSim {
 public:
  UnitSim();
  ~UnitSim();
  UnitSim(const UnitSim&) = delete;
  UnitSim& operator=(const UnitSim&) = delete;

  // Before Start: the units and any further command-line arguments
  // ("--telnet-port", "2323").
  void AddUnit(const SimUnit& unit);
  void AddUnits(int count);
  void AddArguments(const std::vector<std::string>& arguments);

  // Starts unitsim and waits until it reports ready; false (see Error()) when
  // it could not be started, reported an error or did not get ready in time.
  bool Start(unsigned timeoutMs = 20000);
  // Closes the control connection and waits for the simulator's end; false
  // when it did not end in time (it is then asked to terminate).
  bool Stop(unsigned timeoutMs = 10000);
  bool running() const { return process_ != nullptr; }
  const std::string& Error() const { return error_; }

  // Every event logged so far, in order.
  const std::vector<SimEvent>& Events();
  // The events of one kind, optionally of one unit.
  std::vector<SimEvent> Events(const std::string& event, const std::string& unit = "");
  // Waits until an event matches; true and a copy in *found when one did.
  bool WaitFor(const std::function<bool(const SimEvent&)>& match, unsigned timeoutMs,
               SimEvent* found = nullptr);
  bool WaitForEvent(const std::string& event, const std::string& unit, unsigned timeoutMs,
                    SimEvent* found = nullptr);
  // Waits until at least `count` events of that kind (of that unit) were logged.
  bool WaitForCount(const std::string& event, const std::string& unit, std::size_t count,
                    unsigned timeoutMs);

  // The folder under which a unit stores the files it receives, and the
  // local path of one remote path there.
  std::string UnitFolder(const std::string& address) const;
  std::string StoredPath(const std::string& address, const std::string& remotePath) const;
  // Puts a file on a unit as if it had been copied there already.
  void StoreFile(const std::string& address, const std::string& remotePath,
                 const std::string& content) const;
  // Puts a small install script (with DOS line ends, for textto to turn)
  // where a unit keeps the release's script, as if a job had copied it.
  void StoreInstallScript(const std::string& address) const;
  const std::string& LogPath() const { return logPath_; }
  // The exit code once the simulator has ended, where the platform can tell
  // it (not under wine).
  bool ExitCode(int* code);

  // Where the unitsim program is: $ZEQ_UNITSIM, else the build's own.
  static std::string ProgramPath();
  static bool ProgramExists();

 private:
  bool WaitReady(std::uintptr_t listener, unsigned timeoutMs);
  bool ReadControlLine(unsigned timeoutMs, std::string* line);
  void ReadNewEvents();
  bool Ended();

  std::vector<std::string> units_;
  std::vector<std::string> extra_;
  std::string folder_;
  std::string logPath_;
  std::string filesRoot_;
  platform::ProcessHandle* process_ = nullptr;
  std::uintptr_t control_;
  std::string error_;
  std::vector<SimEvent> events_;
  long long logOffset_ = 0;
  bool hasExitCode_ = false;
  int exitCode_ = 0;
};

}  // namespace testsupport

// Skips a test that needs the simulator when it is not there (a Windows
// build names a Linux build's with -DZEQ_UNITSIM); in CI it fails instead.
#define ZEQ_REQUIRE_UNITSIM()                                                          \
  do {                                                                                 \
    if (!testsupport::UnitSim::ProgramExists()) {                                      \
      if (testsupport::RunningInCi())                                                  \
        FAIL() << "no unitsim at " << testsupport::UnitSim::ProgramPath();             \
      GTEST_SKIP() << "no unitsim at " << testsupport::UnitSim::ProgramPath()          \
                   << " (a Windows build names a Linux build's with -DZEQ_UNITSIM)";   \
    }                                                                                  \
  } while (0)
