// Event counters in a named 4096-byte shared block ("DebugLog"), so that
// another process can watch how often things happen inside a running
// program. Layout, little-endian: the creator's process id at offset 0,
// 24 reserved bytes, then 1017 unsigned 32-bit counters from offset 28.
#pragma once

#include <cstdint>

#include "CThread.h"
#include "platform/SharedMemory.h"

namespace ZEQ {

struct memory_hdr {
  std::uint32_t processId;
  std::uint8_t reserved[24];
};
static_assert(sizeof(memory_hdr) == 28);

class DebugLog {
 public:
  static constexpr const char* kBlockName = "DebugLog";
  static constexpr int kBlockSize = 4096;
  static constexpr int kCounterCount = 1017;

  DebugLog();
  ~DebugLog();
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;

  static bool Initialize(DebugLog* log, bool create);
  static void Deinitialize(DebugLog* log);
  // Counts the event in the current log; events outside 0..1016 are ignored.
  static void RecordEvent(int event);
  static memory_hdr* getHeader();

 private:
  void close_block();

  platform::SharedBlock block_;  // the mapping handle and the view
  std::uint32_t* counters_;
  CSpinLock lock_;
};

}  // namespace ZEQ
