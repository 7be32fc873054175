#!/usr/bin/env bash
# Builds the Debian package quarrin-agent_<version>_amd64.deb from a Release
# build tree and prints its path on the last line.
#
#   scripts/package-deb.sh [BUILD_DIR [CMAKE_OPTION...]]
#
# BUILD_DIR defaults to build-release (the test script's Release build);
# options go to CMake, e.g. -DQUARRIN_VERSION=1.0.0.1 or the deployment
# defaults (-DQUARRIN_MAKER_HOST=...).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build-release}"
shift || true
./scripts/install-deps.sh >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARRIN_BENCH=OFF "$@" >&2
cmake --build "$build" -j "$(nproc)" --target QuarrinSrvc TARNStartSrvc quarrinctl quarrin_deb_files >&2
version=$(sed -n 's/^QUARRIN_VERSION:STRING=//p' "$build/CMakeCache.txt")
deb="$build/quarrin-agent_${version}_amd64.deb"
rm -f "$deb"
(cd "$build" && cpack -G DEB >&2)
[ -f "$deb" ] || { echo "package-deb.sh: cpack made no $deb" >&2; exit 1; }
echo "$deb"
