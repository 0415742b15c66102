#!/usr/bin/env bash
# Sets up what is missing, builds, starts a simulated temperature and humidity logger and
# opens VanTorel on it in a fresh working directory under run/. Without a display the
# window runs on a virtual one (Xvfb) and a screenshot is saved after the first refreshes,
# then one of the campaign window on that logger's download and one of the fleet window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build}
# Only what is shown: the window, the simulated logger and the screenshot tools (the tests
# and benchmarks are built by scripts/test.sh and scripts/bench.sh).
BUILD_TARGETS="vantorel vantorel-logger-sim vantorel-screenshot vantorel-sim-export" "$root/scripts/build.sh"
build=$BUILD_DIR

session="$root/run/$(date +%Y%m%d_%H%M%S)"
mkdir -p "$session"
cp -r "$root/icon" "$session/"
port="$session/ttyLOGGER"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

"$build/sim/vantorel-logger-sim" "$port" --type 3 --records 300 --period-code 7 >"$session/logger.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
[ -e "$port" ] || { echo "the simulated logger did not start: see $session/logger.log" >&2; exit 1; }
echo "Simulated logger on $port"

printf '[COM]\nCOM_PORT=%s\n' "$port" >"$session/config.ini"
export VANTOREL_EXTRA_PORTS="$port"
cd "$session"

if [ -n "${DISPLAY:-}" ] && [ "${VANTOREL_HEADLESS:-0}" != 1 ]; then
    "$build/app/vantorel"
    exit 0
fi

display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$session/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
# A virtual display has no login session: give the programs the runtime directory one would.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$session/runtime}
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
unset QT_QPA_PLATFORM

"$build/app/vantorel" >"$session/vantorel.log" 2>&1 &
pids+=($!)
sleep "${VANTOREL_SCREENSHOT_DELAY:-5}"
"$build/tools/vantorel-screenshot" "$session/screenshot.png"
echo "Screenshot of the window: $session/screenshot.png"

# The campaign window on the file a download of that logger gives, with limits set.
kill "${pids[-1]}" 2>/dev/null || true
"$build/tools/vantorel-sim-export" "$session/download.tsv" 3 300 7
printf '[CAMPAIGN_LIMITS]\nTYPE3_COLUMN1_LOW=20\nTYPE3_COLUMN1_HIGH=21.5\n' >>"$session/config.ini"
"$build/app/vantorel" "$session/download.tsv" >"$session/vantorel-campaign.log" 2>&1 &
pids+=($!)
sleep "${VANTOREL_SCREENSHOT_DELAY:-5}"
"$build/tools/vantorel-screenshot" "$session/campaign.png" 1000 720
echo "Screenshot of the campaign window: $session/campaign.png"

# The fleet window on four loggers of different types: the first one and three more.
kill "${pids[-1]}" 2>/dev/null || true
fleet_ports="$port"
for logger in "1 2001" "7 2002" "6 2003"; do
    set -- $logger
    "$build/sim/vantorel-logger-sim" "$session/ttyFLEET$2" --type "$1" --address "$2" --records 500 >>"$session/logger.log" 2>&1 &
    pids+=($!)
    fleet_ports="$fleet_ports:$session/ttyFLEET$2"
done
for _ in $(seq 50); do [ -e "$session/ttyFLEET2003" ] && break; sleep 0.1; done
VANTOREL_EXTRA_PORTS="$fleet_ports" "$build/app/vantorel" --fleet >"$session/vantorel-fleet.log" 2>&1 &
pids+=($!)
sleep "${VANTOREL_SCREENSHOT_DELAY:-5}"
"$build/tools/vantorel-screenshot" "$session/fleet.png" 1270 300
echo "Screenshot of the fleet window: $session/fleet.png"
