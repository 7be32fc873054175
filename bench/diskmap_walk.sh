#!/usr/bin/env bash
# The disk map's walk against `du -sbx`, whole processes on a warm cache:
# /usr and a generated tree of 200,000 files, each timed the same number of
# times in the same run, medians compared. Goal: the walk in at most 0.6 of
# du's time.
#
#   bench/diskmap_walk.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build=${1:-build}
runs=${2:-7}
walker=$build/diskmap_bench
if [ ! -x "$walker" ]; then
  echo "missing $walker: build the benchmarks first (cmake --build $build)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quarrin-walk-XXXXXX")
trap 'rm -rf "$work"' EXIT
tree=$work/tree
echo "creating 200,000 files below $tree ..."
"$walker" --make-tree "$tree" 200000

# Median wall-clock milliseconds of $runs runs of the command.
median_ms() {
  local times=() start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "%.2f", a[int((NR + 1) / 2)] / 1000 }'
}

echo "cores: $(nproc), runs per figure: $runs (median)"
for target in /usr "$tree"; do
  # Warm the cache for both.
  du -sbx "$target" >/dev/null 2>&1 || true
  "$walker" --walk "$target" >/dev/null
  du_ms=$(median_ms du -sbx "$target")
  walk_ms=$(median_ms "$walker" --walk "$target")
  du_bytes=$(du -sbx "$target" 2>/dev/null | cut -f1 || true)
  walk_bytes=$("$walker" --walk "$target")
  ratio=$(awk -v w="$walk_ms" -v d="$du_ms" 'BEGIN { printf "%.2f", w / d }')
  verdict=$(awk -v r="$ratio" 'BEGIN { print (r <= 0.6 ? "meets" : "misses") }')
  printf '%-10s du -sbx %8.2f ms  walk %8.2f ms  ratio %s (%s the goal of 0.60)\n' \
    "$( [ "$target" = /usr ] && echo /usr || echo tree)" "$du_ms" "$walk_ms" "$ratio" "$verdict"
  # du counts folders' own blocks and each hard-linked file once; the walk
  # counts regular files only, every link of them.
  printf '%-10s bytes: du %s, walk %s\n' "" "$du_bytes" "$walk_bytes"
done
