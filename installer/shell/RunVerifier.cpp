// The verify phase after a run (see RunVerifier.h).
#include "shell/RunVerifier.h"

#include <algorithm>

#include "discovery/RecordQuery.h"
#include "install/JobReport.h"
#include "platform/MainLoop.h"
#include "shell/RunEvents.h"
#include "shell/RunReport.h"
#include "units/unit_table.h"

const char* VerificationName(Verification verification) {
  switch (verification) {
    case Verification::Yes: return "yes";
    case Verification::No: return "no";
    case Verification::NotAsked: break;
  }
  return "not asked";
}

bool ConfirmsRelease(const std::optional<std::string>& answered,
                     const std::optional<std::string>& before, const VerifyOptions& options) {
  if (!answered || answered->empty() || *answered == discovery::kUnknownVersion) return false;
  if (options.expectedVersion) return *answered == *options.expectedVersion;
  return answered != before;
}

std::string VerifyEndText(int verified, int notVerified) {
  const int units = verified + notVerified;
  return "Verified " + std::to_string(verified) + " of " + std::to_string(units) +
         (units == 1 ? " unit" : " units") +
         (notVerified > 0 ? ", " + std::to_string(notVerified) + " not verified" : "");
}

RunVerifier::RunVerifier(platform::MainLoop& loop, unit_table& table,
                         std::function<void()> sendQuery, unsigned paceMs)
    : loop_(loop), table_(table), sendQuery_(std::move(sendQuery)), paceMs_(paceMs) {}

RunVerifier::~RunVerifier() { stop(); }

void RunVerifier::SetOptions(const VerifyOptions& options, RunEvents* events,
                             std::function<void(int units)> started,
                             std::function<void(int verified, int notVerified)> ended) {
  options_ = options;
  events_ = events;
  onStart_ = std::move(started);
  onEnd_ = std::move(ended);
}

bool RunVerifier::Start(std::function<void()> done) {
  Cancel();
  targets_.clear();
  if (!options_.asked()) return false;
  collect_targets();
  if (targets_.empty()) return false;
  timer_ = loop_.AddTimer(kPollMs, [this] { poll(); });
  if (timer_ == 0) return false;
  done_ = std::move(done);
  startedAt_ = queriedAt_ = std::chrono::steady_clock::now();
  const int units = static_cast<int>(targets_.size());
  if (onStart_) onStart_(units);
  if (events_ != nullptr) events_->VerifyStarted(units, options_.seconds);
  sendQuery_();
  return true;
}

// The answers counted so far are not the unit's word after the run: only
// a later one verifies it.
void RunVerifier::collect_targets() {
  table_.Lock();
  for (std::size_t i = 0; i < table_.getCount(); ++i) {
    tarvo_object* unit = table_.getAddressUnit(i);
    if (unit->state != InstallState::Finished || !unit->report) continue;
    targets_.push_back(Target{unit, unit->address, unit->report->versionBefore, unit->answers});
  }
  table_.Unlock();
}

void RunVerifier::poll() {
  const std::time_t now = std::time(nullptr);
  std::vector<std::pair<std::uint32_t, std::string>> verified;
  table_.Lock();
  for (Target& target : targets_) {
    const tarvo_object& unit = *target.unit;
    if (target.verifiedAt != 0 || unit.answers == target.answersAtStart) continue;
    if (!ConfirmsRelease(unit.answeredVersion, target.before, options_)) continue;
    target.verifiedAt = now;
    verified.emplace_back(target.address, *unit.answeredVersion);
  }
  table_.Unlock();
  if (events_ != nullptr) {
    for (const auto& [address, version] : verified) events_->Verified(address, version);
  }
  const auto clock = std::chrono::steady_clock::now();
  if (pending() == 0 || clock - startedAt_ >= std::chrono::seconds(options_.seconds)) {
    EndNow();
    return;
  }
  if (clock - queriedAt_ >= std::chrono::milliseconds(paceMs_)) {
    queriedAt_ = clock;
    sendQuery_();
  }
}

int RunVerifier::pending() const {
  return static_cast<int>(std::count_if(targets_.begin(), targets_.end(),
                                        [](const Target& t) { return t.verifiedAt == 0; }));
}

void RunVerifier::EndNow() {
  if (!running()) return;
  stop();
  const int notVerified = pending();
  const int verified = static_cast<int>(targets_.size()) - notVerified;
  if (events_ != nullptr) events_->VerifyEnded(verified, notVerified);
  if (onEnd_) onEnd_(verified, notVerified);
  std::function<void()> done = std::move(done_);
  done_ = nullptr;
  if (done) done();
}

void RunVerifier::Cancel() {
  stop();
  done_ = nullptr;
}

void RunVerifier::stop() {
  if (timer_ != 0) loop_.KillTimer(timer_);
  timer_ = 0;
}

void RunVerifier::Apply(std::vector<UnitReportRow>& rows) const {
  for (UnitReportRow& row : rows) {
    const auto target = std::find_if(targets_.begin(), targets_.end(),
                                     [&row](const Target& t) { return t.address == row.address; });
    if (target == targets_.end()) continue;
    row.verified = target->verifiedAt != 0 ? Verification::Yes : Verification::No;
    row.verifiedAt = target->verifiedAt;
  }
}
