#!/usr/bin/env bash
# Sets up, builds and starts a portable copy of the program: build/release/Compactador is the
# program's own folder (every run's log and backup copies go there) and holds demo/, a sample
# database with the client databases tavo.mdb and tavo1.mdb, all written by the engine and
# made afresh at every start. The file dialog opens in demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target portable -j"$(nproc)"
cd build/release/Compactador/demo
exec ../compactador "$@"
