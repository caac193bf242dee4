#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
# KRB_SANITIZE=asan|tsan builds into build-asan/ or build-tsan/ with that sanitizer; under
# ThreadSanitizer the suites without threads of their own (the parsers' seeds, the window) are left out.
# The sanitizer builds leave out the benchmarks, which are no part of the suite, and give a test
# that fails a second run, as the instrumentation slows the timed tests several times over. A
# report from any process (tests, the servers and simulators they start) fails the pass all the
# same: every report goes to a file of its own, and the pass fails if one holds a finding.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
case "${KRB_SANITIZE:-}" in
    asan) export KRB_BUILD_DIR="$ROOT/build-asan"; EXTRA=(-DKRB_ASAN=ON -DKRB_BUILD_BENCH=OFF)
          REPEAT='until-pass:2' ;;
    tsan) export KRB_BUILD_DIR="$ROOT/build-tsan"; EXTRA=(-DKRB_TSAN=ON -DKRB_BUILD_BENCH=OFF)
          SKIP='^(window_tests|fuzz_seeds_.*)$' REPEAT='until-pass:2' ;;
    *) export KRB_BUILD_DIR="${KRB_BUILD_DIR:-$ROOT/build}"; EXTRA=(-DKRB_BUILD_BENCH=ON) ;;
esac
REPORTS="$KRB_BUILD_DIR/sanitizer-reports"

collect_reports() {
    rm -rf "$REPORTS" && mkdir -p "$REPORTS"
    local tool options
    for tool in ASAN UBSAN TSAN; do
        options="${tool}_OPTIONS"
        export "$options=${!options:+${!options}:}log_path=$REPORTS/${tool,,}"
    done
    UBSAN_OPTIONS+=":print_summary=1"  # its message goes to stderr, its summary to the file
}

# Fails when a report holds a finding; suppression tallies and empty files are no finding.
check_reports() {
    local found report
    mapfile -t found < <(grep -l "SUMMARY: " "$REPORTS"/* 2>/dev/null)
    ((${#found[@]})) || return 0
    echo "Sanitizer findings in ${#found[@]} report(s):"
    for report in "${found[@]}"; do echo "--- $report"; cat "$report"; done
    return 1
}

# The demo configures the same folder without tests: ask for them whatever ran before.
"$ROOT/scripts/build.sh" -DKRB_BUILD_TESTS=ON "${EXTRA[@]}"
cd "$KRB_BUILD_DIR"
if [ -n "${KRB_SANITIZE:-}" ]; then collect_reports; fi
status=0
ctest --output-on-failure --no-tests=error -j"$(nproc)" --timeout 300 ${SKIP:+-E "$SKIP"} \
    ${REPEAT:+--repeat "$REPEAT"} || status=$?
if [ -n "${KRB_SANITIZE:-}" ]; then check_reports || status=1; fi
exit "$status"
