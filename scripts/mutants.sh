#!/usr/bin/env bash
# Plants faults in the product one at a time and runs the test suite against each: a fault
# the suite does not notice is a hole in the tests. Works in a throw-away copy of the tree
# with its own build directory, so the working tree is never left changed.
#
#   bash scripts/mutants.sh [LIST] [MATCH]
#
# LIST (default scripts/mutants.txt): one fault a line, four fields separated by " @@ ":
#   file @@ exact text @@ replacement @@ what the fault is
# The text must occur exactly once in the file; when it does not (the code moved or
# changed), the fault is reported "not applicable". Lines starting with # are comments.
# MATCH: only the faults whose line contains it. Tests run fastest first and stop at the
# first failure. Environment: MUTANT_DIR (the copy, default a temporary directory, removed
# afterwards unless KEEP=1), TEST_TIMEOUT (seconds a test may take, default 300).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$(realpath "${1:-$root/scripts/mutants.txt}")
match=${2:-}
work=${MUTANT_DIR:-$(mktemp -d /tmp/vantorel-mutants.XXXXXX)}
build=$work/build
timeout_s=${TEST_TIMEOUT:-300}
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT

# The tracked files as they are now, uncommitted changes included. A copy kept from an
# earlier run (KEEP=1) keeps only its build directory.
mkdir -p "$work"
find "$work" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
(cd "$root" && git ls-files -z | tar --null -T - -cf -) | tar -xmf - -C "$work"
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$(command -v ccache || true)}
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false'
cmake -S "$work" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# Pure and link-level tests first: most faults are caught within seconds.
order=(tst_logger_status tst_logger_records tst_transactions tst_incremental tst_device tst_badinput tst_station tst_cli
       tst_mainwindow tst_startcampaign tst_download)
tests() {
    local t
    for t in "${order[@]}"; do [ -f "$work/tests/$t.cpp" ] && echo "$t"; done
    for t in "$work"/tests/tst_*.cpp; do
        t=$(basename "$t" .cpp)
        [[ " ${order[*]} " == *" $t "* ]] || echo "$t"
    done
}
# Prints the first failing test, or nothing.
first_failure() {
    local t
    for t in $(tests); do
        (cd "$build/tests" && timeout "$timeout_s" "./$t" >/dev/null 2>&1) || { echo "$t"; return; }
    done
}

# shellcheck disable=SC2046
cmake --build "$build" -j "$(nproc)" --target $(tests) >/dev/null || { echo "the unchanged tree does not build" >&2; exit 1; }
failing=$(first_failure)
[ -z "$failing" ] || { echo "the unchanged tree already fails $failing: fix that first" >&2; exit 1; }

caught=0 survived=0 skipped=0 survivors=()
while IFS= read -r line; do
    [[ -z "${line// }" || "$line" == \#* ]] && continue
    [ -z "$match" ] || [[ "$line" == *"$match"* ]] || continue
    file=${line%% @@ *}
    description=${line##* @@ }
    cp "$work/$file" "$work/$file.orig" 2>/dev/null || { echo "n/a       $description (no $file)"; skipped=$((skipped + 1)); continue; }
    if ! python3 - "$work/$file" "$line" <<'EOF'
import sys
path, line = sys.argv[1], sys.argv[2]
fields = line.split(" @@ ")
if len(fields) != 4:
    sys.exit(2)
text, replacement = fields[1], fields[2]
source = open(path, encoding="utf-8").read()
if source.count(text) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(source.replace(text, replacement))
EOF
    then
        echo "n/a       $description (text not found once in $file)"
        skipped=$((skipped + 1))
        rm -f "$work/$file.orig"
        continue
    fi
    # shellcheck disable=SC2046
    if ! cmake --build "$build" -j "$(nproc)" --target $(tests) >/dev/null 2>&1; then
        echo "n/a       $description (does not build)"
        skipped=$((skipped + 1))
    else
        failing=$(first_failure)
        if [ -n "$failing" ]; then
            echo "caught    $description ($failing)"
            caught=$((caught + 1))
        else
            echo "SURVIVED  $description ($file)"
            survived=$((survived + 1))
            survivors+=("$description")
        fi
    fi
    mv "$work/$file.orig" "$work/$file"
    touch "$work/$file"
done < "$list"

applicable=$((caught + survived))
echo "---"
echo "$((applicable + skipped)) faults: $caught caught, $survived survived, $skipped not applicable;" \
     "$(( applicable ? 100 * caught / applicable : 0 ))% of the applicable ones caught"
[ "$survived" -eq 0 ]
