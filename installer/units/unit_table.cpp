// The device table's operations. A new record is built completely before
// the lock is taken, so a failure while building it leaves the table as it
// was; under the lock the record is either merged into the known one (and
// discarded) or inserted into both orders.
//
// The lock is created with the table rather than on first use: the table is
// built before any other thread exists, so no two threads can race to
// create it.
#include "units/unit_table.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/Sync.h"
#include "telnet/TelnetSession.h"
#include "transfer/EchoPinger.h"
#include "transfer/RouteRequestChannel.h"
#include "units/DisplayOrder.h"

namespace {

constexpr const char* kVersionPlaceholder = "Unknown";

int CompareAddressWords(const tarvo_object* a, const tarvo_object* b) {
  return a->address < b->address ? -1 : (a->address > b->address ? 1 : 0);
}

bool IsEmpty(const NullableText& text) { return !text || text->empty(); }

// The version rules of a merge: a stored placeholder gives way to anything;
// otherwise the placeholder never replaces a known version, only an empty one.
bool TakesNewVersion(const NullableText& stored, const NullableText& news) {
  if (stored == news) return false;
  if (stored && *stored == kVersionPlaceholder) return true;
  if (news && *news == kVersionPlaceholder) return IsEmpty(stored);
  return true;
}

}  // namespace

// A generation count under a lock of its own, so that a waiter that found
// nothing done under the table lock cannot miss a change made before it
// sleeps: it sleeps only while the count is the one it saw before asking.
struct unit_table::Changes {
  std::mutex lock;
  std::condition_variable changed;
  unsigned long long count = 0;
};

unit_table::unit_table(RouteRequestChannel* channel, EchoPinger* pinger)
    : by_address(CompareAddressWords),
      display_order(static_cast<UnitCompare>(CompareForDisplay)),
      ownChannel_(channel ? nullptr : new RouteRequestChannel),
      channel_(channel ? channel : ownChannel_.get()),
      mutex_(new platform::RecursiveMutex),
      changes_(new Changes),
      ownPinger_(pinger ? nullptr : new EchoPinger),
      pinger_(pinger ? pinger : ownPinger_.get()) {}

unit_table::~unit_table() {
  CancelAll();
  release_after_exit_wait(WaitForJobs(kJobExitWaitMs));
}

void unit_table::release_after_exit_wait(bool jobsEnded) {
  // Records go from the last to the first; one still worked on by a job
  // stays allocated, as do the lock and the services that job reaches.
  for (std::size_t i = by_address.getCount(); i-- > 0;) {
    tarvo_object* unit = by_address.at(i);
    if (!unit->jobActive) delete unit;
  }
  if (jobsEnded) {
    delete mutex_;
    delete changes_;
    return;
  }
  ownPinger_.release();
  ownChannel_.release();
}

void unit_table::Lock() { mutex_->Lock(); }

void unit_table::Unlock() { mutex_->Unlock(); }

int unit_table::AddOrUpdateUnit(std::uint32_t gateway, std::uint32_t reachedFrom,
                                std::uint32_t address, const std::uint8_t* mac, std::int32_t node,
                                const char* group, const char* version) {
  auto news = std::make_unique<tarvo_object>(*this, gateway, reachedFrom, address, mac, node, group,
                                             version);
  Lock();
  int entered = 0;
  if (tarvo_object** slot = by_address.Search(news.get())) {
    merge(*slot, *news, mac);
  } else {
    news->rowChanged = true;
    by_address.Insert(news.get());
    display_order.Insert(news.release());
    entered = 1;
  }
  Unlock();
  return entered;
}

void unit_table::merge(tarvo_object* stored, const tarvo_object& news, const std::uint8_t* mac) {
  bool identity = false;
  if (stored->group != news.group) {
    stored->group = news.group;
    identity = true;
  }
  if (stored->node != news.node) {
    stored->node = news.node;
    identity = true;
  }
  if (news.reachedFrom != 0) {
    stored->reachedFrom = news.reachedFrom;
    // Once a unit is known to be reached directly, later gateway reports do
    // not change that.
    if (news.gateway == 0 || stored->gateway != 0) stored->gateway = news.gateway;
  }
  if (TakesNewVersion(stored->version, news.version)) {
    stored->version = news.version;
    identity = true;
  }
  if (mac) std::memcpy(stored->mac, mac, sizeof stored->mac);
  if (identity) stored->identityChanged = true;
}

void unit_table::NoteAnswer(std::uint32_t address, const char* version) {
  const tarvo_object key(*this, 0, 0, address, nullptr, 0, nullptr, version);
  Lock();
  if (tarvo_object** slot = by_address.Search(&key)) {
    ++(*slot)->answers;
    (*slot)->answeredVersion = key.version;
  }
  Unlock();
}

tarvo_object** unit_table::FindByAddress(const tarvo_object* key) { return by_address.Search(key); }

void unit_table::CancelUnit(tarvo_object* unit, FailureClass why) {
  if (unit->state == InstallState::CancelRequested) return;
  unit->RequestCancel(why);
  if (unit->fileConnection) unit->fileConnection->Close();
  if (unit->telnetSession) unit->telnetSession->Disconnect(0);
  signal_change();
}

void unit_table::CancelAll() {
  Lock();
  for (std::size_t i = 0; i < by_address.getCount(); ++i) CancelUnit(by_address.at(i));
  Unlock();
}

void unit_table::JobStarted(tarvo_object* unit) {
  Lock();
  unit->jobActive = true;
  ++runningJobs_;
  Unlock();
}

void unit_table::JobEnded(tarvo_object* unit) {
  Lock();
  unit->jobActive = false;
  --runningJobs_;
  signal_change();
  if (jobEndedHook_) jobEndedHook_();
  Unlock();
}

void unit_table::SetJobEndedHook(std::function<void()> hook) {
  Lock();
  jobEndedHook_ = std::move(hook);
  Unlock();
}

bool unit_table::WaitForJobs(unsigned timeoutMs) {
  return WaitUntil([this] { return runningJobs_ == 0; },
                   std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
}

void unit_table::signal_change() {
  {
    const std::lock_guard<std::mutex> hold(changes_->lock);
    ++changes_->count;
  }
  changes_->changed.notify_all();
}

bool unit_table::ask(const std::function<bool()>& done) {
  Lock();
  const bool answer = done();
  Unlock();
  return answer;
}

bool unit_table::WaitUntil(const std::function<bool()>& done,
                           std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    std::unique_lock<std::mutex> hold(changes_->lock);
    const unsigned long long seen = changes_->count;
    hold.unlock();
    if (ask(done)) return true;
    hold.lock();
    if (!changes_->changed.wait_until(hold, deadline, [&] { return changes_->count != seen; })) {
      hold.unlock();
      return ask(done);
    }
  }
}
