// Connection threads and their sockets (see ConnectionSet.h).
#include "ConnectionSet.h"

#include <sys/socket.h>
#include <unistd.h>

namespace unitsim {

ConnectionSet::~ConnectionSet() { StopAll(); }

void ConnectionSet::Start(int fd, std::function<void(int)> body) {
  auto entry = std::make_unique<Entry>();
  Entry* raw = entry.get();
  raw->fd = fd;
  std::lock_guard<std::mutex> guard(lock_);
  entries_.push_back(std::move(entry));
  raw->thread = std::thread([this, raw, body = std::move(body)] {
    body(raw->fd);
    std::lock_guard<std::mutex> inner(lock_);
    close(raw->fd);
    raw->fd = -1;
    raw->finished = true;
  });
}

void ConnectionSet::Reap() {
  std::list<std::unique_ptr<Entry>> done;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      if ((*it)->finished) {
        done.push_back(std::move(*it));
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& entry : done) entry->thread.join();
}

void ConnectionSet::StopAll() {
  std::list<std::unique_ptr<Entry>> all;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& entry : entries_) {
      if (entry->fd >= 0) shutdown(entry->fd, SHUT_RDWR);
    }
    all.swap(entries_);
  }
  for (auto& entry : all) entry->thread.join();
}

}  // namespace unitsim
