// Windows token privileges: each one the token holds, but
// SeChangeNotifyPrivilege, is removed for good (SE_PRIVILEGE_REMOVED), not
// merely disabled, so that nothing in the process can enable it again.
#include "platform/Privileges.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {

std::vector<BYTE> TokenPrivilegeList(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
    buffer.clear();
  }
  return buffer;
}

}  // namespace

int KeepOnlyNetworkPrivileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &token)) {
    return static_cast<int>(GetLastError());
  }
  std::vector<BYTE> buffer = TokenPrivilegeList(token);
  LUID traverse{};
  LookupPrivilegeValueA(nullptr, "SeChangeNotifyPrivilege", &traverse);
  DWORD error = buffer.empty() ? GetLastError() : ERROR_SUCCESS;
  if (!buffer.empty()) {
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
      const bool keep =
          entry.Luid.LowPart == traverse.LowPart && entry.Luid.HighPart == traverse.HighPart;
      entry.Attributes = keep ? entry.Attributes : SE_PRIVILEGE_REMOVED;
    }
    if (!AdjustTokenPrivileges(token, FALSE, privileges, 0, nullptr, nullptr)) {
      error = GetLastError();
    }
  }
  CloseHandle(token);
  return static_cast<int>(error);
}

}  // namespace platform
