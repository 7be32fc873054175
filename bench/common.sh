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

# start_bench_cluster: $work, a scratch folder holding a private PostgreSQL
# cluster ($work/pg) with an empty database "bench", $db its libpq
# connection string. At exit the program whose process id the script puts
# in $server_pid is stopped, then the cluster, and the folder is removed.
start_bench_cluster() {
  work=$(mktemp -d)
  chmod 755 "$work"  # the cluster's user (nobody, as root) reaches its folder through it
  server_pid=
  trap stop_bench_cluster EXIT
  scripts/pg-cluster.sh start "$work/pg" >/dev/null
  psql "$(scripts/pg-cluster.sh url "$work/pg")" -q -c "CREATE DATABASE bench"
  db="host=$work/pg dbname=bench user=quarrin"
}
stop_bench_cluster() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  scripts/pg-cluster.sh stop "$work/pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}

# wait_for_port PORT: until something listens on 127.0.0.1:PORT, at most 10 s.
wait_for_port() {
  local _
  for _ in $(seq 1 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.05
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

# start_zabbix DIR: zabbix_agentd in the foreground of a background job,
# listening on 127.0.0.1 (it takes ports up to 32767 only), its files in DIR.
# Its process id in $zb_pid.
start_zabbix() {
  local dir=$1 port
  port=$(python3 -c 'import random,socket
while True:
    p=random.randint(20000,32767); s=socket.socket()
    try: s.bind(("127.0.0.1",p)); print(p); break
    except OSError: pass')
  cat > "$dir/zabbix_agentd.conf" <<CONF
ListenIP=127.0.0.1
ListenPort=$port
Server=127.0.0.1
ServerActive=
LogType=console
PidFile=$dir/zabbix_agentd.pid
AllowRoot=1
CONF
  zabbix_agentd -f -c "$dir/zabbix_agentd.conf" >/dev/null 2>&1 &
  zb_pid=$!
}
