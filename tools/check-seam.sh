#!/bin/sh
# Checks that no code outside the platform layer includes an operating-system
# header. The simulated unit and its own tests are a Linux-only test tool
# and are exempt.
cd "$(dirname "$0")/.."
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(windows|winsock2?|ws2tcpip|mstcpip|iphlpapi|icmpapi|unistd|pthread|fcntl|poll|netdb|ifaddrs|arpa/[a-z]+|netinet/[a-z_]+|net/[a-z_]+|sys/[a-z_]+|linux/[a-z_]+)\.h>'
hits=$(git ls-files '*.cpp' '*.h' | grep -v -E '^(libraries/platform/|unitsim/|tests/unitsim/)' |
  xargs grep -n -E "$pattern" 2>/dev/null)
if [ -n "$hits" ]; then
  echo "operating-system headers outside libraries/platform:"
  echo "$hits"
  exit 1
fi
echo "platform seam: no operating-system header outside libraries/platform"
