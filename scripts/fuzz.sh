#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 into build-fuzz/ (or $BUILD_DIR), runs each for
# SECONDS seconds (default 60) and prints executions and crashes; fails if any target crashed.
# The corpus grows in a copy under the build directory; fuzz/corpus keeps only the seeds.
# Inputs in fuzz/regressions/<target>/ are replayed at the start of each run.
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
shopt -s nullglob

seconds=${1:-60}
case $seconds in
    '' | *[!0-9]* | 0) echo "usage: $0 [SECONDS > 0]" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
targets=(fuzz_checkanswer fuzz_framecollector fuzz_simparser fuzz_exportreader fuzz_auditevent)
# The libraries under test need the coverage and sanitizer instrumentation too.
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

for tool in clang++-14 cmake ninja; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup.sh as root" >&2; exit 1; }
done

if ! grep -qs '^VANTOREL_FUZZ:BOOL=ON$' "$build/CMakeCache.txt"; then
    echo "Configuring $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++-14 -DVANTOREL_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" >/dev/null
fi
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target "${targets[@]}"

# Qt has no frame pointers: deeper allocation stacks come out as garbage, each one new, and
# ASan's store of them grows without end. Replay a crash with fast_unwind_on_malloc=0.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:malloc_context_size=2}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
run="$build/fuzz-run"
rows=()
failed=()
for target in "${targets[@]}"; do
    corpus="$run/corpus/$target"
    artifacts="$run/artifacts/$target"
    log="$run/$target.log"
    mkdir -p "$corpus" "$artifacts"
    for seed in "$root/fuzz/corpus/$target"/*; do
        [ -e "$corpus/${seed##*/}" ] || cp "$seed" "$corpus/"
    done
    inputs=("$corpus")
    [ -d "$root/fuzz/regressions/$target" ] && inputs+=("$root/fuzz/regressions/$target")

    echo "Running $target for $seconds s"
    rc=0
    "$build/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -dict="$root/fuzz/frames.dict" -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "${inputs[@]}" >"$log" 2>&1 || rc=$?

    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    crash=0
    if [ "$rc" -ne 0 ]; then
        artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
        crash=${artifact:-"exit $rc, see $log"}
        failed+=("$target")
    fi
    rows+=("$(printf '%-20s %12s %8s  %s' "$target" "${executions:-?}" "${rate:-?}" "$crash")")
done

echo
printf '%-20s %12s %8s  %s\n' target executions exec/s crashes
printf '%s\n' "${rows[@]}"
for target in "${failed[@]}"; do
    echo
    echo "---- $target: end of $run/$target.log"
    tail -n 40 "$run/$target.log"
done
[ ${#failed[@]} -eq 0 ]
