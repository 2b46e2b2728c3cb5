// Which completion port each socket is tied to. The overlapped datagram
// receive looks its socket up here to know where its completion goes.
#include <mutex>
#include <unordered_map>

#include "CompletionQueue.h"

namespace platform {

namespace {

struct Association {
  CompletionPort* port;
  void* key;
};

std::mutex& AssociationMutex() {
  static std::mutex mutex;
  return mutex;
}

std::unordered_map<SocketHandle, Association>& Associations() {
  static std::unordered_map<SocketHandle, Association> associations;
  return associations;
}

}  // namespace

bool AssociateSocket(CompletionPort* port, SocketHandle socket, void* key) {
  std::lock_guard<std::mutex> lock(AssociationMutex());
  Associations()[socket] = Association{port, key};
  return true;
}

void DissociatePort(CompletionPort* port) {
  std::lock_guard<std::mutex> lock(AssociationMutex());
  for (auto it = Associations().begin(); it != Associations().end();) {
    it = it->second.port == port ? Associations().erase(it) : std::next(it);
  }
}

}  // namespace platform
