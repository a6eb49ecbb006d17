#!/usr/bin/env bash
# Installs what is missing, builds Sonoraccoltiera and makes its Debian
# package; prints the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what the package holds: the programs, their icons, manual pages,
# copyright and changelog; and the screenshot that software centres show,
# for publishing beside the package.
cmake --build build --target sonoraccoltiera sonora_icone sonora_documenti sonora_screenshot -j"$(nproc)"
# A package left from an earlier version would be mistaken for this one.
rm -f build/sonoraccoltiera_*.deb
(cd build && cpack -G DEB)
deb=$(ls build/sonoraccoltiera_*.deb)
echo "$(pwd)/$deb"
