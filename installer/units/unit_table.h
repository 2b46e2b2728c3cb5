// The device table: every unit the installer knows of, one record per
// address, kept in two sorted pointer arrays (by address, and in the list's
// display order). Discovery threads, the main thread and the install jobs
// all reach it, so every access goes through one re-entrant lock; a thread
// that holds it may take it again (the job starter runs under its caller's
// lock).
//
// The table also carries the two services the install jobs share, the
// route-request channel and the echo pinger. Tests hand in substitutes for
// both; the program's table builds its own.
//
// Lock order: the table lock may be held while a telnet session's lock is
// taken (CancelUnit disconnects a session), never the other way round.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "units/UnitPointerArray.h"
#include "units/tarvo_object.h"

class EchoPinger;
class RouteRequestChannel;

namespace platform {
class RecursiveMutex;
}

class unit_table {
 public:
  // How long destruction waits for job threads after cancelling them.
  static constexpr unsigned kJobExitWaitMs = 5000;

  // With null arguments the table builds its own channel and pinger; a
  // substitute is not owned and must outlive the table.
  explicit unit_table(RouteRequestChannel* channel = nullptr, EchoPinger* pinger = nullptr);
  // Cancels every unit and waits up to kJobExitWaitMs for the job threads.
  // A record whose job is still running then is not freed, and neither are
  // the lock and the services that job still uses.
  ~unit_table();
  unit_table(const unit_table&) = delete;
  unit_table& operator=(const unit_table&) = delete;

  void Lock();
  void Unlock();

  // Enters a unit or merges the news into the known record; 1 for a new
  // record, 0 for a merge. mac may be null. Takes the lock itself.
  int AddOrUpdateUnit(std::uint32_t gateway, std::uint32_t reachedFrom, std::uint32_t address,
                      const std::uint8_t* mac, std::int32_t node, const char* group,
                      const char* version);
  // Counts a discovery answer from the unit at address and keeps the version
  // it gave; nothing for an unknown address. Takes the lock itself.
  void NoteAnswer(std::uint32_t address, const char* version);
  // The by-address slot of the record with key's address, or null. Caller
  // holds the lock.
  tarvo_object** FindByAddress(const tarvo_object* key);
  // Number of units, and the unit shown in list row i. Caller holds the lock.
  std::size_t getCount() const { return by_address.getCount(); }
  tarvo_object* getDisplayUnit(std::size_t row) const { return display_order.at(row); }
  tarvo_object* getAddressUnit(std::size_t index) const { return by_address.at(index); }
  // Sorts the display order under the current display sort state, after a
  // column click changed it. Caller holds the lock.
  void SortDisplayOrder() { display_order.Sort(); }

  // Asks the unit's job to stop: state CancelRequested, its file channel
  // closed and its telnet session disconnected; why is the failure class
  // its report gets. Nothing for a unit already cancelled. Caller holds the
  // lock.
  void CancelUnit(tarvo_object* unit, FailureClass why = FailureClass::Cancelled);
  // CancelUnit for every unit, under the lock (the stop sequence).
  void CancelAll();

  RouteRequestChannel& routeChannel() { return *channel_; }
  EchoPinger& pinger() { return *pinger_; }

  // The job threads' bookkeeping for the exit wait: a job calls JobStarted
  // before it first touches its unit and JobEnded as its very last act;
  // after JobEnded it touches neither the unit nor the table. Both take the
  // lock.
  void JobStarted(tarvo_object* unit);
  void JobEnded(tarvo_object* unit);
  // Called under the lock by every JobEnded: a run with limits wakes its
  // controller through it, so that a freed slot is filled at once rather
  // than at the next tick. The hook must neither block nor take the lock;
  // an empty one (the default) calls nothing.
  void SetJobEndedHook(std::function<void()> hook);
  // Waits up to timeoutMs until no job thread is running; true when none is.
  bool WaitForJobs(unsigned timeoutMs);
  // Waits until done, asked under the lock, holds or the deadline has
  // passed; returns the last answer of done. It is asked again after every
  // cancel and every job's end, the events that change what a waiter looks
  // for, so nothing polls. The caller does not hold the lock.
  bool WaitUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);

 private:
  struct Changes;
  bool ask(const std::function<bool()>& done);
  void signal_change();
  static void merge(tarvo_object* stored, const tarvo_object& news, const std::uint8_t* mac);
  void release_after_exit_wait(bool jobsEnded);

  UnitPointerArray by_address;
  UnitPointerArray display_order;
  std::unique_ptr<RouteRequestChannel> ownChannel_;
  RouteRequestChannel* channel_;
  platform::RecursiveMutex* mutex_;
  // Counts cancels and job ends for WaitUntil; like the lock, it stays
  // allocated when a job outlives the table's exit wait.
  Changes* changes_;
  std::unique_ptr<EchoPinger> ownPinger_;
  EchoPinger* pinger_;
  int runningJobs_ = 0;  // guarded by the lock
  std::function<void()> jobEndedHook_;  // guarded by the lock
};
