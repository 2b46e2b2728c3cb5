// Linux capabilities through the capget and capset system calls, without a
// library. The bounding set is cut first: that needs CAP_SETPCAP, which the
// capset then gives up. A process that holds no capability (an ordinary
// user) has nothing to give up, and the calls change nothing.
#include "platform/Privileges.h"

#include <errno.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#include "ErrorTable.h"

namespace platform {

namespace {

bool IsKept(int capability) { return capability == CAP_NET_ADMIN || capability == CAP_NET_RAW; }

void DropFromBoundingSet() {
  for (int capability = 0; prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0; ++capability) {
    if (!IsKept(capability)) prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
  }
}

}  // namespace

int KeepOnlyNetworkPrivileges() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, sets) != 0) return SystemErrorFromErrno(errno);
  DropFromBoundingSet();
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  constexpr std::uint32_t kKeep = (1u << CAP_NET_ADMIN) | (1u << CAP_NET_RAW);
  for (__user_cap_data_struct& set : sets) {
    const bool low = &set == &sets[0];
    set.effective &= low ? kKeep : 0;
    set.permitted &= low ? kKeep : 0;
    set.inheritable = 0;
  }
  if (syscall(SYS_capset, &header, sets) != 0) return SystemErrorFromErrno(errno);
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return SystemErrorFromErrno(errno);
  return 0;
}

}  // namespace platform
