// One unit record of the device table. The table creates records in
// AddOrUpdateUnit and frees them only when it is destroyed, so a pointer to a
// record stays valid for as long as any job or list row uses it. Every field
// after the identity is guarded by the table's lock; the identity (address
// and the fields a merge may change) is read under it too.
//
// The record is also where its install job's file channel reports progress:
// ReportProgress turns the byte count into the percentage shown as the
// unit's status.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "transfer/RemoteFsysManipulator.h"
#include "units/UnitOutcome.h"

class TelnetSession;
class unit_table;
struct JobReport;

// A text a unit may or may not have sent.
using NullableText = std::optional<std::string>;

class tarvo_object : public RemoteFsysManipulatorProgressInterface {
 public:
  // A record as AddOrUpdateUnit builds it before it takes the lock: Pending
  // when node is 0 (a unit typed in by hand), else Idle. mac may be null.
  tarvo_object(unit_table& owner, std::uint32_t gatewayAddress, std::uint32_t reachedFromAddress,
               std::uint32_t unitAddress, const std::uint8_t* macAddress, std::int32_t nodeNumber,
               const char* groupName, const char* versionText);
  tarvo_object(const tarvo_object&) = delete;
  tarvo_object& operator=(const tarvo_object&) = delete;

  // Adds the piece to bytesSent and shows bytesSent / bytesTotal as a
  // percentage with one digit after the point ("25.0%"). Takes the lock.
  void ReportProgress(std::uint32_t sent, std::uint32_t size, std::uint32_t piece) override;

  // Sets the status text and statusChanged; caller holds the lock.
  void setStatus(const std::string& text);
  // Sets the state and statusChanged; caller holds the lock.
  void setState(InstallState newState);

  // The unit's transitions, each with its status text; every one sets
  // statusChanged, and the caller holds the lock.
  // Not chosen: Idle, with an empty status.
  void MarkIdle();
  // Chosen, waiting for its job: Pending, "Pending".
  void MarkPending();
  // Queued behind a cancelled job that is still ending: reads "Pending"
  // but keeps its state, so that job still fails out.
  void ShowQueued();
  // Its job thread has started: Running, the status unchanged.
  void MarkRunning();
  // The job's first step: Running unless a cancel came first, "Connecting".
  void MarkConnecting();
  // The install script runs: "Installing..".
  void ShowInstalling();
  // Taken out of the run: "Cancelled", the state unchanged.
  void MarkCancelled();
  // Asked to stop (the table's CancelUnit): CancelRequested, the status
  // unchanged and statusChanged left alone; the job reports the outcome,
  // and the report names why as its failure class.
  void RequestCancel(FailureClass why);
  // The outcome's status text and state.
  void Finish(JobOutcome outcome);

  unit_table& table;
  const std::uint32_t address;  // network byte order
  std::uint32_t reachedFrom;    // network byte order, 0 when not known
  std::uint32_t gateway;        // network byte order, 0 when reached directly
  std::int32_t node;
  NullableText group;
  NullableText version;
  std::uint8_t mac[6];
  bool rowChanged = false;
  // Set by a merge that changed node, group or version of a unit the list
  // already shows: its identity cells want redrawing, its row stays.
  bool identityChanged = false;
  TelnetSession* telnetSession = nullptr;
  RemoteFsysManipulator* fileConnection = nullptr;
  std::uint32_t bytesTotal = 0;
  std::uint32_t bytesSent = 0;
  std::string installOutput;
  InstallState state;
  std::string statusText;
  bool statusChanged = true;
  // Set by CancelUnit and cleared when the unit becomes Pending or a job
  // starts: tells the report that a job was cancelled (and why) even when
  // its outcome step overwrote the state, or why a waiting unit never got
  // its job. None while no cancel came.
  FailureClass cancelledAs = FailureClass::None;
  // When the current job was started, for the job time limit.
  std::chrono::steady_clock::time_point jobStartedAt{};
  // True from the start of a job thread until its last touch of the record.
  bool jobActive = false;
  // How many discovery answers (record replies and device-link responses)
  // named this unit, and the version text of the latest. The run report's
  // rescan tells by the count which units answered after the run.
  std::uint32_t answers = 0;
  NullableText answeredVersion;
  // What the unit's latest job left behind; null until a job ended.
  std::shared_ptr<const JobReport> report;
};
