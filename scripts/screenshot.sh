#!/usr/bin/env bash
# Draws the window headless (Qt's offscreen platform) after a file was chosen and a run set
# up, and saves it as docs/janela.png.
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
