#!/usr/bin/env bash
# The compilation file type, read the way every desktop reads it: through a
# database made by update-mime-database. That tool shrugs at unknown elements
# and even at broken XML, so what it produced is what is checked.
set -euo pipefail
xml=$1
scratch=$(mktemp -d "$2/mime.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

for tool in xmllint update-mime-database; do
  command -v $tool >/dev/null || fail "$tool missing: install libxml2-utils and shared-mime-info"
done
xmllint --noout "$xml"

mkdir -p "$scratch/mime/packages"
cp "$xml" "$scratch/mime/packages/"
XDG_DATA_DIRS=$scratch update-mime-database "$scratch/mime" >/dev/null

type=application/x-sonoraccoltiera-compilation
grep -Eq "^[0-9]+:$type:\*\.cmp$" "$scratch/mime/globs2" || fail "no *.cmp glob for $type"
# Case-sensitive globs get their own flag; compilations from other systems
# may well be named .CMP.
grep -F ":$type:*.cmp:" "$scratch/mime/globs2" && fail "*.cmp is case-sensitive"
grep -qx "$type:sonoraccoltiera" "$scratch/mime/icons" || fail "icon is not sonoraccoltiera"
grep -qx "$type text/plain" "$scratch/mime/subclasses" || fail "not a kind of text/plain"
echo "MIME type valid: $type"
