#!/usr/bin/env bash
# Installs a built package on this machine, starts what it installed and removes it again:
#   tests/package_install.sh PACKAGE.deb
# Needs root, and changes the system for the duration (not run by the test suite). The
# program is started headless as an operator would start it from the menu, through the
# launcher, with HOME in a scratch folder: it must still be running after two seconds and
# must have made its own folder ~/Compactador with a copy of the program in it.
set -euo pipefail
deb=$(readlink -f "$1")
[ "$(id -u)" -eq 0 ] || { echo "package_install: run as root" >&2; exit 2; }
if dpkg-query -W -f='${Status}' compactador 2>/dev/null | grep -q "install ok installed"; then
  echo "package_install: compactador is installed already; remove it first" >&2
  exit 2
fi
scratch=$(mktemp -d)
trap 'dpkg -r compactador >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
fail=0
problem() { echo "package_install: $*" >&2; fail=1; }

# apt resolves the dependencies a fresh system lacks; dpkg alone is enough where they are.
if command -v apt-get >/dev/null && [ -n "${PACKAGE_INSTALL_WITH_APT:-}" ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb"
else
  dpkg -i "$deb"
fi

for f in /usr/bin/compactador /usr/bin/jetutil /usr/lib/compactador/compactador \
         /usr/share/applications/compactador.desktop \
         /usr/share/icons/hicolor/32x32/apps/compactador.png; do
  [ -e "$f" ] || problem "not installed: $f"
done
jetutil --help >/dev/null || problem "jetutil --help failed"
jetutil create-fixtures "$scratch" >/dev/null && jetutil check --strict "$scratch/tavo.mdb" >/dev/null ||
  problem "installed jetutil cannot write and check a database"
man -w jetutil >/dev/null 2>&1 || problem "man jetutil not found"
ldd /usr/lib/compactador/compactador | grep -q 'not found' && problem "unresolved libraries"

# Starts through the launcher, as the desktop entry does, without a display.
set +e
HOME=$scratch QT_QPA_PLATFORM=offscreen timeout 2 compactador >"$scratch/out.txt" 2>&1
status=$?
set -e
[ "$status" -eq 124 ] || { problem "program exited with $status:"; cat "$scratch/out.txt" >&2; }
[ -x "$scratch/Compactador/compactador" ] || problem "launcher made no ~/Compactador copy"

dpkg -r compactador >/dev/null
[ ! -e /usr/bin/jetutil ] || problem "jetutil left behind by dpkg -r"
if ((fail)); then exit 1; fi
echo "package_install: $deb installs, starts and removes cleanly"
