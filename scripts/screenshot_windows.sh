#!/usr/bin/env bash
# Draws the Windows window under Wine at the warning before the backups, the box open over the
# window, and saves it as docs/janela-windows.png. Wine runs in a virtual desktop of 1024 x 768
# on xvfb-run's screen, so that it draws the title bars and frames itself (there is no window
# manager to draw them). The tool
# (app/win32/tools/screenshot.cpp) writes a demo database and the client databases with the
# engine, chooses the database, starts a run and saves the screen's part that holds the
# window and the box as a BMP when the box has opened; this script turns it into a PNG.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh windows
cmake --preset windows > /dev/null
cmake --build --preset windows --target compactador_screenshot
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$PWD/build/windows/wine-prefix}
# A short, stable folder name so the paths in the picture read well.
demo=/tmp/compactador-demo
bmp=$(mktemp /tmp/janela-windows.XXXXXX.bmp)
trap 'rm -rf "$demo" "$bmp"' EXIT
rm -rf "$demo"
. tests/wine_util.sh  # winpath
# A Wine server still running from an earlier program holds the display it started with.
wineserver -k 2> /dev/null || true
wineserver -w 2> /dev/null || true
xvfb-run -a -s "-screen 0 1024x768x24" wine explorer /desktop=janela,1024x768 \
    "$(winpath build/windows/app/win32/compactador_screenshot.exe)" "$(winpath "$bmp")" \
    "$(winpath "$demo")"
[ -s "$bmp" ] || { echo "screenshot_windows: no picture taken" >&2; exit 1; }
python3 - "$bmp" docs/janela-windows.png << 'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
assert bits == 24, bits
row = (width * 3 + 3) & ~3
raw = bytearray()
for y in range(abs(height)):
    source = height - 1 - y if height > 0 else y  # BMP rows are bottom-up
    line = data[offset + source * row: offset + source * row + width * 3]
    raw.append(0)
    for x in range(width):
        b, g, r = line[3 * x: 3 * x + 3]
        raw += bytes((r, g, b))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
PY
echo "docs/janela-windows.png"
