#!/usr/bin/env bash
# Fails when a file of the engine includes a header of a layer it does not link: the include
# graph between the layers stays the DAG that jet/CMakeLists.txt declares.
set -euo pipefail
cd "$(dirname "$0")/.."
# What each layer may include: itself and the layers it links, directly or through another,
# as the jet_layer(<layer> <linked>...) lines of jet/CMakeLists.txt declare them.
declare -A links=() allowed=()
while read -r layer linked; do
    links[$layer]=$linked
done < <(sed -n 's/^jet_layer(\([a-z_ ]*\))$/\1/p' jet/CMakeLists.txt)
closure() {
    local layer=$1 below
    echo "$layer"
    for below in ${links[$layer]}; do closure "$below"; done
}
for layer in "${!links[@]}"; do
    allowed[$layer]=$(closure "$layer" | sort -u | tr '\n' ' ')
done
((${#allowed[@]} > 0)) || { echo "check_layers: no jet_layer() in jet/CMakeLists.txt"; exit 1; }
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
