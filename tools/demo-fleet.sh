#!/bin/sh
# The inside of tools/demo: runs as the first process of the demo's private
# process and network namespaces (tools/demo makes them) and refuses to run
# anywhere else, because it changes links, addresses, routes and sysctls.
#
# The network is the office PC and a site with the units, joined by two
# cables (veth pairs). This namespace is the PC, with fieldloader and
# pathkeeper; a second network namespace is the site, with unitsim:
#
#   PC                                site
#   lan0 10.20.1.10/24  ----------  lan0p 10.20.1.1/24, units 10.20.1.21-32
#   lan1 10.20.2.10/24  ----------  lan1p 10.20.2.1/24, units 10.20.2.21-32
#
# The PC's lan1 keeps its address (so discovery broadcasts to 10.20.2.255
# and hears the units there) but has no route to that subnet, only one to the
# site router 10.20.2.1: as for a PC whose second subnet is not configured,
# every unit there fails the ping, and the installer has pathkeeper add a host
# route for each (on the link, or via the router for the units that report
# it as their gateway) before it can connect. Two units on the first subnet
# drop echo requests (firewalled) and get a route the same way.
#
# Usage: demo-fleet.sh tui|headless|screenshot BUILD_DIR WORK [PNG]
#        demo-fleet.sh site WORK   (the site's side, started by the above)
set -u
here=$(cd "$(dirname "$0")" && pwd)

# Only inside a network that holds nothing but loopback and the demo's own
# links; the PC's side also only as the first process of its own process
# namespace.
others=$(ip -o link show | sed -E 's/^[0-9]+: ([^:@]+).*/\1/' | grep -v -E '^(lo|lan[01]p?)$')
if [ -n "$others" ] || { [ "${1:-}" != site ] && [ "$$" != 1 ]; }; then
  echo "demo-fleet.sh: not inside the demo's private namespaces (run sh tools/demo)" >&2
  exit 1
fi

# The fleet: address, unitsim knobs, the outcome the installer must show.
fleet() {
  cat <<'EOF'
10.20.1.21 group=North,node=101 Success
10.20.1.22 group=North,node=102 Success
10.20.1.23 group=North,node=103 Success
10.20.1.24 group=North,node=104 Success
10.20.1.25 group=North,node=105 Success
10.20.1.26 group=North,node=106 Success
10.20.1.27 group=North,node=107,no-echo Success
10.20.1.28 group=North,node=108,no-echo Success
10.20.1.29 group=North,node=109,refuse-password Failed_Connection
10.20.1.30 group=North,node=110,exit=3,exit-runs=1 Unknown_Error
10.20.1.31 group=North,node=111,restart-on-install,down-ms=4000 Connection_Closed
10.20.1.32 group=North,node=112,version=4.0.7 Success
10.20.2.21 group=South,node=201 Success
10.20.2.22 group=South,node=202 Success
10.20.2.23 group=South,node=203 Success
10.20.2.24 group=South,node=204 Success
10.20.2.25 group=South,node=205 Success
10.20.2.26 group=South,node=206 Success
10.20.2.27 group=South,node=207 Success
10.20.2.28 group=South,node=208 Success
10.20.2.29 group=South,node=209,gw=10.20.2.1 Success
10.20.2.30 group=South,node=210,gw=10.20.2.1 Success
10.20.2.31 group=South,node=211,gw=10.20.2.1 Success
10.20.2.32 group=South,node=212,gw=10.20.2.1 Success
EOF
}

# --- the site: waits for its two cables, then runs the units.
if [ "${1:-}" = site ]; then
  work=$2
  tries=100
  until ip link show lan0p >/dev/null 2>&1 && ip link show lan1p >/dev/null 2>&1; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || { echo "site: the links did not arrive" >&2; exit 1; }
    sleep 0.05
  done
  {
    echo "link set lo up"
    echo "address add 10.20.1.1/24 dev lan0p"
    echo "address add 10.20.2.1/24 dev lan1p"
    fleet | while read -r address _ _; do
      case $address in 10.20.1.*) link=lan0p ;; *) link=lan1p ;; esac
      echo "address add $address/24 dev $link"
    done
    echo "link set lan0p up"
    echo "link set lan1p up"
  } >"$work/site.ip"
  ip -batch "$work/site.ip" || exit 1
  UNITSIM_PRIVATE_NETNS=1 exec "$work/bin/unitsim" --config "$work/fleet.conf" \
    --log "$work/unitsim.log" --root "$work/units"
fi

mode=$1
build=$2
work=$3
screenshot=${4:-}
release=$work/release
mkdir -p "$work/bin" "$work/units" "$work/logs" "$release"
export TMUX_TMPDIR="$work"

site=
tmux_socket=demo-$$
stop_site() {
  [ -n "$site" ] || return 0
  kill -TERM "$site" 2>/dev/null
  wait "$site" 2>/dev/null
  site=
}
cleanup() {
  tmux -L "$tmux_socket" kill-server 2>/dev/null
  stop_site
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# The programs. The release folder holds the installer and its helper, as a
# field engineer's copy of the release does. The desktop's document viewer is
# replaced by one that notes the request: a browser started inside this
# namespace could not show anything useful, and would take over the terminal
# when there is no display.
cp "$build/installer/shell/tui/fieldloader" "$build/routehelper/pathkeeper" "$release/"
cp "$build/unitsim/unitsim" "$work/bin/"
printf '#!/bin/sh\necho "$*" >>"%s/opened.txt"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

# unitsim's configuration and the expected outcomes, both from the fleet.
{
  echo "defaults version=4.1.0,new-version=4.2.0,mask=255.255.255.0"
  fleet | while read -r address knobs _; do echo "unit addr=$address,$knobs"; done
} >"$work/fleet.conf"
fleet | while read -r address _ outcome; do echo "$address $outcome" | tr _ ' '; done \
  >"$work/expected.txt"

# A release as it comes from the build server: the manifest, three payload
# files of a few MiB, the install script the units run, the release notes.
write_release() {
  head -c 3145728 /dev/urandom >"$release/tarvo-app.bin"
  head -c 2097152 /dev/urandom >"$release/tarvo-fpga.bit"
  head -c 1048576 /dev/urandom >"$release/tarvo-maps.dat"
  printf '#!/bin/sh\r\n# Tarvo release 4.2.0: put the new files in place.\r\n' >"$release/install.script"
  printf 'cp /opt/tarvo/tarvo-app.bin /opt/tarvo/bin/tarvo-app\r\n' >>"$release/install.script"
  printf 'fpgaload /opt/tarvo/tarvo-fpga.bit\r\nsync\r\nexit 0\r\n' >>"$release/install.script"
  cat >"$release/ftpdwnld.txt" <<'EOF'
# Tarvo release 4.2.0
cd /rsa
send install.script install.script
cd /opt/tarvo
send tarvo-app.bin tarvo-app.bin
send tarvo-fpga.bit tarvo-fpga.bit
send tarvo-maps.dat tarvo-maps.dat
auto_install
EOF
  cat >"$release/whats_new.html" <<'EOF'
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Tarvo 4.2.0</title></head>
<body><h1>Tarvo release 4.2.0</h1>
<ul><li>New application build.</li><li>FPGA image 2.7.</li><li>Updated maps.</li></ul>
</body></html>
EOF
}

# The office PC's side of the network.
build_network() {
  ip link set lo up &&
    ip link add lan0 type veth peer name lan0p netns "$site" &&
    ip link add lan1 type veth peer name lan1p netns "$site" &&
    ip address add 10.20.1.10/24 dev lan0 &&
    ip address add 10.20.2.10/24 dev lan1 noprefixroute &&
    ip link set lan0 up && ip link set lan1 up &&
    ip route add 10.20.2.1/32 dev lan1 scope link || return 1
  # Answers from a subnet without a route would fail the strict reverse-path
  # check; echo sockets for every group spare the ping its raw socket.
  for conf in all default lan0 lan1; do echo 0 >"/proc/sys/net/ipv4/conf/$conf/rp_filter"; done
  echo "0 0" >/proc/sys/net/ipv4/ping_group_range 2>/dev/null
  return 0
}

# The site's process enters its own network namespace only once it runs;
# cables put in before then would end up in this namespace. (As an ordinary
# user, inside a user namespace, that start is slow enough to lose the race.)
wait_for_site_namespace() {
  tries=100
  while [ "$(readlink "/proc/$site/ns/net" 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ]; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.05
  done
}

wait_until_ready() {
  tries=100
  until grep -q '"ready"' "$work/unitsim.log" 2>/dev/null; do
    tries=$((tries - 1))
    if [ "$tries" -le 0 ] || ! kill -0 "$site" 2>/dev/null; then
      echo "demo: the simulated units did not start:" >&2
      cat "$work/site.out" >&2
      return 1
    fi
    sleep 0.1
  done
}

write_release
unshare --net -- sh "$0" site "$work" >"$work/site.out" 2>&1 &
site=$!
wait_for_site_namespace || { echo "demo: the site's network did not start" >&2; exit 1; }
build_network || { echo "demo: could not build the network" >&2; exit 1; }
wait_until_ready || exit 1

run_installer() {
  (cd "$release" && ZEQ_WINDOWS_DIR="$work/logs" PATH="$work/bin:$PATH" ./fieldloader "$@")
}

. "$here/demo-runs.sh"
case $mode in
  tui) run_tui ;;
  headless) run_headless ;;
  screenshot) run_screenshot "$screenshot" ;;
esac
status=$?
stop_site
exit $status
