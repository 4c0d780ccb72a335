#!/usr/bin/env bash
# A national-size gazetteer (RECORDS records, today's layout) through gnis.mp and
# mkgmap in one run: the time of each stage, its share, and the image's size
# per 100,000 POIs. Usage: bench/garmin_bench.sh [BUILD_DIR] [RECORDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
records=${2:-1000000}
convert="$(pwd)/$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
. bench/timing.sh

bash bench/make_national_gazetteer.sh "$records" "$work/national.txt"
mkdir "$work/out"
t0=$(now)
/usr/bin/time -f "%M" -o "$work/rss" "$convert" garmin --input "$work/national.txt" --output "$work/out" --timing \
  >"$work/summary" 2>"$work/timing"
t1=$(now)
total=$(secs "$t0" "$t1")
mkgmap_at=$(stamp 'Compiling Garmin Map' "$work/timing")
pois=$(grep -c '^\[POI\]' "$work/out/gnis.mp")
img=$(stat -c %s "$work/out/gmapsupp.img")
mp=$(stat -c %s "$work/out/gnis.mp")
share() { awk -v a="$1" -v t="$total" 'BEGIN { printf "%5.1f%%", 100 * a / t }'; }
compile=$(awk -v a="$mkgmap_at" -v t="$total" 'BEGIN { printf "%.3f", t - a }')
echo "Garmin map, national size ($records records, $pois POIs):"
echo "  whole run:                 $total s"
echo "    conversion to gnis.mp:   $mkgmap_at s  $(share "$mkgmap_at")  ($mp bytes)"
echo "    mkgmap to gmapsupp.img:  $compile s  $(share "$compile")"
echo "  gmapsupp.img: $img bytes, $(awk -v s="$img" -v n="$pois" 'BEGIN { printf "%.2f MiB", s / n * 100000 / 1048576 }') per 100,000 POIs"
# The peak of gnis-convert and the processes it waited for: mkgmap's Java is the larger.
echo "  peak memory, gnis-convert or mkgmap's Java: $(( $(cat "$work/rss") / 1024 )) MiB"
