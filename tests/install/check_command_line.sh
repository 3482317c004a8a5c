#!/usr/bin/env bash
# Runs the built program with --help, --version and a wrong option where there
# is no display at all: each must answer and end at once, with status 0, 0 and 2.
set -euo pipefail
program="$1"
version="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
no_display() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout 10 "$program" "$@"; }

fail() { echo "$*"; exit 1; }
no_display --help >"$out/help" 2>"$out/help.err" || fail "--help ended with status $? without a display: $(cat "$out/help.err")"
grep -q '^Usage: quillon-ftp \[options\]$' "$out/help" || fail "--help printed no usage line: $(cat "$out/help")"
grep -q -- '--version' "$out/help" || fail "--help does not list --version"
no_display --version >"$out/version" 2>"$out/version.err" || fail "--version ended with status $? without a display"
[ "$(cat "$out/version")" = "Quillon FTP $version" ] || fail "--version printed: $(cat "$out/version")"
status=0
no_display --no-such-option >"$out/wrong" 2>"$out/wrong.err" || status=$?
[ "$status" -eq 2 ] || fail "a wrong option ended with status $status, not 2"
grep -q "Unknown option 'no-such-option'" "$out/wrong.err" || fail "a wrong option is not named: $(cat "$out/wrong.err")"
[ ! -s "$out/wrong" ] || fail "a wrong option printed to standard output"

# Without options the program would open its window: without a display it says
# so, and how to get one, with status 2 (not Qt's abort), so the answers above
# really came without a display. On the offscreen platform the window opens.
status=0
no_display >/dev/null 2>"$out/none.err" || status=$?
[ "$status" -eq 2 ] || fail "without a display the program ended with status $status, not 2: $(cat "$out/none.err")"
grep -q "no display found" "$out/none.err" || fail "no display is not named: $(cat "$out/none.err")"
grep -q "xvfb-run -a quillon-ftp" "$out/none.err" || fail "the way to a display is not shown"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen timeout 3 "$program" >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "on the offscreen platform the program ended with status $status instead of running"
echo "--help, --version and a wrong option answered without a display; no display named, offscreen runs"
