#!/usr/bin/env bash
# A firmware upgrade as a client sees it, through the host on the built-in simulated robot (wire
# time, 1 Mbit/s): how long curl waits for the answer to
#   refused  a file for another model, named by file= (refused before anything is sent), once
#            the listing shows every device settled
#   again    the same file once more, right after that answer (as a tool that retries would)
#   upgrade  a 64-sector (96 KiB) image of the Kestrel KX, uploaded (request to answer)
# For every host binary given (default: build/host/tessera-diag-server), RUNS times, alternating
# between the hosts so a noisy machine affects each alike; medians at the end. Each host runs
# once, with its own search directory; before each measurement the listing must show all eight
# devices running their application again. The load average is printed before and after.
#
#   bench/firmware/upgrade_through_host.sh [--runs N] [HOST ...]
#   e.g. bench/firmware/upgrade_through_host.sh --runs 5 /tmp/base/tessera-diag-server build/host/tessera-diag-server
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
RUNS=5
HOSTS=()
while (($#)); do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    *) HOSTS+=("$1"); shift ;;
  esac
done
((${#HOSTS[@]})) || HOSTS=("$ROOT/build/host/tessera-diag-server")
MAKE_BFL="$ROOT/build/sim/make_bfl/tessera-make-bfl"
WORK="$(mktemp -d)"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

"$MAKE_BFL" --family "kestrel kx" --version 21.0 --sectors 64 -o "$WORK/kx.bfl" >/dev/null
"$MAKE_BFL" --family "kestrel kf" --version 30.0 --sectors 4 -o "$WORK/kf.bfl" >/dev/null
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

PORTS=()
for i in "${!HOSTS[@]}"; do
  dir="$WORK/host$i"
  mkdir -p "$dir"
  cp "$WORK/kf.bfl" "$dir/"
  "${HOSTS[$i]}" --can sim --port 0 --start-delay 0 --search-dir "$dir/" >"$dir/out" 2>&1 &
  PIDS+=($!)
  port=""
  for _ in $(seq 100); do
    port="$(grep -o 'running on port: [0-9]*' "$dir/out" | grep -o '[0-9]*$' || true)"
    [[ -n "$port" ]] && break
    sleep 0.1
  done
  [[ -n "$port" ]] || { echo "host $i did not start: $(cat "$dir/out")"; exit 1; }
  PORTS+=("$port")
done

# Until the listing shows all eight devices running their application (at most 30 s).
settled() {
  local port="$1"
  for _ in $(seq 300); do
    if curl -s "http://127.0.0.1:$port/?action=getdevices" | python3 -c '
import json, sys
devices = json.load(sys.stdin)["DeviceArray"]
sys.exit(0 if len(devices) == 8 and all(d["SoftStatus"] == "Running Application." for d in devices) else 1)'
    then return 0; fi
    sleep 0.1
  done
  echo "port $port: the listing did not settle" >&2
  return 1
}

# Seconds curl waited for the answer; the answer's Error must be `expected`.
timed() {
  local expected="$1"; shift
  local out
  out="$(curl -s -w '\n%{time_total}' "$@")"
  local error
  error="$(head -n -1 <<<"$out" | python3 -c 'import json, sys; print(json.load(sys.stdin)["GeneralReturn"]["Error"])')"
  [[ "$error" == "$expected" ]] || { echo "unexpected Error $error: $out" >&2; return 1; }
  tail -n 1 <<<"$out"
}

declare -A refused again upgrade
for run in $(seq "$RUNS"); do
  for i in "${!HOSTS[@]}"; do
    url="http://127.0.0.1:${PORTS[$i]}/?action=fieldupgrade&model=kestrel+kx&id=1"
    settled "${PORTS[$i]}"
    refused[$i]+="$(timed -202 "$url&file=kf.bfl") "
    again[$i]+="$(timed -202 "$url&file=kf.bfl") "
    settled "${PORTS[$i]}"
    upgrade[$i]+="$(timed 0 -F "file=@$WORK/kx.bfl" "$url") "
    echo "run $run host $i: refused $(awk '{print $NF}' <<<"${refused[$i]}") s, again $(awk '{print $NF}' <<<"${again[$i]}") s, upgrade $(awk '{print $NF}' <<<"${upgrade[$i]}") s"
  done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
echo
printf '%-60s %10s %10s %10s\n' "host (medians of $RUNS runs)" "refused s" "again s" "upgrade s"
for i in "${!HOSTS[@]}"; do
  printf '%-60s %10.4f %10.4f %10.3f\n' "${HOSTS[$i]}" "$(median <<<"${refused[$i]}")" \
    "$(median <<<"${again[$i]}")" "$(median <<<"${upgrade[$i]}")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
