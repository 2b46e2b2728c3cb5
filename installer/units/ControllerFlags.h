// The controller's two process-wide flags. The job starter and "Start
// Install" raise the run-in-progress flag and the controller's tick lowers it
// once nothing is left to start; discovery raises the list-rebuild flag when
// it enters a new unit and the tick lowers it when it rebuilds the list.
// Each is 0 or 1. They are written by pool and job threads and read by the
// main thread without the table lock, so they are atomic.
#pragma once

#include <atomic>

extern std::atomic<int> runInProgressFlag;
extern std::atomic<int> listRebuildFlag;
