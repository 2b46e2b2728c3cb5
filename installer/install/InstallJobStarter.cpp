// The job starter: one thread per Pending unit, all started at once (or as
// many as the caller allows) under the table lock. A new job therefore blocks on its first status
// update until the starter (and a caller that holds the lock too) lets go. The thread handles are
// released at once: a job is never joined; the table counts running jobs instead, for the bounded
// wait at exit.
#include <chrono>
#include <memory>

#include "install/InstallJob.h"
#include "platform/Threads.h"
#include "units/ControllerFlags.h"
#include "units/unit_table.h"

namespace {

struct JobStart {
  const InstallContext* context;
  tarvo_object* unit;
};

void* RunJob(void* argument) {
  const std::unique_ptr<JobStart> start(static_cast<JobStart*>(argument));
  InstallJob(*start->context, start->unit);
  return nullptr;
}

// Caller holds the lock.
void StartOne(const InstallContext& context, tarvo_object* unit) {
  unit_table& table = *context.table;
  table.JobStarted(unit);
  unit->cancelledAs = FailureClass::None;
  unit->jobStartedAt = std::chrono::steady_clock::now();
  auto start = std::make_unique<JobStart>(JobStart{&context, unit});
  unsigned long threadId = 0;
  platform::ThreadHandle* thread = context.startThread(RunJob, start.get(), 0, &threadId);
  if (thread == nullptr) {
    table.JobEnded(unit);
    unit->Finish(JobOutcome::NotStarted);
    return;
  }
  start.release();
  platform::CloseThread(thread);
  unit->MarkRunning();
}

}  // namespace

std::uint32_t StartInstallJobs(const InstallContext& context, std::size_t maxStarts) {
  runInProgressFlag = 1;
  unit_table& table = *context.table;
  std::uint32_t last = 0;
  table.Lock();
  for (std::size_t row = 0; row < table.getCount() && maxStarts > 0; ++row) {
    tarvo_object* unit = table.getDisplayUnit(row);
    if (unit->state != InstallState::Pending || unit->address == 0) continue;
    --maxStarts;
    last = unit->address;
    StartOne(context, unit);
  }
  table.Unlock();
  return last;
}
