#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the bundled sample:
# the Massachusetts gazetteer archive of 2009-04-01 is fetched from the offline
# mirror in data/mirror (laid out like the USGS server), unpacked, and becomes
# sample-output/gnis.gpx.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
dir=$(bash scripts/build.sh | tail -n 1)

out=sample-output
mkdir -p "$out"
"$dir/app/gnis-convert" gpx --state MA --output "$out" --server data/mirror

gpx="$(cd "$out" && pwd)/gnis.gpx"
echo "The waypoint file is $gpx; it holds $(grep -c '<wpt ' "$gpx") waypoints."
