#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite through CTest, after a
# short fuzzing round of the frame codec, the receive scanner and the logger's parser.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
if [ "${VANTOREL_SKIP_FUZZ:-0}" != 1 ]; then
    "$root/scripts/fuzz.sh" "${VANTOREL_FUZZ_SECONDS:-5}"
fi
export QT_QPA_PLATFORM=offscreen
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j 2
