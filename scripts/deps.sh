#!/usr/bin/env bash
# The one list of what the scripts and tests call, and the Debian packages that bring it.
#   scripts/deps.sh                  installs what the Linux build and its tests need
#   scripts/deps.sh windows          installs what the Windows leg needs (without recommends)
#   scripts/deps.sh --require CMD..  fails, naming the package to install, unless every CMD is
#                                    on the PATH (how a script asks for a tool it calls)
#   scripts/deps.sh --commands       every command of the list, one a line
# After installing, it checks that every command of the set is on the PATH, and fails with one
# line naming the first that is not and the package listed for it.
set -euo pipefail

# set, package, the commands it brings ("-": none, a library, headers or fonts). A package
# with commands is installed when one of them is not on the PATH (so a Node.js installed from
# elsewhere stands for nodejs and npm); one without, when dpkg does not have it. The base set
# is every Debian system's own; "own" are the project's commands, which its package installs.
table='
base    coreutils        basename cat chmod cp cut date dirname env head id ln ls mkdir mkfifo mktemp mv nice nproc od pwd readlink realpath rm seq sha256sum sleep sort stat tail tee touch tr true wc timeout
base    bash             bash
base    grep             grep
base    sed              sed
base    mawk             awk
base    findutils        find xargs
base    diffutils        cmp diff
base    tar              tar
base    gzip             gzip
base    libc-bin         iconv ldd
base    dpkg             dpkg dpkg-deb dpkg-query
base    apt              apt-get
base    git              git
linux   build-essential  make
linux   g++              g++
linux   cmake            cmake ctest cpack
linux   clang            clang clang++
linux   llvm             llvm-profdata llvm-cov
linux   clang-format     clang-format
linux   qt6-base-dev     -
linux   libgtest-dev     -
linux   libgmock-dev     -
linux   mdbtools         mdb-export mdb-tables mdb-schema mdb-ver
linux   nodejs           node
linux   npm              npm
linux   fonts-liberation -
linux   xvfb             xvfb-run Xvfb
linux   xauth            xauth
linux   man-db           man
linux   ccache           ccache
windows g++-mingw-w64-x86-64-posix x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-windres
windows wine             wine wineboot wineserver
windows googletest       -
windows xvfb             xvfb-run Xvfb
windows xauth            xauth
windows xdotool          xdotool
windows mdbtools         mdb-export mdb-tables
windows python3          python3
own     compactador      compactador jetutil
'

# The rows of the sets asked for: "package command..." a line.
rows_of() {
    local want
    for want in "$@"; do
        awk -v set="$want" '$1 == set { $1 = ""; print substr($0, 2) }' <<<"$table"
    done
}

# The package listed for a command, or nothing.
package_of() {
    awk -v cmd="$1" '{ for (i = 3; i <= NF; i++) if ($i == cmd) { print $2; exit } }' <<<"$table"
}

require() {
    local cmd
    for cmd in "$@"; do
        command -v "$cmd" >/dev/null 2>&1 && continue
        local package
        package=$(package_of "$cmd")
        if [ -z "$package" ]; then
            echo "deps.sh: '$cmd' is not on the PATH, and scripts/deps.sh lists no package for it" >&2
        else
            echo "deps.sh: '$cmd' is not on the PATH: install the package $package (scripts/deps.sh)" >&2
        fi
        exit 1
    done
}

case "${1:-}" in
    --require)
        shift
        require "$@"
        exit 0
        ;;
    --commands)
        awk '{ for (i = 3; i <= NF; i++) if ($i != "-") print $i }' <<<"$table" | sort -u
        exit 0
        ;;
    windows)
        sets=(base windows)
        options=(--no-install-recommends)
        ;;
    "")
        sets=(base linux)
        options=()
        ;;
    *)
        echo "usage: scripts/deps.sh [windows | --require CMD... | --commands]" >&2
        exit 2
        ;;
esac

missing=()
while read -r package commands; do
    [ -n "$package" ] || continue
    if [ "$commands" = - ]; then
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
        continue
    fi
    for cmd in $commands; do
        if ! command -v "$cmd" >/dev/null 2>&1; then
            missing+=("$package")
            break
        fi
    done
done < <(rows_of "${sets[@]}")

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${options[@]}" "${missing[@]}"
fi

# Whatever was installed, every command of the sets must now be there.
for cmd in $(rows_of "${sets[@]}" | awk '{ for (i = 2; i <= NF; i++) if ($i != "-") print $i }'); do
    require "$cmd"
done
