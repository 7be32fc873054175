#!/usr/bin/env bash
# Installs what is missing, builds the agent and runs it in the foreground as
# its service process, on the embedded SQLite registry. Ctrl-C stops it.
#
# QUARRIN_ROOT chooses where its state lives (default: .run/ in this checkout,
# so a trial run never touches the machine). The HTTP port defaults to 8088
# here, since port 88 needs root; set QUARRIN_HTTP_PORT to change it.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target QuarrinSrvc quarrinctl TARNStartSrvc

export QUARRIN_ROOT="${QUARRIN_ROOT:-$PWD/.run}"
mkdir -p "$QUARRIN_ROOT"
port="${QUARRIN_HTTP_PORT:-8088}"
./build/quarrinctl reg set 'HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment' HTTPPort REG_SZ "$port" >/dev/null
echo "QUARRIN_ROOT=$QUARRIN_ROOT; HTTP on port $port; event log: QUARRIN_ROOT=$QUARRIN_ROOT ./build/quarrinctl eventlog"
exec env QUARRIN_SCM=TARNQuarrinSrvc ./build/QuarrinSrvc
