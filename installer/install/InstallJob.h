// The install job: one thread per chosen unit brings it from Pending to a
// final status. It pings the unit, asks the route helper for a host route
// when the ping finds no answer, logs the start, logs in over telnet, copies
// the release's files over the file channel, runs the install script and
// judges its exit status, all the while reporting into the unit's record.
//
// The job writes to its record only under the table lock and never holds the
// lock across a network call, a wait or the destruction of a connection. It
// publishes its telnet session and file channel in the record so that a
// cancel from the main thread can close them, and takes both back under the
// lock before it destroys them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "install/InstallContext.h"

class tarvo_object;

// The login every unit accepts.
constexpr const char* kUnitUserName = "root";
constexpr const char* kUnitPassword = "qorvane";
// The pause after the host route was asked for, so that the helper and the
// unit can set the routes up before the job connects.
constexpr unsigned kRouteSettleMs = 1000;

// Starts a job thread for every Pending unit with an address, in display
// order, at most maxStarts of them, and raises the run-in-progress flag.
// Returns the address of the last unit started (or whose start failed), 0
// when there was none. May be called with the table lock already held.
std::uint32_t StartInstallJobs(const InstallContext& context,
                               std::size_t maxStarts = static_cast<std::size_t>(-1));

// The names of the job's steps, in their order; the run report's step
// columns and the job report's step times follow them.
std::span<const char* const> InstallJobStepNames();

// The job's body, run on the unit's own thread.
void InstallJob(const InstallContext& context, tarvo_object* unit);
