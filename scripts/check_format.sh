#!/usr/bin/env bash
# Fails when a C++ file of the repository is not formatted as .clang-format says. Generated
# tables opt out with "// clang-format off". Fix with: scripts/check_format.sh --fix
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.inc')
if [[ ${1:-} == --fix ]]; then
    clang-format -i "${files[@]}"
    exit 0
fi
report=$(mktemp)
trap 'rm -f "$report"' EXIT
if ! clang-format --dry-run -Werror "${files[@]}" 2>"$report"; then
    grep -oE '^[^:]+:[0-9]+:[0-9]+: error' "$report" | cut -d: -f1 | sort -u |
        sed 's/^/not formatted: /'
    echo "check_format: run scripts/check_format.sh --fix"
    exit 1
fi
echo "check_format: ${#files[@]} files formatted"
