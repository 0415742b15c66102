#!/usr/bin/env bash
# Builds VanTorel with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ (or
# $BUILD_DIR) and runs the whole test suite there; fails on any test failure or sanitizer
# report. Extra arguments go to ctest (for example -R tst_badinput).
#   bash scripts/sanitize.sh [CTEST ARGUMENTS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-asan}

for tool in cmake ninja ctest; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup.sh as root" >&2; exit 1; }
done

if ! grep -qs '^VANTOREL_SANITIZE:BOOL=ON$' "$build/CMakeCache.txt"; then
    echo "Configuring $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOREL_SANITIZE=ON >/dev/null
fi
cmake --build "$build" -j "${JOBS:-2}"

export QT_QPA_PLATFORM=offscreen
# Qt's own allocations that live until exit would drown any real leak.
export ASAN_OPTIONS=detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
start=$(date +%s)
rc=0
ctest --test-dir "$build" --output-on-failure -j "${TEST_JOBS:-2}" "$@" || rc=$?
echo "Sanitized test run: $(( $(date +%s) - start )) s, ctest exit $rc"
exit "$rc"
