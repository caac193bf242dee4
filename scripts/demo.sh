#!/usr/bin/env bash
# Builds the system and runs the demo lab: krb-sim provides the units on pseudo-terminals,
# KRBServer serves them on the demo's TCP port. Ctrl-C stops both.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
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
mkdir -p "$PORT_DIR"
export KRB_PORT_DIR="$PORT_DIR"
export KRB_TIME_SCALE="${KRB_TIME_SCALE:-1.0}"

SIM_PID=""
SERVER_PID=""
stop_all() {
  trap - INT TERM EXIT
  echo
  if [[ -n "$SERVER_PID" ]] && kill -0 "$SERVER_PID" 2>/dev/null; then
    kill -INT "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
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

(cd "$WORK/lab" && exec "$SERVER" "$CONFIG" start) &
SERVER_PID=$!

PORT="$(sed -n 's/^[[:space:]]*port[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/Ip' "$CONFIG" | head -n1)"
UNIT="$(sed -n 's/^[[:space:]]*UnitId[[:space:]]*=[[:space:]]*\([^[:space:]]*\).*/\1/Ip' \
  "$WORK/lab/Lab/System1/Unit1.lni" | head -n1)"
sleep 1
cat <<EOF

The demo lab is served on TCP port $PORT (units: $(grep -rhi '^UnitId=' "$WORK/lab/Lab" | cut -d= -f2 | tr -d '\r' | tr '\n' ' ')).
Commands end with a carriage return; keep the connection open until the reply has come
(the server closes a connection whose client has stopped sending), for example:

  (printf 'KRB2IsOperationRunning($UNIT)\r'; sleep 2) | nc -q 0 localhost $PORT
  (printf 'KRB2Activate($UNIT)\r'; sleep 20) | nc -q 0 localhost $PORT
  (printf 'KRB2GetSysStatus($UNIT)\r'; sleep 2) | nc -q 0 localhost $PORT

Press Ctrl-C to stop the server and the simulator.
EOF
wait "$SERVER_PID"
