// The rescan after a run and the writing of its report (see RunReporter.h).
#include "shell/RunReporter.h"

#include <ctime>

#include "platform/MainLoop.h"
#include "shell/TarvoLoadDialog.h"
#include "units/unit_table.h"

RunReporter::RunReporter(platform::MainLoop& loop, unit_table& table, TarvoLoadDialog& dialog,
                         std::string folder, std::string programVersion)
    : loop_(loop),
      table_(table),
      dialog_(dialog),
      folder_(std::move(folder)),
      programVersion_(std::move(programVersion)),
      verifier_(
          loop, table, [&dialog] { dialog.SendDiscoveryQuery(); }, kRequeryMs) {}

RunReporter::~RunReporter() {
  if (timer_ != 0) loop_.KillTimer(timer_);
}

void RunReporter::Report(Done done, bool verify) {
  Flush();
  done_ = std::move(done);
  // A report flushed during the verify phase counts the answers since the
  // run ended; the rescan starts its own count.
  before_ = answers();
  verified_ = verify && verifier_.options().asked();
  if (!verified_ || !verifier_.Start([this] { rescan(); })) rescan();
}

void RunReporter::rescan() {
  before_ = answers();
  started_ = std::chrono::steady_clock::now();
  requeried_ = false;
  dialog_.SendDiscoveryQuery();
  timer_ = loop_.AddTimer(kPollMs, [this] { poll(); });
  // Without a timer there is no waiting: the report goes out as it is.
  if (timer_ == 0) finish();
}

void RunReporter::ReportNow(Done done) {
  Flush();
  done_ = std::move(done);
  verified_ = false;
  before_ = answers();
  finish();
}

void RunReporter::Flush() {
  if (waiting()) finish();
}

std::map<std::uint32_t, RunReporter::Answers> RunReporter::answers() const {
  std::map<std::uint32_t, Answers> result;
  table_.Lock();
  for (std::size_t i = 0; i < table_.getCount(); ++i) {
    const tarvo_object* unit = table_.getAddressUnit(i);
    result[unit->address] = Answers{unit->answers, unit->answeredVersion};
  }
  table_.Unlock();
  return result;
}

// Done when every unit that had answered before has answered again; one
// more query goes out after kRequeryMs in case a datagram was lost.
void RunReporter::poll() {
  const auto elapsed = std::chrono::steady_clock::now() - started_;
  bool allAnswered = true;
  for (const auto& [address, now] : answers()) {
    const auto earlier = before_.find(address);
    if (earlier != before_.end() && earlier->second.count > 0 &&
        now.count == earlier->second.count) {
      allAnswered = false;
    }
  }
  if (allAnswered || elapsed >= std::chrono::milliseconds(kRescanMs)) {
    finish();
    return;
  }
  if (!requeried_ && elapsed >= std::chrono::milliseconds(kRequeryMs)) {
    requeried_ = true;
    dialog_.SendDiscoveryQuery();
  }
}

void RunReporter::finish() {
  verifier_.Cancel();
  if (timer_ != 0) loop_.KillTimer(timer_);
  timer_ = 0;
  const std::map<std::uint32_t, Answers> after = answers();
  RunReport report;
  report.programVersion = programVersion_;
  report.writtenAt = std::time(nullptr);
  report.units = CollectReportRows(table_);
  for (UnitReportRow& row : report.units) {
    const auto now = after.find(row.address);
    const auto earlier = before_.find(row.address);
    const std::uint32_t countBefore = earlier == before_.end() ? 0 : earlier->second.count;
    if (now != after.end() && now->second.count > countBefore)
      row.versionAfter = now->second.version;
    if (row.state != InstallState::Idle && retry_.addresses.count(row.address) != 0)
      row.retryOf = retry_.runOf;
  }
  if (verified_) verifier_.Apply(report.units);
  report.units = history_.Merge(std::move(report.units), report.writtenAt);
  for (const UnitReportRow& row : report.units) {
    if (row.jobRan() && (firstJobAt_ == 0 || row.job->startedAt < firstJobAt_))
      firstJobAt_ = row.job->startedAt;
  }
  report.startedAt = firstJobAt_ != 0 ? firstJobAt_ : report.writtenAt;
  std::string error;
  const bool ok = WriteRunReport(folder_, report, &error);
  Done done = std::move(done_);
  done_ = nullptr;
  if (done) done(report, ok, error);
}
