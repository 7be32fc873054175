#!/usr/bin/env bash
# The test command, in stages. Installs what is missing first.
#
#   scripts/test.sh                  the quick tier, before a push: the layer
#                                    check, the normal build and the whole
#                                    suite on it, the Windows cross build and
#                                    its tests under Wine
#   scripts/test.sh --all            every stage (what CI runs): the quick
#                                    tier, then the suite with AddressSanitizer
#                                    and UndefinedBehaviorSanitizer, the
#                                    fuzzers, the Debian packages of a Release
#                                    build (the agent's and the fleet
#                                    server's), two fleet servers behind
#                                    HAProxy with one killed under load, the
#                                    Windows service end to end
#                                    and its installer under Wine, and the suite
#                                    under ThreadSanitizer
#   scripts/test.sh --only STAGE...  the named stages only (see --list)
#   scripts/test.sh --list           the stages, in the order they run
#
# Every build goes through the compiler cache (ccache, keyed on paths
# relative to the checkout, see CMakeLists.txt), so a second clone builds
# from what the first compiled. Each stage's time is printed at the end, and
# a failing stage is named on the last line. Exits non-zero on any failure
# or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

quick_stages=(layers build windows)
all_stages=(layers build windows sanitize fuzz deb server-deb fleet-ha windows-e2e msi tsan)

usage() {
  sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0" >&2
  exit 2
}

stages=("${quick_stages[@]}")
case "${1:-}" in
  "") ;;
  --all) stages=("${all_stages[@]}") ;;
  --list) printf '%s\n' "${all_stages[@]}"; exit 0 ;;
  --only)
    shift
    (($#)) || usage
    for stage in "$@"; do
      [[ " ${all_stages[*]} " == *" $stage "* ]] || { echo "test.sh: no stage '$stage'" >&2; usage; }
    done
    stages=("$@")
    ;;
  *) usage ;;
esac

jobs=$(nproc)
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
# Room for every tree's objects, unless the machine's own setting says otherwise.
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-20G}"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The stages. Each one configures the tree it needs itself, so that --only
# works from a fresh clone.

stage_layers() {
  python3 scripts/check-layers.py
}

# The normal build, warnings as errors, and the whole suite on it.
stage_build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRIN_WERROR=ON
  cmake --build build -j "$jobs"
  ctest --test-dir build -j "$jobs" --output-on-failure --timeout 600
}

# The Windows build, cross-built with MinGW-w64, its tests run under Wine in
# a prefix of the build's own.
stage_windows() {
  cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DQUARRIN_WERROR=ON
  cmake --build build-windows -j "$jobs"
  # One test at a time: under load, Wine now and then fails to start a test
  # process when another runs beside it.
  ctest --test-dir build-windows --output-on-failure --timeout 600
}

# One clang tree with AddressSanitizer and UndefinedBehaviorSanitizer, and
# libFuzzer's coverage counters in every library: the whole suite runs on
# it, and the fuzzers are built in it.
configure_sanitize() {
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUARRIN_FUZZ=ON -DQUARRIN_BENCH=OFF -DQUARRIN_WERROR=ON
}
stage_sanitize() {
  configure_sanitize
  cmake --build build-asan -j "$jobs"
  ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 900
}

# Every fuzzer for a few seconds (FUZZ_SECONDS, 5), in the sanitizer tree.
stage_fuzz() {
  configure_sanitize
  FUZZ_BUILD=build-asan ./scripts/fuzz.sh "${FUZZ_SECONDS:-5}"
}

# The Debian package of a Release build, as a packager makes it (warnings
# stay warnings), installed, upgraded, removed and purged on this machine.
# The programs in it are the ones the suite ran in the normal build, built
# with other optimisation flags; the package test runs them as services.
stage_deb() {
  as_root ./scripts/test-deb.sh build-release
}

# The fleet server's Debian package from the same Release tree, installed,
# run as its user on a private cluster, upgraded, removed and purged.
stage_server-deb() {
  as_root ./scripts/test-server-deb.sh build-release
}

# Two fleet servers behind HAProxy on one database, 10,000 agents reporting
# through it (three applications each, to keep the stage to a few minutes
# on a small machine), one server killed in the middle.
stage_fleet-ha() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRIN_WERROR=ON >/dev/null
  cmake --build build -j "$jobs" --target quarrin-server
  MACHINES=10000 APPS=3 ./scripts/test-fleet-ha.sh build
}

# The agent's service end to end under Wine, in a fresh prefix of its own,
# reporting to the Linux quarrin-server of the normal build on a private
# PostgreSQL cluster.
stage_windows-e2e() {
  windows_built
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRIN_WERROR=ON >/dev/null
  cmake --build build -j "$jobs" --target quarrin-server
  QUARRIN_SERVER_BUILD=build ./scripts/test-windows-e2e.sh build-windows
}

# The Windows installer and the one a build higher, installed, upgraded and
# removed under Wine in a prefix of its own.
stage_msi() {
  windows_built
  ./scripts/test-msi.sh build-windows
}

# The Windows tree as the windows stage leaves it, built if it is not.
windows_built() {
  cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DQUARRIN_WERROR=ON >/dev/null
  cmake --build build-windows -j "$jobs"
}

# ThreadSanitizer: the suite once more, the test runners and the programs
# they start built with -fsanitize=thread; any report fails the test.
stage_tsan() {
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARRIN_TSAN=ON -DQUARRIN_BENCH=OFF \
    -DQUARRIN_WERROR=ON
  cmake --build build-tsan -j "$jobs"
  ctest --test-dir build-tsan -j "$jobs" --output-on-failure --timeout 900
}

timings=()
report() {
  local status=$?
  if ((${#timings[@]})); then
    echo
    echo "stage times (seconds):"
    printf '  %s\n' "${timings[@]}"
  fi
  if ((status != 0)) && [ -n "${current:-}" ]; then
    echo "test.sh: FAILED in stage $current"
  elif ((status == 0)); then
    echo "test.sh: passed: ${stages[*]}"
  fi
}
trap report EXIT

start=$SECONDS
./scripts/install-deps.sh
timings+=("install-deps: $((SECONDS - start))")
for current in "${stages[@]}"; do
  echo "== stage $current"
  start=$SECONDS
  "stage_$current"
  timings+=("$current: $((SECONDS - start))")
done
current=
timings+=("total: $SECONDS")
