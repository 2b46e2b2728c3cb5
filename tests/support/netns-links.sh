#!/bin/sh
# Builds test network links inside a private network namespace: one veth
# link zeq0, zeq1, ... per address in ZEQ_TEST_INTERFACES ("192.168.1.10/24
# 10.0.0.5/8"), in that order, so the system lists the interfaces in that
# order too. The peer ends stay down, so whatever is sent on a link goes no
# further than the namespace; broadcasts to a link's subnet are still looped
# back to local sockets. An address with prefix /0 also gets the default
# route, which the limited broadcast (255.255.255.255) needs to leave. The
# route goes via a gateway on the link (the next address), not "dev" alone:
# beside an on-link default route wine's GetAdaptersAddresses fails with 13.
#
# netns-run.sh calls this before it starts the test program, for the tests
# that cannot build links themselves (Windows programs under wine); Linux
# tests run it from their fixtures. It refuses to run anywhere but in a test
# namespace: ZEQ_IN_NETNS=1, and no link there but loopback and its own.
set -e
others=$(ip -o link show | sed -E 's/^[0-9]+: ([^:@]+).*/\1/' | grep -v -E '^(lo|zeq[0-9]+p?)$' || true)
if [ "${ZEQ_IN_NETNS:-}" != 1 ] || [ -n "$others" ]; then
  echo "netns-links.sh: not inside a private test namespace" >&2
  exit 1
fi
n=0
for address in ${ZEQ_TEST_INTERFACES:-}; do
  ip link add "zeq$n" type veth peer name "zeq${n}p"
  ip addr add "$address" dev "zeq$n"
  ip link set "zeq$n" up
  case $address in
    */0)
      gateway=$(echo "${address%/*}" | awk -F. '{ printf "%d.%d.%d.%d", $1, $2, $3, ($4 + 1) % 256 }')
      ip route add default via "$gateway" dev "zeq$n" onlink
      ;;
  esac
  n=$((n + 1))
done
