#!/usr/bin/env bash
# The GPX conversion on two large gazetteers against ogr2ogr writing GPX from the
# same records with the class table as an SQL CASE:
#  - the 2009 Massachusetts file repeated COPIES times (about 113 MB);
#  - a national-size file in today's layout: the current MA, HI and RI files
#    repeated with new ids up to RECORDS records (about 150 MB), converted with
#    the de-duplication of feature ids on (ogr2ogr does none).
# Prints wall time and peak resident memory of both, and the ratios.
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

cases=""
while read -r cls code; do
  cases+=" WHEN '${cls//_/ }' THEN '$code'"
done <<'TABLE'
airport 0x2F04
arch 0x6601
area 0x6602
arroyo 0x6501
bar 0x6502
basin 0x6603
bay 0x6503
bench 0x6605
bridge 0x6401
canal 0x6505
cape 0x6606
cemetery 0x6403
church 0x6404
cliff 0x6607
crossing 0x6406
dam 0x5500
damn 0x5500
falls 0x6508
gap 0x660B
hospital 0x3002
island 0x650C
lava 0x660E
locale 0x640A
mine 0x640C
park 0x640E
plain 0x6610
populated_place 0x0D00
range 0x6611
rapids 0x650E
reservoir 0x650F
ridge 0x6613
school 0x2C05
slope 0x6615
spring 0x6511
summit 0x6616
swamp 0x6513
tower 0x6411
trail 0x6412
tunnel 0x6413
valley 0x6617
well 0x6414
TABLE
feet="CAST(round(CAST(ELEVATION AS INTEGER) * 3.2808399) AS INTEGER)"
# The 2009 layout has elevations; today's has none.
sql_for() { # table, elevation-in-metres column or NULL
  local table=$1 elevation=$2 feet="CAST(round(CAST($2 AS INTEGER) * 3.2808399) AS INTEGER)"
  [ "$elevation" = NULL ] && feet=NULL
  echo "SELECT GEOMETRY, name, \"desc\", src, ele, type FROM (
  SELECT GEOMETRY,
    CASE WHEN lower(FEATURE_CLASS) = 'summit' AND $elevation <> '' THEN FEATURE_NAME || ', ' || $feet ELSE FEATURE_NAME END AS name,
    FEATURE_CLASS AS \"desc\", 'USGS GNIS ' || trim(MAP_NAME) AS src,
    CASE WHEN $elevation <> '' THEN $feet END AS ele,
    CASE lower(FEATURE_CLASS) $cases END AS type,
    PRIM_LAT_DEC AS lat, PRIM_LONG_DEC AS lon
  FROM $table) WHERE type IS NOT NULL AND CAST(lat AS REAL) <> 0 AND CAST(lon AS REAL) <> 0"
}

measure() { # label, command...: prints "seconds maxrss_kib"
  local label=$1; shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/$label.time" "$@" >"$work/$label.out" 2>"$work/$label.err" \
    || { cat "$work/$label.err" >&2; exit 1; }
  end=$(date +%s%N)
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", (b - a) / 1e9 }') $(cat "$work/$label.time")"
}

compare() { # name, table, elevation column, memory target in MiB
  local name=$1 table=$2 elevation=$3 target=$4
  local records size best_t=999999 best_m=0 t m ot om
  records=$(($(wc -l < "$work/$table.txt") - 1))
  size=$(du -m "$work/$table.txt" | cut -f1)
  echo "== $name: $records records, $size MB"
  for run in 1 2 3; do
    rm -f "$work/ours/gnis.gpx" # both programs write into an empty folder
    sync
    read -r t m < <(measure ours "$convert" gpx --output "$work/ours" --input "$work/$table.txt")
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
