#!/usr/bin/env bash
# Installs what is missing, builds quarrin-server and runs it in the
# foreground on a private PostgreSQL cluster; Ctrl-C stops both.
#
# Everything lives under QUARRIN_SERVER_ROOT (default: .run-server/ in this
# checkout): the cluster (pg/), the settings file written on first use
# (server.conf) and the first API token (api-token). HTTP listens on
# QUARRIN_SERVER_PORT (default 8090), syslog on QUARRIN_SYSLOG_PORT (default
# 5514). A settings file that names a postgresql:// database is used as it
# stands, without a private cluster.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quarrin-server

root=$(realpath -m "${QUARRIN_SERVER_ROOT:-$PWD/.run-server}")
mkdir -p "$root"
conf="$root/server.conf"
if [ ! -f "$conf" ]; then
  token=$(head -c 24 /dev/urandom | base64 | tr '+/' '-_')
  cat >"$conf" <<CONF
# quarrin-server settings (README.md, "Fleet server", lists every one).
port = ${QUARRIN_SERVER_PORT:-8090}
syslog_port = ${QUARRIN_SYSLOG_PORT:-5514}
database = host=$root/pg dbname=quarrin user=quarrin
api_tokens = $token
downloads_folder = $root/downloads
# The collector's host as the agents reach it, handed to them in the manifest.
manifest_syslog = 127.0.0.1
CONF
  printf '%s\n' "$token" >"$root/api-token"
  chmod 600 "$conf" "$root/api-token"
fi

cluster=""
if ! grep -Eq '^[[:space:]]*database[[:space:]]*=[[:space:]]*postgres(ql)?://' "$conf"; then
  cluster="$root/pg"
  ./scripts/pg-cluster.sh start "$cluster"
  trap './scripts/pg-cluster.sh stop "$cluster"' EXIT
  url=$(./scripts/pg-cluster.sh url "$cluster")
  if [ "$(psql "$url" -Atc "SELECT count(*) FROM pg_database WHERE datname = 'quarrin'")" = 0 ]; then
    psql "$url" -q -c "CREATE DATABASE quarrin"
  fi
fi

echo "quarrin-server: settings $conf; API token in $root/api-token"
port=$(sed -n 's/^[[:space:]]*port[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' "$conf")
scheme=http
if grep -Eq '^[[:space:]]*tls_certificate[[:space:]]*=[[:space:]]*[^[:space:]]' "$conf"; then scheme=https; fi
echo "quarrin-server: the console is at $scheme://127.0.0.1:${port:-8090}/console/"
echo "quarrin-server: make its first administrator with" \
  "./build/quarrin-server --config $conf add-user NAME --role administrator"
# Not exec: the trap stops the private cluster after the server.
./build/quarrin-server --config "$conf" &
server=$!
trap 'kill -TERM "$server" 2>/dev/null || true' INT TERM
wait "$server" || true
wait "$server" 2>/dev/null || true
