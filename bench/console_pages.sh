#!/usr/bin/env bash
# Page times of quarrin-server's console at fleet size: a private
# PostgreSQL cluster seeded with MACHINES machines (100,000), 13
# applications each (1.3 million rows, versions spread), a day of their
# changes and syslog events; then every page asked REQUESTS times by a
# logged-in client (bench/console_pages_load.py), its p50 and p99 printed
# against the goal of 100 ms. Side by side, what the fleet page's counts
# would cost counted from the machines for each view, as the counter tables
# avoid.
#
# Usage: bench/console_pages.sh       (after building quarrin-server into ./build)
# Environment: BUILD_DIR (build), MACHINES (100000), REQUESTS (200), GOAL_MS (100).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

BUILD_DIR=${BUILD_DIR:-build}
MACHINES=${MACHINES:-100000}
REQUESTS=${REQUESTS:-200}
GOAL_MS=${GOAL_MS:-100}
require_built "$BUILD_DIR" "cmake --build build --target quarrin-server" quarrin-server

start_bench_cluster
port=$(free_port)
cat >"$work/server.conf" <<CONF
listen_address = 127.0.0.1
port = $port
syslog_port = 0
database = $db
database_pool_size = 8
downloads_folder = $work/downloads
rings = pilot
CONF
"$BUILD_DIR/quarrin-server" --config "$work/server.conf" migrate

echo "seeding $MACHINES machines, $((MACHINES * 13)) application rows, events ..."
seed_start=$(date +%s)
psql "$db" -q -v ON_ERROR_STOP=1 -v machines="$MACHINES" <<'SQL'
-- The counter tables are filled once at the end, as the migration fills
-- them for machines that were there before it.
ALTER TABLE machines DISABLE TRIGGER machines_fleet_counts;
ALTER TABLE machine_applications DISABLE TRIGGER machine_applications_counts;
INSERT INTO machines (name_key, machine_name, first_seen, last_seen, product_name, current_version,
                      cpu_name, serial_no, acquisition_date, last_address, apps_reported)
SELECT 'LOAD' || lpad(i::text, 6, '0'), 'load' || lpad(i::text, 6, '0'), now() - interval '400 days',
       -- most reported today, a tail silent for weeks
       now() - make_interval(mins => CASE WHEN i % 20 = 0 THEN 60 * 24 * (8 + i % 30) ELSE i % 1200 END),
       (ARRAY['Microsoft Windows XP', 'Microsoft Windows 7', 'Microsoft Windows 10',
              'Microsoft Windows 2000', 'Microsoft Windows Server 2003'])[1 + i % 5],
       '5.1', 'Intel(R) Core(TM)2 CPU', 'SN' || i, date '2005-01-01' + (i % 3000),
       ('10.' || (i / 65536) % 256 || '.' || (i / 256) % 256 || '.' || i % 256)::inet, now()
FROM generate_series(0, :machines - 1) i;
INSERT INTO machine_applications (machine_id, application, path, version, v_major, v_minor,
                                  v_release, v_build, first_seen, changed)
SELECT m.id, a.name, 'C:\Program Files\' || a.name || '.exe',
       (a.n % 7 + m.id % 4) || '.' || (m.id % 3) || '.' || (m.id % 11) || '.0',
       a.n % 7 + m.id % 4, m.id % 3, m.id % 11, 0, now() - interval '300 days', now() - interval '30 days'
FROM machines m CROSS JOIN (SELECT name, row_number() OVER () AS n FROM unnest(ARRAY['Access',
  'Dispense', 'EtherPeek', 'Excel', 'InternetExplorer', 'Java', 'iTunes', 'Outlook', 'PowerPoint',
  'MSProject', 'Word', 'CiscoVPN', 'QuarrinSrvc']) name) a;
INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)
SELECT id, now() - make_interval(hours => k), 'application', 'Word', '11.0.' || k, '11.0.' || (k + 1)
FROM machines CROSS JOIN generate_series(1, 3) k;
INSERT INTO events (received, sender, machine_id, facility, severity, code, message)
SELECT now() - make_interval(secs => i * 3), ('10.0.' || (i / 256) % 256 || '.' || i % 256)::inet,
       (SELECT id FROM machines WHERE name_key = 'LOAD' || lpad((i % :machines)::text, 6, '0')), 2,
       CASE WHEN i % 50 = 0 THEN 1 ELSE 5 END, CASE WHEN i % 50 = 0 THEN '10020' ELSE '50090' END,
       '%QUARN-5-50090: Check for update. Current version: 1.0.0.' || i % 7
FROM generate_series(1, 3 * :machines) i;
ALTER TABLE machine_rings DISABLE TRIGGER machine_rings_counts;
INSERT INTO machine_rings SELECT id, 'pilot', now() FROM machines WHERE id % 10 = 0;
ALTER TABLE machine_rings ENABLE TRIGGER machine_rings_counts;
INSERT INTO ring_agent_counts
  SELECT coalesce(r.ring, 'main'), a.version, count(*) FROM machine_applications a
  LEFT JOIN machine_rings r ON r.machine_id = a.machine_id
  WHERE a.application = 'QuarrinSrvc' AND a.gone IS NULL GROUP BY 1, 2;
INSERT INTO fleet_edition_counts SELECT coalesce(product_name, ''), count(*) FROM machines GROUP BY 1;
INSERT INTO fleet_last_seen_hours SELECT fleet_hour(last_seen), id % 16, count(*) FROM machines GROUP BY 1, 2;
INSERT INTO application_version_counts
  SELECT application, version, machine_id % 8, min(v_major), min(v_minor), min(v_release), min(v_build), count(*)
  FROM machine_applications WHERE gone IS NULL GROUP BY 1, 2, 3;
ALTER TABLE machines ENABLE TRIGGER machines_fleet_counts;
ALTER TABLE machine_applications ENABLE TRIGGER machine_applications_counts;
VACUUM ANALYZE;
SQL
echo "seeded in $(( $(date +%s) - seed_start )) s: $(psql "$db" -At -c "SELECT (SELECT count(*) FROM machines) || ' machines, ' || (SELECT count(*) FROM machine_applications) || ' application rows, ' || (SELECT count(*) FROM events) || ' events'")"

echo "bench password 0123456789" | "$BUILD_DIR/quarrin-server" --config "$work/server.conf" \
  add-user bench --role administrator
"$BUILD_DIR/quarrin-server" --config "$work/server.conf" >"$work/server.log" 2>&1 &
server_pid=$!
wait_for_port "$port"

middle=$(printf 'LOAD%06d' $((MACHINES / 2)))
echo "each page $REQUESTS times, one at a time, goal p99 <= $GOAL_MS ms:"
status=0
python3 bench/console_pages_load.py "$port" bench "bench password 0123456789" "$REQUESTS" "$GOAL_MS" \
  "/console/fleet" \
  "/console/fleet?sort=last&dir=desc" \
  "/console/fleet?sort=edition&after=Microsoft%20Windows%207%1F$middle" \
  "/console/fleet?after=$middle" \
  "/console/fleet?status=silent" \
  "/console/fleet?status=today&sort=last" \
  "/console/fleet?edition=Microsoft%20Windows%2010" \
  "/console/fleet?q=LOAD0999" \
  "/console/fleet?q=nowhere" \
  "/console/applications" \
  "/console/applications?application=Word" \
  "/console/applications?application=Word&version=9.2.10.0" \
  "/console/applications?application=Word&at_most=7.1" \
  "/console/applications?application=Word&at_most=2.0" \
  "/console/machines/$middle" \
  "/console/events" \
  "/console/events?code=10020" \
  "/console/events?machine=$middle" \
  "/console/events?severity=3" \
  "/console/updates" \
  "/console/fleet.csv" || status=$?

echo "side by side: the fleet counts counted from the machines for each view (what the counter tables avoid):"
for query in \
  "SELECT count(*) FILTER (WHERE last_seen >= date_trunc('day', now() AT TIME ZONE 'UTC') AT TIME ZONE 'UTC'), count(*) FILTER (WHERE last_seen < now() - interval '7 days') FROM machines; SELECT product_name, count(*) FROM machines GROUP BY 1" \
  "SELECT application, version, count(*) FROM machine_applications WHERE gone IS NULL GROUP BY 1, 2"; do
  best=$(for _ in 1 2 3 4 5; do
      psql "$db" -At -c '\timing on' -c "$query" | sed -n 's/^Time: \([0-9.]*\) ms.*/\1/p' |
        python3 -c 'import sys; print(sum(float(l) for l in sys.stdin))'
    done | sort -g | head -1)
  echo "  ${query:0:70}...: best of 5 ${best} ms"
done
exit $status
