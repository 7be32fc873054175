#!/usr/bin/env bash
# Builds the Windows installer QuarrinAgent-<version>-x64.msi from the
# Windows build (cross-built with MinGW-w64, packaged with wixl) and prints
# its path on the last line.
#
#   scripts/package-msi.sh [BUILD_DIR [CMAKE_OPTION...]]
#
# BUILD_DIR defaults to build-windows; options go to CMake, e.g.
# -DQUARRIN_VERSION=1.0.0.1 or the deployment defaults. Exits with 2 when
# the build makes no QuarrinSrvc.exe or TARNStartSrvc.exe.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build-windows}"
shift || true
./scripts/install-deps.sh >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "$@" >&2
targets=$(cmake --build "$build" --target help)
for program in QuarrinSrvc TARNStartSrvc; do
  if ! grep -q "^$program: " <<<"$targets"; then
    echo "package-msi.sh: the Windows build makes no $program.exe yet" >&2
    exit 2
  fi
done
cmake --build "$build" -j 2 --target QuarrinSrvc TARNStartSrvc quarrin_msi >&2
version=$(sed -n 's/^QUARRIN_VERSION:STRING=//p' "$build/CMakeCache.txt")
msi="$build/QuarrinAgent-${version}-x64.msi"
[ -f "$msi" ] || { echo "package-msi.sh: wixl made no $msi" >&2; exit 1; }
echo "$msi"
