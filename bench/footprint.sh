#!/usr/bin/env bash
# Where the idle agent's memory lies: its proportional set size and resident
# memory when it runs alone (no other program of the bench shares its
# libraries), split by mapping (each shared library, the executable, heap,
# stacks, anonymous memory), beside the same for prometheus-node-exporter and
# zabbix_agentd, each measured alone in turn after the one before has gone.
# The agent has its manifest site on loopback and has fetched the manifest.
#
#   bench/footprint.sh [BUILD_DIR]      SETTLE_SECONDS=3, TOP=25 by default
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
build=${1:-build}
settle=${SETTLE_SECONDS:-3}
top=${TOP:-25}
require_built "$build" "cmake --build $build --target QuarrinSrvc quarrinctl launch_probe" \
  QuarrinSrvc quarrinctl launch_probe
exporter=$(command -v prometheus-node-exporter || true)
zabbix=$(command -v zabbix_agentd || true)

root=$(mktemp -d)
pids=()
stop_all() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done; pids=(); }
trap 'stop_all; rm -rf "$root"' EXIT

tree() { echo "$1"; for c in $(pgrep -P "$1"); do tree "$c"; done; }

# report NAME PID: totals of the process and its descendants, then the
# mappings by proportional set size, largest first. Anonymous mappings are
# summed as one line each by their kind ([heap], [stack], [anon]).
# "alone" is the proportional set size the program would have if no other
# program shared its libraries except the C library and the loader, which
# every process on the machine shares: what other programs running now
# happen to share (the agent's tests, other agents) does not count. Only for
# a program of one process.
report() {
  local name=$1 pid=$2
  echo "== $name"
  local procs
  procs=$(tree "$pid" | wc -l)
  for p in $(tree "$pid"); do cat "/proc/$p/smaps" 2>/dev/null; done |
    awk -v top="$top" -v procs="$procs" '
    /^[0-9a-f]+-[0-9a-f]+ / {
      path = (NF >= 6) ? $6 : "[anon]"
      if (path ~ /^\/memfd:/) path = "[module " substr(path, 8) "]"
      sub(/.*\//, "", path); next_is = path; next }
    /^Pss:/ { pss[next_is] += $2; total_pss += $2 }
    /^Rss:/ { rss[next_is] += $2; total_rss += $2 }
    END {
      # Several processes share pages among themselves: no such figure.
      alone = "-"
      if (procs == 1) {
        alone = total_rss
        for (k in rss) if (k ~ /^(libc\.so|libm\.so|ld-linux)/) alone -= rss[k] - pss[k]
      }
      printf "%-36s %9d kB PSS %9d kB RSS %9s kB alone\n", "total", total_pss, total_rss, alone
      n = 0
      for (k in pss) order[++n] = k
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
        if (pss[order[j]] > pss[order[i]]) { t = order[i]; order[i] = order[j]; order[j] = t }
      for (i = 1; i <= n && i <= top; i++)
        if (pss[order[i]] > 0) printf "  %-34s %9d kB     %9d kB\n", order[i], pss[order[i]], rss[order[i]]
    }'
}

# The agent, with its manifest site.
site_port=$(free_port)
mkdir -p "$root/site/downloads"
echo '<data><Debug>off</Debug><Syslog></Syslog></data>' > "$root/site/downloads/QuarrinSrvc.xml"
python3 -m http.server "$site_port" --bind 127.0.0.1 --directory "$root/site" >/dev/null 2>&1 &
site_pid=$!
trap 'stop_all; kill $site_pid 2>/dev/null || true; rm -rf "$root"' EXIT
sleep 0.5
agent_port=$(free_port)
export QUARRIN_ROOT="$root/agent"
"$build/quarrinctl" reg set 'HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment' ManifestURL REG_SZ \
  "http://127.0.0.1:$site_port/downloads/QuarrinSrvc.xml" >/dev/null
"$build/quarrinctl" reg set 'HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment' HTTPPort REG_SZ \
  "$agent_port" >/dev/null
read -r agent_pid _ < <(QUARRIN_SCM=TARNQuarrinSrvc "$build/launch_probe" "$agent_port" / -- \
  "$build/QuarrinSrvc" 2>/dev/null)
pids+=("$agent_pid")
unset QUARRIN_ROOT
sleep "$settle"
report QuarrinSrvc "$agent_pid"
stop_all

if [ -n "$exporter" ]; then
  ne_port=$(free_port)
  read -r ne_pid _ < <("$build/launch_probe" "$ne_port" /metrics -- "$exporter" \
    --web.listen-address="127.0.0.1:$ne_port" 2>/dev/null)
  pids+=("$ne_pid")
  sleep "$settle"
  report prometheus-node-exporter "$ne_pid"
  stop_all
fi

if [ -n "$zabbix" ]; then
  start_zabbix "$root"
  pids+=("$zb_pid")
  sleep "$settle"
  report "zabbix_agentd (all processes)" "$zb_pid"
  stop_all
fi
