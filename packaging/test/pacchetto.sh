#!/usr/bin/env bash
# Builds the Debian package from this build tree for the package's tests,
# into OUT_DIR, and unpacks it into OUT_DIR/root.
#   pacchetto.sh BUILD_TREE OUT_DIR
set -euo pipefail
build=$1
out=$2
fail() { echo "FAIL: $*"; exit 1; }
for tool in cpack dpkg-deb; do
  command -v $tool >/dev/null || fail "$tool missing"
done

rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out/cpack" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; fail "cpack failed"; }
debs=("$out"/cpack/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
mv "${debs[0]}" "$out/"
rm -rf "$out/cpack"
dpkg -x "$out"/*.deb "$out/root"
echo "built $(basename "$out"/*.deb)"
