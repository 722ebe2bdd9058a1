#!/usr/bin/env bash
# "getversion" requests per second over kept-alive connections, measured with wrk against the
# real host program on an empty bus. Prints each run and the median.
#   bench/server/getversion_rps.sh [RUNS] [CONNECTIONS] [SECONDS]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
RUNS="${1:-5}"; CONNECTIONS="${2:-16}"; DURATION="${3:-5}"
command -v wrk >/dev/null || { apt-get install -y -qq wrk >/dev/null; }
source "$ROOT/scripts/common.sh"
tessera_build --target tessera-diag-server >/dev/null

LOG="$(mktemp)"
"$BUILD_DIR/host/tessera-diag-server" --can none --port 0 --start-delay 0 >"$LOG" 2>&1 &
SERVER=$!
trap 'kill $SERVER 2>/dev/null; wait $SERVER 2>/dev/null; rm -f "$LOG"' EXIT
for _ in $(seq 100); do grep -q "running on port" "$LOG" && break; sleep 0.05; done
PORT="$(sed -n 's/.*running on port: \([0-9]*\).*/\1/p' "$LOG" | head -1)"
URL="http://127.0.0.1:$PORT/?action=getversion"

results=()
for run in $(seq "$RUNS"); do
  rps="$(wrk -t2 -c"$CONNECTIONS" -d"${DURATION}s" "$URL" | awk '/Requests\/sec/ {print $2}')"
  echo "run $run: $rps requests/s ($CONNECTIONS connections, ${DURATION}s)"
  results+=("$rps")
done
median="$(printf '%s\n' "${results[@]}" | sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}')"
echo "median: $median requests/s"
