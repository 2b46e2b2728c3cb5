// Install jobs with the program's own route channel and pinger against
// simulated units inside the test's namespace: the channel starts the real
// pathkeeper from the test's folder, and the helper changes the namespace's
// routing table and broadcasts the unit-route records that the simulator
// hears. A unit whose echo replies are dropped gets the unit-route
// announcement and withdrawal around its job; the host route it asks for is
// refused by the helper, since the simulated units' addresses are this
// machine's own (routes across real links are the route table test's and
// the demo's). A unit that answers the ping gets no route traffic at all.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "../HelperFolder.h"
#include "SystemRoutes.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "install/InstallJob.h"
#include "install/InstallLog.h"
#include "platform/Sockets.h"
#include "transfer/PackageManifest.h"
#include "units/unit_table.h"

namespace {

using systemroutes::Routes;
using testsupport::SimEvent;
using testsupport::SimUnit;

bool HasHostRoute(const std::string& routes, const std::string& address) {
  return ("\n" + routes).find("\n" + address + " ") != std::string::npos;
}

std::uint32_t Address(const std::string& text) {
  std::uint32_t value = 0;
  platform::ParseAddress(text.c_str(), &value);
  return value;
}

// The simulator's default MAC for a unit: 02:00 and the address's octets.
struct UnitMac {
  explicit UnitMac(const std::string& address) {
    const std::uint32_t value = Address(address);
    std::memcpy(bytes + 2, &value, 4);
    char buffer[18];
    std::snprintf(buffer, sizeof buffer, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1],
                  bytes[2], bytes[3], bytes[4], bytes[5]);
    text = buffer;
  }
  std::uint8_t bytes[6] = {2, 0};
  std::string text;
};

class InstallJobRouteTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    ZEQ_REQUIRE_UNITSIM();
    folder_ = std::make_unique<HelperFolder>();
    SetInstallLogDirectoryForTesting(".");
    std::ofstream("payload.bin", std::ios::binary) << std::string(30000, 'p');
    manifest_.entries.push_back(ManifestEntry{u"payload.bin", "/opt/tarvo/payload.bin", 30000});
    manifest_.totalSize = 30000;
    manifest_.autoInstall = 1;
    manifest_.installScript = kDefaultInstallScript;
  }
  void TearDown() override {
    table_.reset();
    SetInstallLogDirectoryForTesting("");
    folder_.reset();
  }

  tarvo_object* Add(const std::string& address) {
    const UnitMac mac(address);
    table_->AddOrUpdateUnit(0, Address("127.0.0.1"), Address(address), mac.bytes, 0, "???", "???");
    tarvo_object* unit = nullptr;
    table_->Lock();
    for (std::size_t i = 0; i < table_->getCount(); ++i) {
      if (table_->getAddressUnit(i)->address == Address(address)) unit = table_->getAddressUnit(i);
    }
    table_->Unlock();
    return unit;
  }

  // Samples the routing table until every job has ended; the addresses that
  // had a host route at some point.
  std::set<std::string> RoutesSeenDuringJobs(const std::vector<std::string>& addresses) {
    std::set<std::string> seen;
    for (bool ended = false; !ended;) {
      ended = table_->WaitForJobs(20);
      const std::string routes = Routes();
      for (const std::string& address : addresses) {
        if (HasHostRoute(routes, address)) seen.insert(address);
      }
      if (std::chrono::steady_clock::now() > deadline_) break;
    }
    return seen;
  }

  std::unique_ptr<HelperFolder> folder_;
  PackageManifest manifest_;
  testsupport::UnitSim sim_;
  // The program's own table: it makes the real route channel and pinger.
  std::unique_ptr<unit_table> table_ = std::make_unique<unit_table>();
  std::chrono::steady_clock::time_point deadline_ =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
};

TEST_F(InstallJobRouteTest, UnitThatDoesNotAnswerThePingGetsItsRouteRequestsAroundItsJob) {
  sim_.AddUnit(SimUnit("127.0.0.2").Knob("no-echo").Knob("rate=60000"));
  sim_.AddUnit(SimUnit("127.0.0.3").Knob("rate=60000"));
  ASSERT_TRUE(sim_.Start()) << sim_.Error();
  sim_.StoreInstallScript("127.0.0.2");
  sim_.StoreInstallScript("127.0.0.3");
  tarvo_object* hidden = Add("127.0.0.2");
  tarvo_object* direct = Add("127.0.0.3");
  const InstallContext context{table_.get(), &manifest_};
  ASSERT_FALSE(HasHostRoute(Routes(), "127.0.0.2"));

  ASSERT_NE(StartInstallJobs(context), 0u);
  const std::set<std::string> seen = RoutesSeenDuringJobs({"127.0.0.2", "127.0.0.3"});
  ASSERT_TRUE(table_->WaitForJobs(0)) << "a job did not end";
  EXPECT_TRUE(seen.empty()) << "no host route to an address of this machine";
  table_->Lock();
  EXPECT_EQ(hidden->statusText, "Success");
  EXPECT_EQ(direct->statusText, "Success");
  table_->Unlock();

  // The helper's broadcasts reached the units: the announcement for the
  // hidden unit before its login, its withdrawal after its job, nothing for
  // the unit that answered.
  ASSERT_TRUE(sim_.WaitFor(
      [](const SimEvent& e) { return e.event() == "route" && e.Int("Mode") == 1; }, 5000));
  std::vector<long long> modes;
  for (const SimEvent& event : sim_.Events("route", "127.0.0.2")) {
    EXPECT_EQ(event.Str("MAC"), UnitMac("127.0.0.2").text);
    EXPECT_EQ(event.Str("RemoteIP"), "127.0.0.1");
    modes.push_back(event.Int("Mode"));
  }
  EXPECT_EQ(modes, (std::vector<long long>{0, 1}));
  EXPECT_TRUE(sim_.Events("route", "127.0.0.3").empty());
  SimEvent login;
  ASSERT_TRUE(sim_.WaitForEvent("login", "127.0.0.2", 1000, &login));
  EXPECT_LT(sim_.Events("route", "127.0.0.2").front().Int("t"), login.Int("t"));
  EXPECT_EQ(folder_->Log(),
            "Skipped route request 1 for 127.0.0.2 mask 255.255.255.255: not a unit's address\n");
}

}  // namespace
