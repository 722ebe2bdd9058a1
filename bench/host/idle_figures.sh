#!/usr/bin/env bash
# What the host costs while nobody asks it anything, and how fast a 4095-byte ISO-15765 message
# crosses the multiplexer each way.
#
# For every build folder given (default: the project's build/), for `--can none`, the built-in
# robot (`--can sim`, measured once all eight devices are listed) and the same eight devices
# without their periodic status frames ("quiet": a device file with `omit_frames: ["all"]`):
#   cpu %      CPU time of all the host's threads over the idle window, per cent of one core
#              (se.sum_exec_runtime of /proc/PID/task/*/sched, nanosecond precise)
#   wakeups/s  context switches of all its threads (voluntary + involuntary, from
#              /proc/PID/task/*/status) per second
#   rss MB     VmRSS at the end of the window
# and the busiest threads by wake-ups. The machine's floor is measured the same way in every
# run: bench_idle_floor, a bare thread that wakes at the device engine's 50 Hz and does nothing
# (the engine's worker must keep that period, so no host can idle below it); each host figure is
# also printed above that floor. Then bench_canmux's 4095-byte transfer times, server to device
# and device to server, each the median of its repetitions (TRANSFER_REPETITIONS per run), and
# their ratio. Runs alternate between the build folders so that a noisy machine affects each
# alike; every figure is the median of the runs. The load average is printed before and after.
#
#   bench/host/idle_figures.sh [--runs N] [--seconds S] [BUILD_DIR ...]
#   e.g. bench/host/idle_figures.sh --runs 3 --seconds 30 /tmp/base/build build
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
RUNS=3
SECONDS_IDLE=30
BUILDS=()
while (($#)); do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --seconds) SECONDS_IDLE="$2"; shift 2 ;;
    *) BUILDS+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
((${#BUILDS[@]})) || BUILDS=("$ROOT/build")
BUILT_IN_ROBOT_DEVICES=8
SETTLE_SECONDS=2
TRANSFER_REPETITIONS=5
RESULTS="$(mktemp -d)"
SERVER=""
cleanup() {
  if [[ -n "$SERVER" ]]; then kill "$SERVER" 2>/dev/null || true; wait "$SERVER" 2>/dev/null || true; fi
  rm -rf "$RESULTS"
}
trap cleanup EXIT

QUIET_ROBOT="$RESULTS/quiet_robot.json"
{
  echo '{ "devices": ['
  sep=""
  for device in "pdp 0" "pcm 0" "kestrel kx 1" "kestrel kf 2" "harrier hx 3" "wren 4" "candial 5" \
                "cantap 6"; do
    printf '%s  { "family": "%s", "id": %s, "omit_frames": ["all"] }' "$sep" "${device% *}" "${device##* }"
    sep=$',\n'
  done
  echo; echo '] }'
} >"$QUIET_ROBOT"

for build in "${BUILDS[@]}"; do
  for program in host/tessera-diag-server bench/canmux/bench_canmux; do
    [[ -x "$build/$program" ]] || { echo "missing $build/$program: build it first" >&2; exit 1; }
  done
done
# The floor program does not depend on the build: the first build folder that has it will do.
FLOOR=""
for build in "${BUILDS[@]}" "$ROOT/build"; do
  [[ -x "$build/bench/host/bench_idle_floor" ]] && { FLOOR="$build/bench/host/bench_idle_floor"; break; }
done
[[ -n "$FLOOR" ]] || { echo "missing bench/host/bench_idle_floor in every build folder: build it first" >&2; exit 1; }

median() { sort -g | awk '{a[NR]=$1} END {if (NR == 0) print "-"; else print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# One line per thread: "name<TAB>cpu_ms<TAB>switches".
thread_counters() {
  local pid="$1" task
  for task in /proc/"$pid"/task/*; do
    awk -v name="$(cat "$task/comm" 2>/dev/null)" '
      FILENAME ~ /sched$/ && /se.sum_exec_runtime/ {cpu = $3}
      FILENAME ~ /status$/ && /ctxt_switches/ {switches += $2}
      END {printf "%s\t%s\t%d\n", name, cpu, switches}' "$task/sched" "$task/status" 2>/dev/null || true
  done
}

listed_devices() {
  curl -s --max-time 2 "http://127.0.0.1:$1/?action=getdevices" | grep -o '"SerialNo"' | wc -l
}

# Measures the running process $SERVER over one idle window; appends to the result files.
measure_window() {
  local key="$1"
  sleep "$SETTLE_SECONDS"
  thread_counters "$SERVER" >"$RESULTS/before"
  sleep "$SECONDS_IDLE"
  thread_counters "$SERVER" >"$RESULTS/after"
  awk '/VmRSS/ {print $2 / 1024}' /proc/"$SERVER"/status >>"$RESULTS/$key.rss"
  kill "$SERVER"
  wait "$SERVER" || true
  SERVER=""
  awk -F'\t' -v s="$SECONDS_IDLE" -v out="$RESULTS/$key" '
    NR == FNR {cpu[$1] += $2; sw[$1] += $3; next}
    {dcpu += $2 - cpu[$1]; dsw += $3 - sw[$1]; per[$1] += ($3 - sw[$1]) / s; cpu[$1] = 0; sw[$1] = 0}
    END {
      print 100 * dcpu / 1000 / s >> (out ".cpu")
      print dsw / s >> (out ".wakeups")
      for (name in per) printf "%s\t%.1f\n", name, per[name] >> (out ".threads")
    }' "$RESULTS/before" "$RESULTS/after"
}

# Starts the host, waits until it is idle, measures one window.
measure_idle() {
  local build="$1" can="$2" key="$3" log port=""
  log="$RESULTS/server.log"
  [[ "$can" == quiet ]] && can="sim:$QUIET_ROBOT"
  "$build/host/tessera-diag-server" --can "$can" --port 0 --start-delay 0 >"$log" 2>&1 &
  SERVER=$!
  for _ in $(seq 200); do
    port="$(sed -n 's/.*running on port: \([0-9]*\).*/\1/p' "$log" | head -1)"
    [[ -n "$port" ]] && break
    sleep 0.1
  done
  [[ -n "$port" ]] || { echo "the host did not start: $(cat "$log")" >&2; exit 1; }
  if [[ "$can" == sim* ]]; then
    for _ in $(seq 600); do
      (($(listed_devices "$port") >= BUILT_IN_ROBOT_DEVICES)) && break
      sleep 0.1
    done
  fi
  measure_window "$key"
}

measure_floor() {
  "$FLOOR" &
  SERVER=$!
  measure_window floor
}

measure_transfers() {
  local build="$1" key="$2"
  # One line per repetition; the aggregate lines (_mean, _median, ...) are left out.
  "$build/bench/canmux/bench_canmux" --benchmark_filter='BM_Iso15765' --benchmark_format=csv \
      --benchmark_repetitions="$TRANSFER_REPETITIONS" 2>/dev/null | awk -F, -v out="$RESULTS/$key" '
    $1 ~ /ServerToDevice\/[0-9]+\/real_time"$/ {print $3 >> (out ".to_device")}
    $1 ~ /DeviceToServer\/[0-9]+\/real_time"$/ {print $3 >> (out ".to_server")}'
}

LOAD_BEFORE="$(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq "$RUNS"); do
  echo "run $run/$RUNS: the floor, $FLOOR (${SECONDS_IDLE}s idle)" >&2
  measure_floor
  for i in "${!BUILDS[@]}"; do
    for can in none sim quiet; do
      echo "run $run/$RUNS: ${BUILDS[$i]} --can $can (${SECONDS_IDLE}s idle)" >&2
      measure_idle "${BUILDS[$i]}" "$can" "b$i.$can"
    done
    measure_transfers "${BUILDS[$i]}" "b$i"
  done
done

LOAD_AFTER="$(cut -d' ' -f1-3 /proc/loadavg)"

FLOOR_CPU="$(median <"$RESULTS/floor.cpu")"
FLOOR_WAKEUPS="$(median <"$RESULTS/floor.wakeups")"
echo
echo "Idle host, medians of $RUNS runs of ${SECONDS_IDLE}s (load average $LOAD_BEFORE before, $LOAD_AFTER after)"
echo "floor: a bare thread waking at 50 Hz costs $FLOOR_CPU % of a core and $FLOOR_WAKEUPS wake-ups/s"
printf '%-40s %-5s %8s %10s %7s %14s %16s\n' build can "cpu %" wakeups/s "rss MB" \
  "cpu % > floor" "wakeups > floor"
for i in "${!BUILDS[@]}"; do
  for can in none sim quiet; do
    key="$RESULTS/b$i.$can"
    cpu="$(median <"$key.cpu")"
    wakeups="$(median <"$key.wakeups")"
    printf '%-40s %-5s %8.3f %10.1f %7.1f %14.3f %16.1f\n' "${BUILDS[$i]}" "$can" "$cpu" \
      "$wakeups" "$(median <"$key.rss")" "$(awk -v a="$cpu" -v b="$FLOOR_CPU" 'BEGIN {print a - b}')" \
      "$(awk -v a="$wakeups" -v b="$FLOOR_WAKEUPS" 'BEGIN {print a - b}')"
  done
done

echo
echo "Wake-ups per second by thread (medians; threads above 1/s)"
for i in "${!BUILDS[@]}"; do
  for can in none sim quiet; do
    key="$RESULTS/b$i.$can"
    echo "  ${BUILDS[$i]} --can $can:"
    for name in $(cut -f1 "$key.threads" | sort -u | tr ' ' '_'); do
      rate="$(awk -F'\t' -v n="$name" '{gsub(/ /, "_", $1)} $1 == n {print $2}' "$key.threads" | median)"
      awk -v r="$rate" 'BEGIN {exit !(r > 1)}' && printf '    %-20s %8.1f\n' "$name" "$rate"
    done
  done
done

echo
echo "4095-byte ISO-15765 message through the multiplexer and the virtual bus (ms, medians of" \
  "$((RUNS * TRANSFER_REPETITIONS)) repetitions)"
printf '%-40s %16s %16s %7s\n' build "server->device" "device->server" ratio
for i in "${!BUILDS[@]}"; do
  to_device="$(median <"$RESULTS/b$i.to_device")"
  to_server="$(median <"$RESULTS/b$i.to_server")"
  printf '%-40s %16.2f %16.2f %7.2f\n' "${BUILDS[$i]}" "$to_device" "$to_server" \
    "$(awk -v a="$to_server" -v b="$to_device" 'BEGIN {print a / b}')"
done
