#!/usr/bin/env bash
# GeoPackage and GeoJSON at national size: gnis-convert gpkg and geojson (the
# conversion, then ogr2ogr from its CSV table) against ogr2ogr alone, straight
# from the gazetteer text with the class table as an SQL CASE and the same
# fields, in the same run. Prints wall time, peak resident memory and feature
# counts of each, and the ratios. gnis-convert also drops duplicate feature ids,
# which ogr2ogr does not.
# Usage: bench/gis_bench.sh [BUILD_DIR] [RECORDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
national=${2:-1000000}
convert="$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
source bench/class_sql.sh
source bench/timing.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash bench/make_national_gazetteer.sh "$national" "$work/national.txt"
tr '|' '\t' < "$work/national.txt" > "$work/national.tsv" # the CSV driver reads no "|"
mkdir -p "$work/ours" "$work/ogr"
sync

count() { ogrinfo -so -al "$1" | sed -n 's/^Feature Count: //p'; }

sql=$(sql_for national NULL ", feature_id AS feature_id, county_name AS county, state_name AS state")
echo "== national size: $(($(wc -l < "$work/national.txt") - 1)) records, $(du -m "$work/national.txt" | cut -f1) MB"
for format in gpkg geojson; do
  if [ "$format" = gpkg ]; then driver=GPKG; options=(-gt unlimited); else driver=GeoJSON; options=(-lco RFC7946=YES); fi
  best_t=999999 best_m=0
  for run in 1 2; do
    rm -f "$work/ours/gnis.$format"
    sync
    read -r t m < <(measure ours "$convert" "$format" --output "$work/ours" --input "$work/national.txt")
    if awk "BEGIN{exit !($t < $best_t)}"; then best_t=$t; fi
    if [ "$m" -gt "$best_m" ]; then best_m=$m; fi
  done
  rm -f "$work/ogr/gnis.$format"
  sync
  read -r ot om < <(measure ogr ogr2ogr -f "$driver" "$work/ogr/gnis.$format" "$work/national.tsv" -nln gnis \
    -oo X_POSSIBLE_NAMES=PRIM_LONG_DEC -oo Y_POSSIBLE_NAMES=PRIM_LAT_DEC -a_srs EPSG:4326 "${options[@]}" \
    -dialect SQLite -sql "$sql")
  echo "-- $format"
  sed "s/^/summary: /" "$work/ours.out"
  echo "gnis-convert $format: ${best_t} s (best of 2), peak RSS $((best_m / 1024)) MiB (the largest process of the run), $(count "$work/ours/gnis.$format") features, $(du -m "$work/ours/gnis.$format" | cut -f1) MB"
  echo "ogr2ogr alone:  ${ot} s, peak RSS $((om / 1024)) MiB, $(count "$work/ogr/gnis.$format") features, $(du -m "$work/ogr/gnis.$format" | cut -f1) MB"
  awk -v a="$best_t" -v b="$ot" 'BEGIN { printf "ratio: ogr2ogr alone takes %.2f times as long as gnis-convert\n", b / (a > 0 ? a : 0.001) }'
done
