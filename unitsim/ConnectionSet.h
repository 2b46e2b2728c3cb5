// The TCP connections being served, one thread each. The set owns every
// connection's socket: the thread serves it, and the set closes it when the
// thread is done, so the simulator can shut all sockets down at exit without
// ever touching a descriptor number that was closed and given out again.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace unitsim {

class ConnectionSet {
 public:
  ~ConnectionSet();
  // Serves the socket with body(fd) on a new thread.
  void Start(int fd, std::function<void(int)> body);
  // Joins the threads that have ended.
  void Reap();
  // Shuts every open socket down, which ends the threads' blocking reads,
  // and joins them all.
  void StopAll();

 private:
  struct Entry {
    int fd;
    std::atomic<bool> finished{false};
    std::thread thread;
  };

  std::mutex lock_;
  std::list<std::unique_ptr<Entry>> entries_;
};

}  // namespace unitsim
