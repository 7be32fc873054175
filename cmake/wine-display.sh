#!/bin/sh
# Runs a test command under Wine; a test whose name says OnDisplay gets an
# Xvfb of its own as DISPLAY, and a Wine session of its own beside the
# shared one (in <prefix>-display): Wine's desktop takes its display from
# the program that starts the session, and the shared session has none.
# Both end with the command. Every other command runs as it is.
#   wine-display.sh [env NAME=VALUE...] <command...>
case "$*" in
  *OnDisplay*) ;;
  *) exec "$@" ;;
esac
prefix=
for arg do
  shift
  case "$arg" in
    WINEPREFIX=*) prefix="${arg#WINEPREFIX=}-display"; arg="WINEPREFIX=$prefix" ;;
  esac
  set -- "$@" "$arg"
done
[ -n "$prefix" ] || { echo "wine-display.sh: no WINEPREFIX=... in the command" >&2; exit 1; }
mkdir -p "$prefix" || exit 1
# One display test at a time in that session.
exec 9>"$prefix.lock"
flock 9
fifo=$(mktemp -u) && mkfifo "$fifo" || exit 1
# Xvfb picks a free display number and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
# Both go with this script, also when a time-out ends it.
cleanup() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
}
trap 'cleanup; exit 1' INT TERM
read -r number <"$fifo"
rm -f "$fifo"
if [ -z "$number" ]; then
  echo "wine-display.sh: Xvfb did not start" >&2
  cleanup
  exit 1
fi
DISPLAY=":$number" "$@" &
wait $!
status=$?
cleanup
exit $status
