#!/bin/sh
# Checks the platform seam:
# - no code outside the platform layer includes an operating-system header
#   (the simulated unit and its own tests are a Linux-only test tool and are
#   exempt, and so are the front ends' own folders, shell/win32/ and
#   shell/tui/, the Win32 front end's tests, which draw with the system's
#   own windows, and the Linux route helper's system tests, which attack it
#   with the system's own calls: another user's process, links, signals);
# - every service header include/platform/X.h has its two implementations,
#   win32/X.cpp and posix/X.cpp, or, when its code is the same on both
#   platforms, the one portable/X.cpp (and then neither of the two); every
#   implementation file either carries a service's name or is a private
#   helper with its header X.h beside it;
# - errno meets a Windows number only in posix/Errors.cpp, the one table.
cd "$(dirname "$0")/.."
status=0
platform=libraries/platform

# Tracked files and new ones not yet added, without ignored build trees.
sources() {
  git ls-files --cached --others --exclude-standard -- "$@" | sort -u |
    while read -r file; do [ -f "$file" ] && echo "$file"; done
}

pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(windows|winsock2?|ws2tcpip|mstcpip|iphlpapi|icmpapi|unistd|pthread|fcntl|poll|netdb|ifaddrs|arpa/[a-z]+|netinet/[a-z_]+|net/[a-z_]+|sys/[a-z_]+|linux/[a-z_]+)\.h>'
hits=$(sources '*.cpp' '*.h' | grep -v -E "^($platform/|unitsim/|tests/unitsim/|installer/shell/(win32|tui)/|tests/shell/win32/|tests/routehelper/linux/)" |
  xargs grep -n -E "$pattern" 2>/dev/null)
if [ -n "$hits" ]; then
  echo "operating-system headers outside $platform:"
  echo "$hits"
  status=1
fi

for header in "$platform"/include/platform/*.h; do
  name=$(basename "$header" .h)
  if [ -f "$platform/portable/$name.cpp" ]; then
    for side in win32 posix; do
      if [ -f "$platform/$side/$name.cpp" ]; then
        echo "seam: $header has portable/$name.cpp and $side/$name.cpp as well"
        status=1
      fi
    done
    continue
  fi
  for side in win32 posix; do
    if [ ! -f "$platform/$side/$name.cpp" ]; then
      echo "seam: $header has no $side/$name.cpp"
      status=1
    fi
  done
done
for file in "$platform"/win32/*.cpp "$platform"/posix/*.cpp "$platform"/portable/*.cpp; do
  [ -f "$file" ] || continue
  name=$(basename "$file" .cpp)
  if [ ! -f "$platform/include/platform/$name.h" ] && [ ! -f "$(dirname "$file")/$name.h" ]; then
    echo "seam: $file implements no service header and has no private header beside it"
    status=1
  fi
done

# An errno name beside a Windows number (100xx, 110xx or one of the named
# constants), or a switch over errno values, outside the table.
errno_name='\bE[A-Z][A-Z0-9]{2,}\b'
windows_number='\b1[01][0-9]{3}\b|\bk(Error|FileError|Ip|Receive)[A-Z][A-Za-z]*'
mapping=$(sources '*.cpp' '*.h' | grep -v -E "^($platform/posix/Errors\.cpp|unitsim/|tests/)" |
  xargs grep -n -E "$errno_name" 2>/dev/null |
  grep -E "case[[:space:]]+E[A-Z]|$windows_number")
if [ -n "$mapping" ]; then
  echo "errno turned into a Windows number outside $platform/posix/Errors.cpp:"
  echo "$mapping"
  status=1
fi

[ $status = 0 ] && echo "platform seam: no operating-system header outside $platform, every service on both sides, one error table"
exit $status
