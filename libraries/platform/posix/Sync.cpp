// Linux locks, events and thread-local slots: a recursive pthread mutex, an
// event made of a mutex, a condition variable and a flag, pthread keys.
#include "platform/Sync.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

#include <new>

namespace platform {

namespace {

pthread_mutex_t* AsMutex(unsigned char* storage) {
  return reinterpret_cast<pthread_mutex_t*>(storage);
}

struct EventState {
  pthread_mutex_t mutex;
  pthread_cond_t signal;
  bool manualReset;
  bool set;
};

// An absolute CLOCK_MONOTONIC deadline timeoutMs from now.
timespec DeadlineAfter(unsigned long timeoutMs) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

}  // namespace

static_assert(sizeof(pthread_mutex_t) <= 64);

RecursiveMutex::RecursiveMutex() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(AsMutex(storage_), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

RecursiveMutex::~RecursiveMutex() { pthread_mutex_destroy(AsMutex(storage_)); }

void RecursiveMutex::Lock() { pthread_mutex_lock(AsMutex(storage_)); }

void RecursiveMutex::Unlock() { pthread_mutex_unlock(AsMutex(storage_)); }

Event::Event(bool manualReset, bool initiallySet) {
  auto* state = new (std::nothrow) EventState;
  impl_ = state;
  if (state == nullptr) return;
  pthread_mutex_init(&state->mutex, nullptr);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&state->signal, &attributes);
  pthread_condattr_destroy(&attributes);
  state->manualReset = manualReset;
  state->set = initiallySet;
}

Event::~Event() {
  auto* state = static_cast<EventState*>(impl_);
  if (state == nullptr) return;
  pthread_cond_destroy(&state->signal);
  pthread_mutex_destroy(&state->mutex);
  delete state;
}

void Event::Set() {
  auto* state = static_cast<EventState*>(impl_);
  if (state == nullptr) return;
  pthread_mutex_lock(&state->mutex);
  state->set = true;
  if (state->manualReset) {
    pthread_cond_broadcast(&state->signal);
  } else {
    pthread_cond_signal(&state->signal);
  }
  pthread_mutex_unlock(&state->mutex);
}

void Event::Reset() {
  auto* state = static_cast<EventState*>(impl_);
  if (state == nullptr) return;
  pthread_mutex_lock(&state->mutex);
  state->set = false;
  pthread_mutex_unlock(&state->mutex);
}

int Event::Wait(unsigned long timeoutMs) {
  auto* state = static_cast<EventState*>(impl_);
  if (state == nullptr) return -1;
  const timespec deadline = DeadlineAfter(timeoutMs);
  pthread_mutex_lock(&state->mutex);
  int result = 0;
  while (!state->set && result == 0) {
    if (timeoutMs == kInfinite) {
      result = pthread_cond_wait(&state->signal, &state->mutex);
    } else {
      result = pthread_cond_timedwait(&state->signal, &state->mutex, &deadline);
    }
  }
  const bool signalled = state->set;
  if (signalled && !state->manualReset) state->set = false;
  pthread_mutex_unlock(&state->mutex);
  if (signalled) return 1;
  return result == ETIMEDOUT ? 0 : -1;
}

unsigned long TlsAllocate() {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return kInvalidTlsIndex;
  return static_cast<unsigned long>(key);
}

void TlsRelease(unsigned long index) { pthread_key_delete(static_cast<pthread_key_t>(index)); }

void TlsSetValue(unsigned long index, void* value) {
  pthread_setspecific(static_cast<pthread_key_t>(index), value);
}

void* TlsGetValue(unsigned long index) {
  return pthread_getspecific(static_cast<pthread_key_t>(index));
}

}  // namespace platform
