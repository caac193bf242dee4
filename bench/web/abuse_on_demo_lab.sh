#!/usr/bin/env bash
# The dashboard of the demo lab (on the simulator) under abuse. One client sends 300 MiB of
# request headers: prints the server's resident memory at idle, at its peak and afterwards,
# against a bound of 64 MiB above idle, and whether /metrics answered during and after. Then
# Ext1 (COM3) is activated and its controller falls silent: prints what /metrics and the
# snapshot say of its link and climate.
# Usage: bench/web/abuse_on_demo_lab.sh [build folder]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD_DIR="$(cd "${1:-$ROOT/build}" && pwd)"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/krb-flood.XXXXXX")"
SIM_PID="" SERVER_PID=""
finish() {
  [[ -n "$SERVER_PID" ]] && kill -INT "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null
  [[ -n "$SIM_PID" ]] && kill -INT "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  [[ -n "${KRB_KEEP_WORK:-}" ]] || rm -rf "$WORK"
}
trap finish EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
cp -r "$ROOT/examples/demo-lab" "$WORK/lab"
CONFIG="$WORK/lab/DriverConfig.lni"
TCP_PORT="$(free_port)"
WEB_PORT="$(free_port)"
sed -i "s/^port=.*/port=$TCP_PORT\r/I" "$CONFIG"
printf '[Web]\r\nPort=%s\r\n' "$WEB_PORT" >> "$CONFIG"
export KRB_PORT_DIR="$WORK/ports" KRB_TIME_SCALE="${KRB_TIME_SCALE:-0.2}"
mkdir -p "$KRB_PORT_DIR"
"$BUILD_DIR/sim/krb-sim" --port-dir "$KRB_PORT_DIR" "$CONFIG" > "$WORK/sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 1 300); do grep -q '^ready' "$WORK/sim.out" && break; sleep 0.1; done
(cd "$WORK/lab" && exec "$BUILD_DIR/server/KRBServer" "$CONFIG" start) > "$WORK/server.out" 2>&1 &
SERVER_PID=$!
for _ in $(seq 1 100); do
  curl -sf -o /dev/null "http://127.0.0.1:$WEB_PORT/metrics" && break
  sleep 0.1
done

rss_mib() { awk -v k="$1:" '$1 == k { printf "%.1f", $2 / 1024 }' "/proc/$SERVER_PID/status"; }
metrics_status() { curl -s -m 10 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$WEB_PORT/metrics" || true; }

for _ in 1 2 3; do metrics_status > /dev/null; sleep 1; done
IDLE="$(rss_mib VmRSS)"
python3 - "$WEB_PORT" > "$WORK/flood.out" <<'PY' &
import socket, sys
port = int(sys.argv[1])
s = socket.create_connection(("127.0.0.1", port))
s.sendall(b"GET / HTTP/1.1\r\nHost: localhost\r\n")
line = b"X-Filler: " + b"z" * 1012 + b"\r\n"   # 1 KiB
block = line * 1024                               # 1 MiB
sent = 0
try:
    for _ in range(300):
        s.sendall(block)
        sent += len(block)
except OSError as error:
    print("server closed the stream after %.1f MiB (%s)" % (sent / 2**20, error.strerror))
else:
    print("all %.0f MiB sent" % (sent / 2**20))
try:
    s.settimeout(10)
    print("reply: " + s.recv(200).split(b"\r\n")[0].decode())
except OSError as error:
    print("no reply (%s)" % error.strerror)
PY
FLOOD_PID=$!
DURING="$(metrics_status)"
wait "$FLOOD_PID" || true
sleep 2
AFTER_STATUS="$(metrics_status)"
AFTER="$(rss_mib VmRSS)"
PEAK="$(rss_mib VmHWM)"
cat "$WORK/flood.out"
echo "server resident memory: idle $IDLE MiB, peak $PEAK MiB, after $AFTER MiB"
awk -v i="$IDLE" -v p="$PEAK" -v a="$AFTER" 'BEGIN {
  printf "growth over idle / bound 64 MiB: peak %.2f, after %.2f (at most 1.00)\n", (p - i) / 64, (a - i) / 64 }'
echo "/metrics during the flood: $DURING, after: $AFTER_STATUS"

# A controller that stops answering.
ask() { python3 - "$TCP_PORT" "$1" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.sendall(sys.argv[2].encode() + b"\r")
s.settimeout(120)
print(s.recv(200).decode().strip())
PY
}
control() { python3 - "$KRB_PORT_DIR/krb-sim.control" "$1" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(sys.argv[2].encode() + b"\n")
print(s.recv(200).decode().strip())
PY
}
link_of_ext1() {
  curl -s "http://127.0.0.1:$WEB_PORT/metrics" | grep -E '^krb_(link_up|unit_climate|unit_door_open|unit_error)\{.*unit="Ext1"' || true
  curl -s "http://127.0.0.1:$WEB_PORT/snapshot.json" |
    python3 -c 'import json,sys; u=[u for s in json.load(sys.stdin)["systems"] for u in s["units"] if u["id"]=="Ext1"][0]; print("snapshot: link", repr(u["link"]), "climate", u["climate"])'
}
echo "KRB2Activate(Ext1) -> $(ask 'KRB2Activate(Ext1)')"
sleep 8
echo "answering:"; link_of_ext1
echo "FAULT COM3 silent -> $(control 'FAULT COM3 silent')"
echo "KRB2ReadErrorFlag(Ext1) -> $(ask 'KRB2ReadErrorFlag(Ext1)')"
sleep 8
echo "silent:"; link_of_ext1
