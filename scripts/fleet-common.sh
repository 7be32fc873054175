# Sourced by the scripts that run several fleet servers on one private
# PostgreSQL cluster (scripts/test-fleet-ha.sh, scripts/test-pgbouncer.sh,
# bench/fleet_scale.sh). Expects: $work (a folder of the run, mode 755),
# $server (the quarrin-server program). Every wait here is bounded.

fleet_token=fleet-scale-token-0001

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# wait_port PORT SECONDS: until something listens on PORT.
wait_port() {
  local i
  for ((i = 0; i < $2 * 20; i++)); do
    if port_open "$1"; then return 0; fi
    sleep 0.05
  done
  echo "nothing listens on port $1 after $2 s" >&2
  return 1
}

# start_instance NAME DATABASE [SETTING...]: a quarrin-server on a free
# port, its settings in $work/NAME.conf, its log in $work/NAME.log. Sets
# port_NAME and pid_NAME; does not wait for it to listen (wait_port).
start_instance() {
  local name=$1 database=$2 port
  shift 2
  port=$(free_port)
  {
    echo "listen_address = 127.0.0.1"
    echo "port = $port"
    echo "syslog_port = 0"
    echo "database = $database"
    echo "database_pool_size = 8"
    echo "api_tokens = $fleet_token"
    echo "downloads_folder = $work/downloads"
    printf '%s\n' "$@"
  } >"$work/$name.conf"
  "$server" --config "$work/$name.conf" >>"$work/$name.log" 2>&1 &
  printf -v "pid_$name" %s $!
  printf -v "port_$name" %s "$port"
}

# stop_pid PID: SIGTERM, then SIGKILL after 10 s.
stop_pid() {
  local pid=$1 i
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# start_haproxy PORT SERVER_PORT...: HAProxy on PORT spreading over the
# servers, each checked twice a second; its log in $work/haproxy.log. Sets
# haproxy_pid.
start_haproxy() {
  local port=$1 n=0 p
  shift
  {
    cat <<CFG
global
  maxconn 4096
defaults
  mode http
  timeout connect 2s
  timeout client 30s
  timeout server 30s
  retries 2
  option redispatch
frontend fleet
  bind 127.0.0.1:$port
  default_backend servers
backend servers
  balance roundrobin
  option httpchk
  http-check send meth GET uri /quarrin/quarrinws.dll/wsdl/IQuarrin ver HTTP/1.1 hdr Host localhost
  http-check expect status 200
CFG
    for p in "$@"; do
      echo "  server s$((n++)) 127.0.0.1:$p check inter 500ms fall 2 rise 2 maxconn 12"
    done
  } >"$work/haproxy.cfg"
  haproxy -f "$work/haproxy.cfg" -db >"$work/haproxy.log" 2>&1 &
  haproxy_pid=$!
  wait_port "$port" 10
}

# machine_list PORT: every machine's key and last-seen time from the API,
# page by page.
machine_list() {
  local port=$1 after="" page i
  for ((i = 0; i < 10000; i++)); do
    page=$(curl -sf --max-time 30 -H "Authorization: Bearer $fleet_token" \
      "http://127.0.0.1:$port/api/v1/machines?limit=1000&after=$after") || return 1
    python3 -c 'import json, sys; d = json.load(sys.stdin); [print(m["key"], m["last_seen"]) for m in d["machines"]]' <<<"$page"
    after=$(python3 -c 'import json, sys; n = json.load(sys.stdin)["next"]; print(n or "")' <<<"$page")
    [ -n "$after" ] || return 0
  done
}

# cpu_ticks PID...: user and system clock ticks the processes have used.
cpu_ticks() {
  local total=0 pid fields
  for pid in "$@"; do
    read -ra fields <"/proc/$pid/stat" || continue
    total=$((total + fields[13] + fields[14]))
  done
  echo "$total"
}
