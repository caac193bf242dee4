#!/usr/bin/env bash
# A guided tour of a lab day on the demo. Uses the running demo (scripts/demo.sh) if there is
# one; otherwise starts one at time scale 0.05 (KRB_TIME_SCALE) and stops it at the end
# (KRB_DEMO_PORT, KRB_DEMO_SKIP_BUILD and KRB_BUILD_DIR are passed to scripts/demo.sh).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DEMO_STATE="${TMPDIR:-/tmp}/krb-demo.state"

demo_running() {
  [[ -f "$DEMO_STATE" ]] || return 1
  local port
  port="$(sed -n 's/^PORT=//p' "$DEMO_STATE")"
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}

DEMO_PID=""
LOG=""
stop_demo() {
  if [[ -n "$DEMO_PID" ]] && kill -0 "$DEMO_PID" 2>/dev/null; then
    kill -TERM "$DEMO_PID" 2>/dev/null || true  # a background job ignores SIGINT
    wait "$DEMO_PID" 2>/dev/null || true
  fi
  if [[ -n "$LOG" ]]; then rm -f "$LOG"; fi
}

if demo_running; then
  echo "Using the running demo ($(sed -n 's/^TIME_SCALE=/time scale /p' "$DEMO_STATE"))."
else
  rm -f "$DEMO_STATE"  # left by a demo that did not end cleanly
  export KRB_TIME_SCALE="${KRB_TIME_SCALE:-0.05}"
  trap stop_demo EXIT
  LOG="$(mktemp "${TMPDIR:-/tmp}/krb-tour-demo.XXXXXX")"
  echo "Starting the demo at time scale $KRB_TIME_SCALE..."
  "$ROOT/scripts/demo.sh" > "$LOG" 2>&1 &
  DEMO_PID=$!
  until demo_running; do
    kill -0 "$DEMO_PID" 2>/dev/null || { cat "$LOG" >&2; exit 1; }
    sleep 0.5
  done
fi
python3 "$ROOT/scripts/tour.py" "$DEMO_STATE"
