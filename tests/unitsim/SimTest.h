// The base of the simulator's tests: every one needs the private network
// namespace (units bind 127.0.0.2 and up, the real ports) and a running
// simulator with the units it describes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimClient.h"
#include "TestSupport.h"
#include "UnitSim.h"

namespace simtest {

using testsupport::SimUnit;

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_NETNS(); }

  // Starts the simulator; use as ASSERT_TRUE(Start({...})) << sim.Error().
  bool Start(const std::vector<testsupport::SimUnit>& units,
             const std::vector<std::string>& arguments = {}) {
    for (const auto& unit : units) sim.AddUnit(unit);
    sim.AddArguments(arguments);
    return sim.Start();
  }

  testsupport::UnitSim sim;
};

}  // namespace simtest
