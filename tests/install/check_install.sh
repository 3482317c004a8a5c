#!/usr/bin/env bash
# Installs the build into a scratch prefix, checks the launcher, icons and tree
# pictures are where desktops look for them, then starts the installed program
# the way its launcher does, from a folder holding no pictures.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'kill "${pid:-0}" 2>/dev/null || true; rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
share="$prefix/share"
for f in applications/quillon-ftp.desktop icons/hicolor/scalable/apps/quillon-ftp.svg \
         icons/hicolor/16x16/apps/quillon-ftp.png icons/hicolor/32x32/apps/quillon-ftp.png \
         icons/hicolor/48x48/apps/quillon-ftp.png icons/hicolor/256x256/apps/quillon-ftp.png \
         quillon-ftp/open.bmp quillon-ftp/closed.bmp quillon-ftp/leaf.bmp quillon-ftp/root.bmp; do
  [ -s "$share/$f" ] || { echo "missing after install: share/$f"; exit 1; }
done

desktop="$share/applications/quillon-ftp.desktop"
exec_line="$(sed -n 's/^Exec=//p' "$desktop")"
grep -q '^Icon=quillon-ftp$' "$desktop" || { echo "launcher names another icon"; exit 1; }
program="$prefix/bin/${exec_line%% *}"
[ -x "$program" ] || { echo "the launcher's Exec does not name the installed program: $exec_line"; exit 1; }

# A launcher starts the program in some folder of its own: the home folder here.
mkdir "$prefix/home" && cd "$prefix/home"
QT_QPA_PLATFORM=offscreen "$program" &
pid=$!
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid" || true
  echo "the installed program did not stay up when started from its launcher"
  exit 1
fi
echo "installed program started from its launcher and stayed up"
