#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
#   scripts/deps.sh           the Linux build and its tests
#   scripts/deps.sh windows   the Windows leg: the MinGW-w64 cross compiler, Wine, GoogleTest's
#                             sources, a virtual screen and xdotool (without recommends)
set -euo pipefail
options=()
if [ "${1:-}" = windows ]; then
  packages=(g++-mingw-w64-x86-64-posix wine64 googletest xvfb xauth xdotool mdbtools)
  options=(--no-install-recommends)
else
  packages=(build-essential cmake g++ clang qt6-base-dev libgtest-dev libgmock-dev
            mdbtools clang-format fonts-liberation xvfb xauth)
  # Node.js (for the mdb-reader oracle) often comes from elsewhere with npm built in; only ask
  # Debian for it when no npm is on the PATH.
  command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${options[@]}" "${missing[@]}"
fi
