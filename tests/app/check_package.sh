#!/usr/bin/env bash
# Builds the .deb, unpacks it into a scratch root and checks it as a packager
# and a user would: declared dependencies, the files a desktop and a shell look
# for, valid metadata, and the programs running from there.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1 src=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/pkg/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for dep in gdal-bin postgis postgresql-client libqt6core6 libqt6widgets6 libqt6network6 zlib1g; do
  [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"

root=$work/root
dpkg -x "$deb" "$root"
for f in usr/bin/gnis-convert usr/bin/trailcrafter-gnis usr/share/trailcrafter-gnis/gnis.sql \
         usr/share/applications/trailcrafter-gnis.desktop usr/share/man/man1/gnis-convert.1 \
         usr/share/bash-completion/completions/gnis-convert \
         usr/share/metainfo/org.example.trailcrafter.gnis.metainfo.xml; do
  [ -e "$root/$f" ] || fail "missing $f"
done
grep -q '^Exec=trailcrafter-gnis' "$root/usr/share/applications/trailcrafter-gnis.desktop" &&
  grep -q '^Icon=trailcrafter-gnis' "$root/usr/share/applications/trailcrafter-gnis.desktop" ||
  fail "the .desktop entry does not start the program with its icon"
for size in 16 22 24 32 48 64 128 256; do
  [ -e "$root/usr/share/icons/hicolor/${size}x${size}/apps/trailcrafter-gnis.png" ] || fail "no ${size}px icon"
done
appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.trailcrafter.gnis.metainfo.xml" >/dev/null \
  || fail "the AppStream metainfo does not validate"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/gnis-convert.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
bash -n "$root/usr/share/bash-completion/completions/gnis-convert" || fail "completion script does not parse"

# The programs as installed: the version, and a conversion that finds nothing outside the root.
convert=$root/usr/bin/gnis-convert
[ "$("$convert" --version)" = "gnis-convert $version" ] || fail "--version does not say $version"
mkdir "$work/out"
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
summary=$("$convert" gpx --state MA --output "$work/out" \
  --input "$src/data/mirror/StagedProducts/GeographicNames/DomesticNames/DomesticNames_MA_Text.zip" 2>/dev/null) \
  || fail "the installed gnis-convert failed"
[[ $summary == *": 8361 waypoints written from 13086 records;"* ]] || fail "unexpected summary: $summary"
echo "package $(basename "$deb") checked"
