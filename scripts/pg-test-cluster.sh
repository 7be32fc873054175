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
dir=$(realpath -m "${2:?usage: $0 setup|cleanup DIR [SERVER]}")

case "$command" in
  setup)
    server=${3:?usage: $0 setup DIR SERVER}
    # The cluster itself lives in a folder of its own under /tmp, which the
    # cluster's user (nobody, as root) reaches whatever the checkout's
    # folders allow; DIR links to it.
    if [ -L "$dir" ]; then "$0" cleanup "$dir"; fi
    rm -rf "$dir"
    real=$(mktemp -d /tmp/quarrin-pg.XXXXXX)
    chmod 0711 "$real"
    ln -s "$real" "$dir"
    "$here/pg-cluster.sh" fresh "$real"
    url=$("$here/pg-cluster.sh" url "$dir")
    psql "$url" -q -v ON_ERROR_STOP=1 -c "CREATE DATABASE quarrin_template"
    printf 'database = host=%s dbname=quarrin_template user=quarrin\n' "$dir" >"$dir/template.conf"
    "$server" --config "$dir/template.conf" migrate
    ;;
  cleanup)
    real=$(readlink -f "$dir")
    "$here/pg-cluster.sh" stop "$real" || true
    rm -rf "$real" "$dir"
    ;;
  *) echo "usage: $0 setup|cleanup DIR [SERVER]" >&2; exit 2 ;;
esac
