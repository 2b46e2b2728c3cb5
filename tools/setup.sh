#!/bin/sh
# Installs what a fresh Debian 12 machine lacks for building and testing both
# platforms: compilers (native, clang for the fuzzers, mingw-w64 for
# Windows), CMake and Ninja, GoogleTest and Google Benchmark, zlib (the
# yardstick of the CRC-32 benchmark), ncurses, wine with a virtual display
# (xvfb) and a screenshot tool (imagemagick's import) for the dialog tests,
# tmux for the text UI test and the demo, a monospaced font to draw the text
# UI's screenshot, the network and process tools the tests and the demo use
# inside their private namespaces, dpkg-dev and lintian to make and check
# the Debian package, and chromium to draw the run report's page.
#
# With --demo it installs only what the demo needs: the native compiler and
# build tools, ncurses, the namespace tools, and tmux with imagemagick and
# the font for the demo's screenshot.
#
# Usage: tools/setup.sh [--demo]
set -eu

packages="g++ clang cmake ninja-build libgtest-dev googletest libbenchmark-dev zlib1g-dev libncurses-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth imagemagick tmux
  fonts-dejavu-core iproute2 util-linux procps dpkg-dev lintian
  inetutils-telnetd inetutils-inetd chromium"
if [ "${1:-}" = --demo ]; then
  packages="g++ cmake ninja-build libncurses-dev iproute2 util-linux procps tmux imagemagick
    fonts-dejavu-core"
fi

missing=""
for package in $packages; do
  dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
if [ -z "$missing" ]; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "setup: missing packages:$missing (run as root to install them)" >&2
  exit 1
fi
echo "setup: installing$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq $missing >/dev/null
