#!/usr/bin/env bash
# A private PostgreSQL cluster in a folder, on a Unix socket only, for tests
# and for scripts/run-server.sh. Never touches the system's clusters.
#
#   scripts/pg-cluster.sh start DIR [--fast]   create (first time) and start it
#   scripts/pg-cluster.sh stop DIR             stop it (the folder stays)
#   scripts/pg-cluster.sh fresh DIR            stop, wipe and start it anew with --fast
#   scripts/pg-cluster.sh url DIR              print its libpq connection string
#
# The cluster lives in DIR/data with its socket in DIR and its log in
# DIR/postgres.log; it listens on no TCP port. --fast turns fsync off, for
# tests only. As root, the cluster runs as the user "nobody" (initdb and
# postgres refuse root), and DIR is given to it.
set -euo pipefail

usage() { echo "usage: $0 start|stop|fresh|url DIR [--fast]" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
dir=$(realpath -m "$2")
fast=${3:-}

bin=${QUARRIN_PG_BIN:-}
if [ -z "$bin" ]; then
  for candidate in /usr/lib/postgresql/15/bin /usr/lib/postgresql/*/bin; do
    if [ -x "$candidate/pg_ctl" ]; then bin=$candidate; break; fi
  done
fi
[ -n "$bin" ] && [ -x "$bin/pg_ctl" ] || { echo "$0: no PostgreSQL server programs (postgresql-15)" >&2; exit 1; }

as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi

case "$command" in
  url)
    echo "host=$dir dbname=postgres user=quarrin"
    ;;
  start)
    mkdir -p "$dir"
    if [ "$(id -u)" -eq 0 ]; then
      chown nobody:nogroup "$dir"
      if ! "${as_owner[@]}" test -w "$dir"; then
        echo "$0: the user nobody cannot reach $dir: every folder above it must be searchable (chmod o+x)" >&2
        exit 1
      fi
    fi
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      "${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U quarrin --auth=trust --no-instructions \
        -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
        || { cat "$dir/initdb.log" >&2; exit 1; }
    fi
    options="-c listen_addresses='' -c unix_socket_directories='$dir' -c max_connections=100"
    if [ "$fast" = "--fast" ]; then
      options="$options -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    fi
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/postgres.log" -o "$options" -w -t 60 \
      start >/dev/null || { tail -20 "$dir/postgres.log" >&2; exit 1; }
    ;;
  stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
      "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    fi
    ;;
  fresh)
    "$0" stop "$dir" || true
    rm -rf "$dir"
    exec "$0" start "$dir" --fast
    ;;
  *) usage ;;
esac
