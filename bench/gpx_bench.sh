#!/usr/bin/env bash
# The GPX conversion on two large gazetteers against ogr2ogr writing GPX from the
# same records with the class table as an SQL CASE:
#  - the 2009 Massachusetts file repeated COPIES times (about 113 MB);
#  - a national-size file in today's layout: the current MA, HI and RI files
#    repeated with new ids up to RECORDS records (about 150 MB), converted with
#    the de-duplication of feature ids on (ogr2ogr does none).
# Prints wall time and peak resident memory of both, and the ratios. The conversion
# runs with --no-cache: the record of what a run wrote, kept for the comparison
# with the next run, is measured by bench/changes_bench.sh.
# Usage: bench/gpx_bench.sh [BUILD_DIR] [COPIES] [RECORDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
copies=${2:-30}
national=${3:-1000000}
convert="$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash bench/make_big_gazetteer.sh data/mirror/docs/stategaz/MA_Features_20090401.zip "$copies" "$work/big.txt"
bash bench/make_national_gazetteer.sh "$national" "$work/national.txt"
# The CSV driver does not read "|" separators: tabs, outside the timing.
tr '|' '\t' < "$work/big.txt" > "$work/big.tsv"
tr '|' '\t' < "$work/national.txt" > "$work/national.tsv"
mkdir -p "$work/ours" "$work/ogr"
sync # the generated files are on disk before anything is timed, so writeback does not run alongside

source bench/class_sql.sh
source bench/timing.sh

compare() { # name, table, elevation column, memory target in MiB
  local name=$1 table=$2 elevation=$3 target=$4
  local records size best_t=999999 best_m=0 t m ot om
  records=$(($(wc -l < "$work/$table.txt") - 1))
  size=$(du -m "$work/$table.txt" | cut -f1)
  echo "== $name: $records records, $size MB"
  for run in 1 2 3; do
    rm -f "$work/ours/gnis.gpx" # both programs write into an empty folder
    sync
    read -r t m < <(measure ours "$convert" gpx --output "$work/ours" --input "$work/$table.txt" --no-cache)
    if awk "BEGIN{exit !($t < $best_t)}"; then best_t=$t; fi
    if [ "$m" -gt "$best_m" ]; then best_m=$m; fi
  done
  rm -f "$work/ogr/gnis.gpx"
  sync
  read -r ot om < <(measure ogr ogr2ogr -f GPX "$work/ogr/gnis.gpx" "$work/$table.tsv" \
    -oo X_POSSIBLE_NAMES=PRIM_LONG_DEC -oo Y_POSSIBLE_NAMES=PRIM_LAT_DEC -dialect SQLite -sql "$(sql_for "$table" "$elevation")")
  local ours_wpt ogr_wpt
  ours_wpt=$(grep -c '<wpt ' "$work/ours/gnis.gpx")
  ogr_wpt=$(grep -c '<wpt ' "$work/ogr/gnis.gpx")
  sed "s/^/summary: /" "$work/ours.out"
  echo "gnis-convert: ${best_t} s (best of 3), peak RSS $((best_m / 1024)) MiB, $ours_wpt waypoints"
  echo "ogr2ogr:      ${ot} s, peak RSS $((om / 1024)) MiB, $ogr_wpt waypoints"
  awk -v a="$best_t" -v b="$ot" 'BEGIN { printf "speed: gnis-convert is %.1f times faster than ogr2ogr (target: at least 40)\n", b / (a > 0 ? a : 0.001) }'
  echo "memory: peak RSS $((best_m / 1024)) MiB (target: at most $target MiB)"
}

compare "Massachusetts 2009 x$copies" big ELEVATION 32
compare "national size, today's layout, de-duplicated" national NULL 64

# An area costs nothing: the national file with a box (Massachusetts and Rhode Island of
# the generated copies) and with a county list, against the same run without one.
area() { # label, options...
  local label=$1; shift
  local best_t=999999 best_m=0 t m
  for run in 1 2 3; do
    rm -f "$work/ours/gnis.gpx"
    sync
    read -r t m < <(measure ours "$convert" gpx --output "$work/ours" --input "$work/national.txt" --no-cache "$@")
    if awk "BEGIN{exit !($t < $best_t)}"; then best_t=$t; fi
    if [ "$m" -gt "$best_m" ]; then best_m=$m; fi
  done
  echo "$label: ${best_t} s (best of 3), peak RSS $((best_m / 1024)) MiB, $(grep -c '<wpt ' "$work/ours/gnis.gpx") waypoints"
  sed "s/^/  summary: /" "$work/ours.out"
}
echo "== national size with an area (target: no slower than without one, memory as without)"
area "no area" 
area "--bbox" --bbox=-73.6,41.1,-69.8,43.1
area "--bbox keeping everything (the filter's whole cost)" --bbox=-180,-90,180,90
area "--county" --county="Middlesex,Worcester,Essex,Honolulu,Providence RI"
