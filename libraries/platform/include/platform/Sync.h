// Locks, events and thread-local slots of the platform. The recursive mutex
// is a critical section on Windows and a recursive pthread mutex on Linux;
// both are held in place (no allocation) so a lock can live in any object.
#pragma once

namespace platform {

class RecursiveMutex {
 public:
  RecursiveMutex();
  ~RecursiveMutex();
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;
  void Lock();
  void Unlock();

 private:
  alignas(8) unsigned char storage_[64];
};

// An event that is set and reset; a manual-reset event stays set until reset,
// an auto-reset event releases one waiter and resets itself.
class Event {
 public:
  Event(bool manualReset, bool initiallySet);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  bool IsValid() const { return impl_ != nullptr; }
  void Set();
  void Reset();
  // 1 when signalled, 0 on time-out, -1 on failure. kInfinite waits forever.
  int Wait(unsigned long timeoutMs);
  static constexpr unsigned long kInfinite = 0xFFFFFFFFul;

 private:
  void* impl_;
};

// Thread-local slots, allocated at run time.
constexpr unsigned long kInvalidTlsIndex = 0xFFFFFFFFul;
unsigned long TlsAllocate();  // kInvalidTlsIndex on failure
void TlsRelease(unsigned long index);
void TlsSetValue(unsigned long index, void* value);
void* TlsGetValue(unsigned long index);

}  // namespace platform
