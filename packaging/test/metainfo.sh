#!/usr/bin/env bash
# The software-centre metadata, as installed: valid for AppStream, and
# naming what the package really installs (desktop entry, program, file
# type, version) and the screenshot really made.
#   metainfo.sh ROOT SCREENSHOT
# ROOT is the unpacked package; SCREENSHOT the PNG made at build time, or
# empty where it could not be made.
set -euo pipefail
root=$1
screenshot=$2
fail() { echo "FAIL: $*"; exit 1; }
for tool in appstreamcli xmllint; do
  command -v $tool >/dev/null || fail "$tool missing: install appstream and libxml2-utils"
done

files=("$root"/usr/share/metainfo/*.metainfo.xml)
[ ${#files[@]} -eq 1 ] && [ -f "${files[0]}" ] || fail "expected one metainfo file, got: ${files[*]}"
metainfo=${files[0]}
# Warnings fail too: software centres drop or demote what they warn about.
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
# The tree as installed: the launchable's desktop entry and its icon are there.
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"

value() { xmllint --xpath "string($1)" "$metainfo"; }
id=$(value /component/id)
[ "$(basename "$metainfo")" = "$id.metainfo.xml" ] || fail "$(basename "$metainfo") is not named after its id $id"
binary=$(value '/component/provides/binary')
[ -x "$root/usr/bin/$binary" ] || fail "provides binary $binary, not in /usr/bin"
mime=$(value '/component/provides/mediatype')
grep -q "<mime-type type=\"$mime\">" "$root"/usr/share/mime/packages/*.xml || fail "provides $mime, which the package does not define"
for lang in "" it; do
  if [ -z "$lang" ]; then sel='not(@xml:lang)'; else sel="@xml:lang='$lang'"; fi
  [ -n "$(value "/component/summary[$sel]")" ] || fail "no summary for '${lang:-C}'"
  [ -n "$(value "/component/description/p[$sel]")" ] || fail "no description for '${lang:-C}'"
done

# The newest release is the package, and the changelog's newest entry.
release=$(value '/component/releases/release[1]/@version')
changelog=$(zcat "$root/usr/share/doc/sonoraccoltiera/changelog.gz" | head -n1 | sed -n 's/^[^(]*(\([^)]*\)).*/\1/p')
[ "$release" = "$changelog" ] || fail "release $release, changelog $changelog"

if [ -n "$screenshot" ]; then
  command -v identify >/dev/null || fail "identify missing: install imagemagick"
  read -r w h < <(identify -format '%w %h\n' "$screenshot")
  [ "$w x $h" = "$(value '//screenshot/image/@width') x $(value '//screenshot/image/@height')" ] ||
    fail "the screenshot is ${w}x$h, the metadata says otherwise"
fi
echo "metainfo valid: $id $release"
