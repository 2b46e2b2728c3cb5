// The ties between sockets and the Linux completion ports: which port, and
// with which key, a socket's overlapped operations complete. One lock guards
// every tie, and completing holds it, so a port that is being closed
// (DissociatePort first) is never pushed to after its end.
#include "CompletionQueue.h"

#include <mutex>
#include <unordered_map>

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

bool IsAssociated(SocketHandle socket) {
  std::lock_guard<std::mutex> lock(AssociationMutex());
  return Associations().count(socket) != 0;
}

void Dissociate(SocketHandle socket) {
  std::lock_guard<std::mutex> lock(AssociationMutex());
  Associations().erase(socket);
}

void CompleteOnPort(SocketHandle socket, Completion completion) {
  std::lock_guard<std::mutex> lock(AssociationMutex());
  const auto it = Associations().find(socket);
  if (it == Associations().end()) return;
  completion.key = it->second.key;
  it->second.port->Push(completion);
}

}  // namespace platform
