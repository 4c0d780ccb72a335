#!/usr/bin/env bash
# The zip reader against Info-ZIP unzip, in the same run: the real Massachusetts
# archive, and a generated one with a ~500 MB text member and a thousand small
# members. Prints wall time (best of N) and peak resident memory of each.
# Usage: bench/zip_bench.sh [BUILD_DIR] [COPIES_OF_MA_TEXT]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
copies=${2:-128}
convert="$(pwd)/$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The generated archive: one big gazetteer-like text and 1000 small files.
mkdir -p "$work/src/small"
bash bench/make_big_gazetteer.sh data/mirror/docs/stategaz/MA_Features_20090401.zip "$copies" "$work/src/big.txt"
for i in $(seq 1 1000); do
  head -c $((RANDOM % 4000 + 100)) "$work/src/big.txt" > "$work/src/small/f$i.txt"
done
(cd "$work/src" && zip -q -r "$work/generated.zip" .)
rm -rf "$work/src"

measure() { # runs "$@" in a fresh folder; prints "seconds maxrss_kib"
  rm -rf "$work/out" && mkdir -p "$work/out"
  local start end
  start=$(date +%s%N)
  (cd "$work/out" && /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>&1) || { echo "failed: $*" >&2; exit 1; }
  end=$(date +%s%N)
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", (b - a) / 1e9 }') $(cat "$work/time")"
}

best() { # label runs command...: best wall time and largest peak memory over the runs
  local label=$1 runs=$2; shift 2
  local bt=999999 bm=0 t m
  for ((r = 0; r < runs; r++)); do
    read -r t m < <(measure "$@")
    if awk "BEGIN{exit !($t < $bt)}"; then bt=$t; fi
    if [ "$m" -gt "$bm" ]; then bm=$m; fi
  done
  printf '  %-14s %7.3f s   peak RSS %4d MiB\n' "$label" "$bt" $((bm / 1024))
  echo "$bt $bm" > "$work/$label.result"
}

for archive in "$(pwd)/data/mirror/docs/stategaz/MA_Features_20090401.zip" "$work/generated.zip"; do
  echo "$(basename "$archive") ($(du -m "$archive" | cut -f1) MB packed):"
  runs=5
  [ "$archive" = "$work/generated.zip" ] && runs=3
  best gnis-convert "$runs" "$convert" extract "$archive" --output .
  best unzip "$runs" unzip -o -q "$archive"
  read -r ot om < "$work/gnis-convert.result"
  read -r ut um < "$work/unzip.result"
  awk -v o="$ot" -v u="$ut" 'BEGIN { printf "  time ratio gnis-convert/unzip: %.2f (target: at most 1)\n", o / (u > 0 ? u : 0.001) }'
done
echo "memory target: at most 32 MiB whatever the member size"
