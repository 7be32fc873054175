#!/usr/bin/env bash
# Whole-process comparison of the agent with prometheus-node-exporter on
# loopback: resident memory and proportional set size after start-up, CPU
# time over a minute of idling, and the time from launch to the first HTTP
# answer (the agent with its manifest site on loopback). Prints each figure
# and the ratio. The proportional set size of zabbix_agentd (all its
# processes), when installed, is printed beside them.
#
# Beneath the table, the same figures of library_floor: a program that only
# loads the libraries the idle agent holds, initialises libcurl, fetches the
# manifest once and answers HTTP. What the agent cannot go below. Then the
# goal: launch to first answer no slower than node_exporter's, with the
# machine's load average, as a single launch on a busy machine varies.
#
#   bench/idle.sh [BUILD_DIR]      IDLE_SECONDS=60 by default
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
build=${1:-build}
idle=${IDLE_SECONDS:-60}
exporter=$(command -v prometheus-node-exporter || true)
zabbix=$(command -v zabbix_agentd || true)
[ -x "$build/QuarrinSrvc" ] && [ -x "$build/launch_probe" ] && [ -x "$build/library_floor" ] || {
  echo "build first: cmake --build $build --target QuarrinSrvc quarrinctl launch_probe library_floor"; exit 1; }

root=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$root"; }
trap cleanup EXIT

rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
# Proportional set size of the process and all its descendants: shared pages
# count in part, as many times smaller as processes share them.
tree() { echo "$1"; for c in $(pgrep -P "$1"); do tree "$c"; done; }
pss_kb() { for p in $(tree "$1"); do cat "/proc/$p/smaps_rollup" 2>/dev/null; done |
  awk '/^Pss:/ {s += $2} END {print s + 0}'; }
# CPU time of all threads in nanoseconds (schedstat is exact, unlike ticks).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }

# The manifest site.
site_port=$(free_port)
mkdir -p "$root/site/downloads"
echo '<data><Debug>off</Debug><Syslog></Syslog></data>' > "$root/site/downloads/QuarrinSrvc.xml"
python3 -m http.server "$site_port" --bind 127.0.0.1 --directory "$root/site" >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

agent_port=$(free_port)
export QUARRIN_ROOT="$root/agent"
ctl="$build/quarrinctl"
$ctl reg set 'HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment' ManifestURL REG_SZ \
  "http://127.0.0.1:$site_port/downloads/QuarrinSrvc.xml" >/dev/null
$ctl reg set 'HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment' HTTPPort REG_SZ "$agent_port" >/dev/null
read -r agent_pid agent_first < <(QUARRIN_SCM=TARNQuarrinSrvc "$build/launch_probe" "$agent_port" / -- "$build/QuarrinSrvc" 2>/dev/null)
pids+=("$agent_pid")
unset QUARRIN_ROOT

if [ -n "$exporter" ]; then
  ne_port=$(free_port)
  read -r ne_pid ne_first < <("$build/launch_probe" "$ne_port" /metrics -- "$exporter" --web.listen-address="127.0.0.1:$ne_port" 2>/dev/null)
  pids+=("$ne_pid")
fi

if [ -n "$zabbix" ]; then
  start_zabbix "$root"
  pids+=("$zb_pid")
fi

floor_port=$(free_port)
read -r floor_pid floor_first < <("$build/launch_probe" "$floor_port" / -- "$build/library_floor" "$floor_port" \
  "http://127.0.0.1:$site_port/downloads/QuarrinSrvc.xml")
pids+=("$floor_pid")

sleep 2
floor_rss=$(rss_kb "$floor_pid"); floor_pss=$(pss_kb "$floor_pid")
agent_rss=$(rss_kb "$agent_pid"); agent_pss=$(pss_kb "$agent_pid"); agent_cpu0=$(cpu_ns "$agent_pid")
[ -n "$exporter" ] && { ne_rss=$(rss_kb "$ne_pid"); ne_pss=$(pss_kb "$ne_pid"); ne_cpu0=$(cpu_ns "$ne_pid"); }
[ -n "$zabbix" ] && zb_pss=$(pss_kb "$zb_pid")
sleep "$idle"
ms() { awk -v d="$1" 'BEGIN { printf "%.3f", d / 1e6 }'; }
agent_cpu_ms=$(ms $(( $(cpu_ns "$agent_pid") - agent_cpu0 )))
[ -n "$exporter" ] && ne_cpu_ms=$(ms $(( $(cpu_ns "$ne_pid") - ne_cpu0 )))

printf '%-34s %12s %16s %8s\n' "figure" "agent" "node_exporter" "ratio"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
if [ -n "$exporter" ]; then
  printf '%-34s %9s kB %13s kB %8s\n' "resident memory after start-up" "$agent_rss" "$ne_rss" "$(ratio "$agent_rss" "$ne_rss")"
  printf '%-34s %9s kB %13s kB %8s\n' "proportional set size" "$agent_pss" "$ne_pss" "$(ratio "$agent_pss" "$ne_pss")"
  printf '%-34s %9s ms %13s ms %8s\n' "CPU over ${idle}s idle" "$agent_cpu_ms" "$ne_cpu_ms" "$(ratio "$agent_cpu_ms" "$ne_cpu_ms")"
  printf '%-34s %9s ms %13s ms %8s\n' "launch to first answer" "$agent_first" "$ne_first" "$(ratio "$agent_first" "$ne_first")"
else
  echo "(prometheus-node-exporter not installed: agent figures only)"
  printf '%-34s %9s kB\n' "resident memory after start-up" "$agent_rss"
  printf '%-34s %9s kB\n' "proportional set size" "$agent_pss"
  printf '%-34s %9s ms\n' "CPU over ${idle}s idle" "$agent_cpu_ms"
  printf '%-34s %9s ms\n' "launch to first answer" "$agent_first"
fi
if [ -n "$zabbix" ]; then
  printf '%-34s %9s kB   (zabbix_agentd, all processes; agent ratio %s)\n' \
    "proportional set size" "$zb_pss" "$(ratio "$agent_pss" "$zb_pss")"
fi
printf '%-34s %9s kB   (library floor)\n' "resident memory after start-up" "$floor_rss"
printf '%-34s %9s kB   (library floor)\n' "proportional set size" "$floor_pss"
printf '%-34s %9s ms   (library floor)\n' "launch to first answer" "$floor_first"
if [ -n "$exporter" ]; then
  r=$(ratio "$agent_first" "$ne_first")
  echo "goal: launch to first answer / node_exporter's: $r  [<= 1: $(awk -v r="$r" 'BEGIN {print (r <= 1 ? "met" : "NOT met")}')]" \
    "(load average $(cut -d' ' -f1-3 /proc/loadavg))"
fi
