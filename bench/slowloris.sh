#!/usr/bin/env bash
# Whole-process benchmark of the agent's HTTP server under a slowloris
# attack on loopback: 1,000 connections from 127.0.0.2 that send a request
# head a header line at a time and never end it (whatever the agent closes
# is opened again in the attacker's next round), while an ordinary client
# on 127.0.0.1 sends fresh GET / requests, one connection each.
#
# Prints the client's latency (p50, p99, max) without and with the attack,
# how many connections the attacker managed to hold and how it was turned
# away (503 at once, 408 when its head was late), and the goal:
#   with the attack, GET / from another address answered within 100 ms at p99
#
# Usage: bench/slowloris.sh     (after building QuarrinSrvc, quarrinctl and,
#                                with -DQUARRIN_BENCH=ON, slowloris_load)
# Environment: BUILD_DIR (build), REQUESTS (1000), CONNECTIONS (1000),
# INTERVAL_MS (1000, the attacker's round), PAUSE_MS (10, between requests).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

BUILD_DIR=${BUILD_DIR:-build}
REQUESTS=${REQUESTS:-1000}
CONNECTIONS=${CONNECTIONS:-1000}
INTERVAL_MS=${INTERVAL_MS:-1000}
PAUSE_MS=${PAUSE_MS:-10}

require_built "$BUILD_DIR" \
  "cmake -DQUARRIN_BENCH=ON; cmake --build $BUILD_DIR --target QuarrinSrvc quarrinctl slowloris_load" \
  QuarrinSrvc quarrinctl slowloris_load

make_workspace

agent_port=$(free_port)
down_port=$(free_port)  # nothing listens there: connections are refused
cat > "$work/deployment.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]
"HTTPPort"="$agent_port"
"ManifestURL"="http://127.0.0.1:$down_port/downloads/QuarrinSrvc.xml"
"InventoryURL"="http://127.0.0.1:$down_port/quarrin/quarrinws.dll/soap/IQuarrin"
REG
mkdir -p "$work/agent"
QUARRIN_ROOT="$work/agent" "$BUILD_DIR/quarrinctl" reg import "$work/deployment.reg"
QUARRIN_ROOT="$work/agent" QUARRIN_SCM=TARNQuarrinSrvc NOTIFY_SOCKET= \
  "$BUILD_DIR/QuarrinSrvc" > "$work/agent.log" 2>&1 &
agent_pid=$!
for _ in $(seq 1 500); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$agent_port") 2>/dev/null; then break; fi
  if ! kill -0 "$agent_pid" 2>/dev/null; then cat "$work/agent.log" >&2; exit 1; fi
  sleep 0.02
done

field() { sed -E "s/.*$1=([0-9.]+).*/\1/" <<< "$2"; }
ms() { awk -v us="$1" 'BEGIN {printf "%.1f", us / 1000}'; }

echo "machine: $(nproc) CPUs, $(uname -r); agent on port $agent_port"
echo "client 127.0.0.1: $REQUESTS sequential GET /, a fresh connection each, $PAUSE_MS ms apart"
echo

quiet=$("$BUILD_DIR/slowloris_load" "$agent_port" --connections 0 --requests "$REQUESTS" \
  --pause-ms "$PAUSE_MS" --warm-up-ms 0) || true
attacked=$("$BUILD_DIR/slowloris_load" "$agent_port" --attacker 127.0.0.2 \
  --connections "$CONNECTIONS" --interval-ms "$INTERVAL_MS" --requests "$REQUESTS" \
  --pause-ms "$PAUSE_MS") || true

printf '%-34s %6s %10s %10s %10s\n' "" ok "p50 ms" "p99 ms" "max ms"
for row in "without attack|$quiet" "with $CONNECTIONS slowloris connections|$attacked"; do
  name=${row%%|*}
  line=${row#*|}
  printf '%-34s %6s %10s %10s %10s\n' "$name" "$(field ok "$line")" \
    "$(ms "$(field p50_us "$line")")" "$(ms "$(field p99_us "$line")")" "$(ms "$(field max_us "$line")")"
done
echo
echo "attacker 127.0.0.2: held $(field attacker_open_min "$attacked")..$(field attacker_open_max "$attacked") of $CONNECTIONS connections at a time;" \
  "opened $(field attacker_opened "$attacked"), refused with 503: $(field attacker_503 "$attacked")," \
  "dropped with 408: $(field attacker_408 "$attacked")"
p99=$(field p99_us "$attacked")
verdict=$(awk -v p="$p99" 'BEGIN {print (p <= 100000 ? "met" : "NOT met")}')
if [ "$(field ok "$attacked")" != "$REQUESTS" ]; then verdict="NOT met (not every request got 200)"; fi
echo "goal: p99 of GET / under attack <= 100 ms: $(ms "$p99") ms, $verdict"
if ! kill -0 "$agent_pid" 2>/dev/null; then echo "the agent died:" >&2; cat "$work/agent.log" >&2; exit 1; fi
