#!/usr/bin/env bash
# Builds the Debian package in a program-only build folder (kept between runs),
# checks its files, control fields, lintian's verdict and that apt resolves its
# Depends here; installs it into a throw-away root with dpkg --root (the machine's
# own packages stay untouched), runs it, removes it: nothing of it may be left.
set -euo pipefail
root="$1"
build="$2"
version="$3"
fail() { echo "$*"; exit 1; }
target="$(mktemp -d)"
trap 'rm -rf "$target"' EXIT

out="$("$root/scripts/package" "$build" 2>&1)" || fail "scripts/package: $out"
deb="$(tail -n1 <<<"$out")"

# The same files as `cmake --install` (whose list the install check holds), under /usr.
files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort)"
cmake --install "$build" --prefix "$target/usr" >/dev/null
expected="$(cd "$target" && find . -type f | LC_ALL=C sort)" && rm -rf "${target:?}/usr"
[ "$files" = "$expected" ] || { diff <(echo "$expected") <(echo "$files"); fail "the package's files differ from cmake --install's"; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package) $(field Version) $(field Section)" = "quillon-ftp $version net" ] ||
  fail "control: $(field Package) $(field Version) $(field Section)"
depends="$(field Depends)"
for lib in libc6 libcurl4 libqt6core6 libqt6gui6 libqt6widgets6; do
  grep -qE "(^|, )$lib \(>= [0-9.]+\)" <<<"$depends" || fail "Depends does not name $lib with a computed version: $depends"
done
[ -n "$(field Maintainer)" ] && [ "$(field Description | wc -l)" -gt 2 ] || fail "no maintainer or no long description"

# lintian leaves files in its temporary folder: give it one of ours.
report="$(mkdir "$target/tmp" && TMPDIR="$target/tmp" lintian --fail-on error,warning "$deb" 2>&1)" || fail "lintian: $report"
grep -q '^Inst quillon-ftp ' <<<"$(apt-get install -s "$deb" 2>&1)" || fail "apt cannot resolve the package's Depends: $depends"

rm -rf "${target:?}/tmp"
admin="$target/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates" && touch "$admin/status"
# The throw-away root knows no other package: its Depends were checked by apt above.
report="$(dpkg --root="$target" --log=/dev/null --force-depends -i "$deb" 2>&1)" || fail "dpkg -i: $report"
doc="$target/usr/share/doc/quillon-ftp"
cmp -s "$doc/copyright" "$root/LICENSE" || fail "the copyright file is not the licence"
[[ "$(zcat "$doc/changelog.gz")" == "quillon-ftp ($version) "* ]] || fail "the changelog's newest entry is not $version"
[ "$("$target/usr/bin/quillon-ftp" --version)" = "Quillon FTP $version" ] || fail "the installed program does not answer --version"
report="$(desktop-file-validate "$target/usr/share/applications/quillon-ftp.desktop" 2>&1)" && [ -z "$report" ] || fail "desktop-file-validate: $report"
report="$(dpkg --root="$target" --log=/dev/null -r quillon-ftp 2>&1)" || fail "dpkg -r: $report"
left="$(cd "$target" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg*')"
[ -z "$left" ] || fail "left after removal: $left"
echo "package $(basename "$deb"): $(wc -l <<<"$files") files, Depends: $depends; lintian clean; installs, answers, removes cleanly"
