#!/usr/bin/env bash
# scripts/chaos.sh SECONDS [SEED] [--cassette-scans] [--steps]: a chaos run on the demo lab
# (simulated units, the server in front of them): a seeded mixed workload while serial faults
# hit random units, checked against the simulator's plates. Prints the counts: operations,
# faults, and each invariant's checks and violations. Exit status 1 when an invariant was
# violated. Builds the run's program into build/ (or $KRB_BUILD_DIR) first when needed.
# Runs at time scale 0.05 unless KRB_TIME_SCALE says otherwise.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${KRB_BUILD_DIR:-$ROOT/build}"
if [[ $# -lt 1 ]]; then
  echo "usage: scripts/chaos.sh SECONDS [SEED] [--cassette-scans] [--steps]" >&2
  exit 2
fi
"$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$BUILD_DIR" -DKRB_BUILD_TESTS=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target krb-chaos >/dev/null
export KRB_TIME_SCALE="${KRB_TIME_SCALE:-0.05}"
exec "$BUILD_DIR/tests/chaos/krb-chaos" "$@"
