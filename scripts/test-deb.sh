#!/usr/bin/env bash
# Builds the Debian package and the one a build higher, then installs them on
# this machine as an administrator would: contents, lintian, dpkg -i with a
# preseeded deployment.reg, an upgrade, dpkg -r, a reinstall and dpkg -P.
# The maintainer scripts must succeed whether or not systemd runs here. Run
# as root on a machine without the package; whatever happens, the package
# is purged and the preseed file removed at the end.
#
#   scripts/test-deb.sh [BUILD_DIR]     (default build-release; the package
#                                        a build higher is made beside it)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "test-deb.sh: run as root (it installs the package)" >&2
  exit 1
fi
build="${1:-build-release}"
state=/var/lib/quarrin
preseed=/etc/quarrin/deployment.reg
for taken in "$state" "$preseed"; do
  if [ -e "$taken" ]; then
    echo "test-deb.sh: $taken exists; this machine runs an agent already" >&2
    exit 1
  fi
done
if dpkg-query -W -f='${Status}' quarrin-agent 2>/dev/null | grep -qv "not-installed"; then
  echo "test-deb.sh: quarrin-agent is installed here; the test would remove it" >&2
  exit 1
fi

source scripts/checks.sh

made_etc=0
cleanup() {
  dpkg -P quarrin-agent >/dev/null 2>&1 || true
  rm -f "$preseed"
  if [ "$made_etc" = 1 ]; then rmdir /etc/quarrin 2>/dev/null || true; fi
  rm -rf "$state"
}
trap cleanup EXIT

deb=$(./scripts/package-deb.sh "$build" | tail -n 1)
version=$(sed -n 's/^QUARRIN_VERSION:STRING=//p' "$build/CMakeCache.txt")
next_version="${version%.*}.$((${version##*.} + 1))"

# The package one build higher, made from this one rather than from a second
# build.
next_deb=$(./scripts/next-deb.sh "$deb" "$next_version" \
  usr/lib/quarrin/QuarrinSrvc usr/lib/quarrin/TARNStartSrvc usr/lib/quarrin/quarrinctl | tail -n 1)
echo "packages: $deb $next_deb"

# What the package holds.
contents=$(dpkg-deb --contents "$deb")
has() { grep -qE "$1" <<<"$contents"; }
lacks() { ! grep -qE -- "$1" <<<"$2"; }
for program in QuarrinSrvc TARNStartSrvc quarrinctl; do
  check "$program in /usr/lib/quarrin, executable" has "^-rwxr-xr-x root/root .* \./usr/lib/quarrin/$program$"
done
check "quarrinctl on the PATH" has " \./usr/bin/quarrinctl -> \.\./lib/quarrin/quarrinctl$"
check "package marker for the agent" has " \./usr/lib/quarrin/package-manager$"
for unit in TARNQuarrinSrvc TARNStartSrvc; do
  check "$unit.service shipped" has " \./lib/systemd/system/$unit\.service$"
done
check "nothing in /opt or /etc" lacks ' \./(opt|etc)/' "$contents"
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./lib/systemd/system/TARNQuarrinSrvc.service)
check "agent unit runs the packaged program" grep -qx 'ExecStart="/usr/lib/quarrin/QuarrinSrvc"' <<<"$unit"
check "agent unit names the service" grep -qx 'Environment="QUARRIN_SCM=TARNQuarrinSrvc"' <<<"$unit"
check "agent unit has no test root" lacks QUARRIN_ROOT "$unit"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libsqlite3-0 libcurl3-gnutls libgcrypt20 libmicrohttpd12 libpugixml1v5 libcairo2 \
           libpango-1.0-0 libfltk1.3 libjpeg62-turbo; do
  check "Depends on $lib" grep -qE "(^|, )$lib( |,|$)" <<<"$depends"
done
depends_names=$(tr ',|' '\n\n' <<<"$depends" | awk '{ print $1 }')
check "no build tools in Depends" \
  lacks '^(.*-dev|gcc(-[0-9]+)?|g\+\+(-[0-9]+)?|cpp|cmake|ninja-build|make|build-essential|binutils|pkg-config)$' \
  "$depends_names"
check "version $version, amd64" test "$(dpkg-deb --field "$deb" Version Architecture | tr '\n' ' ')" \
  = "Version: $version Architecture: amd64 "

echo "lintian:"
if lintian --fail-on error --tag-display-limit 0 "$deb"; then echo "ok: lintian reports no errors"
else fail "lintian reports errors"; fi

# The agent's registry as the packaged quarrinctl (or, once it is removed,
# the built one) shows it.
reg() { "${ctl:-/usr/bin/quarrinctl}" reg "$@"; }
value() {  # KEY NAME: the data of a value whose name has no blank
  reg query "$1" 2>/dev/null | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
shows() {  # KEY TEXT: `reg query KEY` shows TEXT
  reg query "$1" 2>/dev/null | grep -qF "$2"
}
unregistered() { ! reg query "$services\\$1" >/dev/null 2>&1; }
services='HKLM\System\CurrentControlSet\Services'
deployment='HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment'
systemd_here=0
[ -d /run/systemd/system ] && systemd_here=1

preseed_with() {  # HTTPPort
  [ -d /etc/quarrin ] || { mkdir -p /etc/quarrin; made_etc=1; }
  printf 'REGEDIT4\r\n\r\n[%s]\r\n"InventoryURL"="http://inventory.test.invalid/soap"\r\n"HTTPPort"="%s"\r\n' \
    'HKEY_LOCAL_MACHINE\SOFTWARE\TARN\QuarrinSrvc\Deployment' "$1" >"$preseed"
}
dpkg_says() {  # LOG TEXT
  grep -qF "$2" "$1"
}
log=$(mktemp)
trap 'rm -f "$log"; cleanup' EXIT

echo "dpkg -i $deb"
preseed_with 8188
if dpkg -i "$deb" >"$log" 2>&1; then echo "ok: installed"; else fail "dpkg -i"; fi
cat "$log"
if [ "$systemd_here" = 0 ]; then
  check "install says systemd is not running" dpkg_says "$log" "systemd is not running here"
fi
check "quarrinctl found on the PATH" test "$(command -v quarrinctl)" = /usr/bin/quarrinctl
check "agent registered for the packaged program" \
  test "$(value "$services\\TARNQuarrinSrvc" ImagePath)" = /usr/lib/quarrin/QuarrinSrvc
check "agent's description gives $version" \
  test "$(value "$services\\TARNQuarrinSrvc" Description)" = "Version: $version"
check "starter registered" \
  test "$(value "$services\\TARNStartSrvc" ImagePath)" = /usr/lib/quarrin/TARNStartSrvc
check "preseeded InventoryURL imported" \
  test "$(value "$deployment" InventoryURL)" = http://inventory.test.invalid/soap
check "preseeded HTTPPort imported" test "$(value "$deployment" HTTPPort)" = 8188

# The agent's state: an attribute and a disk sample in its service key, and
# its event log.
reg set "$services\\TARNQuarrinSrvc" Comments REG_SZ "kept by the package"
sample="10/12/26 09:00:00.000"
reg set "$services\\TARNQuarrinSrvc\\C_Drive(Day)" "$sample" REG_BINARY 000000000000e03f
events_before=$(quarrinctl eventlog | wc -l)

echo "dpkg -i $next_deb (upgrade)"
preseed_with 8189
if dpkg -i "$next_deb" >"$log" 2>&1; then echo "ok: upgraded"; else fail "upgrade"; fi
cat "$log"
check "package version $next_version" \
  test "$(dpkg-query -W -f='${Version}' quarrin-agent)" = "$next_version"
check "installed agent is $next_version" \
  grep -qaF "$next_version" /usr/lib/quarrin/QuarrinSrvc
check "attribute kept by the upgrade" \
  test "$(value "$services\\TARNQuarrinSrvc" Comments)" = "kept by the package"
check "disk history kept by the upgrade" shows "$services\\TARNQuarrinSrvc\\C_Drive(Day)" "$sample"
check "event log kept by the upgrade" test "$(quarrinctl eventlog | wc -l)" -ge "$events_before"
check "preseed imported again on upgrade" test "$(value "$deployment" HTTPPort)" = 8189

echo "dpkg -r quarrin-agent"
if dpkg -r quarrin-agent >"$log" 2>&1; then echo "ok: removed"; else fail "dpkg -r"; fi
cat "$log"
if [ "$systemd_here" = 0 ]; then
  check "remove says systemd is not running" dpkg_says "$log" "systemd is not running here"
fi
check "programs gone" test ! -e /usr/lib/quarrin -a ! -e /usr/bin/quarrinctl
check "registry store kept" test -f "$state/registry.db"
check "event log kept" test -f "$state/eventlog.db"
ctl="$build/quarrinctl"
check "agent unregistered" unregistered TARNQuarrinSrvc
check "deployment settings kept" test "$(value "$deployment" HTTPPort)" = 8189
check "attributes and disk history kept in the state folder" \
  grep -qF '"Comments"="kept by the package"' "$state/TARNQuarrinSrvc.reg"
unset ctl

echo "dpkg -i $next_deb (again, after the removal, first with a broken preseed)"
printf 'not a registry file\n' >"$preseed"
if dpkg -i "$next_deb" >"$log" 2>&1; then fail "a broken preseed was accepted"; fi
cat "$log"
check "a broken preseed is named" dpkg_says "$log" "$preseed could not be imported"
preseed_with 8189
if dpkg --configure quarrin-agent >"$log" 2>&1; then echo "ok: installed again"; else fail "reinstall"; fi
cat "$log"
check "attribute back after reinstall" \
  test "$(value "$services\\TARNQuarrinSrvc" Comments)" = "kept by the package"
check "disk history back after reinstall" shows "$services\\TARNQuarrinSrvc\\C_Drive(Day)" "$sample"

echo "dpkg -P quarrin-agent"
if dpkg -P quarrin-agent >"$log" 2>&1; then echo "ok: purged"; else fail "dpkg -P"; fi
cat "$log"
check "state gone after purge" test ! -e "$state"
check "package gone" lacks "installed" "$(dpkg-query -W -f='${Status}' quarrin-agent 2>/dev/null)"

if [ "$failures" -ne 0 ]; then
  echo "test-deb.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "test-deb.sh: all checks passed"
