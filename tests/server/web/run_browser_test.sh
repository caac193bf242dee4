#!/usr/bin/env bash
# Runs the dashboard's browser test: run_browser_test.sh <source dir> <build dir>.
# Exits 77 (skipped) when Node.js or Chromium is missing; scripts/setup.sh installs both.
set -euo pipefail
SOURCE="$1"
BUILD="$2"
CHROMIUM="${KRB_CHROMIUM:-/usr/bin/chromium}"
for tool in node npm; do
  command -v "$tool" > /dev/null || { echo "SKIPPED: $tool is not installed (scripts/setup.sh)"; exit 77; }
done
[[ -x "$CHROMIUM" ]] || { echo "SKIPPED: no Chromium at $CHROMIUM (scripts/setup.sh)"; exit 77; }

# The npm packages go to the build folder, from the committed lock file.
RUNNER="$BUILD/tests/server/web/browser"
mkdir -p "$RUNNER"
cp "$SOURCE/tests/server/web/browser/package.json" "$SOURCE/tests/server/web/browser/package-lock.json" \
  "$SOURCE/tests/server/web/browser/dashboard_browser_test.mjs" "$RUNNER/"
if ! cmp -s "$RUNNER/package-lock.json" "$RUNNER/node_modules/.installed-lock.json"; then
  (cd "$RUNNER" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$RUNNER/package-lock.json" "$RUNNER/node_modules/.installed-lock.json"
fi
export KRB_CHROMIUM="$CHROMIUM"
exec node "$RUNNER/dashboard_browser_test.mjs" "$SOURCE" "$BUILD"
