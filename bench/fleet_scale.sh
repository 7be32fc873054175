#!/usr/bin/env bash
# Intake of one, two and three quarrin-server instances on one database,
# side by side in one run, behind HAProxy, with pgbench as the database's
# ceiling. Each configuration gets a database of its own on the same private
# cluster and two rounds of bench/fleet_intake_load.py: every machine's first
# report, then an unchanged day. Printed per round: calls per second, the
# ratio to one instance, and CPU time per call of the instances, of
# PostgreSQL and of HAProxy (from /proc/PID/stat, user + system), which is
# what carries over to a machine with more cores than this one.
#
# Then the history's size: after the first reports, an unchanged day and a
# day where every application's version changed (VACUUM between), the bytes
# per machine of the tables and of each such day, and of a syslog event.
#
# usage: bench/fleet_scale.sh          (after building quarrin-server into ./build)
# Environment: BUILD_DIR (build), MACHINES (1000), AGENTS (16), SCALING (1;
# 0: the history's size only).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
MACHINES=${MACHINES:-1000}
AGENTS=${AGENTS:-16}
SCALING=${SCALING:-1}
server=$PWD/$BUILD_DIR/quarrin-server
[ -x "$server" ] || { echo "missing $server: build first (cmake --build build --target quarrin-server)" >&2; exit 1; }
command -v haproxy >/dev/null || PATH=$PATH:/usr/sbin

work=$(mktemp -d /tmp/quarrin-fleet-scale.XXXXXX)
chmod 755 "$work"
. scripts/fleet-common.sh
pids=() haproxy_pid=
stop_all() {
  [ -z "$haproxy_pid" ] || stop_pid "$haproxy_pid"
  haproxy_pid=
  for p in "${pids[@]}"; do stop_pid "$p"; done
  pids=()
}
cleanup() {
  stop_all
  scripts/pg-cluster.sh stop "$work/pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
scripts/pg-cluster.sh start "$work/pg"
admin=$(scripts/pg-cluster.sh url "$work/pg")
postmaster=$(head -1 "$work/pg/data/postmaster.pid")
postgres_pids() { echo "$postmaster" $(ps -o pid= --ppid "$postmaster"); }
hz=$(getconf CLK_TCK)
ms_per_call() { python3 -c "print('%.2f' % ($1 * 1000.0 / $hz / $2))"; }

echo "$MACHINES machines, $AGENTS agents side by side, 15 calls per machine; $(nproc) cores,"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) (the machine is shared)"
# The CPU time of the shell's finished children: the load generator.
children_ticks() {
  times >"$work/times"
  sed -n 2p "$work/times" | tr 'ms' '  ' |
    awk -v hz="$hz" '{ printf "%d\n", (($1 + $3) * 60 + $2 + $4) * hz }'
}
printf '%-10s %-14s %8s %6s %15s %17s %16s %15s\n' instances round calls/s ratio "server ms/call" \
  "postgres ms/call" "haproxy ms/call" "client ms/call"
declare -A base
configurations=(1 2 3)
[ "$SCALING" = 1 ] || configurations=(1)
for n in "${configurations[@]}"; do
  psql "$admin" -q -c "CREATE DATABASE bench_$n"
  db="host=$work/pg dbname=bench_$n user=quarrin"
  ports=()
  for ((i = 0; i < n; i++)); do
    start_instance "i$i" "$db"
    port_var="port_i$i" pid_var="pid_i$i"
    ports+=("${!port_var}")
    pids+=("${!pid_var}")
  done
  for p in "${ports[@]}"; do wait_port "$p" 30; done
  proxy=$(free_port)
  start_haproxy "$proxy" "${ports[@]}"
  sleep 1.5  # HAProxy's first checks
  for round in first-reports unchanged-day; do
    children_ticks >"$work/client_before"
    before_s=$(cpu_ticks "${pids[@]}") before_p=$(cpu_ticks $(postgres_pids)) before_h=$(cpu_ticks "$haproxy_pid")
    out=$(python3 bench/fleet_intake_load.py "$proxy" "$MACHINES" "$AGENTS" 0)
    children_ticks >"$work/client_after"
    after_s=$(cpu_ticks "${pids[@]}") after_p=$(cpu_ticks $(postgres_pids)) after_h=$(cpu_ticks "$haproxy_pid")
    calls=$(sed -n 's/^\([0-9]*\) calls in.*/\1/p' <<<"$out")
    rate=$(sed -n 's/.*: \([0-9]*\) calls\/s.*/\1/p' <<<"$out")
    failed=$(sed -n 's/.*calls\/s, \([0-9]*\) failed.*/\1/p' <<<"$out")
    [ -n "${base[$round]:-}" ] || base[$round]=$rate
    printf '%-10s %-14s %8s %6s %15s %17s %16s %15s%s\n' "$n" "$round" "$rate" \
      "$(python3 -c "print('%.2f' % ($rate / ${base[$round]}))")" \
      "$(ms_per_call $((after_s - before_s)) "$calls")" "$(ms_per_call $((after_p - before_p)) "$calls")" \
      "$(ms_per_call $((after_h - before_h)) "$calls")" \
      "$(ms_per_call $(($(cat "$work/client_after") - $(cat "$work/client_before"))) "$calls")" \
      "$([ "$failed" = 0 ] || echo "  ($failed failed)")"
  done
  stop_all
done

cat >"$work/unchanged_call.sql" <<SQL
\set m random(0, $((MACHINES - 1)))
BEGIN;
SELECT id FROM machines WHERE name_key = 'LOAD' || lpad(:m::text, 6, '0') FOR UPDATE;
UPDATE machines SET last_seen = now() WHERE name_key = 'LOAD' || lpad(:m::text, 6, '0');
COMMIT;
SQL
echo "pgbench, what an unchanged day's call writes, $AGENTS clients, 10 s (the database's ceiling):"
pgbench -n -c "$AGENTS" -j 2 -T 10 -f "$work/unchanged_call.sql" \
  "host=$work/pg dbname=bench_1 user=quarrin" 2>&1 | grep -E "^tps|latency average"

# The history's size, on the first configuration's database.
db="host=$work/pg dbname=bench_1 user=quarrin"
size() {
  psql "$db" -q -c "VACUUM" >/dev/null
  psql "$db" -At -c "SELECT sum(pg_total_relation_size(relid)) FROM (
    SELECT relid FROM pg_partition_tree('machine_changes') UNION ALL
    SELECT relid FROM pg_partition_tree('events') UNION ALL
    SELECT 'machines'::regclass UNION ALL SELECT 'machine_applications'::regclass) t"
}
start_instance size "$db"
wait_port "$port_size" 30
pids=("$pid_size")
q() { psql "$db" -At -c "$1"; }
wal() { q "SELECT pg_current_wal_lsn()"; }
wal_bytes() { q "SELECT pg_wal_lsn_diff('$2', '$1')"; }
machines=$(q "SELECT count(*) FROM machines")
after_first=$(size)
wal0=$(wal)
python3 bench/fleet_intake_load.py "$port_size" "$MACHINES" "$AGENTS" 0 >/dev/null
wal1=$(wal)
after_unchanged=$(size)
changes_before=$(q "SELECT count(*) FROM machine_changes")
wal2=$(wal)
python3 bench/fleet_intake_load.py "$port_size" "$MACHINES" "$AGENTS" 1 >/dev/null
wal3=$(wal)
after_changed=$(size)
changes=$(( $(q "SELECT count(*) FROM machine_changes") - changes_before ))
stop_all
calls=$((machines * 15))
events_before=$(q "SELECT sum(pg_total_relation_size(relid)) FROM pg_partition_tree('events')")
psql "$db" -q -c "INSERT INTO events (received, sender, machine_id, facility, severity, code, message)
  SELECT now(), ('10.1.' || (i % 250) || '.' || (i % 200))::inet, m.ids[1 + i % cardinality(m.ids)],
         1, 5, '50000', 'QUARRIN: %QUARN-5-50000: inventory sent, ' || (i % 40) || ' applications'
  FROM (SELECT array_agg(id) AS ids FROM machines) m, generate_series(1, 100000) i"
psql "$db" -q -c "VACUUM" >/dev/null
events_after=$(q "SELECT sum(pg_total_relation_size(relid)) FROM pg_partition_tree('events')")
per() { python3 -c "print('%.0f' % (($1) / $2))"; }
echo "size: $(per "$after_first" "$machines") bytes per machine after its first report ($machines machines)"
echo "size: $(per "$after_unchanged - $after_first" "$machines") bytes per machine for an unchanged day" \
  "(WAL: $(per "$(wal_bytes "$wal0" "$wal1")" "$calls") bytes per call)"
echo "size: $(per "$after_changed - $after_unchanged" "$machines") bytes per machine for a day where all 13" \
  "versions changed, $(per "$after_changed - $after_unchanged" "$changes") per change row ($changes rows)" \
  "(WAL: $(per "$(wal_bytes "$wal2" "$wal3")" "$calls") bytes per call)"
echo "size: $(per "$events_after - $events_before" 100000) bytes per syslog event"
