#!/usr/bin/env bash
# Builds one parser's fuzz target with clang and libFuzzer into build-fuzz/ and runs it.
#   scripts/fuzz.sh TARGET SECONDS     e.g. scripts/fuzz.sh contents_lines 600
# Targets are the file names in fuzz/ (command_framing, http_request, ...). New inputs found
# are kept in build-fuzz/corpus/TARGET; a finding is written to build-fuzz/findings/.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
TARGET="${1:?usage: scripts/fuzz.sh TARGET SECONDS}"
SECONDS_TO_RUN="${2:?usage: scripts/fuzz.sh TARGET SECONDS}"
BUILD_DIR="${KRB_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
if [ ! -f "$ROOT/fuzz/$TARGET.cpp" ]; then
    echo "no fuzz target '$TARGET'; one of:" $(cd "$ROOT/fuzz" && ls *.cpp | grep -v seed_runner | sed 's/\.cpp$//')
    exit 2
fi
"$ROOT/scripts/setup.sh"
command -v clang++ >/dev/null || { echo "clang++ is needed (Debian packages clang, libclang-rt-dev)"; exit 2; }
LAUNCHER=()
if command -v ccache >/dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_CXX_COMPILER=clang++ -DKRB_FUZZ=ON -DKRB_WERROR=OFF \
    -DKRB_BUILD_TESTS=OFF -DKRB_BUILD_BENCH=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target "fuzz_$TARGET"
mkdir -p "$BUILD_DIR/corpus/$TARGET" "$BUILD_DIR/findings"
cd "$BUILD_DIR/findings"
exec "$BUILD_DIR/fuzz/fuzz_$TARGET" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -dict="$ROOT/fuzz/dict/$TARGET.dict" \
    -artifact_prefix="$BUILD_DIR/findings/$TARGET-" \
    "$BUILD_DIR/corpus/$TARGET" "$ROOT/fuzz/corpus/$TARGET"
