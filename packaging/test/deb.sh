#!/usr/bin/env bash
# The Debian package end to end: its control fields, its contents, and the
# program it installs started up.
#   deb.sh PACKAGE_DIR SCRATCH_PARENT
# PACKAGE_DIR holds the .deb and, in root/, its files (pacchetto.sh).
set -euo pipefail
debs=("$1"/*.deb)
root=$1/root
scratch=$(mktemp -d "$2/deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

for tool in dpkg-deb readelf gcc; do
  command -v $tool >/dev/null || fail "$tool missing"
done
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = sonoraccoltiera ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"

# --- Depends, one alternative group per line, versions dropped.
depends=$(field Depends)
echo "Depends: $depends"
groups=$(sed -e 's/([^)]*)//g' -e 's/ //g' <<<"$depends" | tr ',' '\n' | sort -u)
group_with() { awk -F'|' -v p="$1" '{ for (i = 1; i <= NF; i++) if ($i == p) { print; next } }' <<<"$groups"; }
for p in qt6-qpa-plugins gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
         gstreamer1.0-plugins-bad gstreamer1.0-libav fonts-liberation2; do
  # Alone in its group: an alternative would make it optional.
  [ "$(group_with "$p")" = "$p" ] || fail "Depends does not require $p"
done
[ -n "$(group_with gstreamer1.0-pulseaudio)" ] && [ -n "$(group_with gstreamer1.0-alsa)" ] ||
  fail "no sound output among the Depends"
[ -n "$(group_with timgm6mb-soundfont)" ] || fail "no General MIDI soundfont among the Depends"

# --- Contents: owned by root, readable by all, only the three programs executable.
dpkg-deb -c "$deb" >"$scratch/contents"
while read -r mode owner _ _ _ path _; do
  [ "$owner" = root/root ] || fail "$path owned by $owner"
  case "$mode:$path" in
    d*) [ "$mode" = drwxr-xr-x ] || fail "$path is $mode" ;;
    *:./usr/bin/sonoraccoltiera | *:./usr/lib/sonoraccoltiera/sonora-riproduttore | *:./usr/lib/sonoraccoltiera/sonora-uscita)
      [ "$mode" = -rwxr-xr-x ] || fail "$path is $mode" ;;
    *) [ "$mode" = -rw-r--r-- ] || fail "$path is $mode" ;;
  esac
done <"$scratch/contents"

share=$root/usr/share
expected=(
  "$root/usr/bin/sonoraccoltiera"
  "$root/usr/lib/sonoraccoltiera/sonora-riproduttore"
  "$root/usr/lib/sonoraccoltiera/sonora-uscita"
  "$share/applications/sonoraccoltiera.desktop"
  "$share/mime/packages/sonoraccoltiera.xml"
  "$share/icons/hicolor/scalable/apps/sonoraccoltiera.svg"
  "$share/man/man1/sonoraccoltiera.1.gz"
  "$share/man/en/man1/sonoraccoltiera.1.gz"
  "$share/doc/sonoraccoltiera/copyright"
  "$share/doc/sonoraccoltiera/changelog.gz"
)
for side in 16 32 48 64 128 256; do
  expected+=("$share/icons/hicolor/${side}x$side/apps/sonoraccoltiera.png")
done
for f in "${expected[@]}"; do
  [ -s "$f" ] || fail "${f#"$root"} missing from the package"
done
binary=$root/usr/bin/sonoraccoltiera
player=$root/usr/lib/sonoraccoltiera/sonora-riproduttore
output=$root/usr/lib/sonoraccoltiera/sonora-uscita
for b in "$binary" "$player" "$output"; do
  readelf -S "$b" | grep -q '\.debug_info' && fail "${b#"$root"} is not stripped"
done

# The names the desktop looks things up by must be the names installed.
entry=$share/applications/sonoraccoltiera.desktop
exec_name=$(sed -n 's/^Exec=//p' "$entry")
[ -x "$root/usr/bin/$exec_name" ] || fail "Exec=$exec_name is not in /usr/bin"
for icon in "$(sed -n 's/^Icon=//p' "$entry")" \
            "$(grep -o '<icon name="[^"]*"' "$share/mime/packages/sonoraccoltiera.xml" | cut -d'"' -f2)"; do
  [ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon '$icon' is not installed"
done

# Every library either program links must come from a package it depends on.
needed=$(readelf -d "$binary" "$player" "$output" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
[ -n "$needed" ] || fail "no NEEDED entries in the programs"
multiarch=$(gcc -print-multiarch)
for lib in $needed; do
  # The native copy, not a 32-bit one that happens to be installed too.
  owner=$(dpkg -S "*/$multiarch/$lib" 2>/dev/null | head -n1 | cut -d: -f1) || true
  [ -n "$owner" ] || fail "no package owns $lib"
  [ -n "$(group_with "$owner")" ] || fail "$lib comes from $owner, which Depends does not name"
done

# --- The installed program starts, from anywhere, and paints its window,
# as the X server of a private display sees it: the window shows, in more
# than a few colours, while the program still runs; without a session bus it
# says nothing about it.
cat >"$scratch/finestra.sh" <<'EOF'
"$1" 2>"$2/stderr" & app=$!
window=$(timeout 40 xdotool search --sync --onlyvisible --pid "$app" 2>/dev/null | head -n1)
[ -n "$window" ] || { kill "$app" 2>/dev/null; echo "no window"; exit 1; }
sleep 1
colours=$(import -window "$window" png:- | convert png:- -format %k info:)
kill "$app" 2>/dev/null || { echo "the program ended"; exit 1; }
echo "$colours"
EOF
out=$(cd / && env -u WAYLAND_DISPLAY HOME="$scratch" XDG_RUNTIME_DIR="$scratch" QT_QPA_PLATFORM=xcb \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/nessun-bus" \
        xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$scratch/finestra.sh" "$binary" "$scratch") ||
  { cat "$scratch/stderr"; fail "the installed program showed no window: $out"; }
[ "$out" -gt 8 ] || { cat "$scratch/stderr"; fail "the installed program's window is blank ($out colours)"; }
[ ! -s "$scratch/stderr" ] || { cat "$scratch/stderr"; fail "the installed program wrote to stderr"; }
echo "the installed program painted its window ($out colours)"

# The player loads: run by hand, it says that the program starts it.
"$player" 2>"$scratch/stderr" && fail "the player ran without the program"
grep -q "a mano" "$scratch/stderr" || { cat "$scratch/stderr"; fail "the installed player does not start"; }
"$output" 2>"$scratch/stderr" && fail "the output process ran without the program"
grep -q "a mano" "$scratch/stderr" || { cat "$scratch/stderr"; fail "the installed output process does not start"; }
echo "the installed player and output process load"
