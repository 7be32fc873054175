#!/usr/bin/env bash
# Builds the Windows installer and the one a build higher, both signed with a
# test code-signing certificate, checks their signatures and those of the
# programs in them, then installs them under Wine, in a fresh prefix of its
# own, as an administrator deploys them: msiexec /i /qn with Deployment
# properties (services registered and running, Deployment values in the
# registry, the agent answering HTTP on loopback), an upgrade that keeps the
# values, the attributes and the disk history, a refused downgrade,
# msiexec /x (services gone, history kept for the next install), a reinstall
# that gets the history back and a removal with REMOVEHISTORY=1. Whatever
# happens, the prefix's wineserver is ended and the prefix removed.
#
#   scripts/test-msi.sh [BUILD_DIR]     (default build-windows; the test
#                                        certificates go to
#                                        BUILD_DIR/test-signing)
#
# Skips (exit 0) while the Windows build makes no QuarrinSrvc.exe or
# TARNStartSrvc.exe.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build-windows}"

# A test certificate authority and a code-signing certificate it issued,
# made anew for every run. They stay in the build tree, where the build's
# signing settings point.
signing="$build/test-signing"
mkdir -p "$signing"
quiet_openssl() { openssl "$@" 2>"$signing/openssl.err" || { cat "$signing/openssl.err" >&2; return 1; }; }
quiet_openssl req -x509 -newkey rsa:2048 -nodes -keyout "$signing/ca.key" -out "$signing/ca.crt" \
  -days 2 -subj "/CN=Quarrin Test Code-Signing CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
quiet_openssl req -newkey rsa:2048 -nodes -keyout "$signing/publisher.key" \
  -out "$signing/publisher.csr" -subj "/CN=Quarrin Test Publisher"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  >"$signing/publisher.ext"
quiet_openssl x509 -req -in "$signing/publisher.csr" -CA "$signing/ca.crt" -CAkey "$signing/ca.key" \
  -CAcreateserial -out "$signing/publisher.crt" -days 2 -extfile "$signing/publisher.ext"
export QUARRIN_SIGN_CERT="$signing/publisher.crt" QUARRIN_SIGN_KEY="$signing/publisher.key"

status=0
msi=$(./scripts/package-msi.sh "$build" | tail -n 1) || status=$?
if [ "$status" -eq 2 ]; then
  echo "test-msi.sh: SKIPPED: the Windows build makes no QuarrinSrvc.exe and TARNStartSrvc.exe yet"
  exit 0
fi
[ "$status" -eq 0 ] || exit "$status"
version=$(sed -n 's/^QUARRIN_VERSION:STRING=//p' "$build/CMakeCache.txt")
# One build higher in the third number: the installer tells versions apart
# by the first three only. Its programs are copies of these with that
# version stamped in.
IFS=. read -r major minor third fourth <<<"$version"
next_version="$major.$minor.$((third + 1)).$fourth"
next_msi=$(QUARRIN_MSI_NEXT=1 ./scripts/package-msi.sh "$build" | tail -n 1)
echo "packages: $msi $next_msi"

source scripts/checks.sh

wine=$(command -v /usr/lib/wine/wine64 wine64 wine | head -n 1)
wineserver=$(command -v /usr/lib/wine/wineserver64 wineserver64 wineserver | head -n 1)
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
drive_c="$WINEPREFIX/drive_c"
cp "$msi" "$work/old.msi"
cp "$next_msi" "$work/next.msi"

verifies() { osslsigncode verify -CAfile "$signing/ca.crt" -in "$1" >"$work/verify.out" 2>&1; }
signed() { verifies "$1" || { tail -n 5 "$work/verify.out" >&2; return 1; }; }
refused() { ! verifies "$1"; }
for package in "$msi" "$next_msi"; do
  check "$(basename "$package") signed" signed "$package"
done
# A changed copy fails: a property of the package, a byte of a program.
cp "$msi" "$work/tampered.msi"
msibuild "$work/tampered.msi" -q "UPDATE Property SET Value = 'Tampered' WHERE Property = 'ProductName'"
check "changed package refused" refused "$work/tampered.msi"
cp "$build/msi-$version/QuarrinSrvc.exe" "$work/tampered.exe"
printf '\x55' | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc status=none
check "changed program refused" refused "$work/tampered.exe"

# msiexec ACTION PACKAGE [PROPERTY=VALUE...]: quiet, with a log in the work
# folder; the installer's exit code. What the installer's actions print
# (reg.exe finding no kept key on a first install, say) is shown only when
# it fails.
msiexec() {
  local action="$1" package="$2" status=0
  shift 2
  "$wine" msiexec "$action" "Z:${work//\//\\}\\$package" /qn /l*v "Z:${work//\//\\}\\msiexec.log" "$@" \
    >"$work/msiexec.out" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "msiexec $action $package: exit code $status; its output and the end of its log:" >&2
    cat "$work/msiexec.out" >&2
    tail -n 30 "$work/msiexec.log" >&2
  fi
  return "$status"
}
reg_query() { "$wine" reg query "$@" 2>/dev/null | tr -d '\r'; }
value() {  # KEY NAME: the data of a value whose name has no blank
  reg_query "$1" | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
is() {  # KEY NAME DATA
  [ "$(value "$1" "$2")" = "$3" ]
}
shows() {  # KEY TEXT: `reg query KEY` shows TEXT
  reg_query "$1" | grep -qF "$2"
}
absent() { ! "$wine" reg query "$1" >/dev/null 2>&1; }
state() { "$wine" sc query "$1" 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'; }
unregistered() { ! "$wine" sc query "$1" >/dev/null 2>&1; }
eventually() {  # command...: true within 30 s
  local tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ "$tries" -lt 60 ] || return 1
    sleep 0.5
  done
}
running() { [ "$(state TARNQuarrinSrvc)" = RUNNING ]; }
answers() {  # PORT: the agent gives an HTTP status on loopback
  local code
  code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "http://127.0.0.1:$1/" || true)
  [ -n "$code" ] && [ "$code" != 000 ]
}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
products() {  # the installed products' versions, one a line
  reg_query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    awk '$1 == "DisplayName" { name = $3 " " $4 } $1 == "DisplayVersion" && name == "Quarrin Agent" { print $3 }'
}

# One session for the whole test: the server kept up between commands, and
# Wine's services (and with them the agent) started apart from the output
# of the commands below, which would otherwise be theirs. Wine's service
# manager gives a starting service 10 s where Windows gives 30; a busy
# machine needs more, and the manager reads the setting when it starts.
session() {
  "$wineserver" -p </dev/null >/dev/null 2>&1
  "$wine" wineboot "$@" </dev/null >/dev/null 2>&1
}
mkdir -p "$WINEPREFIX"
session -i
"$wine" reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /t REG_SZ /d 60000 /f \
  >/dev/null
"$wineserver" -k || true
"$wineserver" -w
session
# While it starts the services started at boot, the manager refuses any
# other start (1055, database locked).
scm_idle() {
  ! WINEDEBUG=err+sc "$wine" sc start RpcSs </dev/null 2>&1 | grep -q "failed to start service 1055"
}
eventually scm_idle || { echo "test-msi.sh: Wine's service manager stays busy" >&2; exit 1; }

services='HKLM\SYSTEM\CurrentControlSet\Services'
agent="$services\\TARNQuarrinSrvc"
starter="$services\\TARNStartSrvc"
sources="$services\\Eventlog\\Application"
deployment='HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment'
programs='C:\Program Files\TARN\Quarrin'
kept="$drive_c/ProgramData/TARN/Quarrin/TARNQuarrinSrvc.reg"
inventory=http://inventory.test.invalid/soap
port=$(free_port)

echo "msiexec /i $(basename "$msi") INVENTORYURL=$inventory HTTPPORT=$port"
check "installed" msiexec /i old.msi "INVENTORYURL=$inventory" "HTTPPORT=$port" LOOKUPDOMAINSUFFIX=corp.test
check "programs in Program Files\\TARN\\Quarrin" \
  test -f "$drive_c/Program Files/TARN/Quarrin/QuarrinSrvc.exe" -a \
       -f "$drive_c/Program Files/TARN/Quarrin/TARNStartSrvc.exe"
for program in QuarrinSrvc TARNStartSrvc; do
  check "$program.exe signed" signed "$drive_c/Program Files/TARN/Quarrin/$program.exe"
done
check "marker: the installer owns the folder" \
  grep -qx "Quarrin Agent (Windows Installer)" "$drive_c/Program Files/TARN/Quarrin/package-manager"
for service in "TARNQuarrinSrvc:QuarrinSrvc:TARN Quarrin Service" "TARNStartSrvc:TARNStartSrvc:TARN Starter Service"; do
  IFS=: read -r name program display <<<"$service"
  key="$services\\$name"
  check "$name: own process, interactive" is "$key" Type 0x110
  check "$name: automatic start" is "$key" Start 0x2
  check "$name: normal error control" is "$key" ErrorControl 0x1
  check "$name: LocalSystem" is "$key" ObjectName LocalSystem
  check "$name: display name" is "$key" DisplayName "$display"
  check "$name: runs $program.exe" is "$key" ImagePath "$programs\\$program.exe"
  check "$name: event-log source" is "$sources\\$name" EventMessageFile "$programs\\$program.exe"
  check "$name: event types" is "$sources\\$name" TypesSupported 0x7
done
check "agent's description gives $version" is "$agent" Description "Version: $version"
check "agent running" eventually running
check "InventoryURL set" is "$deployment" InventoryURL "$inventory"
check "HTTPPort set" is "$deployment" HTTPPort "$port"
check "LookupDomainSuffix set" is "$deployment" LookupDomainSuffix corp.test
check "ManifestURL empty: the default" is "$deployment" ManifestURL ""
check "agent answers HTTP on port $port" eventually answers "$port"

# The agent's state: an attribute and a disk sample in its service key.
"$wine" reg add "$agent" /v Comments /t REG_SZ /d "kept by the package" /f >/dev/null
sample="10/12/26 09:00:00.000"
"$wine" reg add "$agent\\C_Drive(Day)" /v "$sample" /t REG_BINARY /d 000000000000e03f /f >/dev/null

next_port=$(free_port)
echo "msiexec /i $(basename "$next_msi") HTTPPORT=$next_port (upgrade)"
check "upgraded" msiexec /i next.msi "HTTPPORT=$next_port"
check "only $next_version installed" test "$(products)" = "$next_version"
check "agent program replaced" \
  cmp -s "$build/msi-$next_version/QuarrinSrvc.exe" "$drive_c/Program Files/TARN/Quarrin/QuarrinSrvc.exe"
for program in QuarrinSrvc TARNStartSrvc; do
  check "$program.exe $next_version signed" signed "$drive_c/Program Files/TARN/Quarrin/$program.exe"
done
check "agent running after the upgrade" eventually running
check "agent's description gives $next_version" \
  eventually is "$agent" Description "Version: $next_version"
check "InventoryURL kept" is "$deployment" InventoryURL "$inventory"
check "LookupDomainSuffix kept" is "$deployment" LookupDomainSuffix corp.test
check "HTTPPort changed" is "$deployment" HTTPPort "$next_port"
check "attribute kept by the upgrade" is "$agent" Comments "kept by the package"
check "disk history kept by the upgrade" shows "$agent\\C_Drive(Day)" "$sample"
check "agent answers HTTP on port $next_port" eventually answers "$next_port"

echo "msiexec /x $(basename "$next_msi")"
check "removed" msiexec /x next.msi
check "agent unregistered" unregistered TARNQuarrinSrvc
check "starter unregistered" unregistered TARNStartSrvc
check "agent's key gone" absent "$agent"
check "starter's key gone" absent "$starter"
check "event-log sources gone" absent "$sources\\TARNQuarrinSrvc"
check "programs gone" test ! -e "$drive_c/Program Files/TARN/Quarrin"
check "Deployment values gone with the package" absent "$deployment"
check "nothing installed" test -z "$(products)"
check "attributes and disk history kept in ProgramData" test -f "$kept"

echo "msiexec /i $(basename "$next_msi") (again)"
check "installed again" msiexec /i next.msi "HTTPPORT=$port"
check "agent running" eventually running
check "attribute back" is "$agent" Comments "kept by the package"
check "disk history back" shows "$agent\\C_Drive(Day)" "$sample"
check "agent's registration is the new one" is "$agent" ImagePath "$programs\\QuarrinSrvc.exe"
check "kept key taken" test ! -e "$kept"

# Here, after a fresh install: Wine's removal of the older product within an
# upgrade deletes the upgrade code's registration that the newer one shares,
# so after an upgrade no package finds the installed one (Windows removes
# only the older product's entry).
echo "msiexec /i $(basename "$msi") (a downgrade)"
if msiexec /i old.msi 2>/dev/null; then fail "downgrade accepted"; else echo "ok: downgrade refused"; fi
check "still $next_version" test "$(products)" = "$next_version"

echo "msiexec /x $(basename "$next_msi") REMOVEHISTORY=1"
check "removed" msiexec /x next.msi REMOVEHISTORY=1
check "agent unregistered" unregistered TARNQuarrinSrvc
check "no history kept" test ! -e "$kept"

if [ "$failures" -ne 0 ]; then
  echo "test-msi.sh: $failures check(s) failed (log of the last msiexec: see above)" >&2
  exit 1
fi
echo "test-msi.sh: all checks passed"
