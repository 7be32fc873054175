#!/usr/bin/env bash
# Whole-process benchmark of the agent's HTTP interface on loopback, a fresh
# connection per request (the agent closes each one), side by side with
# prometheus-node-exporter (a fresh collection of machine facts per GET
# /metrics) and nginx serving a static copy of the menu page.
#
# For each server and path it prints p50 and p99 latency, the server's CPU
# per request (utime + stime of the whole server process from /proc, over
# the measured requests) and requests per second; then the agent's resident
# memory after 100 and after 10,000 requests, and the ratios with their goals:
#   GET /info CPU    <= 1/20 of node_exporter's /metrics, with a lower p99
#   GET /     CPU    <= 2x the static page's
#   RSS after 10,000 requests within 10 % of RSS after 100
# The requests go in ROUNDS rounds, each server and path in turn, so that a
# change in a shared machine's load falls on all of them alike: CPU is over
# all rounds, latencies and requests per second are the rounds' medians.
# The machine's load average is printed at the start and at the end.
#
# Usage: bench/http_bench.sh            (after building into ./build)
# Environment: BUILD_DIR (build), MENU_REQUESTS (10000), INFO_REQUESTS (3000),
# METRICS_REQUESTS (1000), STATIC_REQUESTS (10000), ROUNDS (5).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

BUILD_DIR=${BUILD_DIR:-build}
MENU_REQUESTS=${MENU_REQUESTS:-10000}
INFO_REQUESTS=${INFO_REQUESTS:-3000}
METRICS_REQUESTS=${METRICS_REQUESTS:-1000}
STATIC_REQUESTS=${STATIC_REQUESTS:-10000}
ROUNDS=${ROUNDS:-5}
NODE_EXPORTER=${NODE_EXPORTER:-$(command -v prometheus-node-exporter || true)}
NGINX=${NGINX:-$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null || true)}

require_built "$BUILD_DIR" "cmake --build $BUILD_DIR" QuarrinSrvc quarrinctl

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

c++ -O2 -std=c++20 -o "$work/http_load" bench/http_load.cc
load() { "$work/http_load" "$@"; }
clk_tck=$(getconf CLK_TCK)

# utime + stime of a process, all its threads included, in clock ticks.
cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat")
  stat=${stat##*) }
  # shellcheck disable=SC2086
  set -- $stat
  echo $(( ${12} + ${13} ))
}
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

wait_for_port() {
  local port=$1 pid=$2
  for _ in $(seq 1 500); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    if ! kill -0 "$pid" 2>/dev/null; then return 1; fi
    sleep 0.02
  done
  return 1
}

# The servers and paths measured, one "name|pid|port|count|path" each, and
# per row what the rounds gathered.
rows=()
ticks=()
p50s=()
p99s=()
rpss=()
measured() { rows+=("$1|$2|$3|$4|$5"); ticks+=(0); p50s+=(""); p99s+=(""); rpss+=(""); }
field() { sed -E "s/.*$1=([0-9.]+).*/\1/" <<< "$2"; }
median() { tr ' ' '\n' <<< "$1" | sed '/^$/d' | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# Every row's requests in ROUNDS rounds, the rows in turn in each.
measure_all() {
  local i r name pid port count path n before after line
  for i in "${!rows[@]}"; do
    IFS='|' read -r name pid port count path <<< "${rows[$i]}"
    load "$port" 100 "$path" > /dev/null  # warm-up
  done
  for ((r = 0; r < ROUNDS; r++)); do
    for i in "${!rows[@]}"; do
      IFS='|' read -r name pid port count path <<< "${rows[$i]}"
      n=$((count / ROUNDS))
      before=$(cpu_ticks "$pid")
      line=$(load "$port" "$n" "$path")
      after=$(cpu_ticks "$pid")
      ticks[i]=$((ticks[i] + after - before))
      p50s[i]+=" $(field p50_us "$line")"
      p99s[i]+=" $(field p99_us "$line")"
      rpss[i]+=" $(field req_per_s "$line")"
      if ! grep -q "ok=$n " <<< "$line"; then echo "  ($name: not every request got 200: $line)"; fi
    done
  done
}

# result I: prints row I and leaves "p50 p99 cpu_us req_per_s" in $result.
result() {
  local i=$1 name pid port count path p50 p99 rps cpu_us
  IFS='|' read -r name pid port count path <<< "${rows[$i]}"
  count=$((count / ROUNDS * ROUNDS))
  p50=$(median "${p50s[i]}")
  p99=$(median "${p99s[i]}")
  rps=$(median "${rpss[i]}")
  cpu_us=$(awk -v d="${ticks[i]}" -v hz="$clk_tck" -v n="$count" 'BEGIN {printf "%.1f", d / hz * 1e6 / n}')
  printf '%-28s %8s %10s %10s %14s %10s\n' "$name" "$count" "$p50" "$p99" "$cpu_us" "$rps"
  result="$p50 $p99 $cpu_us $rps"
}

# --- the agent, with the inventory service and the download site down ---
agent_root="$work/agent"
mkdir -p "$agent_root"
agent_port=$(load --free-port)
down_port=$(load --free-port)  # nothing listens there: connections are refused
cat > "$work/deployment.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]
"HTTPPort"="$agent_port"
"ManifestURL"="http://127.0.0.1:$down_port/downloads/QuarrinSrvc.xml"
"InventoryURL"="http://127.0.0.1:$down_port/quarrin/quarrinws.dll/soap/IQuarrin"
EOF
QUARRIN_ROOT="$agent_root" "$BUILD_DIR/quarrinctl" reg import "$work/deployment.reg"
QUARRIN_ROOT="$agent_root" QUARRIN_SCM=TARNQuarrinSrvc NOTIFY_SOCKET= \
  "$BUILD_DIR/QuarrinSrvc" > "$work/agent.log" 2>&1 &
agent_pid=$!
pids+=("$agent_pid")
if ! wait_for_port "$agent_port" "$agent_pid"; then
  echo "the agent did not start:" >&2
  cat "$work/agent.log" >&2
  exit 1
fi

echo "machine: $(nproc) CPUs, $(uname -r); agent $agent_port, a fresh connection per request"
echo
echo "resident memory of the agent:"
load "$agent_port" 100 / /info > /dev/null
rss_100=$(rss_kb "$agent_pid")
load "$agent_port" 9900 / /info > /dev/null
rss_10k=$(rss_kb "$agent_pid")
printf '  after %6d requests: %8d kB\n' 100 "$rss_100" 10000 "$rss_10k"
echo

measured "agent GET / (menu)" "$agent_pid" "$agent_port" "$MENU_REQUESTS" /
measured "agent GET /info" "$agent_pid" "$agent_port" "$INFO_REQUESTS" /info

metrics_cpu=""
if [ -n "$NODE_EXPORTER" ]; then
  ne_port=$(load --free-port)
  "$NODE_EXPORTER" --web.listen-address="127.0.0.1:$ne_port" > "$work/node_exporter.log" 2>&1 &
  ne_pid=$!
  pids+=("$ne_pid")
  if wait_for_port "$ne_port" "$ne_pid"; then
    measured "node_exporter GET /metrics" "$ne_pid" "$ne_port" "$METRICS_REQUESTS" /metrics
  else
    echo "node_exporter did not start; see its log:"; cat "$work/node_exporter.log"
  fi
else
  echo "node_exporter: not installed, column skipped (apt-get install prometheus-node-exporter)"
fi

static_cpu=""
if [ -n "$NGINX" ]; then
  mkdir -p "$work/nginx/html" "$work/nginx/tmp"
  load "$agent_port" 1 / > /dev/null
  # The static page is the menu page itself, as the agent served it.
  (exec 3<>"/dev/tcp/127.0.0.1/$agent_port"
   printf 'GET / HTTP/1.1\r\nHost: x\r\n\r\n' >&3
   sed '1,/^\r$/d' <&3) > "$work/nginx/html/index.html"
  ng_port=$(load --free-port)
  cat > "$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
error_log $work/nginx/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections 256; }
http {
  access_log off;
  default_type text/html;
  client_body_temp_path $work/nginx/tmp;
  proxy_temp_path $work/nginx/tmp;
  fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp;
  scgi_temp_path $work/nginx/tmp;
  server {
    listen 127.0.0.1:$ng_port;
    root $work/nginx/html;
    keepalive_timeout 0;
  }
}
EOF
  "$NGINX" -p "$work/nginx" -c "$work/nginx/nginx.conf" > "$work/nginx.log" 2>&1 &
  ng_pid=$!
  pids+=("$ng_pid")
  if wait_for_port "$ng_port" "$ng_pid"; then
    measured "nginx static menu page" "$ng_pid" "$ng_port" "$STATIC_REQUESTS" /index.html
  else
    echo "nginx did not start; see its log:"; cat "$work/nginx.log" "$work/nginx/error.log" 2>/dev/null
  fi
else
  echo "nginx: not installed, the static page's figures are skipped (apt-get install nginx-light)"
fi

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $ROUNDS rounds"
measure_all
printf '%-28s %8s %10s %10s %14s %10s\n' "server and path" requests "p50 us" "p99 us" "CPU us/req" "req/s"
for i in "${!rows[@]}"; do
  result "$i"
  case "${rows[$i]}" in
    "agent GET / "*) read -r menu_p50 menu_p99 menu_cpu menu_rps <<< "$result" ;;
    "agent GET /info"*) read -r info_p50 info_p99 info_cpu info_rps <<< "$result" ;;
    node_exporter*) read -r metrics_p50 metrics_p99 metrics_cpu metrics_rps <<< "$result" ;;
    nginx*) read -r static_p50 static_p99 static_cpu static_rps <<< "$result" ;;
  esac
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "ratios (goal in brackets):"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", (b > 0 ? a / b : 0)}'; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN {print (r <= g ? "met" : "NOT met")}'; }
if [ -n "$metrics_cpu" ]; then
  r=$(ratio "$info_cpu" "$metrics_cpu")
  echo "  GET /info CPU / node_exporter /metrics CPU: $r  [<= 0.05: $(verdict "$r" 0.05)]"
  r=$(ratio "$info_p99" "$metrics_p99")
  echo "  GET /info p99 / node_exporter /metrics p99: $r  [< 1: $(verdict "$r" 0.9999)]"
  echo "  GET /info req/s / node_exporter req/s:      $(ratio "$info_rps" "$metrics_rps")"
fi
if [ -n "$static_cpu" ]; then
  r=$(ratio "$menu_cpu" "$static_cpu")
  echo "  GET / CPU / static page CPU:                $r  [<= 2: $(verdict "$r" 2)]"
  echo "  GET / p50 / static page p50:                $(ratio "$menu_p50" "$static_p50")"
fi
r=$(ratio "$rss_10k" "$rss_100")
echo "  RSS after 10,000 / after 100 requests:      $r  [<= 1.10: $(verdict "$r" 1.10)]"
