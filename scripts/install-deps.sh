#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Used by both README commands and by CI; safe to run again.
# With --bench, also what the benchmarks measure with and compare against.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # window, dialogs, timers, fonts; SVG for drawing the pictures when building
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins qt6-translations-l10n libfontconfig-dev
  # media playback
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-tools gstreamer1.0-alsa gstreamer1.0-pulseaudio
  # the output asks the sound server which format its sink takes
  libpulse-dev
  # confining the player process (seccomp filter)
  libseccomp-dev
  # the MIDI synthesiser (its header; the player loads the library itself) and
  # General MIDI instruments for it: a small SF2 and a large compressed SF3,
  # so that the tests also play with the soundfont a desktop often has
  libfluidsynth-dev timgm6mb-soundfont fluidr3mono-gm-soundfont
  # the interface font
  fonts-liberation2 fonts-dejavu-core
  # tests, benchmarks, screenshots
  libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth x11-apps imagemagick xdotool
  # benchmarks built with the tests read the video window's pixels back and
  # click as a person would (Xlib and its test extension)
  libx11-dev libxtst-dev
  # a private PulseAudio server with a null sink, and its recorder: the
  # confined player is heard at a real audio output (also for benchmarks)
  pulseaudio pulseaudio-utils
  # packaging and its checks
  dpkg-dev file desktop-file-utils libxml2-utils shared-mime-info lintian appstream
  # a private session bus for testing the desktop's player controls
  dbus-daemon
  # the window checked on Wayland, in a headless compositor
  weston qt6-wayland
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(
    # the peer players: gst-play-1.0 (its X11 picture sink too), mpv, Audacious
    gstreamer1.0-plugins-base-apps gstreamer1.0-x mpv audacious
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
