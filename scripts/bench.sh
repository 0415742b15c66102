#!/usr/bin/env bash
# Builds and runs the benchmarks: record pass, download against the simulated logger at
# 115200 bit/s and unpaced, once-a-second polling. A few minutes on two cores.
# The first argument is the polling time in seconds (default 60).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build}
export BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
echo "== record pass"
"$BUILD_DIR/bench/bench_recordpass"
echo "== download and polling"
"$BUILD_DIR/bench/bench_download" "${1:-60}"
echo "== campaign window: reading export files, zoom, report"
"$BUILD_DIR/bench/bench_campaign"
echo "== station: four loggers read at once against one alone"
"$BUILD_DIR/bench/bench_station"
echo "== fleet window: eight loggers, then four read at once against one alone"
"$BUILD_DIR/bench/bench_fleet"
echo "== station: scrapes under 100 slow clients and a 100 MiB header"
"$BUILD_DIR/bench/bench_stationdoors"
