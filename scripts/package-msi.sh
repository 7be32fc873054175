#!/usr/bin/env bash
# Builds the Windows installer QuarrinAgent-<version>-x64.msi from the
# Windows build (cross-built with MinGW-w64, packaged with wixl) and prints
# its path on the last line.
#
#   scripts/package-msi.sh [BUILD_DIR [CMAKE_OPTION...]]
#
# BUILD_DIR defaults to build-windows; options go to CMake, e.g.
# -DQUARRIN_VERSION=1.0.0.1 or the deployment defaults. Exits with 2 when
# the build makes no QuarrinSrvc.exe or TARNStartSrvc.exe. With
# QUARRIN_MSI_NEXT=1 it builds the same package one build higher in the third
# number instead, from copies of the programs restamped with that version
# (for the upgrade test).
#
# Signing (Authenticode, with osslsigncode): with QUARRIN_SIGN_CERT (the
# code-signing certificate, PEM or DER, with its chain) and QUARRIN_SIGN_KEY
# (its private key) set, both programs are signed before they are packed and
# the package after it is made; QUARRIN_SIGN_PASS_FILE names a file holding
# the key's passphrase, QUARRIN_SIGN_TIMESTAMP_URL an RFC 3161 timestamp
# server (for releases: the signatures then outlast the certificate).
# Unset, the package is not signed.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build-windows}"
shift || true
./scripts/install-deps.sh >&2
signing=()
for setting in QUARRIN_SIGN_CERT QUARRIN_SIGN_KEY QUARRIN_SIGN_PASS_FILE; do
  file="${!setting:-}"
  if [ -n "$file" ]; then
    [ -f "$file" ] || { echo "package-msi.sh: $setting: no file $file" >&2; exit 1; }
    file=$(realpath -- "$file")
  fi
  signing+=("-D$setting=$file")
done
signing+=("-DQUARRIN_SIGN_TIMESTAMP_URL=${QUARRIN_SIGN_TIMESTAMP_URL:-}")
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "${signing[@]}" "$@" >&2
targets=$(cmake --build "$build" --target help)
for program in QuarrinSrvc TARNStartSrvc; do
  if ! grep -q "^$program: " <<<"$targets"; then
    echo "package-msi.sh: the Windows build makes no $program.exe yet" >&2
    exit 2
  fi
done
target=quarrin_msi
if [ "${QUARRIN_MSI_NEXT:-}" = 1 ]; then target=quarrin_msi_next; fi
cmake --build "$build" -j 2 --target QuarrinSrvc TARNStartSrvc "$target" >&2
version=$(sed -n 's/^QUARRIN_VERSION:STRING=//p' "$build/CMakeCache.txt")
if [ "$target" = quarrin_msi_next ]; then
  IFS=. read -r major minor third fourth <<<"$version"
  version="$major.$minor.$((third + 1)).$fourth"
fi
msi="$build/QuarrinAgent-${version}-x64.msi"
[ -f "$msi" ] || { echo "package-msi.sh: wixl made no $msi" >&2; exit 1; }
echo "$msi"
