// Windows ICMP echo: the IP helper's IcmpCreateFile, IcmpSendEcho and
// IcmpCloseHandle. The reply area holds the reply record, the echoed data and
// the 8 bytes of an ICMP error message, as IcmpSendEcho requires; it is sized
// for the record of this build (40 bytes on x64, 28 on 32-bit Windows).
#include "platform/Icmp.h"

// The order matters: Winsock before windows.h, the IP helper after both.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <algorithm>
#include <vector>

namespace platform {

struct IcmpHandle {
  HANDLE handle;
};

namespace {

constexpr std::size_t kMinimumReplyArea = 8220;

}  // namespace

IcmpHandle* IcmpOpen() {
  HANDLE handle = IcmpCreateFile();
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return new IcmpHandle{handle};
}

void IcmpClose(IcmpHandle* handle) {
  if (handle == nullptr) return;
  IcmpCloseHandle(handle->handle);
  delete handle;
}

int IcmpEcho(IcmpHandle* handle, std::uint32_t address, const void* payload, std::uint16_t size,
             const IcmpEchoOptions& options, unsigned timeoutMs, IcmpEchoReply* reply) {
  if (handle == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  IP_OPTION_INFORMATION information{};
  information.Ttl = options.ttl;
  information.Tos = options.tos;
  information.Flags = options.flags;
  std::vector<unsigned char> area(std::max(kMinimumReplyArea, sizeof(ICMP_ECHO_REPLY) + size + 8));
  const DWORD count =
      IcmpSendEcho(handle->handle, address, const_cast<void*>(payload), size, &information,
                   area.data(), static_cast<DWORD>(area.size()), timeoutMs);
  if (count == 0) return 0;
  const auto* first = reinterpret_cast<const ICMP_ECHO_REPLY*>(area.data());
  reply->address = first->Address;
  reply->status = first->Status;
  reply->roundTripTime = first->RoundTripTime;
  reply->dataSize = first->DataSize;
  reply->ttl = first->Options.Ttl;
  reply->tos = first->Options.Tos;
  reply->flags = first->Options.Flags;
  return static_cast<int>(count);
}

std::string EchoOpenFailureText(int) { return "IcmpCreateFile() failed, err: "; }

std::string EchoFailureText(int status) {
  return "IcmpSendEcho() failed, err: " + std::to_string(status);
}

}  // namespace platform
