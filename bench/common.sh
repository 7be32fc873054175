# What the whole-process bench scripts share; sourced by them.

# A TCP port on 127.0.0.1 that is free now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# require_built DIR HINT EXE...: stops with HINT when DIR lacks one of the
# programs.
require_built() {
  local dir=$1 hint=$2 exe
  shift 2
  for exe in "$@"; do
    if [ ! -x "$dir/$exe" ]; then
      echo "missing $dir/$exe: build first ($hint)" >&2
      exit 1
    fi
  done
}

# make_workspace: $work, a scratch folder removed at exit together with the
# agent whose process id the script puts in $agent_pid.
make_workspace() {
  work=$(mktemp -d)
  agent_pid=
  trap 'stop_workspace' EXIT
}
stop_workspace() {
  if [ -n "$agent_pid" ]; then
    kill "$agent_pid" 2>/dev/null || true
    wait "$agent_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
