// Many install jobs at once against simulated units on loopback: every job
// ends in "Success", every unit ran its script once, and the install log,
// which all jobs write at the same moment, holds only whole lines, each
// unit's at most once. Up to about two hundred units the log stays under its
// size limit, so every unit's line must be there; beyond that the log starts
// afresh whenever it has grown past 10,240 bytes, as it is meant to, and
// what is left must be what the last fresh start kept.
//
// Labelled slow: without ZEQ_FULL=1 it runs 100 units (which is also the
// size that ThreadSanitizer checks), with it 500.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "../job/JobFakes.h"
#include "../job/JobRig.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "install/InstallJob.h"
#include "install/InstallLog.h"
#include "transfer/PackageManifest.h"
#include "units/unit_table.h"

namespace {

constexpr std::size_t kLogLimit = 10240;

int UnitCount() {
  const char* full = std::getenv("ZEQ_FULL");
  return full != nullptr && std::strcmp(full, "1") == 0 ? 500 : 100;
}

// The n-th unit's address as unitsim numbers them: 127.0.0.2 and up.
std::string UnitAddress(int n) {
  const int value = n + 2;
  return "127.0." + std::to_string(value / 256) + "." + std::to_string(value % 256);
}

// The log's lines without their ends (LF, or CR LF on Windows, where the
// log is written in text mode), and the file's size.
std::vector<std::string> Lines(const std::string& path, std::size_t* bytes) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  *bytes = 0;
  for (std::string line; std::getline(file, line);) {
    *bytes += line.size() + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class ScaleTest : public jobtest::JobRig<> {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    ZEQ_REQUIRE_UNITSIM();
    PrepareFolder("scale");
    AddFile("payload.bin", std::string(20000, 's'));
  }
};

TEST_F(ScaleTest, EveryJobSucceedsAndTheLogKeepsWholeLines) {
  const int units = UnitCount();
  sim_.AddUnits(units);
  ASSERT_TRUE(sim_.Start(60000)) << sim_.Error();
  std::vector<tarvo_object*> added;
  for (int n = 0; n < units; ++n) {
    const std::string address = UnitAddress(n);
    sim_.StoreInstallScript(address);
    added.push_back(Add(address));
  }
  ASSERT_NE(StartInstallJobs(context_), 0u);
  ASSERT_TRUE(table_.WaitForJobs(300000)) << "a job did not end";

  std::map<std::string, int> outcomes;
  table_.Lock();
  for (tarvo_object* unit : added) {
    ++outcomes[unit->statusText + (unit->state == InstallState::Finished ? "" : " (not Finished)")];
  }
  table_.Unlock();
  EXPECT_EQ(outcomes, (std::map<std::string, int>{{"Success", units}}));
  EXPECT_EQ(sim_.Events("install").size(), static_cast<std::size_t>(units));

  const std::regex whole(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d (127\.0\.\d+\.\d+) Install Started)");
  std::map<std::string, int> logged;
  std::size_t bytes = 0;
  for (const std::string& line : Lines(InstallLogPath(), &bytes)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, whole)) << "not a whole line: " << line;
    ++logged[match[1]];
  }
  for (const auto& [address, count] : logged) EXPECT_EQ(count, 1) << address;
  // The log grows past its limit by one line at most before it starts again.
  EXPECT_LE(bytes, kLogLimit + 64);
  if (units * 64 <= static_cast<int>(kLogLimit)) {
    EXPECT_EQ(logged.size(), static_cast<std::size_t>(units)) << "a line was lost";
  } else {
    EXPECT_GT(bytes, 0u);
  }
}

}  // namespace
