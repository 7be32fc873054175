#!/usr/bin/env bash
# Two fleet servers behind HAProxy on one private PostgreSQL cluster, agents
# reporting through the proxy (scripts/fleet_ha_agents.py), one server killed
# with SIGKILL in the middle of the burst. Afterwards: every call the agents
# retried is acknowledged, each call is stored once (no machine, application
# or change twice), and both servers list the same fleet through the API and
# serve the same update manifest from their shared downloads folder.
#
# usage: scripts/test-fleet-ha.sh [BUILD_DIR]      (default: build)
# Environment: MACHINES (10000), APPS application calls per machine (13),
# AGENTS side by side (32).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server=$PWD/$build/quarrin-server
[ -x "$server" ] || { echo "$0: no $server: build quarrin-server first" >&2; exit 1; }
MACHINES=${MACHINES:-10000}
APPS=${APPS:-13}
AGENTS=${AGENTS:-32}

work=$(mktemp -d /tmp/quarrin-fleet-ha.XXXXXX)
chmod 755 "$work"
. scripts/fleet-common.sh
pid_a= pid_b= haproxy_pid= load_pid=
cleanup() {
  local status=$?
  [ -z "$load_pid" ] || kill "$load_pid" 2>/dev/null || true
  [ -z "$haproxy_pid" ] || stop_pid "$haproxy_pid"
  stop_pid "$pid_a"
  stop_pid "$pid_b"
  scripts/pg-cluster.sh stop "$work/pg" >/dev/null 2>&1 || true
  if [ "$status" -ne 0 ]; then
    for log in "$work"/*.log "$work"/pg/postgres.log; do
      [ -f "$log" ] && { echo "--- $log"; tail -20 "$log"; }
    done
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test-fleet-ha: FAIL: $*" >&2; exit 1; }

scripts/pg-cluster.sh start "$work/pg" --fast
psql "$(scripts/pg-cluster.sh url "$work/pg")" -q -c "CREATE DATABASE fleet"
db="host=$work/pg dbname=fleet user=quarrin"
sql() { psql "$db" -At -c "$1"; }

# Both at the same moment on the empty database: it is migrated once.
start_instance a "$db"
start_instance b "$db"
wait_port "$port_a" 30 && wait_port "$port_b" 30 || fail "the servers did not start"
migrations=$(ls server/migrations/V*.sql | wc -l)
[ "$(sql 'SELECT count(*) FROM schema_history')" = "$migrations" ] || fail "schema_history"
proxy=$(free_port)
start_haproxy "$proxy" "$port_a" "$port_b"
echo "servers on $port_a (pid $pid_a) and $port_b (pid $pid_b), HAProxy on $proxy"

echo "$MACHINES agents, $APPS applications each, $AGENTS side by side"
python3 scripts/fleet_ha_agents.py "$proxy" "$MACHINES" "$AGENTS" "$APPS" 300 >"$work/agents.out" 2>&1 &
load_pid=$!
# Half of the machines in: one server goes, with whatever it was doing.
for ((i = 0; i < 3000; i++)); do
  [ "$(sql 'SELECT count(*) FROM machines')" -ge $((MACHINES / 2)) ] && break
  kill -0 "$load_pid" 2>/dev/null || break
  sleep 0.1
done
kill -9 "$pid_a"
wait "$pid_a" 2>/dev/null || true
echo "killed server a at $(sql 'SELECT count(*) FROM machines') machines"
pid_a=
status=0
wait "$load_pid" || status=$?
load_pid=
cat "$work/agents.out"
[ "$status" -eq 0 ] || fail "calls were given up"

# The killed one comes back on the migrated database.
start_instance a "$db"
wait_port "$port_a" 30 || fail "server a did not start again"

expect() {
  local got
  got=$(sql "$2")
  [ "$got" = "$3" ] || fail "$1: $got, expected $3"
  echo "ok: $1 ($got)"
}
expect "machines" "SELECT count(*) FROM machines" "$MACHINES"
expect "applications" "SELECT count(*) FROM machine_applications WHERE gone IS NULL" \
  "$((MACHINES * APPS))"
expect "machines with details and attributes" \
  "SELECT count(*) FROM machines WHERE product_name IS NOT NULL AND serial_no IS NOT NULL" "$MACHINES"
expect "first reports in the history" "SELECT count(*) FROM machine_changes WHERE kind = 'machine'" \
  "$MACHINES"
expect "applications in the history" \
  "SELECT count(*) FROM machine_changes WHERE kind = 'application'" "$((MACHINES * APPS))"
expect "changes recorded twice" "SELECT count(*) FROM (SELECT 1 FROM machine_changes
  GROUP BY machine_id, kind, item, new_value HAVING count(*) > 1) twice" 0

machine_list "$port_a" >"$work/fleet_a" || fail "the API of server a"
machine_list "$port_b" >"$work/fleet_b" || fail "the API of server b"
[ "$(wc -l <"$work/fleet_a")" -eq "$MACHINES" ] || fail "server a lists $(wc -l <"$work/fleet_a") machines"
cmp -s "$work/fleet_a" "$work/fleet_b" || fail "the servers list different fleets"
echo "ok: both servers list the same $MACHINES machines"

# A ring promoted from any host (here: its file written as promote writes
# it) is served by every server at once.
mkdir -p "$work/downloads/rings"
echo 1.2.3.4 >"$work/downloads/rings/main"
for p in "$port_a" "$port_b"; do
  curl -sf --max-time 10 "http://127.0.0.1:$p/downloads/QuarrinSrvc.xml" | grep -q "<major>1</major>" \
    || fail "the server on port $p does not serve the shared folder's ring"
done
echo "ok: both servers serve the ring of the shared downloads folder"
echo "test-fleet-ha: PASS"
