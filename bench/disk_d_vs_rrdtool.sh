#!/usr/bin/env bash
# One /disk_d chart against `rrdtool graph` drawing the same 301 points as a
# 790 x 390 PNG, in the same run:
#   - rrdtool graph, a whole process each time;
#   - the /disk_d work as a whole process (chart_bench --disk-d-once: start,
#     open the registry store, read the day series, load the fonts, draw,
#     encode, write);
#   - the /disk_d request inside a running agent, measured in process
#     (chart_bench's BM_DiskDRequest: read, title, draw, encode), and, when
#     QUARRIN_AGENT_URL names a running agent (http://127.0.0.1:88), over HTTP
#     with curl against the series that agent holds.
# Goal: the request in at most a fifth of rrdtool's whole-process time.
#
#   bench/disk_d_vs_rrdtool.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build=${1:-build}
runs=${2:-30}
bench=$build/chart_bench
if ! command -v rrdtool >/dev/null; then
  echo "skipped: rrdtool is not installed (Debian package rrdtool)"
  exit 0
fi
if [ ! -x "$bench" ]; then
  echo "missing $bench: build the benchmarks first (cmake --build $build)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quarrin-disk-d-XXXXXX")
trap 'rm -rf "$work"' EXIT
export QUARRIN_ROOT=$work/root
"$bench" --seed-day-series

# The same series for rrdtool: 301 five-minute averages, oldest first, of
# the curve chart_bench seeds.
now=$(( $(date +%s) / 300 * 300 ))
start=$(( now - 301 * 300 ))
rrd=$work/disk.rrd
rrdtool create "$rrd" --start "$start" --step 300 DS:used:GAUGE:600:0:100 RRA:AVERAGE:0.5:1:400
updates=$(awk -v now="$now" 'BEGIN {
  for (k = 300; k >= 0; k--)
    printf "%d:%.6f ", now - k * 300, 100 * (0.62 + 0.03 * sin(k / 20.0) + (k < 150 ? 0.05 : 0))
}')
# shellcheck disable=SC2086 # one argument per update
rrdtool update "$rrd" $updates
graph=(rrdtool graph "$work/disk.png" --imgformat PNG --width 790 --height 390 --full-size-mode
       --start $((now - 300 * 300)) --end "$now" --lower-limit 0 --upper-limit 100 --rigid
       --title "Daily Graph (5min avg) BENCH % C Drive used"
       "DEF:u=$rrd:used:AVERAGE" "LINE1:u#FF0000")

# Mean wall-clock milliseconds of $runs runs of the command.
mean_ms() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
  end=$(date +%s%N)
  awk -v ns=$((end - start)) -v n="$runs" 'BEGIN { printf "%.2f", ns / n / 1e6 }'
}

"${graph[@]}" >/dev/null  # warm both: libraries and fonts into the cache
"$bench" --disk-d-once "$work/disk.jpg"
rrd_ms=$(mean_ms "${graph[@]}")
process_ms=$(mean_ms "$bench" --disk-d-once "$work/disk.jpg")
request=$("$bench" --benchmark_filter=BM_DiskDRequest --benchmark_format=csv 2>/dev/null |
  awk -F, '/BM_DiskDRequest/ { printf "%.2f %.2f", $3, $4 }')
request_ms=${request% *}
request_cpu_ms=${request#* }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
echo "cores: $(nproc), runs per whole-process figure: $runs (mean)"
printf 'rrdtool graph, whole process:              %7.2f ms\n' "$rrd_ms"
printf '/disk_d work, whole process:               %7.2f ms  ratio %s\n' "$process_ms" \
  "$(ratio "$process_ms" "$rrd_ms")"
printf '/disk_d request in a running agent:        %7.2f ms  ratio %s (goal <= 0.200), CPU %.2f ms\n' \
  "$request_ms" "$(ratio "$request_ms" "$rrd_ms")" "$request_cpu_ms"
if [ -n "${QUARRIN_AGENT_URL:-}" ] && command -v curl >/dev/null; then
  total=0
  for ((i = 0; i < runs; i++)); do
    t=$(curl -s -o /dev/null -w '%{time_total}' "$QUARRIN_AGENT_URL/disk_d")
    total=$(awk -v a="$total" -v b="$t" 'BEGIN { print a + b }')
  done
  http_ms=$(awk -v s="$total" -v n="$runs" 'BEGIN { printf "%.2f", s / n * 1000 }')
  printf '/disk_d over HTTP from %s: %7.2f ms  ratio %s\n' "$QUARRIN_AGENT_URL" "$http_ms" \
    "$(ratio "$http_ms" "$rrd_ms")"
fi
