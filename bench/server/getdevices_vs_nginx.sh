#!/usr/bin/env bash
# "getdevices" against a static file: our host (--can sim, built-in robot) and nginx-light
# serving the same body from a file on a private port with its own configuration, measured
# with wrk, alternating, at 1 and at 50 kept-alive connections. Prints each run, the medians of
# requests per second and of the 99th percentile, and our ratio to nginx.
#   bench/server/getdevices_vs_nginx.sh [RUNS] [SECONDS] [HOST_BINARY]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
RUNS="${1:-5}"; DURATION="${2:-5}"; HOST="${3:-}"
source "$ROOT/scripts/common.sh"
for tool in wrk nginx; do
  command -v "$tool" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    "$([ "$tool" = nginx ] && echo nginx-light || echo wrk)" >/dev/null
done
if [ -z "$HOST" ]; then
  tessera_build --target tessera-diag-server >/dev/null
  HOST="$BUILD_DIR/host/tessera-diag-server"
fi

WORK="$(mktemp -d)"; chmod 755 "$WORK"
cleanup() {
  [ -n "${SERVER:-}" ] && kill "$SERVER" 2>/dev/null && wait "$SERVER" 2>/dev/null
  [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null
  sleep 0.2; rm -rf "$WORK"
}
trap cleanup EXIT

"$HOST" --can sim --port 0 --start-delay 0 >"$WORK/host.log" 2>&1 &
SERVER=$!
for _ in $(seq 200); do grep -q "running on port" "$WORK/host.log" && break; sleep 0.05; done
PORT="$(sed -n 's/.*running on port: \([0-9]*\).*/\1/p' "$WORK/host.log" | head -1)"
OURS="http://127.0.0.1:$PORT/?action=getdevices"
# The body nginx serves is ours once all eight simulated devices are listed.
for _ in $(seq 200); do
  curl -s "$OURS" -o "$WORK/getdevices.json"
  [ "$(grep -c '"SerialNo"' "$WORK/getdevices.json")" -ge 8 ] && break
  sleep 0.1
done
chmod 644 "$WORK/getdevices.json"

NGINX_PORT="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
cat >"$WORK/nginx.conf" <<CONF
daemon on;
worker_processes auto;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $WORK/body; proxy_temp_path $WORK/proxy; fastcgi_temp_path $WORK/fastcgi;
  uwsgi_temp_path $WORK/uwsgi; scgi_temp_path $WORK/scgi;
  keepalive_requests 100000000;
  # nginx at its best for one small file: no per-request open, headers and body in one go.
  sendfile on; tcp_nopush on; tcp_nodelay on; open_file_cache max=16;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $WORK;
    location / { default_type application/json; try_files /getdevices.json =404; }
  }
}
CONF
nginx -c "$WORK/nginx.conf" -p "$WORK"
NGINX="http://127.0.0.1:$NGINX_PORT/?action=getdevices"
for _ in $(seq 100); do curl -sf "$NGINX" -o /dev/null && break; sleep 0.05; done
cmp -s "$WORK/getdevices.json" <(curl -s "$NGINX") || { echo "nginx does not serve the same body"; exit 1; }
echo "body: $(stat -c %s "$WORK/getdevices.json") bytes; host: $HOST"

# wrk's 99th percentile in milliseconds.
to_ms() { awk '{v=$1; if (v ~ /us$/) {sub(/us$/,"",v); v/=1000} else if (v ~ /ms$/) {sub(/ms$/,"",v)} else if (v ~ /s$/) {sub(/s$/,"",v); v*=1000}; print v}'; }
measure() {  # url connections -> "rps p99ms"
  local threads=$(( $2 > 1 ? 2 : 1 ))
  local out; out="$(wrk -t"$threads" -c"$2" -d"${DURATION}s" --latency "$1")"
  echo "$(awk '/Requests\/sec/ {print $2}' <<<"$out") $(awk '$1=="99%" {print $2}' <<<"$out" | to_ms)"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

for connections in 1 50; do
  : >"$WORK/ours"; : >"$WORK/nginx"
  for run in $(seq "$RUNS"); do
    read -r rps p99 <<<"$(measure "$OURS" "$connections")"; echo "$rps $p99" >>"$WORK/ours"
    read -r nrps np99 <<<"$(measure "$NGINX" "$connections")"; echo "$nrps $np99" >>"$WORK/nginx"
    echo "c=$connections run $run: ours $rps req/s p99 ${p99} ms | nginx $nrps req/s p99 ${np99} ms"
  done
  ours_rps="$(cut -d' ' -f1 "$WORK/ours" | median)"; ours_p99="$(cut -d' ' -f2 "$WORK/ours" | median)"
  nginx_rps="$(cut -d' ' -f1 "$WORK/nginx" | median)"; nginx_p99="$(cut -d' ' -f2 "$WORK/nginx" | median)"
  echo "c=$connections median: ours $ours_rps req/s (p99 $ours_p99 ms), nginx $nginx_rps req/s (p99 $nginx_p99 ms), ratio $(awk -v a="$ours_rps" -v b="$nginx_rps" 'BEGIN {printf "%.2f", a/b}')x"
done
