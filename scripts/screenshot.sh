#!/usr/bin/env bash
# Starts the real program under Xvfb and saves a PNG screenshot of the screen.
# Usage: scripts/screenshot.sh [output.png] [seconds to wait] [device pixel ratio] [command] [screen|window]
# The optional command runs on the same display before the capture, to drive
# the window first (for example with xdotool). "window" saves the program's
# window alone (there is no window manager, so no frame) instead of the screen.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-screenshot.png}
wait=${2:-2}
scale=${3:-1}
what=${5:-screen}
binary=${SONORA_BINARY:-build/src/sonoraccoltiera}
[ -x "$binary" ] || { echo "build the program first ($binary is missing)" >&2; exit 1; }

scratch=$(mktemp -d)
app="" xvfb=""
trap 'kill $app $xvfb 2>/dev/null || true; rm -rf "$scratch"' EXIT
# Xvfb picks a free display and names it once it accepts clients, so runs
# side by side never meet.
Xvfb -displayfd 3 -screen 0 $((1024 * scale))x$((768 * scale))x24 -dpi 96 -nolisten tcp \
  3>"$scratch/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$scratch/display" ] && break
  sleep 0.1
done
[ -s "$scratch/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
display=:$(head -n1 "$scratch/display")
# A screenshot is not a session: the program stays off the desktop's bus,
# so its player controls never take the media keys meanwhile.
DISPLAY=$display QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" DBUS_SESSION_BUS_ADDRESS=unix:path=/dev/null \
  "$binary" &
app=$!
sleep "$wait"
[ -n "${4:-}" ] && DISPLAY=$display bash -c "$4"
if [ "$what" = window ]; then
  id=$(DISPLAY=$display xdotool search --onlyvisible --name '^Sonoraccoltiera - ' | head -n1)
  [ -n "$id" ] || { echo "the program's window is not on the screen" >&2; exit 1; }
  DISPLAY=$display import -window "$id" "$out"
else
  DISPLAY=$display import -window root "$out"
fi
echo "saved $out"
