// Linux request pipe: an abstract Unix stream socket. Binding a name that
// another socket holds fails, so a second server cannot take over the name;
// SO_PEERCRED tells each end which process and user are at the other one
// (for the client, the process that listens). Flush watches the socket's
// send queue (SIOCOUTQ), which empties once the helper has read every byte.
//
// The user the helper expects is the one pkexec names in PKEXEC_UID (the
// user who asked for it), else the helper's own real user (a root installer
// starts it directly).
#include "platform/RequestPipe.h"

#include <errno.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "ErrorTable.h"
#include "RequestingUser.h"

namespace platform {

namespace {

// The abstract name: a NUL, then the name without a terminator.
socklen_t AbstractAddress(unsigned long number, const std::string& key, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::string name = RequestPipeName(number, key);
  if (name.size() > sizeof address->sun_path - 1) name.resize(sizeof address->sun_path - 1);
  std::memcpy(address->sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

int ErrorCode(int error) { return SystemErrorFromErrno(error); }

ucred PeerCredentials(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return ucred{0, 0, 0};
  return credentials;
}

unsigned long PeerProcessId(int fd) { return static_cast<unsigned long>(PeerCredentials(fd).pid); }

// The user who asked for the helper: the one PKEXEC_UID names (a malformed
// value matches nobody), else the real user.
bool IsExpectedUser(uid_t user) {
  uid_t named = 0;
  switch (ReadPkexecUser(&named)) {
    case PkexecUser::kUnset: return user == getuid();
    case PkexecUser::kNamed: return user == named;
    case PkexecUser::kMalformed: break;
  }
  return false;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

class UnixRequestPipeServer : public RequestPipeServer {
 public:
  ~UnixRequestPipeServer() override { Close(); }

  int Create(unsigned long number, const std::string& key) override {
    Close();
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return errno;
    sockaddr_un address;
    const socklen_t length = AbstractAddress(number, key, &address);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 4) != 0) {
      const int error = ErrorCode(errno);
      CloseFd(listener_);
      return error;
    }
    return 0;
  }

  bool IsOpen() const override { return listener_ >= 0; }

  int WaitForClient(unsigned long clientProcessId, unsigned timeoutMs) override {
    if (client_ >= 0) return 1;
    if (listener_ < 0) return -1;
    pollfd waiting{listener_, POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(timeoutMs));
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return errno == EAGAIN || errno == ECONNABORTED || errno == EINTR ? 0 : -1;
    // Whoever else got to the name first is sent away.
    if (PeerProcessId(client) != clientProcessId) {
      close(client);
      return 0;
    }
    client_ = client;
    return 1;
  }

  int Write(const void* data, int length) override {
    if (client_ < 0) return 0;
    const char* at = static_cast<const char*>(data);
    int done = 0;
    while (done < length) {
      const ssize_t sent =
          send(client_, at + done, static_cast<size_t>(length - done), MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return 0;
      done += static_cast<int>(sent);
    }
    return done;
  }

  // The queue also empties when the helper ends, as the system then drops
  // what it had not read; a hang-up is therefore checked first.
  bool Flush() override {
    if (client_ < 0) return false;
    for (;;) {
      int queued = 0;
      if (ioctl(client_, SIOCOUTQ, &queued) != 0) return false;
      pollfd state{client_, 0, 0};
      if (poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR)) != 0) return false;
      if (queued == 0) return true;
      const timespec pause{0, 20 * 1000};
      nanosleep(&pause, nullptr);
    }
  }

  void Close() override {
    CloseFd(client_);
    CloseFd(listener_);
  }

 private:
  int listener_ = -1;
  int client_ = -1;
};

}  // namespace

std::string RequestPipeName(unsigned long number, const std::string& key) {
  return "zeq" + std::to_string(number) + (key.empty() ? "" : "-" + key);
}

std::vector<PipeAccessEntry> RequestPipeAccessList() { return {}; }

std::unique_ptr<RequestPipeServer> MakeRequestPipeServer() {
  return std::make_unique<UnixRequestPipeServer>();
}

// The parent is read after the connection is made: had the parent ended
// and its process id gone to another process, the helper would have a new
// parent by then, so a server with the old id no longer passes as it. A
// parent is always older than its child.
int RequestPipeClient::Open(unsigned long number, const std::string& key, PipeServerFacts* server) {
  Close();
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  sockaddr_un address;
  const socklen_t length = AbstractAddress(number, key, &address);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    const int error = errno;
    close(fd);
    return error;
  }
  const ucred credentials = PeerCredentials(fd);
  server->processId = static_cast<unsigned long>(credentials.pid);
  server->parentId = static_cast<unsigned long>(getppid());
  server->expectedUser = credentials.pid != 0 && IsExpectedUser(credentials.uid);
  server->startedFirst = true;
  handle_ = fd;
  return 0;
}

bool RequestPipeClient::ReadExactly(void* data, int length) {
  if (handle_ == kNoHandle) return false;
  char* at = static_cast<char*>(data);
  int done = 0;
  while (done < length) {
    const ssize_t got =
        recv(static_cast<int>(handle_), at + done, static_cast<size_t>(length - done), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<int>(got);
  }
  return true;
}

void RequestPipeClient::Close() {
  if (handle_ != kNoHandle) close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

}  // namespace platform
