#!/usr/bin/env bash
# Draws the window headless (Qt's offscreen platform) in the middle of a run and saves it as
# docs/janela.png. The tool writes a demo database and the client databases with the engine,
# chooses the database, starts a run and draws the window when the run warns which backups to
# restore (every check done, the log box full); a run that stops before that is drawn once it
# has returned. Re-run it whenever the window or the run changes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target compactador_screenshot -j"$(nproc)"
# A short, stable folder name so the paths in the picture read well.
demo=/tmp/compactador-demo
rm -rf "$demo"
QT_QPA_PLATFORM=offscreen build/release/app/compactador_screenshot docs/janela.png "$demo"
rm -rf "$demo"
echo "docs/janela.png"
