#!/usr/bin/env bash
# A fail-over under a running fleet server, on this machine: etcd as the
# consensus store, two PostgreSQL nodes managed by Patroni (streaming
# replication), quarrin-server connected with every node's address and
# target_session_attrs=read-write. Reports go in, the primary is killed
# (SIGKILL to its Patroni and PostgreSQL), Patroni promotes the replica, and
# reports go in again through the same server, which finds the new primary.
#
# usage: scripts/try-patroni.sh [BUILD_DIR]     (default: build)
# Not a test stage: a demonstration of the set-up README.md describes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server=$PWD/$build/quarrin-server
[ -x "$server" ] || { echo "$0: no $server: build quarrin-server first" >&2; exit 1; }
pg_bin=$(ls -d /usr/lib/postgresql/15/bin)

work=$(mktemp -d /tmp/quarrin-patroni.XXXXXX)
chmod 755 "$work"
. scripts/fleet-common.sh
as_owner=()
if [ "$(id -u)" -eq 0 ]; then as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups --); fi
etcd_pid= node_pids=() pid_s=
cleanup() {
  stop_pid "$pid_s"
  for p in "${node_pids[@]}"; do stop_pid "$p"; done
  # Patroni stops its PostgreSQL with it; one left by a killed Patroni:
  for d in "$work"/n*/data; do
    if [ -f "$d/postmaster.pid" ]; then
      "${as_owner[@]}" "$pg_bin/pg_ctl" -D "$d" -m immediate stop >/dev/null 2>&1 || true
    fi
  done
  stop_pid "$etcd_pid"
  rm -rf "$work"
}
trap cleanup EXIT

etcd_client=$(free_port) etcd_peer=$(free_port)
etcd --name fleet --data-dir "$work/etcd" \
  --listen-client-urls "http://127.0.0.1:$etcd_client" --advertise-client-urls "http://127.0.0.1:$etcd_client" \
  --listen-peer-urls "http://127.0.0.1:$etcd_peer" --initial-advertise-peer-urls "http://127.0.0.1:$etcd_peer" \
  --initial-cluster "fleet=http://127.0.0.1:$etcd_peer" >"$work/etcd.log" 2>&1 &
etcd_pid=$!
wait_port "$etcd_client" 20

declare -a pg_ports
for n in 0 1; do
  pg_ports[n]=$(free_port)
  api=$(free_port)
  mkdir -p "$work/n$n"
  cat >"$work/n$n/patroni.yml" <<YML
scope: quarrin
name: n$n
restapi:
  listen: 127.0.0.1:$api
  connect_address: 127.0.0.1:$api
etcd3:
  hosts: 127.0.0.1:$etcd_client
bootstrap:
  dcs:
    ttl: 10
    loop_wait: 2
    retry_timeout: 5
    maximum_lag_on_failover: 1048576
    postgresql:
      use_pg_rewind: false
  initdb:
    - encoding: UTF8
    - locale: C.UTF-8
  pg_hba:
    - local all all trust
    - host all all 127.0.0.1/32 trust
    - host replication replicator 127.0.0.1/32 trust
postgresql:
  listen: 127.0.0.1:${pg_ports[n]}
  connect_address: 127.0.0.1:${pg_ports[n]}
  data_dir: $work/n$n/data
  bin_dir: $pg_bin
  pgpass: $work/n$n/pgpass
  authentication:
    superuser:
      username: quarrin
      password: quarrin
    replication:
      username: replicator
      password: replicator
  parameters:
    unix_socket_directories: $work/n$n
YML
  [ "$(id -u)" -ne 0 ] || chown -R nobody:nogroup "$work/n$n"
  "${as_owner[@]}" /usr/bin/patroni "$work/n$n/patroni.yml" >"$work/n$n/patroni.log" 2>&1 &
  node_pids[n]=$!
  wait_port "${pg_ports[n]}" 90
  sleep 3  # the first node bootstraps the cluster before the second clones it
done
state() { psql "host=127.0.0.1 port=$1 dbname=postgres user=quarrin connect_timeout=2" -At -c "SELECT pg_is_in_recovery()" 2>/dev/null || echo down; }
for ((i = 0; i < 120; i++)); do
  [ "$(state "${pg_ports[1]}")" = t ] && break
  sleep 0.5
done
echo "node n0 (port ${pg_ports[0]}): in recovery $(state "${pg_ports[0]}"); n1 (port ${pg_ports[1]}): $(state "${pg_ports[1]}")"

database="host=127.0.0.1,127.0.0.1 port=${pg_ports[0]},${pg_ports[1]} dbname=postgres user=quarrin target_session_attrs=read-write"
start_instance s "$database"
wait_port "$port_s" 30
python3 bench/fleet_intake_load.py "$port_s" 50 2 0

primary=0
[ "$(state "${pg_ports[0]}")" = f ] || primary=1
echo "killing the primary n$primary (Patroni and PostgreSQL)"
kill -9 "${node_pids[primary]}"
"${as_owner[@]}" kill -9 "$(head -1 "$work/n$primary/data/postmaster.pid")" 2>/dev/null || true
other=$((1 - primary))
started=$SECONDS
for ((i = 0; i < 120; i++)); do
  [ "$(state "${pg_ports[other]}")" = f ] && break
  sleep 0.5
done
echo "n$other is the primary after $((SECONDS - started)) s: in recovery $(state "${pg_ports[other]}")"
python3 bench/fleet_intake_load.py "$port_s" 50 2 1
echo "machines: $(psql "host=127.0.0.1 port=${pg_ports[other]} dbname=postgres user=quarrin" -At -c 'SELECT count(*) FROM machines')"
echo "server's log:"; cat "$work/s.log"
