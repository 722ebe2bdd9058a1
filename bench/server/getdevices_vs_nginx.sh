#!/usr/bin/env bash
# "getdevices" against a static file: our host (--can sim, built-in robot) and nginx-light
# serving the same body from a file on a private port with its own configuration, measured
# with wrk, alternating, at 1 and at 50 kept-alive connections. Prints each run, the medians of
# requests per second, of the 99th percentile and of the server's CPU time per request (all its
# processes and threads, from /proc; ours includes the simulated robot, a few per cent of a
# core), and our ratio to nginx.
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
# CPU time (user + system, clock ticks) of the given processes, all their threads.
cpu_ticks() { local pid total=0; for pid in "$@"; do total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat"))); done; echo "$total"; }
measure() {  # url connections pid... -> "rps p99ms cpu_us_per_request"
  local url="$1" connections="$2"; shift 2
  local threads=$(( connections > 1 ? 2 : 1 ))
  local before; before="$(cpu_ticks "$@")"
  local out; out="$(wrk -t"$threads" -c"$connections" -d"${DURATION}s" --latency "$url")"
  local ticks=$(( $(cpu_ticks "$@") - before ))
  local requests; requests="$(awk '/requests in/ {print $1}' <<<"$out")"
  echo "$(awk '/Requests\/sec/ {print $2}' <<<"$out") $(awk '$1=="99%" {print $2}' <<<"$out" | to_ms)" \
    "$(awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v n="$requests" 'BEGIN {printf "%.2f", t / hz * 1e6 / n}')"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

NGINX_PIDS=("$(cat "$WORK/nginx.pid")"); NGINX_PIDS+=($(pgrep -P "${NGINX_PIDS[0]}"))
for connections in 1 50; do
  : >"$WORK/ours"; : >"$WORK/nginx"
  for run in $(seq "$RUNS"); do
    read -r rps p99 cpu <<<"$(measure "$OURS" "$connections" "$SERVER")"
    echo "$rps $p99 $cpu" >>"$WORK/ours"
    read -r nrps np99 ncpu <<<"$(measure "$NGINX" "$connections" "${NGINX_PIDS[@]}")"
    echo "$nrps $np99 $ncpu" >>"$WORK/nginx"
    echo "c=$connections run $run: ours $rps req/s p99 ${p99} ms ${cpu} us/req | nginx $nrps req/s p99 ${np99} ms ${ncpu} us/req"
  done
  column() { cut -d' ' -f"$2" "$WORK/$1" | median; }
  echo "c=$connections median: ours $(column ours 1) req/s (p99 $(column ours 2) ms, $(column ours 3) us CPU/req)," \
    "nginx $(column nginx 1) req/s (p99 $(column nginx 2) ms, $(column nginx 3) us CPU/req)," \
    "ratio $(awk -v a="$(column ours 1)" -v b="$(column nginx 1)" 'BEGIN {printf "%.2f", a/b}')x"
done
