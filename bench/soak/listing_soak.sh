#!/usr/bin/env bash
# Builds the host program and the soak client, then runs the soak of the device listing under
# command traffic (8 clients for 10 minutes unless told otherwise) and prints its figures.
#   bench/soak/listing_soak.sh [--clients N] [--seconds S] [--think-ms T] [--csv FILE] [--trace FILE]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ROOT/scripts/common.sh"
tessera_build --target bench_listing_soak >/dev/null
exec "$BUILD_DIR/bench/soak/bench_listing_soak" "$@"
