#!/usr/bin/env bash
# Sets up, builds and runs every test: a debug build, then the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer. GUI tests run headless. The Debian package
# is built from the debug tree and its contents checked.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/check_format.sh
scripts/check_layers.sh
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
  if [ "$preset" = debug ]; then
    rm -f build/debug/compactador_*.deb
    cmake --build --preset debug --target package
    tests/package_contents.sh build/debug/compactador_*.deb build/debug/tools/jetutil
  fi
done
# A short fuzz run of every target (clang, libFuzzer, ASan + UBSan), 30 s each, from the
# findings kept as regressions, the seeds and the corpus earlier runs learned. A finding fails
# the suite: the input stays in build-fuzz/ and scripts/fuzz_short.sh prints the command that
# reproduces it. (The findings kept in fuzz/regressions/ are also replayed by ctest above.)
echo "== fuzz =="
scripts/fuzz_short.sh 30
# The Windows leg: the MinGW-w64 cross build, the engine tests, jetutil.exe against jetutil on
# the corpus, the window and compactador.exe, all under Wine. COMPACTADOR_WINDOWS=0 leaves it
# out (a quicker local run).
if [ "${COMPACTADOR_WINDOWS:-1}" != 0 ]; then
  scripts/test_windows.sh build/debug/tools/jetutil
fi
