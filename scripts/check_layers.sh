#!/usr/bin/env bash
# Fails when a file of the engine includes a header of a layer it does not link: the include
# graph between the layers stays the DAG that jet/CMakeLists.txt declares.
set -euo pipefail
cd "$(dirname "$0")/.."
# What each layer may include: itself and the layers it links (jet/CMakeLists.txt), directly
# or through another.
declare -A allowed=(
    [base]="base"
    [format]="base format"
    [keys]="base format keys"
    [read]="base format keys read"
    [write]="base format keys read write"
    [update]="base format update"
    [database]="base format keys read update database"
    [rebuild]="base format keys read write update database rebuild"
    [testing]="base format keys read write update database rebuild testing"
)
bad=0 edges=0
while IFS= read -r file; do
    own=${file#jet/}; own=${own%%/*}
    [[ -n ${allowed[$own]:-} ]] || { echo "check_layers: $file is in no layer"; bad=1; continue; }
    while IFS= read -r used; do
        edges=$((edges + 1))
        if [[ " ${allowed[$own]} " != *" $used "* ]]; then
            echo "check_layers: $file ($own) includes jet/$used/"; bad=1
        fi
    done < <(sed -n 's|^#include "jet/\([a-z]*\)/.*|\1|p' "$file")
done < <(git ls-files 'jet/*.h' 'jet/*.cpp' 'jet/*.inc')
((bad == 0)) && echo "check_layers: $edges includes inside jet/, each within what its layer links"
exit $bad
