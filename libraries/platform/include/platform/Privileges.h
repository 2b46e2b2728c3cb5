// Giving up rights a process does not need. The route helper runs as
// administrator only to change the routing table and to send raw
// broadcasts; everything else that right would allow (reading any file,
// loading drivers, taking ownership, debugging other processes) it gives up
// right after its start, so that a fault in it cannot be turned into them.
//
// Linux: every capability but CAP_NET_ADMIN and CAP_NET_RAW leaves the
// effective, permitted, inheritable, ambient and bounding sets, and no
// program the process might start can gain privileges (no_new_privs).
// Windows: every privilege of the process's token is removed but "bypass
// traverse checking", which opening any path needs.
#pragma once

namespace platform {

// 0, or the system's error code when the rights could not be reduced.
int KeepOnlyNetworkPrivileges();

}  // namespace platform
