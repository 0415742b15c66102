#!/usr/bin/env bash
# Sets up what is missing, checks the include layers, builds, and runs the whole test suite
# through CTest, after a short fuzzing round of the frame codec, the receive scanner and the
# logger's parser; then the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-asan/ (VANTOREL_SKIP_SANITIZE=1 leaves that out).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/layers.sh"
if [ "${VANTOREL_SKIP_FUZZ:-0}" != 1 ]; then
    "$root/scripts/fuzz.sh" "${VANTOREL_FUZZ_SECONDS:-5}"
fi
export QT_QPA_PLATFORM=offscreen
build=${BUILD_DIR:-$root/build}
BUILD_DIR=$build "$root/scripts/build.sh"
ctest --test-dir "$build" --output-on-failure -j 2
if [ "${VANTOREL_SKIP_SANITIZE:-0}" != 1 ]; then
    BUILD_DIR=${SANITIZE_BUILD_DIR:-$root/build-asan} "$root/scripts/sanitize.sh"
fi
