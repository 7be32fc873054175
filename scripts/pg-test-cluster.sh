#!/usr/bin/env bash
# The database tests' cluster, as a CTest fixture: one per test run.
#
#   scripts/pg-test-cluster.sh setup DIR SERVER    a fresh cluster in DIR with the
#                                                  database quarrin_template, its
#                                                  schema made by SERVER (quarrin-server)
#   scripts/pg-test-cluster.sh cleanup DIR         stop it and remove DIR
#
# Each test clones quarrin_template into a database of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command=${1:-}
dir=$(realpath -ms "${2:?usage: $0 setup|cleanup DIR [SERVER]}")  # the link itself, not where it leads

case "$command" in
  setup)
    server=${3:?usage: $0 setup DIR SERVER}
    # The cluster itself lives in a folder of its own under /tmp, which the
    # cluster's user (nobody, as root) reaches whatever the checkout's
    # folders allow; DIR links to it. Clients connect through the real
    # folder: a socket's path may not be longer than 107 bytes, and a
    # checkout's may be. A cluster of an earlier run, linked or in DIR
    # itself, is stopped first.
    if [ -e "$dir" ] || [ -L "$dir" ]; then "$0" cleanup "$dir"; fi
    real=$(mktemp -d /tmp/quarrin-pg.XXXXXX)
    chmod 0711 "$real"
    ln -s "$real" "$dir"
    "$here/pg-cluster.sh" fresh "$real"
    url=$("$here/pg-cluster.sh" url "$real")
    psql "$url" -q -v ON_ERROR_STOP=1 -c "CREATE DATABASE quarrin_template"
    printf 'database = host=%s dbname=quarrin_template user=quarrin\n' "$real" >"$dir/template.conf"
    "$server" --config "$dir/template.conf" migrate
    ;;
  cleanup)
    real=$(readlink -f "$dir")
    "$here/pg-cluster.sh" stop "$real" || true
    rm -rf "$real" "$dir"
    ;;
  *) echo "usage: $0 setup|cleanup DIR [SERVER]" >&2; exit 2 ;;
esac
