// The shared event counters. Increments are atomic operations on the shared
// memory itself, so any process that maps the block may count.
#include "DebugLog.h"

#include <atomic>
#include <cstring>

#include "platform/Threads.h"

namespace ZEQ {

namespace {

std::atomic<DebugLog*> g_current{nullptr};

}  // namespace

DebugLog::DebugLog() : counters_(nullptr) {}

DebugLog::~DebugLog() {
  if (g_current.load() == this) g_current.store(nullptr);
  close_block();
}

void DebugLog::close_block() {
  platform::CloseSharedBlock(kBlockName, kBlockSize, &block_);
  counters_ = nullptr;
}

bool DebugLog::Initialize(DebugLog* log, bool create) {
  g_current.store(log);
  const bool mapped = create ? platform::CreateSharedBlock(kBlockName, kBlockSize, &log->block_)
                             : platform::OpenSharedBlock(kBlockName, kBlockSize, &log->block_);
  if (!mapped) {
    log->close_block();
    g_current.store(nullptr);
    return false;
  }
  auto* bytes = static_cast<unsigned char*>(log->block_.view);
  if (create) {
    std::memset(bytes, 0, kBlockSize);
    const std::uint32_t processId = static_cast<std::uint32_t>(platform::CurrentProcessId());
    std::memcpy(bytes, &processId, sizeof processId);
  }
  log->counters_ = reinterpret_cast<std::uint32_t*>(bytes + sizeof(memory_hdr));
  return true;
}

void DebugLog::Deinitialize(DebugLog* log) {
  log->close_block();
  g_current.store(nullptr);
}

void DebugLog::RecordEvent(int event) {
  DebugLog* log = g_current.load();
  if (log == nullptr || log->counters_ == nullptr) return;
  if (event < 0 || event >= kCounterCount) return;
  std::atomic_ref<std::uint32_t>(log->counters_[event]).fetch_add(1);
}

memory_hdr* DebugLog::getHeader() {
  DebugLog* log = g_current.load();
  if (log == nullptr) return nullptr;
  return static_cast<memory_hdr*>(log->block_.view);
}

}  // namespace ZEQ
