#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite through CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j 2
