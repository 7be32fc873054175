#!/usr/bin/env bash
# Intake benchmark of quarrin-server on a private PostgreSQL cluster: agents
# reporting side by side (bench/fleet_intake_load.py), three rounds: every
# machine's first report, the same reports again (an unchanged day), and
# reports whose application versions all changed. After each round it prints
# the rate and latency and the rows of the inventory, which show that an
# unchanged day writes no change row and no application row. Then pgbench
# runs what an unchanged day's call writes (lock the machine's row, move its
# last-seen time, in a transaction) on the same database with as many
# clients, for the rate to compare with the unchanged day's.
#
# Usage: bench/fleet_intake.sh          (after building quarrin-server into ./build)
# Environment: BUILD_DIR (build), MACHINES (1000), AGENTS (8).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

BUILD_DIR=${BUILD_DIR:-build}
MACHINES=${MACHINES:-1000}
AGENTS=${AGENTS:-8}
require_built "$BUILD_DIR" "cmake --build build --target quarrin-server" quarrin-server

start_bench_cluster
port=$(free_port)
cat >"$work/server.conf" <<CONF
listen_address = 127.0.0.1
port = $port
syslog_port = 0
database = $db
report_quiet_period_s = 2
CONF
"$BUILD_DIR/quarrin-server" --config "$work/server.conf" >"$work/server.log" 2>&1 &
server_pid=$!
wait_for_port "$port"

rows() {
  sleep 8  # the reports' quiet period and the sweep
  psql "$db" -At -F ' ' -c \
    "SELECT 'rows: machines', (SELECT count(*) FROM machines), 'applications',
            (SELECT count(*) FROM machine_applications), 'changes',
            (SELECT count(*) FROM machine_changes), 'gone',
            (SELECT count(*) FROM machine_applications WHERE gone IS NOT NULL)"
}
echo "$MACHINES machines, $AGENTS agents side by side, 15 calls per machine"
echo "first reports:";   python3 bench/fleet_intake_load.py "$port" "$MACHINES" "$AGENTS" 0; rows
echo "unchanged day:";   python3 bench/fleet_intake_load.py "$port" "$MACHINES" "$AGENTS" 0; rows
echo "every version up:"; python3 bench/fleet_intake_load.py "$port" "$MACHINES" "$AGENTS" 1; rows

cat >"$work/unchanged_call.sql" <<SQL
\set m random(0, $((MACHINES - 1)))
BEGIN;
SELECT id FROM machines WHERE name_key = 'LOAD' || lpad(:m::text, 6, '0') FOR UPDATE;
UPDATE machines SET last_seen = now() WHERE name_key = 'LOAD' || lpad(:m::text, 6, '0');
COMMIT;
SQL
echo "pgbench, the same writes, $AGENTS clients, 10 s:"
pgbench -n -c "$AGENTS" -j 2 -T 10 -f "$work/unchanged_call.sql" \
  "$db" 2>&1 | grep -E "^tps|latency average"
