#!/usr/bin/env bash
# Soak run of the real agent on loopback: REQUESTS (100,000) mixed requests,
# every command of the HTTP interface, from two clients at once, while the
# agent's clock runs CLOCK_SPEED (1,000) times faster than real time, so
# that the five-minute disk sampler and its roll-ups run several times a
# second and the daily run comes round every minute and a half (against an
# inventory service, service desk and download site that refuse connections).
#
# The agent's resident memory is sampled after every hundredth of the
# requests. Prints the failures, the request rate, the samples the sampler
# stored and the memory figures; exits non-zero when any request failed or
# the last tenth of the memory samples averages more than 5 % above the
# first tenth.
#
# Usage: bench/soak.sh    (after cmake --build build --target QuarrinSrvc quarrinctl)
# Environment: BUILD_DIR (build), REQUESTS (100000), CLOCK_SPEED (1000).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

BUILD_DIR=${BUILD_DIR:-build}
REQUESTS=${REQUESTS:-100000}
CLOCK_SPEED=${CLOCK_SPEED:-1000}
rounds=100
per_client=$((REQUESTS / rounds / 2))

require_built "$BUILD_DIR" "cmake --build $BUILD_DIR --target QuarrinSrvc quarrinctl" \
  QuarrinSrvc quarrinctl

make_workspace

c++ -O2 -std=c++20 -o "$work/http_load" bench/http_load.cc
load() { "$work/http_load" "$@"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

agent_root="$work/agent"
mkdir -p "$agent_root"
agent_port=$(load --free-port)
down_port=$(load --free-port)  # nothing listens there: connections are refused
{
  echo 'REGEDIT4'
  echo
  echo '[HKEY_LOCAL_MACHINE\SOFTWARE\TARN\QuarrinSrvc\Deployment]'
  echo "\"HTTPPort\"=\"$agent_port\""
  echo "\"ManifestURL\"=\"http://127.0.0.1:$down_port/downloads/QuarrinSrvc.xml\""
  echo "\"InventoryURL\"=\"http://127.0.0.1:$down_port/quarrin/quarrinws.dll/soap/IQuarrin\""
  echo "\"LookupPingHost\"=\"127.0.0.1\""
  echo "\"LookupWebHost\"=\"127.0.0.1:$down_port\""
} > "$work/deployment.reg"
QUARRIN_ROOT="$agent_root" "$BUILD_DIR/quarrinctl" reg import "$work/deployment.reg"
# Something for the disk map to walk.
mkdir -p "$agent_root/data/a" "$agent_root/data/b"
head -c 200000 /dev/zero > "$agent_root/data/a/one"
head -c 50000 /dev/zero > "$agent_root/data/b/two"

env -u DISPLAY QUARRIN_ROOT="$agent_root" QUARRIN_SCM=TARNQuarrinSrvc NOTIFY_SOCKET= \
  QUARRIN_CLOCK_SPEED="$CLOCK_SPEED" "$BUILD_DIR/QuarrinSrvc" > "$work/agent.log" 2>&1 &
agent_pid=$!
for _ in $(seq 1 500); do
  if port_open "$agent_port" || ! kill -0 "$agent_pid" 2>/dev/null; then break; fi
  sleep 0.02
done
if ! port_open "$agent_port"; then
  echo "the agent did not start:" >&2
  cat "$work/agent.log" >&2
  exit 1
fi

paths_a=(/ /info /apps /disk_d /help /setcomment=soak%20run /odx /disk_w /info /syslog /mapdisk
         /disk_m /setserialno=SOAK-1 /disk_y / "/?msg=soak%20message")
paths_b=(/info / /disk_d /setinstalldate=05/01/2006 /apps /odx /disk_w /help
         /setaquisitiondate=01/02/2003 /info /update /disk_m / /mapdisk /disk_y /info)

echo "agent on port $agent_port, clock $CLOCK_SPEED x real time; $REQUESTS requests, two clients"
failed=0
rss=()
start=$(date +%s.%N)
for ((round = 0; round < rounds; round++)); do
  load "$agent_port" "$per_client" "${paths_a[@]}" > "$work/a.out" &
  a=$!
  load "$agent_port" "$per_client" "${paths_b[@]}" > "$work/b.out" &
  b=$!
  wait "$a" || true
  wait "$b" || true
  for out in "$work/a.out" "$work/b.out"; do
    ok=$(sed -nE 's/.*ok=([0-9]+).*/\1/p' "$out")
    failed=$((failed + per_client - ${ok:-0}))
  done
  if ! kill -0 "$agent_pid" 2>/dev/null; then
    echo "the agent exited during round $round:" >&2
    tail -n 40 "$work/agent.log" >&2
    exit 1
  fi
  rss+=("$(rss_kb "$agent_pid")")
  if (((round + 1) % 10 == 0)); then
    echo "  $(((round + 1) * per_client * 2)) requests, $failed failed, resident ${rss[round]} kB"
  fi
done
end=$(date +%s.%N)
sent=$((rounds * per_client * 2))

samples=$(QUARRIN_ROOT="$agent_root" "$BUILD_DIR/quarrinctl" reg export \
  'HKLM\System\CurrentControlSet\Services\TARNQuarrinSrvc\C_Drive(Day)' | grep -c '^"' || true)

tenth=$((rounds / 10))
first=0
last=0
for ((i = 0; i < tenth; i++)); do
  first=$((first + rss[i]))
  last=$((last + rss[rounds - tenth + i]))
done
first=$((first / tenth))
last=$((last / tenth))
growth=$(awk -v f="$first" -v l="$last" 'BEGIN {printf "%.2f", (l - f) * 100 / f}')
flat=$(awk -v g="$growth" 'BEGIN {print (g <= 5 ? 1 : 0)}')
sorted=$(printf '%s\n' "${rss[@]}" | sort -n)

awk -v n="$sent" -v s="$start" -v e="$end" \
  'BEGIN {printf "requests:        %d in %.1f s (%.0f/s)\n", n, e - s, n / (e - s)}'
echo "failed:          $failed"
echo "disk samples:    $samples in the day series"
echo "resident memory: first tenth $first kB, last tenth $last kB ($growth %);" \
  "min $(head -1 <<< "$sorted") kB, max $(tail -1 <<< "$sorted") kB"
if [ "$failed" -eq 0 ] && [ "$flat" -eq 1 ]; then verdict=met; else verdict="NOT met"; fi
echo "goal (0 failed, last tenth within 5 % of the first): $verdict"
[ "$verdict" = met ]
