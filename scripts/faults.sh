#!/usr/bin/env bash
# The fault-injection suite in full: per fault on the line, COUNT downloads of a full
# 128 KiB record memory and COUNT campaign starts (default 5), then the table. Exits
# non-zero when any outcome the program reported was not the truth. Half an hour or so
# at the default count on two cores.
# Further arguments go to bench_faults: --kib N, --only TEXT, --late MS, --seed N.
#   bash scripts/faults.sh [COUNT] [ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench_faults
export QT_QPA_PLATFORM=offscreen
export QT_LOGGING_RULES=${QT_LOGGING_RULES:-qt.qpa.*=false}
exec "$build/bench/bench_faults" "$@"
