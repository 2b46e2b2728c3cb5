// The run's event lines: each a flat JSON object with its time, waves
// numbered from 1, a status told once per change, percentages at most once
// a second per unit and as numbers, unit texts escaped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "shell/RunEvents.h"

namespace {

using std::chrono::milliseconds;
using testsupport::AddressOfOctets;
using testsupport::SimEvent;

class RunEventsTest : public testing::Test {
 protected:
  RunEventsTest() : events_(file_.get(), [this] { return now_; }) {}

  std::vector<SimEvent> Lines() {
    std::vector<SimEvent> lines;
    std::istringstream stream(file_.Text());
    for (std::string line; std::getline(stream, line);) {
      SimEvent event;
      EXPECT_TRUE(testsupport::ParseSimEvent(line, &event)) << line;
      lines.push_back(event);
    }
    return lines;
  }

  testsupport::CapturedStream file_;
  std::chrono::steady_clock::time_point now_{};
  RunEvents events_;
};

TEST_F(RunEventsTest, WavesAndStatusChangesAreToldOnce) {
  const std::uint32_t unit = AddressOfOctets(127, 0, 0, 5);
  events_.WaveStarted(2);
  now_ += milliseconds(800);
  events_.Status(unit, "Connecting");
  events_.Status(unit, "Connecting");  // a redraw of the same text
  events_.Status(unit, "");
  events_.Status(unit, "Fa\"iled\n");
  events_.WaveEnded();
  events_.WaveStarted(1);
  const std::vector<SimEvent> lines = Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].event(), "wave_start");
  EXPECT_EQ(lines[0].Int("wave"), 1);
  EXPECT_EQ(lines[0].Int("units"), 2);
  EXPECT_EQ(lines[0].Int("ms"), 0);
  EXPECT_FALSE(lines[0].Str("time").empty());
  EXPECT_EQ(lines[1].event(), "status");
  EXPECT_EQ(lines[1].unit(), "127.0.0.5");
  EXPECT_EQ(lines[1].Str("status"), "Connecting");
  EXPECT_EQ(lines[1].Int("ms"), 800);
  EXPECT_EQ(lines[2].Str("status"), "Fa\"iled\n");
  EXPECT_EQ(lines[3].event(), "wave_end");
  EXPECT_EQ(lines[3].Int("wave"), 1);
  EXPECT_EQ(lines[4].Int("wave"), 2);
}

TEST_F(RunEventsTest, PercentagesAtMostOnceASecondPerUnit) {
  const std::uint32_t first = AddressOfOctets(127, 0, 0, 2);
  const std::uint32_t second = AddressOfOctets(127, 0, 0, 3);
  events_.Status(first, "10.0%");
  events_.Status(second, "20.0%");
  now_ += milliseconds(999);
  events_.Status(first, "50.0%");  // too soon
  now_ += milliseconds(1);
  events_.Status(first, "60.5%");
  events_.Status(first, "Installing..");  // any other text at once
  const std::vector<SimEvent> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].event(), "progress");
  EXPECT_EQ(lines[0].Str("percent"), "10.0");
  EXPECT_EQ(lines[1].unit(), "127.0.0.3");
  EXPECT_EQ(lines[2].Str("percent"), "60.5");
  EXPECT_EQ(lines[3].Str("status"), "Installing..");
}

// The verify phase's lines, byte for byte after their clock fields.
TEST_F(RunEventsTest, VerifyPhaseIsToldWithItsCounts) {
  events_.VerifyStarted(2, 60);
  now_ += milliseconds(4100);
  events_.Verified(AddressOfOctets(127, 0, 0, 2), "2.1 \"b\"");
  events_.VerifyEnded(1, 1);
  std::vector<std::string> tails;
  std::istringstream stream(file_.Text());
  for (std::string line; std::getline(stream, line);)
    tails.push_back(line.substr(line.find("\"event\"")));
  EXPECT_EQ(tails,
            (std::vector<std::string>{
                "\"event\":\"verify_start\",\"units\":2,\"seconds\":60}",
                "\"event\":\"verified\",\"unit\":\"127.0.0.2\",\"version\":\"2.1 \\\"b\\\"\"}",
                "\"event\":\"verify_end\",\"verified\":1,\"not_verified\":1}"}));
  EXPECT_EQ(Lines()[1].Int("ms"), 4100);
}

}  // namespace
