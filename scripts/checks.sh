# The checks of the package tests (sourced): each prints "ok: ..." or
# "FAIL: ..." and counts the failures in $failures.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() {  # description command...
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
