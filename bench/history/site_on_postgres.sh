#!/usr/bin/env bash
# A site's history in one PostgreSQL database: two demo labs (each its own krb-sim and
# KRBServer) write their trails into one database of a temporary cluster; each moves plate
# P0003 through its cascade; then one KRBServer --history query answers for both servers.
#   bench/history/site_on_postgres.sh          (KRB_BUILD_DIR, default build/)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD_DIR="${KRB_BUILD_DIR:-$ROOT/build}"
SIM="$BUILD_DIR/sim/krb-sim"
SERVER="$BUILD_DIR/server/KRBServer"
PG_BIN="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)"
[[ -x "$PG_BIN/initdb" ]] || { echo "PostgreSQL is not installed (scripts/setup.sh)" >&2; exit 77; }
export KRB_TIME_SCALE="${KRB_TIME_SCALE:-0.05}"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/krb-site.XXXXXX")"
as_owner() { if [[ "$(id -u)" == 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi; }
[[ "$(id -u)" == 0 ]] && chown postgres "$WORK"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
PIDS=()
stop_all() {
  for pid in "${PIDS[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  as_owner "$PG_BIN/pg_ctl" -D "$WORK/pg" -m fast -w stop > /dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap stop_all EXIT

PG_PORT="$(free_port)"
as_owner "$PG_BIN/initdb" -D "$WORK/pg" -U krb --auth=trust -E UTF8 --no-sync > /dev/null
as_owner "$PG_BIN/pg_ctl" -D "$WORK/pg" -l "$WORK/pg/server.log" -w \
  -o "-p $PG_PORT -k $WORK -c listen_addresses=127.0.0.1" start > /dev/null
URI="postgresql://krb@127.0.0.1:$PG_PORT/postgres"
echo "PostgreSQL on $URI"

# Sends one command and prints its reply (a reply ends with CR LF).
send() {
  python3 - "$1" "$2" <<'PY'
import socket, sys
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=120) as s:
    s.sendall(sys.argv[2].encode() + b"\r")
    reply = b""
    while b"\r\n" not in reply:
        chunk = s.recv(4096)
        if not chunk:
            break
        reply += chunk
print(reply.decode(errors="replace").strip())
PY
}

start_lab() {  # NAME: a copy of the demo lab on ports of its own, its trail in the database
  local name="$1" port lab="$WORK/$1"
  port="$(free_port)"
  cp -r "$ROOT/examples/demo-lab" "$lab"
  mkdir -p "$lab/ports"
  sed -i "s/^port=3100/port=$port/" "$lab/DriverConfig.lni"
  printf '[History]\r\nDatabase=%s\r\n' "$URI" >> "$lab/DriverConfig.lni"
  KRB_PORT_DIR="$lab/ports" "$SIM" --port-dir "$lab/ports" "$lab/DriverConfig.lni" > "$lab/sim.out" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 1 300); do grep -q '^ready' "$lab/sim.out" && break; sleep 0.1; done
  KRB_PORT_DIR="$lab/ports" "$SERVER" --headless "$lab/DriverConfig.lni" start > "$lab/server.out" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 1 300); do grep -q 'listening on port' "$lab/server.out" && break; sleep 0.1; done
  grep -q 'listening on port' "$lab/server.out" || { cat "$lab/server.out" >&2; exit 1; }
  echo "$port" > "$lab/port"
  echo "lab $name: KRBServer on port $port"
}

tour_lab() {  # NAME: activate the cascade and move P0003 from Base1 3/1 to Ext1 6/1
  local port
  port="$(cat "$WORK/$1/port")"
  for unit in Base1 Cascader1 Ext1; do echo "  $1: KRB2Activate($unit) -> $(send "$port" "KRB2Activate($unit)")"; done
  echo "  $1: move P0003 -> $(send "$port" 'KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext1,2,6,1,2,0)')"
}

start_lab a
start_lab b
tour_lab a
tour_lab b
sleep 1  # the writers commit within a moment
echo
echo "KRBServer --history a/DriverConfig.lni --plate P0003 (the database both servers write):"
"$SERVER" --history "$WORK/a/DriverConfig.lni" --plate P0003
echo
echo "Rows per server:"
as_owner "$PG_BIN/psql" -h "$WORK" -p "$PG_PORT" -U krb -d postgres -At -c \
  "SELECT server, count(*) FROM (SELECT server FROM commands UNION ALL SELECT server FROM record_changes) AS rows GROUP BY server ORDER BY server"
grep -h ';History;' "$WORK"/a/KRBServer.log "$WORK"/b/KRBServer.log 2>/dev/null || true
