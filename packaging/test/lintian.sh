#!/usr/bin/env bash
# lintian on the built package: no error and no warning. Tags kept on purpose
# would be overridden, each with its reason, in the package's lintian
# overrides; there are none. Skipped (77) where lintian is missing.
#   lintian.sh PACKAGE_DIR (holding the .deb, from pacchetto.sh)
set -euo pipefail
debs=("$1"/*.deb)
command -v lintian >/dev/null || { echo "SKIP: lintian missing: install lintian"; exit 77; }

status=0
report=$(lintian --tag-display-limit 0 "${debs[@]}" 2>&1) || status=$?
echo "$report"
# lintian reports a kept tag with exit status 0 when it is only a warning.
grep -Eq '^[EW]: ' <<<"$report" && { echo "FAIL: lintian has errors or warnings"; exit 1; }
[ $status -eq 0 ] || { echo "FAIL: lintian ended with status $status"; exit 1; }
echo "lintian: no error, no warning"
