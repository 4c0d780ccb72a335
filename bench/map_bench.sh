#!/usr/bin/env bash
# The result window's map at national size: the GPX of a national-size
# gazetteer (RECORDS records, today's layout) read once, then repainted at the
# whole extent and zoomed in. Usage: bench/map_bench.sh [BUILD_DIR] [RECORDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
records=${2:-1600000}
[ -x "$build/bench/map_bench" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
bash bench/make_national_gazetteer.sh "$records" "$work/national.txt"
"$build/app/gnis-convert" gpx --input "$work/national.txt" --output "$work" >/dev/null 2>&1
"$build/bench/map_bench" "$work/gnis.gpx" 20
