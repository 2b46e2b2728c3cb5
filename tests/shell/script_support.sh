# Shared by the shell tests of the program: sourced, not run.
#
# require_netns: the test sends nothing outside its private namespaces (the
# launcher's); without them it skips, and in CI that counts as a failure.
require_netns() {
  [ "${ZEQ_IN_NETNS:-}" = 1 ] && return 0
  if [ "${CI:-}" = true ]; then echo "FAIL: no private namespaces"; exit 1; fi
  echo "SKIP: needs private namespaces"; exit 77
}

fail() {
  echo "FAIL: $1"
  exit 1
}

# retry TENTHS WHAT COMMAND...: runs the command every tenth of a second
# until it succeeds; fails the test with WHAT after TENTHS tries.
retry() {
  tries=$1
  what=$2
  shift 2
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "$what"
    sleep 0.1
  done
}
