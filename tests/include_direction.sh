#!/usr/bin/env bash
# Fails when a source of one of the component's layers includes a header from a layer above its own, or from the
# stand-in host, the tests or the benchmarks, which sit beside the layers and may use any of them. The output thread's
# layer and the overlay's also stay clear of the settings and the formatting: what their threads need is handed over.
# usage: include_direction.sh SOURCE_DIR        checks the tree
#        include_direction.sh --planted SOURCE_DIR   checks that an upward include planted in a copy is found
set -euo pipefail

if [ "${1:-}" = "--planted" ]; then
    copy=$(mktemp -d)
    trap 'rm -rf "$copy"' EXIT
    layer_dirs=(boundary win32 text art settings formatting output overlay events ui module)
    for dir in "${layer_dirs[@]}"; do cp -r "$2/$dir" "$copy/"; done
    status=0
    for plant in "output/file_step.cpp:settings/component_settings.h" "formatting/text_formatting.cpp:output/output_job.h" \
                 "events/init_quit_hook.cpp:ui/preferences_window.h" "win32/srw_lock.h:text/utf8_string.h" \
                 "art/cover_art.cpp:settings/component_settings.h" \
                 "overlay/http_request.cpp:settings/component_settings.h" "output/file_step.cpp:overlay/overlay_server.h"; do
        file=${plant%%:*}
        cp "$2/$file" "$copy/$file"
        echo "#include \"${plant#*:}\"" >>"$copy/$file"
        if bash "$0" "$copy" >/dev/null 2>&1; then
            echo "the planted include of ${plant#*:} in $file was not found" >&2
            status=1
        fi
        cp "$2/$file" "$copy/$file"
    done
    [ "$status" -eq 0 ] && echo "every planted upward include was found"
    exit "$status"
fi

root=$1
# Lowest first; a layer may include its own, the ones of a lower rank, and not those of its forbidden list.
layers=(boundary win32 text art settings formatting output overlay events ui module)
rank_of() {
    case $1 in
        boundary | win32) echo 0 ;;
        text) echo 1 ;;
        art) echo 2 ;;
        settings) echo 3 ;;
        formatting) echo 4 ;;
        output) echo 5 ;;
        overlay) echo 6 ;;
        events) echo 7 ;;
        ui) echo 8 ;;
        module) echo 9 ;;
        *) echo none ;;
    esac
}
forbidden_for() {
    case $1 in
        output | overlay) echo "settings formatting" ;;
        *) echo "" ;;
    esac
}

status=0
checked=0
for layer in "${layers[@]}"; do
    own=$(rank_of "$layer")
    forbidden=" $(forbidden_for "$layer") "
    while IFS=: read -r file line header; do
        checked=$((checked + 1))
        included=${header%%/*}
        above=$(rank_of "$included")
        if [ "$above" = none ] || [ "$above" -gt "$own" ] || [[ "$forbidden" == *" $included "* ]]; then
            echo "${file#"$root"/}:$line: $layer includes $header" >&2
            status=1
        fi
    done < <(grep -rnoE '^#include "[a-z0-9_]+/[^"]+"' "$root/$layer" --include='*.h' --include='*.cpp' --include='*.rc' |
        sed -E 's/#include "([^"]+)"$/\1/')
done
[ "$status" -eq 0 ] && echo "$checked includes in ${#layers[@]} layers, each from its own layer or one below"
exit "$status"
