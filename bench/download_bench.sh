#!/usr/bin/env bash
# Peak memory of a large download: a loopback server hands out SIZE_MB of
# data as a state's archive, and gnis-convert fetches it (the job then fails,
# as the data is no archive). Memory must stay small whatever the size.
# Usage: bench/download_bench.sh [BUILD_DIR] [SIZE_MB]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
size=${2:-512}
convert="$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
mkdir -p "$work/mirror/StagedProducts/GeographicNames/DomesticNames" "$work/out"
port=$((20000 + RANDOM % 20000))
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/mirror" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
head -c "$((size * 1024 * 1024))" /dev/zero > "$work/mirror/StagedProducts/GeographicNames/DomesticNames/DomesticNames_MA_Text.zip"
sleep 1

start=$(date +%s%N)
/usr/bin/time -f "%M" -o "$work/rss" "$convert" gpx --state MA --output "$work/out" \
  --server "http://127.0.0.1:$port" >/dev/null 2>"$work/err" || true
end=$(date +%s%N)
echo "download of $size MB: $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", (b - a) / 1e9 }') s," \
     "peak RSS $(( $(tail -n 1 "$work/rss") / 1024 )) MiB (target: a few MiB above the program's own)"
tail -n 1 "$work/err"
