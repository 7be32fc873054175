#!/usr/bin/env bash
# Whole-process figures of how long the agent takes to stop (SIGTERM, as the
# service manager sends it, to the end of the process) while its outbound
# transfers are held up by the servers they talk to:
#
#   trickling download   an update check (GET /update) downloading a newer
#                        version at 40 bytes/s
#   hanging start-up     the start-up fetch of the manifest, from a server
#                        that accepts and never answers
#   hanging daily run    the first daily run (two minutes after start) with
#                        every outside server accepting and never answering:
#                        download site, inventory service, service desk
#
# Each line gives the stop time and whether the partial download was left
# behind. The goal is a stop within 3 s whatever the peers do.
#
#   bench/stop_latency.sh [BUILD_DIR]        DAILY=0 skips the two-minute case
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
build=${1:-build}
daily=${DAILY:-1}
[ -x "$build/QuarrinSrvc" ] && [ -x "$build/quarrinctl" ] || {
  echo "build first: cmake --build $build --target QuarrinSrvc quarrinctl"; exit 1; }

root=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$root"; }
trap cleanup EXIT


# The outside servers on loopback. MODE=trickle: the manifest answers with a
# newer version and the executable trickles; MODE=hang: nothing is answered.
# Every request line is appended to the log as it arrives.
cat > "$root/peer.py" <<'EOF'
import socket, sys, threading, time
port, mode, log = int(sys.argv[1]), sys.argv[2], sys.argv[3]
manifest = (b"<data><VersionInfo><major>99</major><minor>0</minor><release>0</release>"
            b"<build>0</build></VersionInfo><Debug>off</Debug><Syslog></Syslog></data>")
def serve(conn):
    with conn:
        head = b""
        while b"\r\n\r\n" not in head:
            data = conn.recv(4096)
            if not data:
                return
            head += data
        line = head.split(b"\r\n", 1)[0].decode("latin-1")
        with open(log, "a") as f:
            f.write(line + "\n")
        path = line.split(" ")[1] if " " in line else ""
        try:
            if mode == "trickle" and path.endswith(".xml"):
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n\r\n"
                             % len(manifest) + manifest)
            elif mode == "trickle":
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n")
                while True:
                    conn.sendall(b"\x7f" * 40)
                    time.sleep(1)
            time.sleep(3600)
        except OSError:
            pass
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", port))
srv.listen(64)
while True:
    c, _ = srv.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
EOF

wait_for_port() {
  local end=$((SECONDS + 60))
  until python3 -c "import socket,sys;socket.create_connection(('127.0.0.1',$1),1)" 2>/dev/null; do
    ((SECONDS < end)) || { echo "nothing listens on port $1" >&2; return 1; }
    sleep 0.1
  done
}
start_peer() {  # mode -> starts a peer, sets peer to its port
  peer=$(free_port)
  python3 "$root/peer.py" "$peer" "$1" "$root/requests.log" >/dev/null 2>&1 &
  pids+=($!)
  wait_for_port "$peer"
}
wait_for_request() {  # pattern, seconds
  local end=$((SECONDS + $2))
  until grep -q "$1" "$root/requests.log" 2>/dev/null; do
    ((SECONDS < end)) || { echo "no request matching $1 within $2 s" >&2; return 1; }
    sleep 0.1
  done
}

# A fresh state and program folder; the agent runs from a copy so that its
# download lands beside the copy.
agent_pid=
start_agent() {  # peer port -> starts the agent, sets agent_pid and agent_port
  local peer=$1 state="$root/state.$RANDOM"
  mkdir -p "$state" "$root/bin"
  cp "$build/QuarrinSrvc" "$root/bin/QuarrinSrvc"
  rm -f "$root/bin/~QuarrinSrvc" "$root/requests.log"
  agent_port=$(free_port)
  export QUARRIN_ROOT="$state"
  local key='HKLM\SOFTWARE\TARN\QuarrinSrvc\Deployment' ctl="$build/quarrinctl"
  $ctl reg set "$key" ManifestURL REG_SZ "http://127.0.0.1:$peer/downloads/QuarrinSrvc.xml" >/dev/null
  $ctl reg set "$key" DefaultDownloadURL REG_SZ "http://127.0.0.1:$peer/Downloads" >/dev/null
  $ctl reg set "$key" InventoryURL REG_SZ "http://127.0.0.1:$peer/quarrin/soap/IQuarrin" >/dev/null
  $ctl reg set "$key" LookupPingHost REG_SZ "127.0.0.1" >/dev/null
  $ctl reg set "$key" LookupWebHost REG_SZ "127.0.0.1:$peer" >/dev/null
  $ctl reg set "$key" HTTPPort REG_SZ "$agent_port" >/dev/null
  $ctl reg set 'HKLM\System\CurrentControlSet\Services\TARNQuarrinSrvc' DownloadURL REG_SZ \
    "http://127.0.0.1:$peer/Downloads" >/dev/null
  QUARRIN_SCM=TARNQuarrinSrvc "$root/bin/QuarrinSrvc" >/dev/null 2>&1 &
  agent_pid=$!
  pids+=("$agent_pid")
  unset QUARRIN_ROOT
}

# SIGTERM, then the time until the process is gone, in milliseconds.
stop_ms() {
  local t0; t0=$(date +%s%N)
  kill -TERM "$agent_pid"
  while kill -0 "$agent_pid" 2>/dev/null; do
    sleep 0.01
    if (( ($(date +%s%N) - t0) > 120000000000 )); then break; fi
  done
  wait "$agent_pid" 2>/dev/null || true
  echo $(( ($(date +%s%N) - t0) / 1000000 ))
}

printf '%-22s %10s   %s\n' "case" "stop" "partial download left"
report() { printf '%-22s %7s ms   %s\n' "$1" "$2" "$([ -e "$root/bin/~QuarrinSrvc" ] && echo yes || echo no)"; }

# Trickling download.
start_peer trickle
start_agent "$peer"
wait_for_port "$agent_port"
curl -s -m 600 "http://127.0.0.1:$agent_port/update" >/dev/null 2>&1 &
pids+=($!)
wait_for_request "GET /Downloads/QuarrinSrvc " 30
sleep 2
report "trickling download" "$(stop_ms)"

# Hanging manifest at start-up.
start_peer hang
start_agent "$peer"
wait_for_request "GET /downloads/QuarrinSrvc.xml" 30
sleep 1
report "hanging start-up" "$(stop_ms)"

# Hanging daily run: start-up waits out the manifest's 15 s, then the first
# daily run comes two minutes after start.
if [ "$daily" = 1 ]; then
  start_agent "$peer"
  wait_for_request "GET /downloads/QuarrinSrvc.xml" 30
  wait_for_request "GET /Downloads/QuarrinSrvc.xml" 200  # the daily run's update check
  sleep 1
  report "hanging daily run" "$(stop_ms)"
fi
