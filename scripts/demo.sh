#!/usr/bin/env bash
# Builds the system and runs the demo lab: krb-sim provides the units on pseudo-terminals,
# KRBServer serves them on the demo's TCP port. Ctrl-C stops both.
#   KRB_DEMO_PORT        command port (default 3100, the demo lab's own)
#   KRB_WEB_PORT         dashboard port (default 3180)
#   KRB_TIME_SCALE       factor on every pause and motion (default 1.0)
#   KRB_DEMO_SKIP_BUILD  1: use the programs already built in KRB_BUILD_DIR (default build/)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
if [[ -n "${KRB_DEMO_PORT:-}" && ! "$KRB_DEMO_PORT" =~ ^[0-9]+$ ]]; then
  echo "KRB_DEMO_PORT is no port number: $KRB_DEMO_PORT" >&2
  exit 2
fi
BUILD_DIR="${KRB_BUILD_DIR:-$ROOT/build}"
if [[ "${KRB_DEMO_SKIP_BUILD:-0}" != 1 ]]; then
  "$ROOT/scripts/build.sh" -DKRB_BUILD_TESTS=OFF
fi
SIM="$BUILD_DIR/sim/krb-sim"
SERVER="$BUILD_DIR/server/KRBServer"
for program in "$SIM" "$SERVER"; do
  [[ -x "$program" ]] || { echo "missing $program (build first)" >&2; exit 1; }
done

# The demo runs on a copy, so that its contents files and log stay out of the source tree.
WORK="$(mktemp -d "${TMPDIR:-/tmp}/krb-demo.XXXXXX")"
cp -r "$ROOT/examples/demo-lab" "$WORK/lab"
CONFIG="$WORK/lab/DriverConfig.lni"
PORT_DIR="$WORK/ports"
if [[ -n "${KRB_DEMO_PORT:-}" ]]; then
  sed -i "s/^port=.*\r\$/port=$KRB_DEMO_PORT\r/I" "$CONFIG"
fi
# The dashboard is turned on in the copy only: the tests that run on the demo lab pick ports of
# their own, and a fixed one would be contended.
WEB_PORT="${KRB_WEB_PORT:-3180}"
printf '[Web]\r\nPort=%s\r\n' "$WEB_PORT" >> "$CONFIG"
mkdir -p "$PORT_DIR"
export KRB_PORT_DIR="$PORT_DIR"
export KRB_TIME_SCALE="${KRB_TIME_SCALE:-1.0}"
# Where a running demo can be found by scripts/tour.sh.
DEMO_STATE="${TMPDIR:-/tmp}/krb-demo.state"

SIM_PID=""
SERVER_PID=""
SER2NET_PID=""
TAIL_PID=""
stop_all() {
  trap - INT TERM EXIT
  echo
  if [[ -n "$SERVER_PID" ]] && kill -0 "$SERVER_PID" 2>/dev/null; then
    kill -INT "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  if [[ -n "$TAIL_PID" ]]; then
    kill "$TAIL_PID" 2>/dev/null || true
    wait "$TAIL_PID" 2>/dev/null || true
  fi
  if [[ -n "$SER2NET_PID" ]]; then
    kill "$SER2NET_PID" 2>/dev/null || true
    wait "$SER2NET_PID" 2>/dev/null || true
  fi
  if [[ -n "$SIM_PID" ]] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill -INT "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  if [[ -f "$WORK/lab/KRBServer.log" ]]; then
    echo "Server log:"
    cat "$WORK/lab/KRBServer.log"
  fi
  rm -rf "$WORK"
  [[ "$(head -n1 "$DEMO_STATE" 2>/dev/null)" == "WORK=$WORK" ]] && rm -f "$DEMO_STATE"
  return 0
}
trap stop_all EXIT
trap 'exit 130' INT TERM

"$SIM" --port-dir "$PORT_DIR" "$CONFIG" > "$WORK/krb-sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 1 300); do
  grep -q '^ready' "$WORK/krb-sim.out" 2>/dev/null && break
  kill -0 "$SIM_PID" 2>/dev/null || { cat "$WORK/krb-sim.out" >&2; exit 1; }
  sleep 0.1
done
grep -q '^ready' "$WORK/krb-sim.out" || { echo "krb-sim did not get ready" >&2; exit 1; }
cat "$WORK/krb-sim.out"

# KRB_DEMO_DEVICE_SERVER=1 puts the plate store Store4 (COM4, reader COM14) behind ser2net:
# the server reaches its controller with telnet COM-port control and its reader as raw TCP,
# through port folder entries that hold the addresses.
if [[ "${KRB_DEMO_DEVICE_SERVER:-0}" == 1 ]]; then
  command -v ser2net >/dev/null || [[ -x /usr/sbin/ser2net ]] || { echo "ser2net is not installed" >&2; exit 1; }
  NET_DIR="$WORK/net-ports"
  mkdir -p "$NET_DIR"
  for entry in "$PORT_DIR"/COM*; do ln -s "$(readlink "$entry")" "$NET_DIR/$(basename "$entry")"; done
  rm "$NET_DIR/COM4" "$NET_DIR/COM14"
  cat > "$WORK/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &store4
    accepter: telnet(rfc2217),tcp,127.0.0.1,3104
    connector: serialdev,$(readlink "$PORT_DIR/COM4"),9600e81,local
connection: &store4reader
    accepter: tcp,127.0.0.1,3114
    connector: serialdev,$(readlink "$PORT_DIR/COM14"),9600e71,local
EOF
  PATH="$PATH:/usr/sbin" ser2net -n -c "$WORK/ser2net.yaml" -P "$WORK/ser2net.pid" &
  SER2NET_PID=$!
  echo "rfc2217://127.0.0.1:3104" > "$NET_DIR/COM4"
  echo "tcp://127.0.0.1:3114" > "$NET_DIR/COM14"
  export KRB_PORT_DIR="$NET_DIR"
  echo "Store4 is behind ser2net: COM4 = $(cat "$NET_DIR/COM4"), COM14 = $(cat "$NET_DIR/COM14")"
fi

SERVER_OUT="$WORK/server.out"
(cd "$WORK/lab" && exec "$SERVER" "$CONFIG" start) > "$SERVER_OUT" 2>&1 &
SERVER_PID=$!

# Only a server that says it listens gets the banner; one that cannot listen ends the demo
# with its own reason and status.
until grep -q '^KRBServer listening on port' "$SERVER_OUT"; do
  if ! kill -0 "$SERVER_PID" 2>/dev/null; then
    status=0
    wait "$SERVER_PID" || status=$?
    SERVER_PID=""
    cat "$SERVER_OUT" >&2
    echo "The demo's server could not listen (status $status); KRB_DEMO_PORT chooses another port." >&2
    exit $((status == 0 ? 1 : status))
  fi
  sleep 0.1
done
cat "$SERVER_OUT"
tail -n +"$(($(wc -l < "$SERVER_OUT") + 1))" -f --pid="$SERVER_PID" "$SERVER_OUT" &
TAIL_PID=$!

PORT="$(sed -n 's/^KRBServer listening on port \([0-9]*\).*/\1/p' "$SERVER_OUT" | head -n1)"
UNIT="$(sed -n 's/^[[:space:]]*UnitId[[:space:]]*=[[:space:]]*\([^[:space:]]*\).*/\1/Ip' \
  "$WORK/lab/Lab/System1/Unit1.lni" | head -n1)"
printf 'WORK=%s\nPORT=%s\nCONTROL=%s\nTIME_SCALE=%s\nUNITS=%s\n' "$WORK" "$PORT" \
  "$PORT_DIR/krb-sim.control" "$KRB_TIME_SCALE" \
  "$(grep -rhi '^UnitId=' "$WORK/lab/Lab" | cut -d= -f2 | tr -d '\r' | paste -sd' ')" > "$DEMO_STATE"
DASHBOARD="$(sed -n 's/^KRBServer dashboard on \(http[^[:space:]]*\).*/\1/p' "$SERVER_OUT" | head -n1)"
if [[ -n "$DASHBOARD" ]]; then
  DASHBOARD_LINE="Dashboard: $DASHBOARD (read-only; metrics at ${DASHBOARD}metrics)."
else
  DASHBOARD_LINE="No dashboard: the server said why above (KRB_WEB_PORT chooses another port than $WEB_PORT)."
fi
if awk -v s="$KRB_TIME_SCALE" 'BEGIN { exit !(s == 1) }'; then
  PACE="real time: an activation takes 10-20 s, an inventory of a full unit several minutes.
For a quick look: KRB_TIME_SCALE=0.1 scripts/demo.sh"
else
  PACE="every pause and motion takes $KRB_TIME_SCALE of its real time"
fi
cat <<EOF

The demo lab is served on TCP port $PORT (units: $(sed -n 's/^UNITS=//p' "$DEMO_STATE")).
$DASHBOARD_LINE
Time scale $KRB_TIME_SCALE (KRB_TIME_SCALE): $PACE.
A guided tour of a lab day on this demo: scripts/tour.sh (in another terminal).

A command ends with a carriage return and is answered with one line ending in CR LF. One
send carries one command: wait for its reply before sending the next. Keep the connection
open until the reply has come (a client that closes it, or only its sending side, earlier
loses the reply). Debian's nc does both with -W 1: it keeps the connection open after its
input ends and returns as soon as the reply has come, however long the operation takes:

  printf 'KRB2IsOperationRunning($UNIT)\r' | nc -W 1 localhost $PORT
  printf 'KRB2Activate($UNIT)\r' | nc -W 1 localhost $PORT
  printf 'KRB2GetSysStatus($UNIT)\r' | nc -W 1 localhost $PORT

All commands and their replies: docs/commands.md. Ctrl-C stops the server and the simulator.
EOF
wait "$SERVER_PID"
