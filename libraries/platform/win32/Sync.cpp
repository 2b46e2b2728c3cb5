// Windows locks, events and thread-local slots: a critical section, an event
// object, TlsAlloc.
#include "platform/Sync.h"

#include <windows.h>

namespace platform {

namespace {

CRITICAL_SECTION* AsSection(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64);

RecursiveMutex::RecursiveMutex() { InitializeCriticalSection(AsSection(storage_)); }

RecursiveMutex::~RecursiveMutex() { DeleteCriticalSection(AsSection(storage_)); }

void RecursiveMutex::Lock() { EnterCriticalSection(AsSection(storage_)); }

void RecursiveMutex::Unlock() { LeaveCriticalSection(AsSection(storage_)); }

Event::Event(bool manualReset, bool initiallySet)
    : impl_(CreateEventA(nullptr, manualReset, initiallySet, nullptr)) {}

Event::~Event() {
  if (impl_ != nullptr) CloseHandle(static_cast<HANDLE>(impl_));
}

void Event::Set() { SetEvent(static_cast<HANDLE>(impl_)); }

void Event::Reset() { ResetEvent(static_cast<HANDLE>(impl_)); }

int Event::Wait(unsigned long timeoutMs) {
  if (impl_ == nullptr) return -1;
  switch (WaitForSingleObject(static_cast<HANDLE>(impl_), timeoutMs)) {
    case WAIT_OBJECT_0: return 1;
    case WAIT_TIMEOUT: return 0;
    default: return -1;
  }
}

unsigned long TlsAllocate() { return TlsAlloc(); }

void TlsRelease(unsigned long index) { TlsFree(index); }

void TlsSetValue(unsigned long index, void* value) { ::TlsSetValue(index, value); }

void* TlsGetValue(unsigned long index) { return ::TlsGetValue(index); }

}  // namespace platform
