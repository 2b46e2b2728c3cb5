// The Linux main loop: poll over a wake-up pipe and the watched descriptors,
// with a timeout that ends at the next timer's due time. Posted calls and
// Quit write one byte to the pipe; the loop drains it and runs what was
// posted. Every callback is copied before it runs, so it may unwatch itself
// or kill its own timer.
#include "platform/MainLoop.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  std::chrono::milliseconds period;
  Clock::time_point due;
  MainLoop::Callback tick;
};

}  // namespace

struct MainLoop::Impl {
  int wakeRead = -1;
  int wakeWrite = -1;
  std::map<int, Callback> watched;
  std::map<int, Timer> timers;
  int nextTimerId = 1;

  // Guards what other threads hand in: posted calls and the quit request.
  std::mutex mutex;
  std::deque<Callback> posted;
  bool quitRequested = false;
  int quitCode = 0;

  void Wake() {
    const char byte = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = write(wakeWrite, &byte, 1);
  }
  bool TakeQuit(int* code);
  int MillisecondsToNextTimer() const;
  void WaitAndDispatch();
  void RunPosted();
  void RunReady(const std::vector<pollfd>& entries);
  void RunDueTimers();
};

bool MainLoop::Impl::TakeQuit(int* code) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!quitRequested) return false;
  quitRequested = false;
  *code = quitCode;
  return true;
}

int MainLoop::Impl::MillisecondsToNextTimer() const {
  if (timers.empty()) return -1;
  Clock::time_point next = timers.begin()->second.due;
  for (const auto& [id, timer] : timers) next = std::min(next, timer.due);
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

void MainLoop::Impl::WaitAndDispatch() {
  std::vector<pollfd> entries{{wakeRead, POLLIN, 0}};
  for (const auto& [descriptor, callback] : watched) entries.push_back({descriptor, POLLIN, 0});
  const int ready = poll(entries.data(), entries.size(), MillisecondsToNextTimer());
  if (ready < 0) return;  // interrupted: the next round waits again
  if (entries[0].revents != 0) RunPosted();
  RunReady(entries);
  RunDueTimers();
}

void MainLoop::Impl::RunPosted() {
  char drain[64];
  while (read(wakeRead, drain, sizeof drain) > 0) {
  }
  std::deque<Callback> calls;
  {
    std::lock_guard<std::mutex> lock(mutex);
    calls.swap(posted);
  }
  for (const Callback& call : calls) call();
}

void MainLoop::Impl::RunReady(const std::vector<pollfd>& entries) {
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (entries[i].revents == 0) continue;
    const auto it = watched.find(entries[i].fd);
    if (it == watched.end()) continue;  // unwatched by an earlier callback
    const Callback callback = it->second;
    callback();
  }
}

void MainLoop::Impl::RunDueTimers() {
  std::vector<int> due;
  const Clock::time_point now = Clock::now();
  for (const auto& [id, timer] : timers) {
    if (timer.due <= now) due.push_back(id);
  }
  for (int id : due) {
    const auto it = timers.find(id);
    if (it == timers.end()) continue;
    Timer& timer = it->second;
    // A loop that fell behind skips the missed ticks rather than firing
    // them in a burst, as Windows timers do.
    timer.due += timer.period;
    if (timer.due <= now) timer.due = now + timer.period;
    const Callback tick = timer.tick;
    tick();
  }
}

MainLoop::MainLoop() : impl_(std::make_unique<Impl>()) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  impl_->wakeRead = ends[0];
  impl_->wakeWrite = ends[1];
}

MainLoop::~MainLoop() {
  if (impl_->wakeRead >= 0) close(impl_->wakeRead);
  if (impl_->wakeWrite >= 0) close(impl_->wakeWrite);
}

bool MainLoop::IsValid() const { return impl_->wakeRead >= 0; }

int MainLoop::WatchSocketReadable(SocketHandle socket, Callback onReadable) {
  return WatchDescriptor(static_cast<int>(socket), std::move(onReadable));
}

void MainLoop::UnwatchSocket(SocketHandle socket) { UnwatchDescriptor(static_cast<int>(socket)); }

int MainLoop::WatchDescriptor(int descriptor, Callback onReadable) {
  if (!IsValid() || descriptor < 0 || !onReadable) {
    errno = EINVAL;
    return -1;
  }
  impl_->watched[descriptor] = std::move(onReadable);
  return 0;
}

void MainLoop::UnwatchDescriptor(int descriptor) { impl_->watched.erase(descriptor); }

int MainLoop::AddTimer(unsigned periodMs, Callback onTick) {
  if (!IsValid() || !onTick) return 0;
  const std::chrono::milliseconds period(periodMs == 0 ? 1 : periodMs);
  const int id = impl_->nextTimerId++;
  impl_->timers[id] = Timer{period, Clock::now() + period, std::move(onTick)};
  return id;
}

void MainLoop::KillTimer(int id) { impl_->timers.erase(id); }

bool MainLoop::Post(Callback call) {
  if (!IsValid() || !call) return false;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->posted.push_back(std::move(call));
  }
  impl_->Wake();
  return true;
}

int MainLoop::Run() {
  if (!IsValid()) return -1;
  int code = 0;
  while (!impl_->TakeQuit(&code)) impl_->WaitAndDispatch();
  return code;
}

void MainLoop::Quit(int code) {
  if (!IsValid()) return;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->quitRequested = true;
    impl_->quitCode = code;
  }
  impl_->Wake();
}

}  // namespace platform
