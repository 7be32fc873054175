#!/usr/bin/env bash
# Builds the fleet server's Debian package and the one a build higher, then
# installs them on this machine as an administrator would: contents,
# lintian, dpkg -i, the installed server run as its user against a private
# PostgreSQL cluster with one report sent and read back, an upgrade that
# keeps the database and the changed settings file, dpkg -r and dpkg -P.
# The maintainer scripts must succeed whether or not systemd runs here. Run
# as root on a machine without the package; whatever happens, the server and
# the cluster are stopped and the package is purged at the end.
#
#   scripts/test-server-deb.sh [BUILD_DIR]     (default build-release; the
#                                               package a build higher is
#                                               made beside it)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "test-server-deb.sh: run as root (it installs the package)" >&2
  exit 1
fi
build="${1:-build-release}"
user=quarrin-server
state=/var/lib/quarrin-server
conf=/etc/quarrin-server/quarrin-server.conf
program=/usr/lib/quarrin-server/quarrin-server
for taken in "$state" /etc/quarrin-server; do
  if [ -e "$taken" ]; then
    echo "test-server-deb.sh: $taken exists; this machine runs a fleet server already" >&2
    exit 1
  fi
done
if dpkg-query -W -f='${Status}' quarrin-server 2>/dev/null | grep -qv "not-installed"; then
  echo "test-server-deb.sh: quarrin-server is installed here; the test would remove it" >&2
  exit 1
fi
if getent passwd "$user" >/dev/null; then
  echo "test-server-deb.sh: the user $user exists; the purge would remove it" >&2
  exit 1
fi

source scripts/checks.sh

# The cluster and the test's settings live here; the cluster's user (nobody)
# and the server's must reach it.
work=$(mktemp -d)
chmod 755 "$work"
cluster="$work/pg"
server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}
cleanup() {
  stop_server
  dpkg -P quarrin-server >/dev/null 2>&1 || true
  ./scripts/pg-cluster.sh stop "$cluster" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

deb=$(./scripts/package-server-deb.sh "$build" | tail -n 1)
version=$(sed -n 's/^QUARRIN_VERSION:STRING=//p' "$build/CMakeCache.txt")
next_version="${version%.*}.$((${version##*.} + 1))"
next_deb=$(./scripts/next-deb.sh "$deb" "$next_version" "${program#/}" | tail -n 1)
echo "packages: $deb $next_deb"

# What the package holds.
contents=$(dpkg-deb --contents "$deb")
has() { grep -qE "$1" <<<"$contents"; }
lacks() { ! grep -qE -- "$1" <<<"$2"; }
check "the program in /usr/lib/quarrin-server, executable" \
  has "^-rwxr-xr-x root/root .* \.$program$"
check "the unit shipped" has " \./lib/systemd/system/quarrin-server\.service$"
check "the settings file shipped" has " \.$conf$"
check "the settings file is a conffile" \
  grep -qx "$conf" <(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)
check "nothing in /opt" lacks ' \./opt/' "$contents"
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./lib/systemd/system/quarrin-server.service)
check "unit runs the packaged program with the settings file" \
  grep -qx "ExecStart=$program --config $conf serve" <<<"$unit"
check "unit runs as $user" grep -qx "User=$user" <<<"$unit"
check "unit restarts on failure" grep -qx "Restart=on-failure" <<<"$unit"
check "unit may bind the syslog port" grep -qx "AmbientCapabilities=CAP_NET_BIND_SERVICE" <<<"$unit"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libpq5 libpugixml1v5 libmicrohttpd12 adduser; do
  check "Depends on $lib" grep -qE "(^|, )$lib( |,|$)" <<<"$depends"
done
check "Recommends PostgreSQL" \
  test "$(dpkg-deb --field "$deb" Recommends)" = "postgresql-15 | postgresql"
check "version $version, amd64" test "$(dpkg-deb --field "$deb" Version Architecture | tr '\n' ' ')" \
  = "Version: $version Architecture: amd64 "

echo "lintian:"
if lintian --fail-on error --tag-display-limit 0 "$deb"; then echo "ok: lintian reports no errors"
else fail "lintian reports errors"; fi

systemd_here=0
[ -d /run/systemd/system ] && systemd_here=1
log="$work/dpkg.log"
dpkg_says() {  # TEXT
  grep -qF "$1" "$log"
}

echo "dpkg -i $deb"
if dpkg -i "$deb" >"$log" 2>&1; then echo "ok: installed"; else fail "dpkg -i"; fi
cat "$log"
if [ "$systemd_here" = 0 ]; then
  check "install says systemd is not running" dpkg_says "systemd is not running here"
fi
check "the unit installed" test -f /lib/systemd/system/quarrin-server.service
verifies_cleanly() {  # UNIT: systemd-analyze finds nothing to say about it
  local said
  said=$(timeout 60 systemd-analyze verify "$1" 2>&1) && [ -z "$said" ] && return 0
  echo "$said" >&2
  return 1
}
if command -v systemd-analyze >/dev/null; then
  check "systemd reads the unit without a complaint" \
    verifies_cleanly /lib/systemd/system/quarrin-server.service
else
  echo "systemd-analyze is not installed here: the unit is not verified"
fi
check "system user $user" test "$(getent passwd "$user" | cut -d: -f6)" = "$state"
check "state folder owned by $user" test "$(stat -c %U "$state")" = "$user"
check "settings readable by $user only" test "$(stat -c '%U:%G %a' "$conf")" = "root:$user 640"

# The installed server, run by hand as its user against the private
# cluster, with settings of the test's own.
./scripts/pg-cluster.sh start "$cluster" --fast
url=$(./scripts/pg-cluster.sh url "$cluster")
psql "$url" -q -c "CREATE DATABASE quarrin"
port=$((20000 + RANDOM % 20000))
token=test-token-0123456789
cat >"$work/server.conf" <<CONF
port = $port
syslog_port = 0
database = host=$cluster dbname=quarrin user=quarrin
api_tokens = $token
downloads_folder = $work/downloads
CONF
chmod 644 "$work/server.conf"

start_server() {
  setpriv --reuid="$user" --regid="$user" --init-groups -- \
    "$program" --config "$work/server.conf" serve >"$work/server.log" 2>&1 &
  server_pid=$!
  local waited=0
  until grep -q "listening on port" "$work/server.log"; do
    if ! kill -0 "$server_pid" 2>/dev/null || [ "$waited" -ge 300 ]; then
      cat "$work/server.log" >&2
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}
report() {  # MACHINE: prints the server's answer to a PutPCDetails call
  curl -sS --max-time 30 "http://127.0.0.1:$port/quarrin/quarrinws.dll/soap/IQuarrin" \
    -H 'Content-Type: text/xml; charset=utf-8' \
    -H 'SOAPAction: "urn:QuarrinIntf-IQuarrin#PutPCDetails"' \
    --data-binary @- <<XML
<E:Envelope xmlns:E="http://schemas.xmlsoap.org/soap/envelope/"><E:Body><q:PutPCDetails xmlns:q="urn:QuarrinIntf-IQuarrin"><guid>{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}</guid><PCDetails href="#1"/></q:PutPCDetails><t:tPCDetails id="1" xmlns:t="urn:QuarrinIntf"><MachineName>$1</MachineName><ProductName>Windows 10 Pro</ProductName><TotCPU>4</TotCPU></t:tPCDetails></E:Body></E:Envelope>
XML
}
machines() {
  curl -sS --max-time 30 -H "Authorization: Bearer $token" "http://127.0.0.1:$port/api/v1/machines"
}
answers_with() {  # TEXT COMMAND...: the command's output holds TEXT
  local text=$1
  shift
  "$@" | grep -qF "$text"
}

if start_server; then echo "ok: the installed server started as $user"; else fail "server start"; fi
check "a report is taken" answers_with ">rcOK</return>" report KALDERN-PC07
check "the report is read back from the API" answers_with '"key":"KALDERN-PC07"' machines
stop_server

echo "dpkg -i $next_deb (upgrade, the settings file changed)"
echo "# changed by the administrator" >>"$conf"
if dpkg -i "$next_deb" >"$log" 2>&1; then echo "ok: upgraded"; else fail "upgrade"; fi
cat "$log"
check "package version $next_version" \
  test "$(dpkg-query -W -f='${Version}' quarrin-server)" = "$next_version"
check "installed server is $next_version" grep -qaF "$next_version" "$program"
check "changed settings file kept" grep -qx "# changed by the administrator" "$conf"
if start_server; then echo "ok: the upgraded server started"; else fail "upgraded server start"; fi
check "the database still holds the machine" answers_with '"key":"KALDERN-PC07"' machines
stop_server

echo "dpkg -r quarrin-server"
if dpkg -r quarrin-server >"$log" 2>&1; then echo "ok: removed"; else fail "dpkg -r"; fi
cat "$log"
if [ "$systemd_here" = 0 ]; then
  check "remove says systemd is not running" dpkg_says "systemd is not running here"
fi
check "program gone" test ! -e "$program"
check "unit gone" test ! -e /lib/systemd/system/quarrin-server.service
check "settings file kept" grep -qx "# changed by the administrator" "$conf"
check "state folder kept" test -d "$state"

echo "dpkg -P quarrin-server"
if dpkg -P quarrin-server >"$log" 2>&1; then echo "ok: purged"; else fail "dpkg -P"; fi
cat "$log"
check "settings gone after purge" test ! -e /etc/quarrin-server
check "state gone after purge" test ! -e "$state"
check "user gone after purge" lacks . "$(getent passwd "$user" || true)"
check "package gone" lacks "installed" "$(dpkg-query -W -f='${Status}' quarrin-server 2>/dev/null)"

if [ "$failures" -ne 0 ]; then
  echo "test-server-deb.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "test-server-deb.sh: all checks passed"
