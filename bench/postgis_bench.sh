#!/usr/bin/env bash
# "All At Once" for Massachusetts, the time of each stage, against loading the
# same records straight into PostGIS with ogr2ogr -f PostgreSQL, in the same run.
# Starts the private cluster of scripts/pg-start.sh (and leaves it running).
# Usage: bench/postgis_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
convert="$(pwd)/$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
eval "$(bash scripts/pg-start.sh | sed 's/^/export /')"
export PGPORT=$GNIS_PG_PORT PGPASSWORD=$GNIS_PG_PASSWORD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"

. bench/timing.sh

total=() gpx=() shp=() sql=() load=() process=() export_=() direct=()
for ((r = 0; r < runs; r++)); do
  rm -rf "$work/out" && mkdir -p "$work/out"
  t0=$(now)
  "$convert" all --state MA --source 2009 --output "$work/out" --server data/mirror --fwtools /usr/bin --postgis /usr/bin \
    --host "$GNIS_PG_HOST" --database "$GNIS_PG_DATABASE" --user "$GNIS_PG_USER" --timing >/dev/null 2>"$work/timing"
  t1=$(now)
  end=$(secs "$t0" "$t1")
  c=$(stamp 'Converting To Shapefile' "$work/timing"); q=$(stamp 'Creating GNIS SQL File' "$work/timing")
  l=$(stamp 'Loading SQL Data' "$work/timing"); p=$(stamp 'Processing Data' "$work/timing")
  e=$(stamp 'Creating New Shapefile' "$work/timing")
  total+=("$end")
  gpx+=("$c")
  shp+=("$(awk -v a="$c" -v b="$q" 'BEGIN { printf "%.3f", b - a }')")
  sql+=("$(awk -v a="$q" -v b="$l" 'BEGIN { printf "%.3f", b - a }')")
  load+=("$(awk -v a="$l" -v b="$p" 'BEGIN { printf "%.3f", b - a }')")
  process+=("$(awk -v a="$p" -v b="$e" 'BEGIN { printf "%.3f", b - a }')")
  export_+=("$(awk -v a="$e" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")

  # The same waypoints straight from the GPX into a table, as a GIS user might.
  "$convert" gpx --state MA --source 2009 --output "$work/out" --server data/mirror >/dev/null 2>&1
  t0=$(now)
  ogr2ogr -f PostgreSQL "PG:host=$GNIS_PG_HOST port=$GNIS_PG_PORT dbname=$GNIS_PG_DATABASE user=$GNIS_PG_USER" \
    "$work/out/gnis.gpx" waypoints -nln gnis_direct -overwrite -lco GEOMETRY_NAME=geom
  t1=$(now)
  direct+=("$(secs "$t0" "$t1")")
done

echo "All At Once, Massachusetts, best of $runs (seconds):"
echo "  whole run:                          $(min "${total[@]}")"
echo "    download, extraction, GPX:        $(min "${gpx[@]}")"
echo "    ogr2ogr to shapefile:             $(min "${shp[@]}")"
echo "    table check and shp2pgsql:        $(min "${sql[@]}")"
echo "    psql load:                        $(min "${load[@]}")"
echo "    processing script:                $(min "${process[@]}")"
echo "    pgsql2shp export and exit:        $(min "${export_[@]}")"
echo "  ogr2ogr -f PostgreSQL from the GPX: $(min "${direct[@]}")"
