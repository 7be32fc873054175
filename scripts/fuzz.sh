#!/usr/bin/env bash
# Builds the fuzzers (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each one for a bounded
# time, starting from its seed corpus in fuzz/corpus/<name>. Exits non-zero
# when any target crashes, leaks, hangs or trips a sanitizer; the input that
# did it is kept in build-fuzz/artifacts.
#
#   scripts/fuzz.sh [seconds] [name...]   seconds per target (default 5);
#                                          names: request_line, manifest, ...
#   FUZZ_BUILD=DIR scripts/fuzz.sh ...     in the tree DIR, configured with
#                                          -DQUARRIN_FUZZ=ON, instead
#
# What a run finds beyond the seeds is kept in build-fuzz/corpus/<name>, so
# the next run goes on from there.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
shift || true
# FUZZ_BUILD names a tree configured with -DQUARRIN_FUZZ=ON already (the
# test command's sanitizer tree); by default the fuzzers get their own.
build=${FUZZ_BUILD:-build-fuzz}

if [ -z "${FUZZ_BUILD:-}" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUARRIN_FUZZ=ON -DQUARRIN_BENCH=OFF -DQUARRIN_WERROR=ON >/dev/null
fi
cmake --build "$build" -j "${FUZZ_BUILD_JOBS:-2}" --target fuzzers

if (($#)); then
  targets=("$@")
else
  targets=()
  for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$build/artifacts"
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  echo "== $t: ${seconds}s"
  if ! "$build/fuzz/${t}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/${t}-" \
      "$build/corpus/$t" "fuzz/corpus/$t" >"$build/$t.log" 2>&1; then
    failed+=("$t")
    tail -n 60 "$build/$t.log"
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec):' "$build/$t.log" |
    sed 's/^stat::/   /' || true
done

if ((${#failed[@]})); then
  echo "fuzz: failures in ${failed[*]} (inputs in $build/artifacts)" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran ${seconds}s each without a fault"
