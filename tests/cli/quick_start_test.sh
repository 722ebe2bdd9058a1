#!/usr/bin/env bash
# The README's quick start as written: `scripts/run` (on the already built tree) starts the
# server, on a machine without a CAN interface with the simulated robot, and says so first.
set -euo pipefail
root="$1" build="$2"
work="$(mktemp -d)"
run_pid=""
cleanup() {
  if [ -n "$run_pid" ]; then kill "$run_pid" 2>/dev/null || true; wait "$run_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

has_can=no
for dev in /sys/class/net/*; do
  [ "$(cat "$dev/type" 2>/dev/null)" = 280 ] && has_can=yes
done

TESSERA_BUILD_DIR="$build" "$root/scripts/run" --port 0 --start-delay 0 >"$work/out" 2>"$work/err" &
run_pid=$!
port=""
for _ in $(seq 300); do
  port="$(sed -n 's/.*running on port: \([0-9]*\).*/\1/p' "$work/out")"
  [ -n "$port" ] && break
  kill -0 "$run_pid" 2>/dev/null || break
  sleep 0.1
done
first="$(head -n 1 "$work/out")"
if [ "$has_can" = no ]; then
  [[ "$first" == "[scripts] no CAN interface on this machine: starting the simulated robot (--can sim);"* ]] ||
    fail "first line: $first"
  [ -n "$port" ] || fail "the server did not start: $(cat "$work/out" "$work/err")"
  grep -qxF "[tessera] CAN backend: sim (built-in robot)" "$work/out" || fail "$(cat "$work/out")"
  for _ in $(seq 300); do
    listed="$(curl -s --max-time 5 "http://localhost:$port/?action=getdevices" | grep -c '"SerialNo"' || true)"
    [ "$listed" = 8 ] && break
    sleep 0.1
  done
  [ "$listed" = 8 ] || fail "getdevices listed $listed devices"
  for program in host/tessera-diag-server cli/tessera-diag sim/make_bfl/tessera-make-bfl; do
    [ -x "$build/$program" ] || fail "scripts/run did not build $program"
  done
else
  [[ "$first" == "[scripts] "*"CAN interface"* ]] || fail "first line: $first"
fi
