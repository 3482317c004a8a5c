#!/usr/bin/env bash
# Installs the build, stripped, into a scratch prefix; checks that exactly the
# program, its launcher, icons, description, manual page, licence and changelog
# are installed (nothing the program never reads), that the program is stripped, then starts
# the installed program the way its launcher does, from a folder holding no pictures.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap '[ -z "${pid:-}" ] || kill "$pid" 2>/dev/null || true; rm -rf "$prefix"' EXIT

cmake --install "$build" --strip --prefix "$prefix" >/dev/null
expected="bin/quillon-ftp
share/applications/quillon-ftp.desktop
share/doc/quillon-ftp/changelog.gz
share/doc/quillon-ftp/copyright
share/icons/hicolor/128x128/apps/quillon-ftp.png
share/icons/hicolor/16x16/apps/quillon-ftp.png
share/icons/hicolor/256x256/apps/quillon-ftp.png
share/icons/hicolor/32x32/apps/quillon-ftp.png
share/icons/hicolor/48x48/apps/quillon-ftp.png
share/icons/hicolor/64x64/apps/quillon-ftp.png
share/icons/hicolor/scalable/apps/quillon-ftp.svg
share/man/man1/quillon-ftp.1.gz
share/metainfo/com.orrinvale.quillonftp.metainfo.xml"
installed="$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)"
if [ "$installed" != "$expected" ]; then
  echo "installed files differ from the expected list (< expected, > installed):"
  diff <(echo "$expected") <(echo "$installed") || true
  exit 1
fi
for f in $installed; do
  [ -s "$prefix/$f" ] || { echo "empty after install: $f"; exit 1; }
done
if readelf -S --wide "$prefix/bin/quillon-ftp" | grep -qE '\.symtab|\.debug_'; then
  echo "the installed program is not stripped"
  exit 1
fi

share="$prefix/share"
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
echo "installed program (stripped, $(echo "$installed" | wc -l) files) started from its launcher and stayed up"
