#!/usr/bin/env bash
# Checks a built Debian package: it holds the program, its launcher, jetutil, the desktop
# entry, the icon in the hicolor theme (the 32x32 one really 32 x 32), the manual pages, and
# it declares its Qt 6 dependencies. With JETUTIL given, also checks that the manual page
# describes every verb that jetutil lists.
#   tests/package_contents.sh PACKAGE.deb [JETUTIL]
set -euo pipefail
deb=$1
jetutil=${2:-}
fail=0
problem() { echo "package_contents: $*" >&2; fail=1; }

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for path in ./usr/lib/compactador/compactador ./usr/bin/compactador ./usr/bin/jetutil \
            ./usr/share/applications/compactador.desktop \
            ./usr/share/icons/hicolor/16x16/apps/compactador.png \
            ./usr/share/icons/hicolor/32x32/apps/compactador.png \
            ./usr/share/icons/hicolor/48x48/apps/compactador.png \
            ./usr/share/icons/hicolor/256x256/apps/compactador.png \
            ./usr/share/man/man1/jetutil.1.gz ./usr/share/man/man1/compactador.1.gz \
            ./usr/share/doc/compactador/guia-do-operador.md; do
  grep -qxF "$path" <<<"$contents" || problem "missing $path"
done

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
  grep -q "\b$lib\b" <<<"$depends" || problem "Depends lacks $lib: $depends"
done

member() { dpkg-deb --fsys-tarfile "$deb" | tar -xO "$1"; }

desktop=$(member ./usr/share/applications/compactador.desktop)
grep -qx 'Exec=compactador' <<<"$desktop" || problem "desktop entry does not run compactador"
grep -qx 'Icon=compactador' <<<"$desktop" || problem "desktop entry does not name the icon"
grep -qx 'Type=Application' <<<"$desktop" || problem "desktop entry is not an application"

# PNG: 8-byte signature, then the IHDR chunk whose first fields are width and height.
size=$(member ./usr/share/icons/hicolor/32x32/apps/compactador.png | od -An -tu1 -j16 -N8 |
       awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }')
[ "$size" = 32x32 ] || problem "32x32 icon is $size"

if [ -n "$jetutil" ]; then
  man=$(member ./usr/share/man/man1/jetutil.1.gz | gzip -dc)
  for verb in $("$jetutil" --help | awk -F '\t' '/^  [a-z]/ { sub(/^  /, "", $1); print $1 }'); do
    grep -qxF ".SS ${verb//-/\\-}" <<<"$man" || problem "jetutil(1) lacks the verb $verb"
  done
fi

if ((fail)); then exit 1; fi
echo "package_contents: $deb OK"
