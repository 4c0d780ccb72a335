#!/usr/bin/env bash
# What the comparison with the last run costs at national size: the same
# conversion without the cache (nothing recorded), with it the first time (the
# record written) and again (the comparison, then the record replaced), and
# once more with a tenth of the features renamed and moved. Wall time and peak
# resident memory of each, best of RUNS.
# Usage: bench/changes_bench.sh [BUILD_DIR] [RECORDS] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
records=${2:-1000000}
runs=${3:-3}
convert="$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
source bench/timing.sh
bash bench/make_national_gazetteer.sh "$records" "$work/national.txt"
# The next release: every tenth feature renamed and moved a kilometre north.
awk -F'|' 'BEGIN { OFS = "|" } NR > 1 && NR % 10 == 0 { $2 = $2 " (new name)"; $16 = $16 + 0.01 } { print }' \
  "$work/national.txt" > "$work/changed.txt"
mkdir -p "$work/out"
sync

best() { # label, input, options...: the best of $runs runs
  local label=$1 input=$2; shift 2
  local best_t=999999 best_m=0 t m
  for ((r = 0; r < runs; r++)); do
    cp "$input" "$work/in.txt" # one input name: one kind of run
    read -r t m < <(measure run "$convert" gpx --output "$work/out" --input "$work/in.txt" --quiet "$@")
    if awk "BEGIN{exit !($t < $best_t)}"; then best_t=$t; fi
    if [ "$m" -gt "$best_m" ]; then best_m=$m; fi
  done
  echo "$label: ${best_t} s, peak RSS $((best_m / 1024)) MiB"
  sed -n 's/.*\(Since [^.]*\|Nothing to compare[^.]*\)\..*/  \1/p' "$work/run.out"
}
echo "== national size: $records records"
best "without the cache (nothing recorded)" "$work/national.txt" --no-cache
rm -rf "$work/cache"
cp "$work/national.txt" "$work/in.txt"
read -r t m < <(measure run "$convert" gpx --output "$work/out" --input "$work/in.txt" --quiet)
echo "first run with the cache (the record written): $t s, peak RSS $((m / 1024)) MiB"
best "unchanged release (compared, the record replaced)" "$work/national.txt"
cp "$work/changed.txt" "$work/in.txt"
read -r t m < <(measure run "$convert" gpx --output "$work/out" --input "$work/in.txt" --quiet --changes "$work/changes.csv")
echo "a tenth renamed and moved, with --changes: $t s, peak RSS $((m / 1024)) MiB, $(($(wc -l < "$work/changes.csv") - 1)) rows"
sed -n 's/.*\(Since [^.]*\)\..*/  \1/p' "$work/run.out"
