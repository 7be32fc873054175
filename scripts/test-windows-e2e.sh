#!/usr/bin/env bash
# End-to-end test of the Windows agent under Wine, in a fresh Wine prefix:
# install the service, start it through the service control manager, ask
# its HTTP server for the menu, the details, the usage chart and the disk
# map from Linux over loopback, pause, continue and stop it, and uninstall.
# A manifest server (python3 -m http.server) and a syslog collector (a small
# UDP listener) on loopback stand in for the maker's download site and the
# syslog host.
#
#   scripts/test-windows-e2e.sh [BUILD_DIR]      (default build-windows)
#
# Wine keeps no event log: its ReportEventW only traces. The Wine session
# runs with WINEDEBUG=+eventlog,fixme+advapi, so every entry appears in the
# session's log as a "fixme:advapi:ReportEventW (handle,type,category,id,...)"
# line followed by the entry's text on an "eventlog" line of the same
# thread; the test reads the entries from there (event_entries below).
# Exits non-zero on the first failed check; the Wine session and the test
# doubles always end with the script.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-windows}")

wine=$(sed -n 's/^QUARRIN_WINE:FILEPATH=//p' "$build/CMakeCache.txt")
wineserver=$(sed -n 's/^QUARRIN_WINESERVER:FILEPATH=//p' "$build/CMakeCache.txt")
# Until the agent is part of the Windows build there is nothing to run.
if ! grep -q '^build QuarrinSrvc\.exe:' "$build/build.ninja"; then
  echo "SKIP: the Windows build makes no QuarrinSrvc.exe yet (agent is not in QUARRIN_FOLDERS)"
  exit 0
fi
for f in QuarrinSrvc.exe scm_control.exe; do
  [ -f "$build/$f" ] || { echo "$build/$f is not built" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quarrin-e2e.XXXXXX)
pids=()
finish() {
  local status=$?
  WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ "$status" -ne 0 ]; then
    echo "--- Wine session log (last 60 lines):" >&2
    tail -n 60 "$work/wine.log" >&2 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT

export WINEPREFIX=$work/prefix WINEDLLOVERRIDES=mscoree,mshtml=
export WINEDEBUG=-all,+eventlog,fixme+advapi
service=TARNQuarrinSrvc
services_key='HKLM\System\CurrentControlSet\Services'
source_key="$services_key\\Eventlog\\Application\\$service"
deployment_key='HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment'

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }
w() { "$wine" "$@" 2>>"$work/wine.log"; }
# The value of a registry value as reg prints it; empty when missing.
reg_value() { w reg query "$1" /v "$2" | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
scm() { w "$build/scm_control.exe" "$@" | tr -d '\r'; }
# The event-log entries the session traced, one a line: type, category, ID
# and text separated by tabs (CR and LF of the text as \r and \n).
event_entries() {
  python3 - "$work/wine.log" <<'EOF'
import re, sys
head = re.compile(r'^([0-9a-f]+):fixme:advapi:ReportEventW \([0-9A-F]+,0x([0-9a-f]+),0x([0-9a-f]+),0x([0-9a-f]+),')
text = re.compile(r'^([0-9a-f]+):(?:trace|warn|err):eventlog:ReportEventW L"(.*)"$')
pending = {}
for line in open(sys.argv[1], errors='replace'):
    line = line.rstrip('\n')
    m = head.match(line)
    if m:
        pending[m.group(1)] = [int(g, 16) for g in m.groups()[1:]]
        continue
    m = text.match(line)
    if m and m.group(1) in pending:
        kind, category, event_id = pending.pop(m.group(1))
        print(f"{kind}\t{category}\t{event_id}\t{m.group(2)}")
EOF
}
# Waits up to $2 seconds until an entry's line matches the pattern $1.
wait_for_entry() {
  for _ in $(seq $(($2 * 5))); do
    event_entries | grep -qE "$1" && return 0
    sleep 0.2
  done
  return 1
}

step "fresh Wine prefix $WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$wineserver" -p 2>>"$work/wine.log"
# wineboot starts Wine's services.exe, which the agent's service inherits
# the session's standard error (and so its trace) from.
w wineboot -i </dev/null >/dev/null
w reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null

http_port=$(free_port)
site_port=$(free_port)
syslog_port=$(free_port)
mkdir -p "$work/site/downloads" "$work/site/Downloads"
printf '<data><Debug>off</Debug><Syslog>127.0.0.1</Syslog></data>' >"$work/site/downloads/QuarrinSrvc.xml"
python3 -m http.server --bind 127.0.0.1 --directory "$work/site" "$site_port" >"$work/site.log" 2>&1 &
pids+=($!)
python3 - "$syslog_port" "$work/syslog.txt" <<'EOF' &
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
with open(sys.argv[2], "ab", buffering=0) as out:
    while True:
        data, _ = s.recvfrom(65536)
        out.write(data.replace(b"\n", b"\\n") + b"\n")
EOF
pids+=($!)

for value in "HTTPPort=$http_port" "SyslogPort=$syslog_port" \
  "ManifestURL=http://127.0.0.1:$site_port/downloads/QuarrinSrvc.xml" \
  "DefaultDownloadURL=http://127.0.0.1:$site_port/Downloads"; do
  w reg add "$deployment_key" /v "${value%%=*}" /t REG_SZ /d "${value#*=}" /f >/dev/null
done

# The agent where an administrator would put it (a path without blanks:
# the manager is given it unquoted).
program_dir=$WINEPREFIX/drive_c/TARN/Quarrin
mkdir -p "$program_dir"
cp "$build/QuarrinSrvc.exe" "$program_dir/"
exe='C:\TARN\Quarrin\QuarrinSrvc.exe'
version=$(sed -n 's/^QUARRIN_VERSION:STRING=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no QUARRIN_VERSION in $build/CMakeCache.txt"

step "install $version"
out=$(w "$exe" -INSTALL -SILENT) || fail "-INSTALL -SILENT failed: $out"
[ -z "$out" ] || fail "-INSTALL -SILENT printed: $out"
[ "$(reg_value "$services_key\\$service" Type)" = 0x110 ] || fail "service Type"
[ "$(reg_value "$services_key\\$service" Start)" = 0x2 ] || fail "service Start"
[ "$(reg_value "$services_key\\$service" ErrorControl)" = 0x1 ] || fail "service ErrorControl"
[ "$(reg_value "$services_key\\$service" ImagePath)" = "$exe" ] || fail "service ImagePath"
[ "$(reg_value "$services_key\\$service" DisplayName)" = "TARN Quarrin Service" ] || fail "DisplayName"
[ "$(reg_value "$services_key\\$service" Description)" = "Version: $version" ] || fail "Description"
[ "$(reg_value "$source_key" EventMessageFile)" = "$exe" ] || fail "EventMessageFile"
[ "$(reg_value "$source_key" TypesSupported)" = 0x7 ] || fail "TypesSupported"

step "start"
w sc start "$service" >/dev/null || fail "sc start"
[ "$(scm wait "$service" RUNNING)" = RUNNING ] || fail "the service did not report running"
wait_for_entry "^4	0	3	$version Service executed\$" 30 || fail "no 'Service executed' entry"
wait_for_entry "^4	0	2	$version HTTP service started on port $http_port\.\$" 30 ||
  fail "no 'HTTP service started' entry"
for _ in $(seq 50); do grep -q ' execute$' "$work/syslog.txt" 2>/dev/null && break; sleep 0.2; done
grep -q "%QUARN-5-50000: QuarrinSrvc.exe $version execute" "$work/syslog.txt" ||
  fail "no execute datagram: $(cat "$work/syslog.txt" 2>/dev/null)"

step "HTTP from Linux on port $http_port"
get() {  # get PATH FILE: the body to FILE, prints status and content type
  curl -s --max-time 60 -o "$2" -w '%{http_code} %{content_type}' "http://127.0.0.1:$http_port$1"
}
[ "$(get / "$work/menu.html")" = "200 text/html" ] || fail "GET /"
grep -qi "<html" "$work/menu.html" || fail "GET / is no page"
[ "$(get /info "$work/info.xml")" = "200 text/xml" ] || fail "GET /info"
python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' "$work/info.xml" ||
  fail "GET /info is no XML document"
grep -q "$version" "$work/info.xml" || fail "GET /info does not carry the version"
for page in disk_d mapdisk; do
  [ "$(get "/$page" "$work/$page.jpg")" = "200 image/jpeg" ] || fail "GET /$page"
  size=$(identify -regard-warnings -format '%m %wx%h %[interlace]' "$work/$page.jpg") ||
    fail "GET /$page: the JPEG does not decode"
  case $size in
    "JPEG "*" None") echo "   /$page: $size" ;;
    *) fail "GET /$page: $size" ;;
  esac
done

step "pause, continue"
[ "$(scm pause "$service")" = PAUSED ] || fail "pause"
[ "$(get / /dev/null)" = "200 text/html" ] || fail "the HTTP server does not answer while paused"
[ "$(scm continue "$service")" = RUNNING ] || fail "continue"

step "stop"
w sc stop "$service" >/dev/null || fail "sc stop"
[ "$(scm wait "$service" STOPPED)" = STOPPED ] || fail "the service did not stop"
for _ in $(seq 50); do grep -q '50001' "$work/syslog.txt" && break; sleep 0.2; done
grep -q '%QUARN-5-50001: QUARRINSRVC stop' "$work/syslog.txt" || fail "no stop datagram"
wait_for_entry "^0	0	2	$version Service stopped\.\$" 10 || fail "no 'Service stopped.' entry"
curl -s --max-time 5 -o /dev/null "http://127.0.0.1:$http_port/" && fail "HTTP still answers"

step "uninstall"
out=$(w "$exe" -UNINSTALL -SILENT) || fail "-UNINSTALL -SILENT failed: $out"
[ -z "$out" ] || fail "-UNINSTALL -SILENT printed: $out"
w reg query "$services_key\\$service" >/dev/null 2>&1 && fail "the service key is still there"
w reg query "$source_key" >/dev/null 2>&1 && fail "the event-log source key is still there"
wait_for_entry "^0	0	1	$version Service uninstalled\.\\\\r\\\\n\$" 10 ||
  fail "no 'Service uninstalled.' entry"

echo "Windows end-to-end test passed"
