#!/usr/bin/env bash
# Configures and builds into build/ (or $KRB_BUILD_DIR). Extra arguments go to cmake.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${KRB_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$BUILD_DIR" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
