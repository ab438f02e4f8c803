#!/usr/bin/env bash
# Every command a script of the project calls (scripts/, tests/*.sh, .ci/run) is one that
# scripts/deps.sh lists with the package that brings it, or a builtin of bash, or a function
# of the scripts, or a file of the project (a path). Prints each command that is none of
# these, with the scripts that call it; exit 1 when there is one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts=(scripts/*.sh tests/*.sh .ci/run)

listed=$(scripts/deps.sh --commands)
known=$(compgen -b; compgen -k)
# Functions the scripts define (sourced files included), as the pretty printer writes them.
functions=$(for s in "${scripts[@]}"; do bash --pretty-print "$s"; done |
    sed -n -e 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\) () *$/\1/p' | sort -u)

unlisted=0
checked=0
declare -A callers=()
for s in "${scripts[@]}"; do
    while read -r cmd; do
        checked=$((checked + 1))
        grep -qxF -- "$cmd" <<<"$listed" && continue
        grep -qxF -- "$cmd" <<<"$known" && continue
        grep -qxF -- "$cmd" <<<"$functions" && continue
        callers[$cmd]="${callers[$cmd]:-} $s"
    done < <(bash --pretty-print "$s" | awk -f tests/script_commands.awk | sort -u)
done
for cmd in "${!callers[@]}"; do
    echo "script commands: '$cmd' (called by${callers[$cmd]}) is not listed in scripts/deps.sh"
    unlisted=$((unlisted + 1))
done
echo "script commands: ${#scripts[@]} scripts, $checked commands, $unlisted not listed"
[ "$unlisted" = 0 ]
