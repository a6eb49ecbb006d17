#!/usr/bin/env bash
# The window on Wayland: a headless Weston of its own; in it, the real
# program's own start-up (built with a first-paint watcher) run to its first paint, then the window's checks (test_wayland).
# Skipped (77) where weston is missing.
#   wayland.sh TEST_PROGRAM PROGRAM SCREENSHOT_FOLDER
set -euo pipefail
checks=$1
program=$2
shots=$3
command -v weston >/dev/null || { echo "SKIP: weston missing: install weston and qt6-wayland"; exit 77; }
fail() { echo "FAIL: $*"; [ -f "$runtime/weston.log" ] && tail -n 20 "$runtime/weston.log"; exit 1; }

runtime=$(mktemp -d)
chmod 700 "$runtime"
weston=""
trap 'kill $weston 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-sonora QT_QPA_PLATFORM=wayland
unset DISPLAY
# Under the leak checker: what Mesa's EGL set-up keeps for the whole process
# is told apart from our own leaks only by a full stack.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
# Pixman draws the screen, so the screenshots hold what a person would see;
# --debug lets weston-screenshooter take them. Windows come and go at once,
# without fading: a closed window fading out would stay in the next
# screenshots.
printf '[shell]\nanimation=none\nclose-animation=none\nstartup-animation=none\n' >"$runtime/weston.ini"
weston --backend=headless-backend.so --use-pixman --debug --idle-time=0 --width=1024 --height=768 \
  --config="$runtime/weston.ini" --socket="$WAYLAND_DISPLAY" --log="$runtime/weston.log" &
weston=$!
for _ in $(seq 100); do
  [ -S "$runtime/$WAYLAND_DISPLAY" ] && break
  kill -0 $weston 2>/dev/null || fail "weston ended"
  sleep 0.1
done
[ -S "$runtime/$WAYLAND_DISPLAY" ] || fail "weston never opened its socket"
echo "weston $(weston --version | cut -d' ' -f2), headless, 1024x768"

# The program itself: its window paints only once the compositor has
# configured it. No session bus here, and it must not say so.
out=$(DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/nessun-bus" \
        timeout 30 "$program" 2>"$runtime/stderr") || { cat "$runtime/stderr"; fail "the program ended badly"; }
grep -Eqx 'first-paint [0-9]+' <<<"$out" || { cat "$runtime/stderr"; fail "the program never painted"; }
[ ! -s "$runtime/stderr" ] || { cat "$runtime/stderr"; fail "the program wrote to stderr"; }
echo "seen on Wayland: the program's window painted"

SONORA_SCHERMATE=$shots "$checks"
