#!/usr/bin/env bash
# Starts the real program under Xvfb and saves a PNG screenshot of the screen.
# Usage: scripts/screenshot.sh [output.png] [seconds to wait] [device pixel ratio] [command]
# The optional command runs on the same display before the capture, to drive
# the window first (for example with xdotool).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-screenshot.png}
wait=${2:-2}
scale=${3:-1}
binary=${SONORA_BINARY:-build/src/sonoraccoltiera}
[ -x "$binary" ] || { echo "build the program first ($binary is missing)" >&2; exit 1; }

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 $((1024 * scale))x$((768 * scale))x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" "$binary" &
app=$!
sleep "$wait"
[ $# -ge 4 ] && DISPLAY=$display bash -c "$4"
DISPLAY=$display import -window root "$out"
echo "saved $out"
