// The shared event counters, within one process and between two. The second
// process is this test program itself, run with a filter that selects one of
// the DISABLED_ child cases below.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DebugLog.h"
#include "platform/Files.h"
#include "platform/Threads.h"

namespace {

std::uint32_t Counter(int event) {
  std::uint32_t value;
  std::memcpy(&value, reinterpret_cast<unsigned char*>(ZEQ::DebugLog::getHeader()) + 28 + 4 * event,
              sizeof value);
  return value;
}

std::uint32_t HeaderProcessId() { return ZEQ::DebugLog::getHeader()->processId; }

// Runs one child case of this program in a second process; true on success.
bool RunChild(const char* caseName) {
  const std::string command = "\"" + platform::ProgramPath() +
                              "\" --gtest_also_run_disabled_tests --gtest_filter=DebugLogChild.DISABLED_" +
                              caseName;
  return std::system(command.c_str()) == 0;
}

TEST(DebugLogTest, WithoutACurrentLogNothingIsCounted) {
  EXPECT_EQ(ZEQ::DebugLog::getHeader(), nullptr);
  ZEQ::DebugLog::RecordEvent(5);
  EXPECT_EQ(ZEQ::DebugLog::getHeader(), nullptr);
}

TEST(DebugLogTest, CreatedBlockHoldsProcessIdAndZeroedCounters) {
  ZEQ::DebugLog log;
  ASSERT_TRUE(ZEQ::DebugLog::Initialize(&log, true));
  EXPECT_EQ(HeaderProcessId(), static_cast<std::uint32_t>(platform::CurrentProcessId()));
  for (int event = 0; event < ZEQ::DebugLog::kCounterCount; ++event) ASSERT_EQ(Counter(event), 0u);
  for (int i = 0; i < 3; ++i) ZEQ::DebugLog::RecordEvent(1);
  EXPECT_EQ(Counter(1), 3u);
  // Events outside the 1017 counters are ignored rather than written beyond
  // the block.
  ZEQ::DebugLog::RecordEvent(1017);
  ZEQ::DebugLog::RecordEvent(-1);
  EXPECT_EQ(Counter(0), 0u);
  ZEQ::DebugLog::RecordEvent(1016);
  EXPECT_EQ(Counter(1016), 1u);
  ZEQ::DebugLog::Deinitialize(&log);
  EXPECT_EQ(ZEQ::DebugLog::getHeader(), nullptr);
}

TEST(DebugLogTest, OpeningWithoutABlockFailsAndLeavesNoLog) {
  ZEQ::DebugLog log;
  EXPECT_FALSE(ZEQ::DebugLog::Initialize(&log, false));
  EXPECT_EQ(ZEQ::DebugLog::getHeader(), nullptr);
}

TEST(DebugLogTest, SecondProcessCountsIntoTheSameBlock) {
  ZEQ::DebugLog log;
  ASSERT_TRUE(ZEQ::DebugLog::Initialize(&log, true));
  ZEQ::DebugLog::RecordEvent(7);
  ASSERT_TRUE(RunChild("OpensAndCountsEventSevenFiveTimes"));
  EXPECT_EQ(Counter(7), 6u);
  ZEQ::DebugLog::Deinitialize(&log);
}

TEST(DebugLogTest, SecondCreatorGetsTheSameBlockZeroedWithItsProcessId) {
  ZEQ::DebugLog log;
  ASSERT_TRUE(ZEQ::DebugLog::Initialize(&log, true));
  ZEQ::DebugLog::RecordEvent(2);
  ASSERT_TRUE(RunChild("CreatesAndCountsEventThree"));
  EXPECT_EQ(Counter(2), 0u);
  EXPECT_EQ(Counter(3), 1u);
  EXPECT_NE(HeaderProcessId(), static_cast<std::uint32_t>(platform::CurrentProcessId()));
  ZEQ::DebugLog::Deinitialize(&log);
}

TEST(DebugLogChild, DISABLED_OpensAndCountsEventSevenFiveTimes) {
  ZEQ::DebugLog log;
  ASSERT_TRUE(ZEQ::DebugLog::Initialize(&log, false));
  for (int i = 0; i < 5; ++i) ZEQ::DebugLog::RecordEvent(7);
  ZEQ::DebugLog::Deinitialize(&log);
}

TEST(DebugLogChild, DISABLED_CreatesAndCountsEventThree) {
  ZEQ::DebugLog log;
  ASSERT_TRUE(ZEQ::DebugLog::Initialize(&log, true));
  ZEQ::DebugLog::RecordEvent(3);
  ZEQ::DebugLog::Deinitialize(&log);
}

}  // namespace
