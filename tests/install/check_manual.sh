#!/usr/bin/env bash
# Formats the manual page with every groff warning on: any warning fails. The
# page must also describe each option that the program's --help lists.
set -euo pipefail
page="$1"
program="$2"
fail() { echo "$*"; exit 1; }

report="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)" || fail "man: $report"
[ -z "$report" ] || fail "man: $report"
report="$(groff -man -ww -z "$page" 2>&1)" || fail "groff: $report"
[ -z "$report" ] || fail "groff: $report"

text="$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)"
for option in $(QT_QPA_PLATFORM=offscreen "$program" --help | grep -oE -- '--[a-z][a-z-]*'); do
  grep -q -- "$option" <<<"$text" || fail "the manual page does not describe $option"
done
echo "manual page formats without warnings and describes every option"
