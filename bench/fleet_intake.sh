#!/usr/bin/env bash
# Intake benchmark of quarrin-server on a private PostgreSQL cluster on this
# machine, with simulated agents (bench/fleet_load.cc, each machine calling
# from a loopback address of its own). Parts, chosen by PARTS:
#
#   rounds    AGENTS agents side by side, three rounds of MACHINES machines'
#             reports (ROUNDS=1: the first only): every machine's first
#             report, the same reports again (an unchanged day, which must
#             add no application row and no change row), and reports whose
#             application versions all changed. Each prints its rate,
#             p50/p99, the CPU per call of server, database and client, and
#             the inventory's rows; the first round its time against the goal
#             for 100,000 machines (MACHINES=100000 ROUNDS=1 measures that).
#   pgbench   pgbench with AGENTS clients on the same database: the very
#             statements of an unchanged day's calls (each machine's 15 calls
#             in a row, each a transaction of its own), and the ratio of the
#             unchanged day's rate to it (goal at least 0.5); then the bare
#             writes of such a call (lock the machine, move its last-seen
#             time) for reference.
#   paced     RATE calls per second for PACED_S seconds, machines started on a
#             clock: p50/p99 (goal p99 under 50 ms at 500 calls/s).
#   stampede  STAMPEDE agents at once, as after a mass restart: the calls
#             served and their p99, the calls refused (503, SOAP fault) and
#             how fast, and whether the server serves a report afterwards.
#
# Throughout, the server's resident memory is sampled every second and
# printed at the start, middle and end (goal: flat), with the load average.
#
# Usage: bench/fleet_intake.sh      (after building quarrin-server and fleet_load
#                                    into ./build)
# Environment: BUILD_DIR (build), MACHINES (1000), AGENTS (8), ROUNDS (3),
#   PARTS ("rounds pgbench paced stampede"), RATE (500), PACED_S (30),
#   STAMPEDE (3000), and the server's database_pool_size POOL (4),
#   database_pool_queue QUEUE (8) and max_connections CONNECTIONS (256).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

BUILD_DIR=${BUILD_DIR:-build}
MACHINES=${MACHINES:-1000}
AGENTS=${AGENTS:-8}
ROUNDS=${ROUNDS:-3}
PARTS=${PARTS:-rounds pgbench paced stampede}
RATE=${RATE:-500}
PACED_S=${PACED_S:-30}
STAMPEDE=${STAMPEDE:-3000}
POOL=${POOL:-4}
QUEUE=${QUEUE:-8}
CONNECTIONS=${CONNECTIONS:-256}
require_built "$BUILD_DIR" "cmake --build build --target quarrin-server fleet_load" \
  quarrin-server fleet_load
load="$BUILD_DIR/fleet_load"
has_part() { [[ " $PARTS " == *" $1 "* ]]; }

work=$(mktemp -d)
chmod 755 "$work"  # the cluster's user (nobody, as root) reaches its folder through it
server_pid=
sampler_pid=
cleanup() {
  if [ -n "$sampler_pid" ]; then kill "$sampler_pid" 2>/dev/null || true; fi
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  scripts/pg-cluster.sh stop "$work/pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
scripts/pg-cluster.sh start "$work/pg"
db="host=$work/pg dbname=bench user=quarrin"
psql "$(scripts/pg-cluster.sh url "$work/pg")" -q -c "CREATE DATABASE bench"
port=$(free_port)
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
cat >"$work/server.conf" <<CONF
listen_address = 127.0.0.1
port = $port
syslog_port = 0
database = $db
database_pool_size = $POOL
database_pool_queue = $QUEUE
max_connections = $CONNECTIONS
report_quiet_period_s = 2
CONF
"$BUILD_DIR/quarrin-server" --config "$work/server.conf" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 200); do
  if port_open "$port"; then break; fi
  sleep 0.05
done
port_open "$port" || { cat "$work/server.log" >&2; exit 1; }
(while kill -0 "$server_pid" 2>/dev/null; do
   awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status" 2>/dev/null || true
   sleep 1
 done) >"$work/rss" &
sampler_pid=$!

# CPU time in clock ticks: of the server, and of the database (the
# postmaster, what it reaped, and its live children).
ticks_of() { awk '{sub(/^.*\) /, ""); print $12 + $13 + $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
server_ticks() { ticks_of "$server_pid"; }
db_ticks() {
  local postmaster total child
  postmaster=$(head -1 "$work/pg/data/postmaster.pid")
  total=$(ticks_of "$postmaster")
  for child in $(pgrep -P "$postmaster"); do total=$((total + $(ticks_of "$child"))); done
  echo "$total"
}
hz=$(getconf CLK_TCK)
value() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p"; }
# ratio A B: A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# run LABEL ARGS...: one run of the load client, with the CPU per call of
# the server, the database and the client; its line is left in $result.
run() {
  local label=$1 s0 d0 s1 d1 calls
  shift
  s0=$(server_ticks); d0=$(db_ticks)
  result=$("$load" "$port" "$@")
  s1=$(server_ticks); d1=$(db_ticks)
  calls=$(value "$result" calls)
  echo "$label: $result"
  awk -v s=$((s1 - s0)) -v d=$((d1 - d0)) -v c="$(value "$result" client_cpu_s)" -v n="$calls" -v hz="$hz" \
    'BEGIN { if (n > 0) printf "  cpu per call: server %.3f ms, database %.3f ms, client %.3f ms\n",
             s * 1000 / hz / n, d * 1000 / hz / n, c * 1000 / n }'
}

counts() {
  psql "$db" -At -F ' ' -c "SELECT (SELECT count(*) FROM machine_applications),
                                   (SELECT count(*) FROM machine_changes)"
}
rows() {
  sleep 8  # the reports' quiet period and the sweep
  psql "$db" -At -F ' ' -c \
    "SELECT '  rows: machines', (SELECT count(*) FROM machines), 'applications',
            (SELECT count(*) FROM machine_applications), 'changes',
            (SELECT count(*) FROM machine_changes), 'gone',
            (SELECT count(*) FROM machine_applications WHERE gone IS NOT NULL)"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
unchanged_rate=
seed=0  # of the reports the database holds: what an unchanged day sends
if has_part rounds; then
  echo "== $MACHINES machines, $((MACHINES * 15)) calls a round, $AGENTS agents side by side"
  run "first reports" 0 "$MACHINES" 0 "agents=$AGENTS"; rows
  wall=$(value "$result" wall_s)
  echo "  $MACHINES machines' first reports in ${wall} s; 100,000 machines at this rate:" \
       "$(awk -v w="$wall" -v m="$MACHINES" 'BEGIN { printf "%.0f", w * 100000 / m }') s (goal < 900 s)"
  if [ "$ROUNDS" -ge 2 ]; then
    before=$(counts)
    run "unchanged day" 0 "$MACHINES" 0 "agents=$AGENTS"; rows
    unchanged_rate=$(value "$result" calls_per_s)
    read -r apps0 changes0 <<<"$before"
    read -r apps1 changes1 <<<"$(counts)"
    echo "  the unchanged day added $((apps1 - apps0)) application rows and $((changes1 - changes0)) change rows (goal 0 and 0)"
  fi
  if [ "$ROUNDS" -ge 3 ]; then
    run "every version up" 0 "$MACHINES" 1 "agents=$AGENTS"; rows
    seed=1
  fi
fi

if has_part pgbench; then
  # An unchanged day's calls as the server makes them: the machine's
  # details, attributes and 13 applications, each statement a transaction.
  {
    echo "\\set m random(0, $((MACHINES - 1)))"
    echo "\\set a0 :m / 65536"
    echo "\\set a1 (:m / 256) % 256"
    echo "\\set a2 :m % 256"
    key="'LOAD' || lpad(:m::text, 6, '0')"
    sender="('127.' || (1 + :a0) || '.' || :a1 || '.' || :a2)::inet"
    echo "SELECT quarrin_put_columns('detail', $key, $key, $sender,
      '{last_login,registered_owner,registered_organisation,cpu_speed,cpu_id,cpu_name,current_version,tot_cpu,product_id,product_name,service_pack,source_path,ie_version,physical_memory,vmware,install_date,nb_node_type}',
      '{LastLogin,RegisteredOwner,RegisteredOrganisation,CPUSpeed,CPUId,CPUName,CurrentVersion,TotCPU,ProductID,ProductName,ServicePack,SourcePath,IEVersion,PhysicalMemory,VMWare,InstallDate,NBNodeType}',
      '{text,text,text,integer,text,text,text,integer,text,text,text,text,text,text,boolean,timestamp,integer}',
      '{\"\",\"\",\"\",3000,\"\",\"\",\"\",4,\"\",\"Windows 10 Pro\",\"\",\"\",\"\",16384MB,false,2020-01-15T09:00:00.000,0}');" | tr -d '\n'
    echo
    echo "SELECT quarrin_put_columns('attribute', $key, $key, $sender, '{acquisition_date,comments,serial_no}',
      '{AquisitionDate,Comments,SerialNo}', '{timestamp,text,text}',
      ARRAY['2020-01-10T00:00:00.000', '', 'S' || $key]);" | tr -d '\n'
    echo
    for app in Access Dispense EtherPeek Excel InternetExplorer Java iTunes Outlook PowerPoint \
               MSProject Word CiscoVPN QuarrinSrvc; do
      echo "SELECT quarrin_put_application($key, $key, $sender, '2 seconds', '$app',
        'C:\\Program Files\\$app', '$((10 + seed)).' || (:m % 7) || '.0.' || (:m % 13), $((10 + seed)), :m % 7, 0, :m % 13);" | tr -d '\n'
      echo
    done
  } >"$work/unchanged_day.sql"
  # Let the reports of the rounds end first, so that pgbench starts from
  # the same state as the unchanged day.
  sleep 3
  before=$(counts)
  echo "pgbench, an unchanged day's statements, $AGENTS clients, 20 s:"
  pg_tps=$(pgbench -n -c "$AGENTS" -j 2 -T 20 -f "$work/unchanged_day.sql" "$db" 2>&1 |
           sed -n 's/^tps = \([0-9.]*\).*/\1/p')
  pg_rate=$(awk -v t="$pg_tps" 'BEGIN { printf "%.0f", t * 15 }')
  echo "  $pg_rate calls/s ($pg_tps machines' reports a second)"
  read -r apps0 changes0 <<<"$before"
  sleep 3
  read -r apps1 changes1 <<<"$(counts)"
  echo "  it added $((apps1 - apps0)) application rows and $((changes1 - changes0)) change rows (as the unchanged day)"
  if [ -n "$unchanged_rate" ]; then
    echo "  intake / pgbench, an unchanged day at $AGENTS side by side: $unchanged_rate / $pg_rate =" \
         "$(ratio "$unchanged_rate" "$pg_rate") (goal >= 0.5)"
  fi
  cat >"$work/bare_writes.sql" <<SQL
\set m random(0, $((MACHINES - 1)))
BEGIN;
SELECT id FROM machines WHERE name_key = 'LOAD' || lpad(:m::text, 6, '0') FOR UPDATE;
UPDATE machines SET last_seen = now() WHERE name_key = 'LOAD' || lpad(:m::text, 6, '0');
COMMIT;
SQL
  bare=$(pgbench -n -c "$AGENTS" -j 2 -T 10 -f "$work/bare_writes.sql" "$db" 2>&1 |
         sed -n 's/^tps = \([0-9.]*\).*/\1/p')
  echo "pgbench, bare writes of a call (lock, last seen; 4 round trips), $AGENTS clients, 10 s: $bare tps"
  if [ -n "$unchanged_rate" ]; then
    echo "  intake / bare writes = $(ratio "$unchanged_rate" "$bare") (for reference)"
  fi
fi

if has_part paced; then
  machines=$((RATE * PACED_S / 15))
  run "paced, $RATE calls/s for $PACED_S s (an unchanged day)" 0 "$machines" "$seed" "rate=$RATE"
  echo "  p99 $(value "$result" p99_ms) ms at $(value "$result" calls_per_s) calls/s (goal < 50 ms at 500 calls/s)"
fi

if has_part stampede; then
  run "stampede, $STAMPEDE agents at once" 0 "$STAMPEDE" "$seed" "stampede=$STAMPEDE"
  echo "  served $(value "$result" ok) calls, p99 $(value "$result" p99_ms) ms;" \
       "refused $(value "$result" refused) ($(value "$result" soap_faults) with a SOAP fault)," \
       "p99 $(value "$result" refused_p99_ms) ms, slowest $(value "$result" refused_max_ms) ms;" \
       "$(value "$result" whole_reports) of $STAMPEDE reports whole; $(value "$result" failed) failed"
  sleep 2
  after=$("$load" "$port" "$((STAMPEDE + 1))" 1 "$seed" agents=1)
  echo "  afterwards one machine's report: $(value "$after" ok) of 15 calls served"
fi

sleep 1
kill "$sampler_pid" 2>/dev/null || true
wait "$sampler_pid" 2>/dev/null || true
sampler_pid=
awk '{ rss[NR] = $1; if ($1 > max) max = $1 }
     END { if (NR) printf "server RSS over %d s (kB): start %d, middle %d, end %d, max %d (goal flat: end / middle = %.2f)\n",
                          NR, rss[1], rss[int((NR + 1) / 2)], rss[NR], max, rss[NR] / rss[int((NR + 1) / 2)] }' "$work/rss"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
