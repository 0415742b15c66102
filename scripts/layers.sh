#!/usr/bin/env bash
# Lists which folder includes which (from the `#include "..."` lines, each header taken to
# the folder that holds it) and fails on an include upward, between siblings, or in a cycle.
# Lower layers first; a layer of several folders holds siblings that may not include each
# other. A folder not yet written is simply absent. sim, tools, tests, bench and fuzz may
# include anything and are not checked; any other folder with sources must be placed here.
#   bash scripts/layers.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

layers=("config" "logger link" "device" "archive" "station signing" "campaign" "widgets" "dialogs" "app" "cli")
outside=" sim tools tests bench fuzz "

declare -A rank
for i in "${!layers[@]}"; do
    for folder in ${layers[$i]}; do rank[$folder]=$i; done
done

# Every file the tree holds, tracked or new; build directories are left out.
files() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files --cached --others --exclude-standard
    else
        find . -path './build*' -prune -o -path './.git' -prune -o -type f -print | sed 's|^\./||'
    fi
}
mapfile -t sources < <(files | grep -E '\.(h|cpp)$' | grep '/' | sort)

# Header name -> the folders that hold it; generated headers belong to their template's folder.
declare -A home
for file in "${sources[@]}" $(files | grep -E '\.h\.in$'); do
    name=${file##*/}
    name=${name%.in}
    home[$name]+="${file%%/*} "
done

status=0
declare -A edges
for file in "${sources[@]}"; do
    from=${file%%/*}
    [[ $outside == *" $from "* ]] && continue
    if [ -z "${rank[$from]+set}" ]; then
        echo "layers: $from/ has sources but no place in the layer order (scripts/layers.sh)" >&2
        status=1
        continue
    fi
    while IFS= read -r header; do
        name=${header##*/}
        folders=${home[$name]:-}
        # Headers of no folder here (generated forms, Qt) do not count.
        [ -z "$folders" ] && continue
        to=""
        for folder in $folders; do
            [ "$folder" = "$from" ] && to=$from
        done
        if [ -z "$to" ]; then
            set -- $folders
            if [ $# -gt 1 ]; then
                echo "layers: $file includes \"$header\", held by several folders: $folders" >&2
                status=1
                continue
            fi
            to=$1
        fi
        [ "$to" = "$from" ] && continue
        edges["$from $to"]+="$file "
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done

echo "Folder includes (folder -> folder, include lines):"
for edge in $(printf '%s\n' "${!edges[@]}" | tr ' ' '>' | sort); do
    from=${edge%>*}
    to=${edge#*>}
    files=${edges["$from $to"]}
    count=$(wc -w <<<"$files")
    problem=""
    if [ -z "${rank[$to]+set}" ]; then
        [[ $outside == *" $to "* ]] && problem="includes a folder outside the product ($to)"
    elif [ "${rank[$to]}" -gt "${rank[$from]}" ]; then
        problem="upward"
    elif [ "${rank[$to]}" -eq "${rank[$from]}" ]; then
        problem="between siblings"
    fi
    printf '  %-9s -> %-9s %3d\n' "$from" "$to" "$count"
    if [ -n "$problem" ]; then
        echo "layers: $from -> $to is $problem: $files" >&2
        status=1
    fi
done

# A cycle needs an upward edge, reported above; tsort names the folders in it as well.
if ! printf '%s\n' "${!edges[@]}" | tsort >/dev/null 2>/tmp/layers.$$; then
    echo "layers: include cycle between folders:" >&2
    cat /tmp/layers.$$ >&2
    status=1
fi
rm -f /tmp/layers.$$

[ "$status" -eq 0 ] && echo "Layers: no include upward, between siblings or in a cycle."
exit "$status"
