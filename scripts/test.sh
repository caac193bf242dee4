#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
# KRB_SANITIZE=asan|tsan builds into build-asan/ or build-tsan/ with that sanitizer; under
# ThreadSanitizer the suites without threads of their own (the parsers' seeds, the window) are left out.
# The sanitizer builds leave out the benchmarks, which are no part of the suite, and give a test
# that fails a second run: the instrumentation slows the timed tests several times over (a
# sanitizer report still shows in the log of the first run).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
case "${KRB_SANITIZE:-}" in
    asan) export KRB_BUILD_DIR="$ROOT/build-asan"; EXTRA=(-DKRB_ASAN=ON -DKRB_BUILD_BENCH=OFF)
          REPEAT='until-pass:2' ;;
    tsan) export KRB_BUILD_DIR="$ROOT/build-tsan"; EXTRA=(-DKRB_TSAN=ON -DKRB_BUILD_BENCH=OFF)
          SKIP='^(window_tests|fuzz_seeds_.*)$' REPEAT='until-pass:2' ;;
    *) export KRB_BUILD_DIR="${KRB_BUILD_DIR:-$ROOT/build}"; EXTRA=(-DKRB_BUILD_BENCH=ON) ;;
esac
# The demo configures the same folder without tests: ask for them whatever ran before.
"$ROOT/scripts/build.sh" -DKRB_BUILD_TESTS=ON "${EXTRA[@]}"
cd "$KRB_BUILD_DIR"
ctest --output-on-failure --no-tests=error -j"$(nproc)" --timeout 300 ${SKIP:+-E "$SKIP"} \
    ${REPEAT:+--repeat "$REPEAT"}
