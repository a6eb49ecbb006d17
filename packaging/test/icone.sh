#!/usr/bin/env bash
# The PNGs rendered at build time: the size each theme folder promises, a
# transparent background, and a picture on it.
set -euo pipefail
dir=$1; shift
fail() { echo "FAIL: $*"; exit 1; }
command -v identify >/dev/null || fail "identify missing: install imagemagick"

for side in "$@"; do
  png=$dir/${side}x${side}/apps/sonoraccoltiera.png
  [ -s "$png" ] || fail "$png missing"
  read -r format w h alpha < <(identify -format '%m %w %h %A\n' "$png")
  [ "$format" = PNG ] || fail "$png is $format"
  [ "$w x $h" = "$side x $side" ] || fail "$png is ${w}x$h, not ${side}x$side"
  [[ $alpha =~ ^(True|Blend)$ ]] || fail "$png has no alpha channel"
  # Mean opacity: 0 would be an empty picture, 1 an opaque square.
  mean=$(convert "$png" -alpha extract -format '%[fx:mean]' info:)
  awk -v m="$mean" 'BEGIN { exit !(m > 0.1 && m < 0.9) }' ||
    fail "$png: mean opacity $mean, not a picture on a transparent background"
  echo "$png: ${w}x$h, opacity $mean"
done
