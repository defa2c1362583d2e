#!/usr/bin/env bash
# Fails when a source of one of the component's layers includes a header from a layer above its own, or from the
# stand-in host, the tests or the benchmarks, which sit beside the layers and may use any of them.
# usage: include_direction.sh SOURCE_DIR
set -euo pipefail
root=$1
# Lowest first: each may include its own and the ones before it.
layers=(boundary win32 text settings pipeline ui module)

rank_of() {
    local index
    for index in "${!layers[@]}"; do
        if [ "${layers[$index]}" = "$1" ]; then
            echo "$index"
            return
        fi
    done
    echo none
}

status=0
checked=0
for own in "${!layers[@]}"; do
    layer=${layers[$own]}
    while IFS=: read -r file line header; do
        checked=$((checked + 1))
        above=$(rank_of "${header%%/*}")
        if [ "$above" = none ] || [ "$above" -gt "$own" ]; then
            echo "${file#"$root"/}:$line: $layer includes $header" >&2
            status=1
        fi
    done < <(grep -rnoE '^#include "[a-z0-9_]+/[^"]+"' "$root/$layer" --include='*.h' --include='*.cpp' --include='*.rc' |
        sed -E 's/#include "([^"]+)"$/\1/')
done
[ "$status" -eq 0 ] && echo "$checked includes in ${#layers[@]} layers, each from its own layer or one below"
exit "$status"
