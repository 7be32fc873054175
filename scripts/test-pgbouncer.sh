#!/usr/bin/env bash
# The fleet server through PgBouncer in transaction mode, where each
# transaction may run on another database session: two servers started at
# the same moment migrate an empty database once, agents' reports are
# stored, and the scheduled jobs run under their lease (quiet reports
# ended, the coming months' partitions made).
#
# usage: scripts/test-pgbouncer.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server=$PWD/$build/quarrin-server
[ -x "$server" ] || { echo "$0: no $server: build quarrin-server first" >&2; exit 1; }
command -v pgbouncer >/dev/null || PATH=$PATH:/usr/sbin
command -v pgbouncer >/dev/null || { echo "$0: no pgbouncer (scripts/install-deps.sh)" >&2; exit 1; }

work=$(mktemp -d /tmp/quarrin-pgbouncer.XXXXXX)
chmod 755 "$work"
. scripts/fleet-common.sh
pid_a= pid_b= bouncer_pid=
as_owner=()
if [ "$(id -u)" -eq 0 ]; then as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups --); fi
cleanup() {
  local status=$?
  stop_pid "$pid_a"
  stop_pid "$pid_b"
  stop_pid "$bouncer_pid"
  scripts/pg-cluster.sh stop "$work/pg" >/dev/null 2>&1 || true
  if [ "$status" -ne 0 ]; then
    for log in "$work"/*.log "$work"/bouncer/*.log; do
      [ -f "$log" ] && { echo "--- $log"; tail -20 "$log"; }
    done
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test-pgbouncer: FAIL: $*" >&2; exit 1; }

scripts/pg-cluster.sh start "$work/pg" --fast
psql "$(scripts/pg-cluster.sh url "$work/pg")" -q -c "CREATE DATABASE fleet"
direct="host=$work/pg dbname=fleet user=quarrin"
sql() { psql "$direct" -At -c "$1"; }

bouncer_port=$(free_port)
mkdir -p "$work/bouncer"
echo '"quarrin" ""' >"$work/bouncer/users.txt"
cat >"$work/bouncer/pgbouncer.ini" <<INI
[databases]
fleet = host=$work/pg dbname=fleet user=quarrin
[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $bouncer_port
unix_socket_dir =
auth_type = trust
auth_file = $work/bouncer/users.txt
pool_mode = transaction
default_pool_size = 4
max_client_conn = 200
logfile = $work/bouncer/pgbouncer.log
INI
[ "$(id -u)" -ne 0 ] || chown -R nobody:nogroup "$work/bouncer"
"${as_owner[@]}" pgbouncer -q "$work/bouncer/pgbouncer.ini" &
bouncer_pid=$!
wait_port "$bouncer_port" 10 || fail "PgBouncer did not start"
via="host=127.0.0.1 port=$bouncer_port dbname=fleet user=quarrin"

# PgBouncer in transaction mode keeps no prepared statements.
start_instance a "$via" "report_quiet_period_s = 2" "database_prepared_statements = off"
start_instance b "$via" "report_quiet_period_s = 2" "database_prepared_statements = off"
wait_port "$port_a" 30 && wait_port "$port_b" 30 || fail "the servers did not start"
migrations=$(ls server/migrations/V*.sql | wc -l)
[ "$(sql 'SELECT count(*) FROM schema_history')" = "$migrations" ] || fail "schema_history"
echo "ok: two servers migrated the database once through PgBouncer"

python3 bench/fleet_intake_load.py "$port_a" 100 4 0
python3 bench/fleet_intake_load.py "$port_b" 100 4 1
[ "$(sql 'SELECT count(*) FROM machines')" = 100 ] || fail "machines"
echo "ok: reports stored through both servers"

# The quiet reports end (2 s quiet, a sweep every 5 s) by the lease's holder.
for ((i = 0; i < 300; i++)); do
  [ "$(sql 'SELECT count(*) FROM machines WHERE apps_report_last_call IS NOT NULL')" = 0 ] && break
  sleep 0.1
done
[ "$(sql 'SELECT count(*) FROM machines WHERE apps_report_last_call IS NOT NULL')" = 0 ] \
  || fail "quiet reports were not ended"
[ "$(sql "SELECT count(*) FROM machine_applications WHERE gone IS NULL")" = 1300 ] || fail "applications"
[ "$(sql 'SELECT count(*) FROM job_leases')" = 1 ] || fail "no lease of the scheduled jobs"
holders=$(grep -l "runs the scheduled jobs" "$work"/a.log "$work"/b.log | wc -l)
[ "$holders" = 1 ] || fail "$holders servers ran the scheduled jobs"
[ "$(sql "SELECT count(*) FROM pg_inherits WHERE inhparent = 'events'::regclass")" -ge 5 ] \
  || fail "partitions"
echo "ok: one server ran the scheduled jobs; quiet reports ended, partitions made"
echo "test-pgbouncer: PASS"
