#!/usr/bin/env bash
# Sets up, builds and runs every test: a debug build, then the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer. GUI tests run headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if [ -f tests/node/package.json ]; then
  (cd tests/node && npm install --no-audit --no-fund --silent)
fi
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
for preset in debug asan; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done
