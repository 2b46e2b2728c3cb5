// Blocking socket helpers (see SocketIo.h).
#include "SocketIo.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <thread>

namespace unitsim {

bool SendAll(int fd, const void* data, std::size_t length) {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

ReadPacer::ReadPacer(long long bytesPerSecond)
    : rate_(bytesPerSecond), start_(std::chrono::steady_clock::now()) {}

std::size_t ReadPacer::Chunk(std::size_t wanted) const {
  if (rate_ <= 0) return wanted;
  // About a twentieth of a second's worth at a time keeps the pace smooth.
  const auto slice = static_cast<std::size_t>(std::max<long long>(1, rate_ / 20));
  return std::min(wanted, slice);
}

void ReadPacer::Account(std::size_t bytes) {
  if (rate_ <= 0) return;
  total_ += static_cast<long long>(bytes);
  const auto due = start_ + std::chrono::microseconds(total_ * 1000000 / rate_);
  std::this_thread::sleep_until(due);
}

bool RecvExact(int fd, void* data, std::size_t length, ReadPacer* pacer) {
  char* bytes = static_cast<char*>(data);
  while (length > 0) {
    const std::size_t ask = pacer != nullptr ? pacer->Chunk(length) : length;
    const ssize_t got = recv(fd, bytes, ask, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    if (pacer != nullptr) pacer->Account(static_cast<std::size_t>(got));
    bytes += got;
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace unitsim
