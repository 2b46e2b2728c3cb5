// The device table on its own: entering and merging units by the rules the
// discovery replies, the device-link responses and the "Add" button rely on,
// both orders kept through growth, cancel, the progress percentage, and the
// bounded wait for job threads when the table is destroyed.
#include "units/unit_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "platform/Sockets.h"
#include "units/DisplayOrder.h"

namespace {

std::uint32_t Address(const char* text) {
  std::uint32_t address = 0;
  platform::ParseAddress(text, &address);
  return address;
}

const std::uint8_t kMacA[6] = {2, 0, 10, 0, 0, 9};
const std::uint8_t kMacB[6] = {2, 0, 1, 2, 3, 4};

class UnitTableTest : public testing::Test {
 protected:
  tarvo_object* Unit(const char* address) {
    const tarvo_object key(table_, 0, 0, Address(address), nullptr, 1, nullptr, nullptr);
    table_.Lock();
    tarvo_object** slot = table_.FindByAddress(&key);
    table_.Unlock();
    return slot ? *slot : nullptr;
  }

  // A discovery reply for 10.0.0.9 reached through 10.0.0.1.
  int Reply(std::uint32_t gateway, std::uint32_t from, int node, const char* group,
            const char* version, const std::uint8_t* mac = kMacA) {
    return table_.AddOrUpdateUnit(gateway, from, Address("10.0.0.9"), mac, node, group, version);
  }

  int AddByHand(const char* address) {
    return table_.AddOrUpdateUnit(0, 0, Address(address), nullptr, 0, "???", "???");
  }

  unit_table table_;
};

TEST_F(UnitTableTest, NewUnitsStartIdleWhenDiscoveredAndPendingWhenTypedIn) {
  EXPECT_EQ(Reply(0, Address("10.0.0.1"), 7, "North", "2.1"), 1);
  EXPECT_EQ(AddByHand("10.0.0.20"), 1);
  tarvo_object* found = Unit("10.0.0.9");
  tarvo_object* typed = Unit("10.0.0.20");
  ASSERT_TRUE(found && typed);
  EXPECT_EQ(found->state, InstallState::Idle);
  EXPECT_EQ(typed->state, InstallState::Pending);
  for (tarvo_object* unit : {found, typed}) {
    EXPECT_TRUE(unit->rowChanged);
    EXPECT_TRUE(unit->statusChanged);
    EXPECT_FALSE(unit->identityChanged);
    EXPECT_EQ(unit->statusText, "");
    EXPECT_EQ(unit->bytesTotal, 0u);
    EXPECT_EQ(unit->telnetSession, nullptr);
  }
  EXPECT_EQ(0, std::memcmp(found->mac, kMacA, 6));
  EXPECT_EQ(typed->mac[0] | typed->mac[5], 0) << "no MAC given: all zero";
  EXPECT_EQ(Unit("10.0.0.21"), nullptr);
}

TEST_F(UnitTableTest, AddingAKnownUnitByHandAndARepliesRestoringIt) {
  Reply(0, Address("10.0.0.1"), 7, "North", "2.1");
  tarvo_object* unit = Unit("10.0.0.9");
  unit->state = InstallState::Finished;
  unit->statusText = "Success";
  unit->rowChanged = false;
  EXPECT_EQ(AddByHand("10.0.0.9"), 0);
  EXPECT_EQ(table_.getCount(), 1u) << "never a second record";
  EXPECT_EQ(unit->node, 0);
  EXPECT_EQ(unit->group, "???");
  EXPECT_EQ(unit->version, "???");
  EXPECT_EQ(unit->state, InstallState::Finished);
  EXPECT_EQ(unit->statusText, "Success");
  EXPECT_FALSE(unit->rowChanged) << "a merge adds no row";
  EXPECT_TRUE(unit->identityChanged) << "but its identity cells want redrawing";
  EXPECT_EQ(unit->reachedFrom, Address("10.0.0.1")) << "a reached-from of 0 changes nothing";
  EXPECT_EQ(0, std::memcmp(unit->mac, kMacA, 6)) << "no MAC given keeps the stored one";
  unit->identityChanged = false;
  EXPECT_EQ(Reply(0, Address("10.0.0.1"), 7, "North", "2.1", kMacB), 0);
  EXPECT_EQ(unit->node, 7);
  EXPECT_EQ(unit->group, "North");
  EXPECT_EQ(unit->version, "2.1");
  EXPECT_EQ(0, std::memcmp(unit->mac, kMacB, 6));
  EXPECT_TRUE(unit->identityChanged);
  unit->identityChanged = false;
  Reply(0, Address("10.0.0.1"), 7, "North", "2.1", kMacB);
  EXPECT_FALSE(unit->identityChanged) << "nothing changed, nothing to redraw";
}

TEST_F(UnitTableTest, VersionPlaceholderNeverHidesAKnownVersion) {
  Reply(0, 0, 7, "North", "2.1");
  tarvo_object* unit = Unit("10.0.0.9");
  Reply(0, 0, 7, "North", "Unknown");
  EXPECT_EQ(unit->version, "2.1");
  Reply(0, 0, 7, "North", "");
  EXPECT_EQ(unit->version, "") << "a real (empty) text replaces";
  Reply(0, 0, 7, "North", "Unknown");
  EXPECT_EQ(unit->version, "Unknown") << "the placeholder fills an empty version";
  Reply(0, 0, 7, "North", "2.2");
  EXPECT_EQ(unit->version, "2.2") << "a stored placeholder gives way";
  Reply(0, 0, 7, "north", "2.2");
  EXPECT_EQ(unit->group, "north") << "texts compare byte for byte";
  Reply(0, 0, 7, nullptr, nullptr);
  EXPECT_FALSE(unit->group.has_value()) << "a null text differs from any text";
  EXPECT_FALSE(unit->version.has_value());
  Reply(0, 0, 7, nullptr, "Unknown");
  EXPECT_EQ(unit->version, "Unknown") << "a null version counts as empty";
}

TEST_F(UnitTableTest, GatewayOfZeroSticksOnceAUnitIsReachedDirectly) {
  const std::uint32_t from = Address("10.0.0.1");
  const std::uint32_t gateway = Address("10.0.0.254");
  const std::uint32_t other = Address("10.0.0.253");
  Reply(gateway, from, 7, "North", "2.1");
  tarvo_object* unit = Unit("10.0.0.9");
  EXPECT_EQ(unit->gateway, gateway);
  Reply(other, from, 7, "North", "2.1");
  EXPECT_EQ(unit->gateway, other) << "a known gateway follows the replies";
  Reply(gateway, 0, 7, "North", "2.1");
  EXPECT_EQ(unit->gateway, other) << "reached-from 0 changes neither";
  EXPECT_EQ(unit->reachedFrom, from);
  Reply(0, Address("10.0.0.2"), 7, "North", "2.1");
  EXPECT_EQ(unit->gateway, 0u) << "gateway 0 clears it";
  EXPECT_EQ(unit->reachedFrom, Address("10.0.0.2"));
  Reply(gateway, from, 7, "North", "2.1");
  EXPECT_EQ(unit->gateway, 0u) << "and a later gateway leaves it at 0";
  EXPECT_EQ(unit->reachedFrom, from);
}

// Inserts units in a scrambled order and checks both orders after each one.
TEST_F(UnitTableTest, GrowthPastEveryStepKeepsBothOrders) {
  CurrentDisplaySort() = DisplaySort{kSortByNode, -1};
  constexpr int kUnits = 47;
  for (int i = 0; i < kUnits; ++i) {
    const int n = (i * 17) % kUnits;
    char text[16];
    std::snprintf(text, sizeof text, "10.%d.0.%d", n % 3, n);
    ASSERT_EQ(table_.AddOrUpdateUnit(0, 0, Address(text), nullptr, n % 5 + 1, "G", "V"), 1);
    table_.Lock();
    const std::size_t count = table_.getCount();
    ASSERT_EQ(count, static_cast<std::size_t>(i + 1));
    for (std::size_t k = 1; k < count; ++k) {
      ASSERT_LT(table_.getAddressUnit(k - 1)->address, table_.getAddressUnit(k)->address);
      ASSERT_LE(CompareForDisplay(table_.getDisplayUnit(k - 1), table_.getDisplayUnit(k)), 0);
    }
    for (std::size_t k = 0; k < count; ++k) {
      tarvo_object** slot = table_.FindByAddress(table_.getDisplayUnit(k));
      ASSERT_NE(slot, nullptr);
      ASSERT_EQ(*slot, table_.getDisplayUnit(k)) << "each record in both orders once";
    }
    table_.Unlock();
  }
  CurrentDisplaySort() = DisplaySort{};
}

TEST_F(UnitTableTest, CancelUnitOnlyChangesTheStateOnceAndLeavesTheStatus) {
  AddByHand("10.0.0.20");
  tarvo_object* unit = Unit("10.0.0.20");
  unit->state = InstallState::Running;
  unit->statusText = "Connecting";
  unit->statusChanged = false;
  table_.Lock();
  table_.CancelUnit(unit);
  table_.Unlock();
  EXPECT_EQ(unit->state, InstallState::CancelRequested);
  EXPECT_EQ(unit->cancelledAs, FailureClass::Cancelled);
  EXPECT_EQ(unit->statusText, "Connecting");
  EXPECT_FALSE(unit->statusChanged) << "the job reports the outcome, not the cancel";
}

TEST_F(UnitTableTest, ProgressShowsOneDigitOfTheWholePackage) {
  AddByHand("10.0.0.20");
  tarvo_object* unit = Unit("10.0.0.20");
  unit->bytesTotal = 4000;
  // What the file channel reports for files of 1000 and 3000 bytes.
  const std::uint32_t calls[][3] = {
      {0, 1000, 0}, {1000, 1000, 1000}, {0, 3000, 0}, {1500, 3000, 1500}, {3000, 3000, 1500}};
  const char* expected[] = {"0.0%", "25.0%", "25.0%", "62.5%", "100.0%"};
  for (int i = 0; i < 5; ++i) {
    unit->statusChanged = false;
    unit->ReportProgress(calls[i][0], calls[i][1], calls[i][2]);
    EXPECT_EQ(unit->statusText, expected[i]) << i;
    EXPECT_TRUE(unit->statusChanged);
  }
  unit->bytesTotal = 1000;
  unit->bytesSent = 0;
  unit->ReportProgress(0, 1000, 123);
  EXPECT_EQ(unit->statusText, "12.3%");
  unit->ReportProgress(0, 1000, 0xFFFFFFFFu);
  EXPECT_EQ(unit->statusText, "12.2%") << "the count wraps as a 32-bit value";
  unit->bytesTotal = 0;
  unit->ReportProgress(0, 0, 0);
  EXPECT_EQ(unit->statusText, "100.0%") << "an empty package is all sent, not a division by 0";
}

// The text is formatted without printf on the common path; it must still be
// exactly printf's, halves (exact in binary or not) and large values included.
TEST_F(UnitTableTest, ProgressTextIsPrintfsOneDigitForEveryCount) {
  AddByHand("10.0.0.21");
  tarvo_object* unit = Unit("10.0.0.21");
  for (const std::uint32_t total : {400u, 800u, 1000u, 3u, 4096u, 1000003u, 7u}) {
    unit->bytesTotal = total;
    unit->bytesSent = 0;
    const std::uint32_t step = total > 5000 ? 997 : 1;
    for (std::uint32_t sent = step; sent <= total + 3 * step; sent += step) {
      unit->ReportProgress(0, total, step);
      char expected[48];
      std::snprintf(expected, sizeof expected, "%.1f%%",
                    static_cast<double>(sent) / static_cast<double>(total) * 100.0);
      ASSERT_EQ(unit->statusText, expected) << sent << " of " << total;
    }
  }
  unit->bytesTotal = 1;
  unit->bytesSent = 0;
  unit->ReportProgress(0, 1, 0xFFFFFFFFu);
  EXPECT_EQ(unit->statusText, "429496729500.0%");
}

TEST(UnitTableLockTest, LockIsReentrantAndExcludesOtherThreads) {
  unit_table table;
  table.Lock();
  table.Lock();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    table.Lock();
    entered = true;
    table.Unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  table.Unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load()) << "held once more";
  table.Unlock();
  other.join();
  EXPECT_TRUE(entered.load());
}

TEST(UnitTableExitTest, DestructionWaitsForJobsThatEndInTime) {
  auto* table = new unit_table;
  table->AddOrUpdateUnit(0, 0, Address("10.0.0.20"), nullptr, 0, "???", "???");
  table->Lock();
  tarvo_object* unit = table->getAddressUnit(0);
  table->Unlock();
  table->JobStarted(unit);
  const auto start = std::chrono::steady_clock::now();
  std::thread job([table, unit] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    table->JobEnded(unit);
  });
  delete table;
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  job.join();
}

// A waiter sleeps until a cancel or a job's end changes what it waits for,
// and wakes at once then, not at its deadline.
TEST(UnitTableExitTest, WaitWakesOnCancelAndOnJobEnd) {
  unit_table table;
  table.AddOrUpdateUnit(0, 0, Address("10.0.0.20"), nullptr, 0, "???", "???");
  table.Lock();
  tarvo_object* unit = table.getAddressUnit(0);
  table.Unlock();
  table.JobStarted(unit);
  const auto start = std::chrono::steady_clock::now();
  std::thread other([&table, unit] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    table.Lock();
    table.CancelUnit(unit);
    table.Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    table.JobEnded(unit);
  });
  EXPECT_TRUE(table.WaitUntil([unit] { return unit->state == InstallState::CancelRequested; },
                              start + std::chrono::seconds(20)));
  EXPECT_TRUE(table.WaitForJobs(20000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(table.WaitUntil([] { return false; },
                               std::chrono::steady_clock::now() + std::chrono::milliseconds(50)))
      << "a wait with nothing done ends at its deadline";
  other.join();
}

// A job that outlives the bounded wait keeps its record: the record is still
// readable after the table is gone (AddressSanitizer would report a use after
// free otherwise). The table lives in storage that stays, as the program's
// static table does.
TEST(UnitTableExitTest, RecordOfAJobStillRunningAfterTheWaitIsNotFreed) {
  alignas(unit_table) static unsigned char storage[sizeof(unit_table)];
  static tarvo_object* kept = nullptr;
  auto* table = new (storage) unit_table;
  table->AddOrUpdateUnit(0, 0, Address("10.0.0.20"), nullptr, 0, "???", "???");
  table->AddOrUpdateUnit(0, 0, Address("10.0.0.21"), nullptr, 0, "???", "???");
  table->Lock();
  kept = table->getAddressUnit(0);
  table->Unlock();
  table->JobStarted(kept);
  const auto start = std::chrono::steady_clock::now();
  table->~unit_table();
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(unit_table::kJobExitWaitMs));
  EXPECT_EQ(kept->address, Address("10.0.0.20"));
  EXPECT_EQ(kept->state, InstallState::CancelRequested) << "cancelled before the wait";
}

}  // namespace
