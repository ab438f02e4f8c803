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
packages=(g++-mingw-w64-x86-64-posix wine64 googletest xvfb xauth xdotool mdbtools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
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
