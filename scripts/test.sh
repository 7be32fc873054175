#!/usr/bin/env bash
# Installs what is missing, checks that no folder includes a higher layer,
# builds the agent three times (a normal build, one with AddressSanitizer and
# UndefinedBehaviorSanitizer, and a Release build) and runs the whole test
# suite on each; then packages the Release build as a .deb and installs,
# upgrades, removes and purges it on this machine, as root (see
# scripts/test-deb.sh); then cross-builds the Windows layers ported so far
# and runs their tests under Wine, the Windows agent's service end to end
# (scripts/test-windows-e2e.sh), and installs, upgrades and removes the
# Windows installer under Wine (scripts/test-msi.sh); then runs every fuzzer
# for a few seconds (FUZZ_SECONDS, 5) and the suite once more under
# ThreadSanitizer. Exits
# non-zero on any failure or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
jobs=$(nproc)

python3 scripts/check-layers.py

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRIN_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 600

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARRIN_SANITIZE=ON -DQUARRIN_BENCH=OFF \
  -DQUARRIN_WERROR=ON
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 900

# A Release build as a packager makes it: warnings stay warnings.
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARRIN_BENCH=OFF
cmake --build build-release -j "$jobs"
ctest --test-dir build-release -j "$jobs" --output-on-failure --timeout 600

# The Debian package of the Release build, installed as an administrator
# would: install, upgrade, remove, purge.
if [ "$(id -u)" -eq 0 ]; then
  ./scripts/test-deb.sh build-release
else
  sudo ./scripts/test-deb.sh build-release
fi

# The Windows build of what is ported so far, cross-built with MinGW-w64,
# its tests run under Wine in a prefix of the build's own.
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DQUARRIN_WERROR=ON
cmake --build build-windows -j "$jobs"
ctest --test-dir build-windows --output-on-failure --timeout 600
# The agent's service end to end under Wine, in a fresh prefix of its own.
./scripts/test-windows-e2e.sh build-windows
# Its installer and the one a build higher, installed, upgraded and removed
# under Wine in a prefix of its own.
./scripts/test-msi.sh build-windows

# The fuzzers, a few seconds each, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
./scripts/fuzz.sh "${FUZZ_SECONDS:-5}"

# ThreadSanitizer: the suite once more, the test runners and the programs
# they start built with -fsanitize=thread; any report fails the test.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARRIN_TSAN=ON -DQUARRIN_BENCH=OFF \
  -DQUARRIN_WERROR=ON
cmake --build build-tsan -j "$jobs"
ctest --test-dir build-tsan -j "$jobs" --output-on-failure --timeout 900
