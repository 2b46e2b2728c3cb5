#!/bin/sh
# Runs a test command inside a private network namespace in which only the
# loopback interface is up, so that nothing a test sends can reach a real
# network. Native tests also get a private /dev/shm, so that programs run in
# parallel never see each other's named shared memory (wine runs, ZEQ_WINE=1,
# keep the system's). Without the privilege to make
# a namespace, the command runs as it is with ZEQ_NO_NETNS=1 and the tests
# that need one skip (CI runs as root, where such a skip counts as a failure).
# ZEQ_TEST_INTERFACES asks for test links in the namespace (netns-links.sh).
if [ "${ZEQ_IN_NETNS:-}" = 1 ]; then
  exec "$@"
fi
if unshare --net --mount --fork -- true 2>/dev/null; then
  ZEQ_LINKS_SCRIPT="$(cd "$(dirname "$0")" && pwd)/netns-links.sh"
  export ZEQ_LINKS_SCRIPT
  exec unshare --net --mount --fork -- sh -c '
    ip link set lo up || exit 1
    if [ -n "${ZEQ_TEST_INTERFACES:-}" ]; then ZEQ_IN_NETNS=1 sh "$ZEQ_LINKS_SCRIPT" || exit 1; fi
    if [ "${ZEQ_WINE:-}" != 1 ]; then
      mount --make-rprivate / && mount -t tmpfs -o mode=1777 tmpfs /dev/shm || exit 1
    fi
    ZEQ_IN_NETNS=1 exec "$@"' netns-run "$@"
fi
ZEQ_NO_NETNS=1 exec "$@"
