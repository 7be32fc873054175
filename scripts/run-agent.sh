#!/usr/bin/env bash
# Installs what is missing, builds the agent and runs it in the foreground as
# its service process, on the embedded SQLite registry. Ctrl-C stops it.
#
# QUARRIN_ROOT chooses where its state lives (default: .run/ in this checkout,
# so a trial run never touches the machine). The HTTP port defaults to 8088
# here, since port 88 needs root; set QUARRIN_HTTP_PORT to change it.
#
# QUARRIN_SERVER_URL (for example http://127.0.0.1:8090, where
# scripts/run-server.sh listens) points every outside system of the agent at
# that fleet server: inventory service, service-desk lookup, update manifest
# and downloads, and syslog (port QUARRIN_SYSLOG_PORT, default 5514; the
# host comes from the server's manifest).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target QuarrinSrvc quarrinctl TARNStartSrvc

export QUARRIN_ROOT="${QUARRIN_ROOT:-$PWD/.run}"
mkdir -p "$QUARRIN_ROOT"
port="${QUARRIN_HTTP_PORT:-8088}"
./build/quarrinctl reg set 'HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment' HTTPPort REG_SZ "$port" >/dev/null
if [ -n "${QUARRIN_SERVER_URL:-}" ]; then
  server="${QUARRIN_SERVER_URL%/}"
  authority="${server#*://}"
  authority="${authority%%/*}"
  host="${authority%:*}"
  deployment='HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment'
  set_value() { ./build/quarrinctl reg set "$deployment" "$1" REG_SZ "$2" >/dev/null; }
  set_value InventoryURL "$server/quarrin/quarrinws.dll/soap/IQuarrin"
  set_value LookupWebHost "$authority"
  set_value LookupPingHost "$host"
  set_value LookupDomainSuffix "${QUARRIN_LOOKUP_DOMAIN_SUFFIX:-.local}"
  set_value ManifestURL "$server/downloads/QuarrinSrvc.xml"
  set_value DefaultDownloadURL "$server/downloads"
  set_value SyslogPort "${QUARRIN_SYSLOG_PORT:-5514}"
  echo "reporting to the fleet server at $server"
fi
echo "QUARRIN_ROOT=$QUARRIN_ROOT; HTTP on port $port; event log: QUARRIN_ROOT=$QUARRIN_ROOT ./build/quarrinctl eventlog"
exec env QUARRIN_SCM=TARNQuarrinSrvc ./build/QuarrinSrvc
