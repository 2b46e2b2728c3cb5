#!/bin/sh
# A stock Linux telnet server set up to look like a Tarvo unit, for the
# interoperation test of the telnet client (remote_shell_telnetd_test.cpp).
# inetutils inetd listens on 127.0.0.1 only and starts inetutils telnetd for
# each connection; telnetd runs the login program written here, which shows
# the unit's prompts ("\nlogin:", "password:"), accepts root/qorvane and hands
# over to a real interactive /bin/sh with the prompt "# " and $rsa pointing at
# a folder that holds a real install.script. Run it only inside a private
# network namespace (the test calls ZEQ_REQUIRE_NETNS first).
#
#   remote_shell_telnetd.sh check              0 when the server programs exist
#   remote_shell_telnetd.sh start DIR PORT N   set up DIR, start, wait until up
#   remote_shell_telnetd.sh stop DIR           stop the server started in DIR
set -eu

inetd=/usr/sbin/inetutils-inetd
telnetd=/usr/sbin/telnetd

write_login() {
  # The folder is fixed into the program: inetd passes telnetd no quoting,
  # so telnetd -E gets a bare path.
  cat > "$1/login" <<EOF
#!/bin/sh
here='$1'
EOF
  cat >> "$1/login" <<'EOF'
# telnetd turns the terminal's echo off when the client refuses the server's
# echo; a unit echoes every command line, so turn it back on.
stty echo
while :; do
  printf '\r\nTarvo interop unit\r\nlogin: '
  IFS= read -r user || exit 1
  printf 'password: '
  stty -echo
  IFS= read -r password || exit 1
  stty echo
  printf '\r\n'
  user=$(printf %s "$user" | tr -d '\r')
  password=$(printf %s "$password" | tr -d '\r')
  [ "$user" = root ] && [ "$password" = qorvane ] && break
  printf 'Login incorrect\r\n'
done
cd "$here/rsa"
exec env -i PATH="$here/bin:/usr/bin:/bin" HOME="$here" rsa="$here/rsa" PS1='# ' /bin/sh -i
EOF
  chmod 755 "$1/login"
}

write_release() {
  dir=$1
  status=$2
  mkdir -p "$dir/rsa" "$dir/bin"
  # The unit's own preparation commands: ditto has nothing to do here, and
  # textto turns DOS line ends into Unix ones.
  printf '#!/bin/sh\nexit 0\n' > "$dir/bin/ditto"
  printf '#!/bin/sh\nsed -i "s/\\r$//" "$1"\n' > "$dir/bin/textto"
  chmod 755 "$dir/bin/ditto" "$dir/bin/textto"
  # Written as a desktop would: DOS line ends and not executable, so that
  # chmod and textto both matter before it can run.
  printf '#!/bin/sh\r\necho installing release\r\ndate > "$(dirname "$0")/installed"\r\nexit %s\r\n' \
    "$status" > "$dir/rsa/install.script"
  chmod 644 "$dir/rsa/install.script"
  rm -f "$dir/rsa/installed"
}

start() {
  dir=$1
  port=$2
  mkdir -p "$dir"
  write_login "$dir"
  write_release "$dir" "$3"
  echo "127.0.0.1:$port stream tcp nowait root $telnetd telnetd -h -E $dir/login" \
    > "$dir/inetd.conf"
  : > "$dir/inetd.log"
  "$inetd" -d -p "$dir/inetd.pid" "$dir/inetd.conf" >> "$dir/inetd.log" 2>&1 &
  echo $! > "$dir/inetd.child"
  # inetd writes "registered" once its socket listens.
  tries=0
  until grep -q '^registered' "$dir/inetd.log"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$(cat "$dir/inetd.child")" 2>/dev/null; then
      cat "$dir/inetd.log" >&2
      exit 1
    fi
    sleep 0.05
  done
}

stop() {
  dir=$1
  [ -f "$dir/inetd.child" ] || exit 0
  kill "$(cat "$dir/inetd.child")" 2>/dev/null || true
  rm -f "$dir/inetd.child"
}

case "${1:-}" in
  check) [ -x "$inetd" ] && [ -x "$telnetd" ] ;;
  start) start "$2" "$3" "$4" ;;
  stop) stop "$2" ;;
  *) echo "usage: $0 check | start DIR PORT STATUS | stop DIR" >&2; exit 2 ;;
esac
