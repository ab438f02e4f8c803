#!/usr/bin/env bash
# The Windows leg of the tests: installs the MinGW-w64 cross compiler, Wine and a virtual
# screen when missing, cross-builds the engine, jetutil.exe, compactador.exe and the tests
# (preset windows), runs the engine tests under Wine, compares jetutil.exe with the Linux
# jetutil on the corpus (tests/windows_parity.sh; needs the Linux build, build/debug by
# default), and runs the window's tests and compactador.exe under Wine on a virtual screen
# (tests/windows_window.sh).
#
# usage: scripts/test_windows.sh [LINUX_JETUTIL]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh windows
export WINEDEBUG=-all
# One Wine prefix for the whole leg (made once, about ten seconds), outside the fresh homes
# each test process gets.
export WINEPREFIX=$PWD/build/windows/wine-prefix  # the one ctest gives the tests
mkdir -p "$(dirname "$WINEPREFIX")"
wineboot --init >/dev/null 2>&1 || true
echo "== windows =="
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
tests/windows_parity.sh "${1:-build/debug/tools/jetutil}"
tests/windows_window.sh build/windows
# What is handed to an operator builds: the zip of both programs, the guide and a demo.
cmake --build --preset windows --target windows_zip
listing=$(cmake -E tar tf build/windows/Compactador-windows.zip)
for f in compactador.exe jetutil.exe guia-do-operador.md demo/vendas.mdb demo/tavo.mdb \
         demo/tavo1.mdb; do
  grep -qx "Compactador/$f" <<<"$listing" || { echo "the zip lacks $f" >&2; exit 1; }
done
echo "zip: $(wc -l <<<"$listing") entries, $(stat -c %s build/windows/Compactador-windows.zip) bytes"
