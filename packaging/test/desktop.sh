#!/usr/bin/env bash
# The desktop entry: valid for every desktop, and honest about what the
# program does (it opens no file it is given).
set -euo pipefail
entry=$1

command -v desktop-file-validate >/dev/null ||
  { echo "desktop-file-validate missing: install desktop-file-utils"; exit 1; }

# It exits 0 on warnings, which desktops act on all the same.
report=$(desktop-file-validate "$entry" 2>&1) || { echo "$report"; exit 1; }
if grep -Eq 'error:|warning:' <<<"$report"; then
  echo "$report"; exit 1
fi

key() { sed -n "s/^$1=//p" "$entry"; }
fail() { echo "FAIL: $*"; exit 1; }

# A file manager would offer it for files it then ignores.
key Exec | grep -q '%' && fail "Exec takes file arguments: $(key Exec)"
grep -q '^MimeType=' "$entry" && fail "MimeType set, but the program opens no file given to it"
echo "desktop entry valid"
