#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the bundled sample:
# "All At Once" for Massachusetts from today's Domestic Names (the default
# source). The archive comes from the offline mirror in data/mirror, laid out
# like the USGS bucket; it becomes sample-output/gnis.gpx, then
# sample-output/gnis.shp, which goes through the private PostGIS database of
# scripts/pg-start.sh and back. Ends with a summary.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
dir=$(bash scripts/build.sh | tail -n 1)
eval "$(bash scripts/pg-start.sh | sed 's/^/export /')"

out=sample-output
mkdir -p "$out"
PGPORT=$GNIS_PG_PORT PGPASSWORD=$GNIS_PG_PASSWORD \
  "$dir/app/gnis-convert" all --state MA --output "$out" --server data/mirror \
  --fwtools /usr/bin --postgis /usr/bin \
  --host "$GNIS_PG_HOST" --database "$GNIS_PG_DATABASE" --user "$GNIS_PG_USER"

shp="$(cd "$out" && pwd)/gnis.shp"
echo
echo "The table gnis in database $GNIS_PG_DATABASE (127.0.0.1:$GNIS_PG_PORT):"
PGPASSWORD=$GNIS_PG_PASSWORD psql -X -w -h "$GNIS_PG_HOST" -p "$GNIS_PG_PORT" -U "$GNIS_PG_USER" -d "$GNIS_PG_DATABASE" \
  -c "SELECT count(*) AS features, count(DISTINCT \"desc\") AS classes, count(DISTINCT type) AS map_types,
             ST_SRID(ST_Collect(geom)) AS srid, ST_Extent(geom) AS extent FROM gnis"
echo "The shapefile $shp:"
ogrinfo -so -ro "$shp" gnis | grep -E 'Geometry|Feature Count|Extent'
echo
echo "The database keeps running for you to look at; scripts/pg-stop.sh stops it."
