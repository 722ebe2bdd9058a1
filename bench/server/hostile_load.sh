#!/usr/bin/env bash
# Hostile clients against the host program: 1000 kept-alive clients, slowloris, half-sent
# uploads and connection churn, each while a normal client polls. Prints a table per scenario.
#   bench/server/hostile_load.sh [BASE_BINARY] [SCENARIO...]
# With BASE_BINARY (another build's tessera-diag-server, e.g. of the main branch) the same
# scenarios run against it first and both columns are printed. Takes about two minutes a binary.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
command -v wrk >/dev/null || apt-get install -y -qq wrk >/dev/null
command -v python3 >/dev/null || apt-get install -y -qq python3 >/dev/null
source "$ROOT/scripts/common.sh"
tessera_build --target tessera-diag-server >/dev/null
ulimit -n 65536 2>/dev/null || true
BASE=()
if [ $# -gt 0 ] && [ -x "$1" ]; then BASE=(--base "$1"); shift; fi
exec python3 "$ROOT/bench/server/hostile_load.py" --host "$BUILD_DIR/host/tessera-diag-server" "${BASE[@]}" "$@"
