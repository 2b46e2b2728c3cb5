// The rig that every install-job fixture stands on: a scratch folder of its
// own (ctest runs tests side by side) holding the release and the install
// log, the simulated units, the recording route channel, the pinger, the
// release's manifest, the device table and the job context. The members are
// built in that order and destroyed in reverse, so the table's destructor
// waits for the jobs while everything they use still exists.
//
// Base is the gtest fixture class the rig derives from (testing::Test, or
// testing::TestWithParam<...> for a parameterised suite). The pinger is the
// scripted one unless the fixture asks for the program's own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "JobFakes.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "install/InstallContext.h"
#include "install/InstallJob.h"
#include "install/InstallLog.h"
#include "transfer/PackageManifest.h"
#include "units/unit_table.h"

namespace jobtest {

inline std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

enum class Pinger { kScripted, kProgramsOwn };

template <class Base = testing::Test>
class JobRig : public Base {
 protected:
  explicit JobRig(Pinger pinger = Pinger::kScripted)
      : table_(&channel_, pinger == Pinger::kScripted ? &pinger_ : nullptr) {}

  // Makes the folder (emptied) the release's and the install log's, and
  // gives the manifest its auto-install line. For SetUp, after any skip.
  void PrepareFolder(const std::string& name) {
    folder_ = testsupport::ScratchDirectory(name);
    SetInstallLogDirectoryForTesting(folder_);
    std::remove(InstallLogPath().c_str());
    channel_.Watch(&table_);
    manifest_.autoInstall = 1;
    manifest_.installScript = kDefaultInstallScript;
  }

  // PrepareFolder with the running test's name after the prefix.
  void PrepareFolderForThisTest(const std::string& prefix) {
    PrepareFolder(prefix + testing::UnitTest::GetInstance()->current_test_info()->name());
  }

  void TearDown() override { SetInstallLogDirectoryForTesting(""); }

  // Writes a release file and lists it in the manifest.
  void AddFile(const std::string& name, const std::string& content) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    manifest_.entries.push_back(ManifestEntry{std::u16string(path.begin(), path.end()),
                                              "/opt/tarvo/" + name,
                                              static_cast<std::uint32_t>(content.size())});
    manifest_.totalSize += static_cast<std::uint32_t>(content.size());
  }

  // Starts the units, each already holding the install script.
  void StartUnits(const std::vector<testsupport::SimUnit>& units) {
    for (const testsupport::SimUnit& unit : units) sim_.AddUnit(unit);
    ASSERT_TRUE(sim_.Start()) << sim_.Error();
    for (const testsupport::SimUnit& unit : units) sim_.StoreInstallScript(unit.address);
  }

  // Enters the unit as typed in by hand (Pending), reached from 127.0.0.1.
  tarvo_object* Add(const std::string& address, const std::string& gateway = std::string()) {
    const auto mac = MacOf(address);
    table_.AddOrUpdateUnit(gateway.empty() ? 0 : Address(gateway), Address("127.0.0.1"),
                           Address(address), mac.data(), 0, "???", "???");
    return FindUnit(table_, Address(address));
  }

  // Waits until the unit's own job has ended.
  bool WaitForJobOf(tarvo_object* unit, unsigned timeoutMs) {
    return table_.WaitUntil(
        [unit] { return !unit->jobActive; },
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
  }

  std::string folder_;
  testsupport::UnitSim sim_;
  RecordingChannel channel_;
  ScriptedPinger pinger_;
  PackageManifest manifest_;
  unit_table table_;
  InstallContext context_{&table_, &manifest_};
};

}  // namespace jobtest
