// Windows request pipe: a byte-mode named pipe of one instance. Only the
// first instance of the name may be created, remote clients are rejected,
// and the security descriptor grants full access to the installer's user
// and read access to Administrators (the helper may run under another
// administrator's account when a standard user elevated it), so no other
// account can serve or open it. Wine ignores the first-instance flag and
// creates another instance of a taken name, sometimes reporting
// ERROR_ALREADY_EXISTS; the create therefore also counts the instances of
// the name and fails unless ours is the only one.
//
// The helper opens the pipe at identification level, so the installer's end
// could never act under the helper's rights, and learns the server's process
// id, its own parent (from the process snapshot) and whether the server was
// started before it: a process that took a dead parent's id is younger than
// the helper.
//
// The pipe is opened for overlapped use so that the wait for the helper can
// be bounded; each call waits for its own operation to complete.
#include "platform/RequestPipe.h"

#include <windows.h>
// tlhelp32.h and sddl.h need windows.h first.
#include <sddl.h>
#include <tlhelp32.h>

#include <vector>

namespace platform {

namespace {

constexpr DWORD kBufferBytes = 1024;
constexpr DWORD kOneInstance = 1;

// A descriptor with two entries: full access for the current user, read
// access for the Administrators group.
class PipeSecurity {
 public:
  PipeSecurity() {
    if (!ReadUser()) return;
    DWORD adminsSize = SECURITY_MAX_SID_SIZE;
    admins_.resize(adminsSize);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_.data(), &adminsSize)) {
      return;
    }
    PSID user = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user) + adminsSize);
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    valid_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
             AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, user) &&
             AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ, admins_.data()) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  SECURITY_ATTRIBUTES* Get() { return valid_ ? &attributes_ : nullptr; }
  bool IsValid() const { return valid_; }

  // The entries as they stand in the access list.
  std::vector<PipeAccessEntry> Entries() {
    std::vector<PipeAccessEntry> entries;
    if (!valid_) return entries;
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    for (DWORD i = 0; i < acl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(acl, i, &ace)) break;
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      char* text = nullptr;
      if (!ConvertSidToStringSidA(&allowed->SidStart, &text)) break;
      entries.push_back({text, allowed->Mask});
      LocalFree(text);
    }
    return entries;
  }

 private:
  bool ReadUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    const bool haveUser =
        size != 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    CloseHandle(token);
    return haveUser;
  }

  std::vector<BYTE> user_;
  std::vector<BYTE> admins_;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool valid_ = false;
};

// The parent of this process, from the system's process snapshot; 0 when
// it cannot be read.
unsigned long ParentProcessId() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  const DWORD self = GetCurrentProcessId();
  unsigned long parent = 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return parent;
}

bool CreationTime(HANDLE process, ULARGE_INTEGER* created) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return false;
  created->LowPart = creation.dwLowDateTime;
  created->HighPart = creation.dwHighDateTime;
  return true;
}

// True when the process `id` was started before this one.
bool StartedBeforeThisProcess(unsigned long id) {
  HANDLE other = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (other == nullptr) return false;
  ULARGE_INTEGER theirs{}, ours{};
  const bool known = CreationTime(other, &theirs) && CreationTime(GetCurrentProcess(), &ours);
  CloseHandle(other);
  return known && theirs.QuadPart < ours.QuadPart;
}

class NamedPipeServer : public RequestPipeServer {
 public:
  NamedPipeServer() { overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~NamedPipeServer() override {
    Close();
    if (overlapped_.hEvent != nullptr) CloseHandle(overlapped_.hEvent);
  }

  int Create(unsigned long number, const std::string& key) override {
    Close();
    PipeSecurity security;
    if (!security.IsValid()) return static_cast<int>(GetLastError());
    const std::string name = RequestPipeName(number, key);
    HANDLE pipe = CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, kOneInstance,
        kBufferBytes, kBufferBytes, 0, security.Get());
    const DWORD error = GetLastError();
    if (pipe == INVALID_HANDLE_VALUE) return static_cast<int>(error);
    DWORD instances = 0;
    if (error == ERROR_ALREADY_EXISTS ||
        !GetNamedPipeHandleStateA(pipe, nullptr, &instances, nullptr, nullptr, nullptr, 0) ||
        instances != 1) {
      CloseHandle(pipe);
      return kErrorAlreadyExists;
    }
    pipe_ = pipe;
    return 0;
  }

  bool IsOpen() const override { return pipe_ != INVALID_HANDLE_VALUE; }

  int WaitForClient(unsigned long clientProcessId, unsigned timeoutMs) override {
    if (connected_) return 1;
    if (pipe_ == INVALID_HANDLE_VALUE) return -1;
    const int state = ConnectState(timeoutMs);
    if (state != 1) return state;
    ULONG client = 0;
    if (!GetNamedPipeClientProcessId(pipe_, &client) || client != clientProcessId) {
      // Whoever else got to the pipe first is sent away.
      DisconnectNamedPipe(pipe_);
      return 0;
    }
    connected_ = true;
    return 1;
  }

  int Write(const void* data, int length) override {
    if (!connected_) return 0;
    DWORD written = 0;
    ResetEvent(overlapped_.hEvent);
    if (!WriteFile(pipe_, data, static_cast<DWORD>(length), nullptr, &overlapped_) &&
        GetLastError() != ERROR_IO_PENDING) {
      return 0;
    }
    if (!GetOverlappedResult(pipe_, &overlapped_, &written, TRUE)) return 0;
    return static_cast<int>(written);
  }

  bool Flush() override { return connected_ && FlushFileBuffers(pipe_) != 0; }

  void Close() override {
    if (pipe_ == INVALID_HANDLE_VALUE) return;
    if (connecting_) {
      CancelIo(pipe_);
      DWORD ignored = 0;
      GetOverlappedResult(pipe_, &overlapped_, &ignored, TRUE);
    }
    CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
    connecting_ = false;
    connected_ = false;
  }

 private:
  // Starts a connect unless one is under way and waits for it: 1 connected,
  // 0 not yet, -1 failed.
  int ConnectState(unsigned timeoutMs) {
    if (!connecting_) {
      ResetEvent(overlapped_.hEvent);
      if (ConnectNamedPipe(pipe_, &overlapped_)) return 1;
      const DWORD error = GetLastError();
      if (error == ERROR_PIPE_CONNECTED) return 1;
      if (error != ERROR_IO_PENDING) return -1;
      connecting_ = true;
    }
    const DWORD waited = WaitForSingleObject(overlapped_.hEvent, timeoutMs);
    if (waited == WAIT_TIMEOUT) return 0;
    connecting_ = false;
    DWORD ignored = 0;
    if (waited != WAIT_OBJECT_0 || !GetOverlappedResult(pipe_, &overlapped_, &ignored, FALSE)) {
      return -1;
    }
    return 1;
  }

  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped_{};
  bool connecting_ = false;
  bool connected_ = false;
};

}  // namespace

std::string RequestPipeName(unsigned long number, const std::string& key) {
  return "\\\\.\\pipe\\zeq" + std::to_string(number) + (key.empty() ? "" : "-" + key);
}

std::vector<PipeAccessEntry> RequestPipeAccessList() { return PipeSecurity().Entries(); }

std::unique_ptr<RequestPipeServer> MakeRequestPipeServer() {
  return std::make_unique<NamedPipeServer>();
}

int RequestPipeClient::Open(unsigned long number, const std::string& key, PipeServerFacts* server) {
  Close();
  const std::string name = RequestPipeName(number, key);
  HANDLE pipe =
      CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  ULONG serverId = 0;
  if (!GetNamedPipeServerProcessId(pipe, &serverId)) serverId = 0;
  server->processId = serverId;
  server->parentId = ParentProcessId();
  server->expectedUser = true;  // the pipe's access list admits no one else
  server->startedFirst = serverId != 0 && StartedBeforeThisProcess(serverId);
  handle_ = reinterpret_cast<long long>(pipe);
  return 0;
}

bool RequestPipeClient::ReadExactly(void* data, int length) {
  if (handle_ == kNoHandle) return false;
  HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
  char* at = static_cast<char*>(data);
  int done = 0;
  while (done < length) {
    DWORD got = 0;
    if (!ReadFile(pipe, at + done, static_cast<DWORD>(length - done), &got, nullptr) || got == 0) {
      return false;
    }
    done += static_cast<int>(got);
  }
  return true;
}

void RequestPipeClient::Close() {
  if (handle_ != kNoHandle) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNoHandle;
}

}  // namespace platform
