#!/usr/bin/env bash
# Checks the launcher and the software-centre description with the desktops'
# own validators, and that the description tells the project's version as its
# newest release and names the launcher that is installed.
set -euo pipefail
root="$1"
version="$2"
desktop="$root/resources/desktop/quillon-ftp.desktop"
metainfo="$root/resources/desktop/com.orrinvale.quillonftp.metainfo.xml"
fail() { echo "$*"; exit 1; }

# desktop-file-validate exits 0 on hints and warnings too: any output fails.
report="$(desktop-file-validate "$desktop" 2>&1)" || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
# appstreamcli fails on errors and warnings; its hints ("I:") and pedantic notes ("P:") fail here too.
report="$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1)" || fail "appstreamcli: $report"
! grep -q '^[IP]: ' <<<"$report" || fail "appstreamcli: $report"

newest="$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n1)"
[ "$newest" = "$version" ] || fail "the newest release in the description is '$newest', the project is $version"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
  fail "the description does not name the launcher $(basename "$desktop")"
echo "launcher and description valid; newest release $newest"
