#!/usr/bin/env bash
# "All At Once", the time of each stage, against loading the same gnis.gpx
# straight into PostGIS with ogr2ogr -f PostgreSQL, in the same run: for
# Massachusetts, and for a national-size gazetteer (the current files repeated
# with new ids to RECORDS records). Also the size of gnis.dbf against the
# shapefile GDAL writes by default from the same GPX, and the peak memory of
# gnis-convert. Starts the private cluster of scripts/pg-start.sh (and leaves it running).
# Usage: bench/postgis_bench.sh [BUILD_DIR] [RUNS] [RECORDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
records=${3:-1000000}
convert="$(pwd)/$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
eval "$(bash scripts/pg-start.sh | sed 's/^/export /')"
export PGPORT=$GNIS_PG_PORT PGPASSWORD=$GNIS_PG_PASSWORD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"

. bench/timing.sh

bash bench/make_national_gazetteer.sh "$records" "$work/national.txt"
db=(--host "$GNIS_PG_HOST" --database "$GNIS_PG_DATABASE" --user "$GNIS_PG_USER")

# label, then the input options of gnis-convert
run_case() {
  local label=$1; shift
  local total=() gpx=() shp=() load=() process=() export_=() direct=() rss=()
  for ((r = 0; r < runs; r++)); do
    rm -rf "$work/out" && mkdir -p "$work/out"
    t0=$(now)
    /usr/bin/time -f "%M" -o "$work/rss" "$convert" all "$@" --output "$work/out" --fwtools /usr/bin --postgis /usr/bin \
      "${db[@]}" --timing >/dev/null 2>"$work/timing"
    t1=$(now)
    end=$(secs "$t0" "$t1")
    c=$(stamp 'Converting To Shapefile' "$work/timing"); q=$(stamp 'Creating GNIS SQL File' "$work/timing")
    p=$(stamp 'Processing Data' "$work/timing"); e=$(stamp 'Creating New Shapefile' "$work/timing")
    total+=("$end")
    gpx+=("$c")
    shp+=("$(awk -v a="$c" -v b="$q" 'BEGIN { printf "%.3f", b - a }')")
    load+=("$(awk -v a="$q" -v b="$p" 'BEGIN { printf "%.3f", b - a }')")
    process+=("$(awk -v a="$p" -v b="$e" 'BEGIN { printf "%.3f", b - a }')")
    export_+=("$(awk -v a="$e" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
    rss+=("$(tail -n 1 "$work/rss")")
    features=$(psql -X -A -t -h "$GNIS_PG_HOST" -U "$GNIS_PG_USER" -d "$GNIS_PG_DATABASE" -c "SELECT count(*) FROM gnis")
    dbf=$(stat -c %s "$work/out/gnis.dbf")

    # The same waypoints straight from the GPX into a table, as a GIS user might.
    "$convert" gpx "$@" --output "$work/out" >/dev/null 2>&1
    t0=$(now)
    ogr2ogr -f PostgreSQL "PG:host=$GNIS_PG_HOST port=$GNIS_PG_PORT dbname=$GNIS_PG_DATABASE user=$GNIS_PG_USER" \
      "$work/out/gnis.gpx" waypoints -nln gnis_direct -overwrite -lco GEOMETRY_NAME=geom
    t1=$(now)
    direct+=("$(secs "$t0" "$t1")")
  done
  # The shapefile GDAL writes from the same GPX with its defaults, as the tool did before.
  rm -rf "$work/full" && mkdir "$work/full"
  ogr2ogr -f "ESRI Shapefile" "$work/full/gnis.shp" "$work/out/gnis.gpx" waypoints -nlt POINT -lco ENCODING=UTF-8 2>/dev/null
  full=$(stat -c %s "$work/full/gnis.dbf")
  best=$(min "${total[@]}") peer=$(min "${direct[@]}")
  echo "All At Once, $label, $features features, best of $runs (seconds):"
  echo "  whole run:                          $best"
  echo "    download, extraction, GPX:        $(min "${gpx[@]}")"
  echo "    ogr2ogr to shapefile:             $(min "${shp[@]}")"
  echo "    shp2pgsql streamed into psql:     $(min "${load[@]}")"
  echo "    processing script:                $(min "${process[@]}")"
  echo "    pgsql2shp export and exit:        $(min "${export_[@]}")"
  echo "  ogr2ogr -f PostgreSQL from the GPX: $peer"
  echo "  ratio (target at most 2.0):         $(awk -v a="$best" -v b="$peer" 'BEGIN { printf "%.2f", a / b }')"
  echo "  gnis.dbf: $dbf bytes; GDAL's default from the same GPX: $full bytes ($(awk -v a="$dbf" -v b="$full" 'BEGIN { printf "%.1f%%", 100 * a / b }'); target at most 20%)"
  echo "  peak memory of gnis-convert: $(( $(min "${rss[@]}") / 1024 )) MiB (target at most 256)"
}

run_case "Massachusetts" --state MA --source 2009 --server data/mirror
run_case "national size ($records records, today's layout)" --input "$work/national.txt"
