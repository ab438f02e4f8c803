#!/bin/sh
# Runs one test process (every argument is its command line) in a home of its own: HOME,
# XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and TMPDIR point into a
# folder made fresh for this process and removed when it ends, so no test reads what the user,
# another test or an earlier run left behind (Qt's settings, a lock file, a temporary), and
# none writes into the user's own configuration. ctest starts every test through this script
# (tests/CMakeLists.txt); it passes the test's exit status on.
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/compactador-test.XXXXXX") || exit 125
trap 'rm -rf "$root"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir -p "$root/home/.config" "$root/home/.local/share" "$root/home/.cache" "$root/run" "$root/tmp"
chmod 700 "$root/run"
HOME=$root/home
XDG_CONFIG_HOME=$root/home/.config
XDG_DATA_HOME=$root/home/.local/share
XDG_CACHE_HOME=$root/home/.cache
XDG_RUNTIME_DIR=$root/run
TMPDIR=$root/tmp
export HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR TMPDIR
"$@"
