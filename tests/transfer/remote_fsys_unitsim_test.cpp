// RemoteFsysManipulator against simulated units on the real port 4877: files
// stored and checked by the unit, what the unit saw of each put, and every
// file-service fault knob (spoilt replies at the request and at the trailer,
// silence, a close mid-file, a slow link cancelled from another thread).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "platform/Sockets.h"
#include "transfer/FileProtocol.h"
#include "transfer/RemoteFsysManipulator.h"

namespace {

using testsupport::SimEvent;
using testsupport::SimUnit;
using testsupport::UnitSim;

using testsupport::Address;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + i / 977);
  return bytes;
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class RemoteFsysUnitSimTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    ZEQ_REQUIRE_UNITSIM();
    folder_ = testsupport::ScratchDirectory("remote_fsys_unitsim");
  }

  void StartUnits(const std::vector<SimUnit>& units) {
    for (const SimUnit& unit : units) sim_.AddUnit(unit);
    ASSERT_TRUE(sim_.Start()) << sim_.Error();
  }

  std::u16string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return std::u16string(path.begin(), path.end());
  }

  int Put(RemoteFsysManipulator& link, const std::u16string& file, const std::string& remote) {
    return link.PutFile(file, remote, 0, buffer_.data(), buffer_.size());
  }

  std::string folder_;
  UnitSim sim_;
  std::array<std::uint8_t, RemoteFsysManipulator::kBufferSize> buffer_{};
};

TEST_F(RemoteFsysUnitSimTest, UnitStoresAndChecksEveryFileOfOneConnection) {
  const std::string unit = "127.0.0.2";
  StartUnits({SimUnit(unit)});
  const std::string contents[] = {Pattern(0), Pattern(1500), Pattern(100000)};
  const std::string remotes[] = {"/opt/x/empty", "/opt/x/exact", "/opt/x/big.bin"};
  RemoteFsysManipulator link;
  ASSERT_EQ(link.Connect(Address(unit)), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Put(link, WriteFile("f" + std::to_string(i), contents[i]), remotes[i]), 0) << i;
  }
  link.Close();
  ASSERT_TRUE(sim_.WaitForCount("file", unit, 3, 5000));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ReadAll(sim_.StoredPath(unit, remotes[i])), contents[i]) << remotes[i];
  }
  const std::vector<SimEvent> puts = sim_.Events("put", unit);
  ASSERT_EQ(puts.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(puts[i].Str("name"), remotes[i]);
    EXPECT_EQ(puts[i].Int("size"), static_cast<long long>(contents[i].size()));
    EXPECT_EQ(puts[i].Int("mode"), 511);
    EXPECT_EQ(puts[i].Int("options"), 0);
    EXPECT_TRUE(puts[i].Bool("reserved_zero"));
    EXPECT_GT(puts[i].Int("modified"), 1600000000);
  }
  for (const SimEvent& file : sim_.Events("file", unit)) {
    EXPECT_EQ(file.Str("crc"), "ok") << file.line;
    EXPECT_TRUE(file.Bool("stored")) << file.line;
  }
  EXPECT_EQ(sim_.Events("connect", unit).size(), 1u);
}

TEST_F(RemoteFsysUnitSimTest, SpoiltRepliesAtRequestAndTrailer) {
  struct Fault {
    const char* knob;
    int result;
  };
  const Fault faults[] = {
      {"fs-fault=crc", kFileReplyBadCheck},
      {"fs-fault=len13", kFileReplyBadLength},
      {"fs-fault=errflag", kFileReplyErrorFlag},
      {"fs-fault=status:9", 9},
  };
  std::vector<SimUnit> units;
  std::vector<std::pair<std::string, int>> expected;
  int host = 2;
  for (const Fault& fault : faults) {
    for (const char* where : {"request", "trailer"}) {
      const std::string address = "127.0.0." + std::to_string(host++);
      units.push_back(SimUnit(address).Knob(fault.knob).Knob(std::string("fs-fault-at=") + where));
      expected.emplace_back(address, fault.result);
    }
  }
  StartUnits(units);
  const std::u16string file = WriteFile("spoilt.bin", Pattern(3000));
  for (const auto& [address, result] : expected) {
    SCOPED_TRACE(address);
    RemoteFsysManipulator link;
    ASSERT_EQ(link.Connect(Address(address)), 0);
    EXPECT_EQ(Put(link, file, "/s.bin"), result);
    link.Close();
  }
}

TEST_F(RemoteFsysUnitSimTest, SilentUnitFailsAfterTheWaitAndTheConnectionCloses) {
  const std::string unit = "127.0.0.2";
  StartUnits({SimUnit(unit).Knob("fs-silent")});
  RemoteFsysManipulator link;
  link.setReceiveWaitForTesting(200);
  ASSERT_EQ(link.Connect(Address(unit)), 0);
  EXPECT_EQ(Put(link, WriteFile("silent.bin", Pattern(10)), "/s"), -1);
  EXPECT_TRUE(sim_.WaitForEvent("fs_silent_end", unit, 5000)) << "the unit saw the close";
  EXPECT_NE(Put(link, WriteFile("silent.bin", Pattern(10)), "/s"), 0);
}

TEST_F(RemoteFsysUnitSimTest, UnitClosingMidFileFailsThePut) {
  const std::string unit = "127.0.0.2";
  StartUnits({SimUnit(unit).Knob("fs-close-after=3000")});
  RemoteFsysManipulator link;
  ASSERT_EQ(link.Connect(Address(unit)), 0);
  EXPECT_NE(Put(link, WriteFile("mid.bin", Pattern(200000)), "/m"), 0);
  link.Close();
  EXPECT_TRUE(sim_.WaitForEvent("close_mid_file", unit, 5000));
}

TEST_F(RemoteFsysUnitSimTest, MissingLocalFileSendsTheNoticeAndFails) {
  const std::string unit = "127.0.0.2";
  StartUnits({SimUnit(unit)});
  RemoteFsysManipulator link;
  ASSERT_EQ(link.Connect(Address(unit)), 0);
  const std::string missing = folder_ + "/not-there";
  EXPECT_EQ(Put(link, std::u16string(missing.begin(), missing.end()), "/n"), 2);
  SimEvent notice;
  ASSERT_TRUE(sim_.WaitForEvent("fs_error_notice", unit, 5000, &notice));
  EXPECT_EQ(notice.Int("error"), 2);
  EXPECT_TRUE(notice.Bool("check_ok"));
  link.Close();
}

TEST_F(RemoteFsysUnitSimTest, CloseFromAnotherThreadAbortsASlowPut) {
  // At 200 kB/s the 4 MB file would take 20 seconds.
  const std::string unit = "127.0.0.2";
  StartUnits({SimUnit(unit).Knob("rate=200000")});
  struct Progress : RemoteFsysManipulatorProgressInterface {
    std::atomic<std::uint32_t> sent{0};
    void ReportProgress(std::uint32_t done, std::uint32_t, std::uint32_t) override { sent = done; }
  } progress;
  RemoteFsysManipulator link;
  link.SetProgressInterface(&progress);
  ASSERT_EQ(link.Connect(Address(unit)), 0);
  const std::u16string file = WriteFile("slow.bin", Pattern(4000000));
  std::thread canceller([&] {
    while (progress.sent < 500000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    link.Close();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(Put(link, file, "/slow"), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_LT(progress.sent.load(), 4000000u);
  canceller.join();
}

// A unit that reads at 200 kB/s: the reported count follows what it has
// taken, never more than two seconds of its rate ahead, instead of what the
// socket buffers hold (which put a 1.2 MB file at 100 % after a moment).
TEST_F(RemoteFsysUnitSimTest, ProgressFollowsWhatASlowUnitHasTaken) {
  constexpr double kRate = 200000;
  constexpr std::uint32_t kSize = 1200000;
  const std::string unit = "127.0.0.2";
  StartUnits({SimUnit(unit).Knob("rate=200000")});
  struct Progress : RemoteFsysManipulatorProgressInterface {
    using Clock = std::chrono::steady_clock;
    void ReportProgress(std::uint32_t done, std::uint32_t, std::uint32_t) override {
      if (done == 0) start = Clock::now();
      const std::chrono::duration<double> since = Clock::now() - start;
      worstLead = std::max(worstLead, done / kRate - since.count());
      last = done;
    }
    Clock::time_point start = Clock::now();
    double worstLead = -1e9;  // seconds of the unit's rate
    std::uint32_t last = 0;
  } progress;
  RemoteFsysManipulator link;
  link.SetProgressInterface(&progress);
  ASSERT_EQ(link.Connect(Address(unit)), 0);
  EXPECT_EQ(Put(link, WriteFile("slow.bin", Pattern(kSize)), "/opt/x/slow.bin"), 0);
  link.Close();
  EXPECT_EQ(progress.last, kSize);
  EXPECT_LE(progress.worstLead, 2.0) << "seconds ahead of what the unit can have read";
}

}  // namespace
